#!/usr/bin/env bash
# Benchmark of the real USB path without hardware: a round trip of qz4826s1
# (libftdi1 build) through an FTDI chip emulated with umockdev, reporting the
# bulk transfers per 32 KiB block in each direction.
# Usage: scripts/usb-bench.sh [MiB] [ft232h|ft232r|ft2232h]   (default 64 ft232h)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
need_packages cmake make g++ googletest pkg-config libftdi1-dev libusb-1.0-0-dev umockdev libumockdev-dev

build="$top/build-usbbench"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target qz4826s1 qz-usb-bench >/dev/null
"$build/tests/usb/qz-usb-bench" "${1:-64}" "${2:-ft232h}"
