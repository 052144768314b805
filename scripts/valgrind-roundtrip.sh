#!/usr/bin/env bash
# One write run and one read run of the simulated tool under valgrind's
# memcheck: any invalid access or leak fails.
set -euo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QZ4826_SIM_SDRAM="$work/sdram.bin"
head -c 70000 /dev/urandom >"$work/in.bin"
vg=(valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect)
"${vg[@]}" "$tool" -w "$work/in.bin" 123 >/dev/null
"${vg[@]}" "$tool" -r "$work/out.bin" 11170 123 </dev/null >/dev/null
cmp "$work/in.bin" "$work/out.bin"
QZ4826_SIM_FAULT=stall:40000 "${vg[@]}" "$tool" -r "$work/part.bin" 11170 123 </dev/null >/dev/null \
    && { echo "a stalled read reported success" >&2; exit 1; }
[ "$?" -ne 99 ] || exit 1
cmp -n 40000 "$work/in.bin" "$work/part.bin"
echo "valgrind: clean"
