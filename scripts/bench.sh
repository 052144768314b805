#!/usr/bin/env bash
# Benchmark: a write run and a read run of qz4826s1-sim against cp of the same
# file, timed in the same run, with the peak resident memory of each run.
# Usage: scripts/bench.sh [MiB]   (default 256; also runs 16 MiB for memory)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
need_packages cmake make g++ time

mib=${1:-256}
build="$top/build-bench"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_TESTS=OFF -DQZ_WITH_LIBFTDI=OFF >/dev/null
cmake --build "$build" -j2 --target qz4826s1-sim >/dev/null
tool="$build/qz4826s1-sim"

work=$(mktemp -d "${TMPDIR:-/tmp}/qz-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QZ4826_SIM_SDRAM="$work/sdram.bin"

# seconds (best of five) and peak resident KiB (largest) of one command; the
# page cache is warm for every command alike
measure() {
    local best="" peak=0
    for _ in 1 2 3 4 5; do
        rm -f "$work/copy.bin" "$work/out.bin"
        local start end
        start=$(date +%s%N)
        /usr/bin/time -f "%M" -o "$work/t" "$@" >/dev/null </dev/null
        end=$(date +%s%N)
        local ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
        local kb
        kb=$(cat "$work/t")
        if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
    done
    echo "$best $peak"
}

run_size() {
    local size=$1
    head -c $((size * 1024 * 1024)) /dev/urandom >"$work/in.bin"
    local length
    length=$(printf '%X' $((size * 1024 * 1024)))
    read -r cp_ms _ < <(measure cp "$work/in.bin" "$work/copy.bin")
    read -r dd_ms _ < <(measure dd if="$work/in.bin" of="$work/copy.bin" bs=32k status=none)
    read -r w_ms w_kb < <(measure "$tool" -w "$work/in.bin")
    read -r r_ms r_kb < <(measure "$tool" -r "$work/out.bin" "$length")
    cmp "$work/in.bin" "$work/out.bin"
    printf '%4d MiB: cp %5d ms, dd bs=32k %5d ms | write run %5d ms = %s x cp, peak %5d KiB | read run %5d ms = %s x cp, peak %5d KiB\n' \
        "$size" "$cp_ms" "$dd_ms" "$w_ms" "$(ratio "$w_ms" "$cp_ms")" "$w_kb" "$r_ms" "$(ratio "$r_ms" "$cp_ms")" "$r_kb"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }

echo "qz4826s1-sim against cp, same files, same run (best of 5; includes the tool's fixed 50 ms drain pause)"
run_size 16
run_size "$mib"
