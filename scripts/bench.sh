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

# seconds and peak KiB of one command, best of three (the page cache is warm for all)
measure() {
    local best_s="" best_kb=""
    for _ in 1 2 3; do
        rm -f "$work/copy.bin" "$work/out.bin"
        /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null </dev/null
        read -r s kb <"$work/t"
        if [ -z "$best_s" ] || awk "BEGIN{exit !($s < $best_s)}"; then best_s=$s; fi
        if [ -z "$best_kb" ] || [ "$kb" -gt "$best_kb" ]; then best_kb=$kb; fi
    done
    echo "$best_s $best_kb"
}

run_size() {
    local size=$1
    head -c $((size * 1024 * 1024)) /dev/urandom >"$work/in.bin"
    local length
    length=$(printf '%X' $((size * 1024 * 1024)))
    read -r cp_s cp_kb < <(measure cp "$work/in.bin" "$work/copy.bin")
    read -r w_s w_kb < <(measure "$tool" -w "$work/in.bin")
    read -r r_s r_kb < <(measure "$tool" -r "$work/out.bin" "$length")
    cmp "$work/in.bin" "$work/out.bin"
    printf '%5d MiB  cp %6.2f s  write %6.2f s (%.2f x cp, %6d KiB peak)  read %6.2f s (%.2f x cp, %6d KiB peak)\n' \
        "$size" "$cp_s" "$w_s" "$(awk "BEGIN{print $w_s/($cp_s>0?$cp_s:0.01)}")" "$w_kb" \
        "$r_s" "$(awk "BEGIN{print $r_s/($cp_s>0?$cp_s:0.01)}")" "$r_kb"
}

run_size 16
run_size "$mib"
