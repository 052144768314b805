#!/bin/sh
# A write run and a read run of qz4826s1 (libftdi1 layer) under valgrind's
# memcheck, against one emulated chip: any invalid access or leak fails, and
# the data must come back unchanged.
# Usage: valgrind-roundtrip.sh QZ-USB-EMULATE QZ4826S1 SUPPRESSIONS
set -eu
emulate=$1 tool=$2 supp=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 100000 /dev/urandom >"$work/in.bin"
vg="valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=all --suppressions=$supp"
"$emulate" ft232h -- sh -c "$vg '$tool' -w '$work/in.bin' 10 >/dev/null && $vg '$tool' -r '$work/out.bin' 186A0 10 >/dev/null"
cmp "$work/in.bin" "$work/out.bin"
