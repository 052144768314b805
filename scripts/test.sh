#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer, then a round trip
# under valgrind, then the Windows build's tests under wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
need_packages cmake make g++ googletest valgrind pkg-config libftdi1-dev libusb-1.0-0-dev umockdev libumockdev-dev

jobs=$(nproc)
run_suite() {  # build dir, extra cmake arguments...
    local build=$1
    shift
    echo "== $(basename "$build")"
    cmake -S "$top" -B "$build" "$@" >/dev/null
    cmake --build "$build" -j"$jobs"
    (cd "$build" && ctest -j"$jobs" --output-on-failure --timeout 300)
}

run_suite "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQZ_SANITIZE=ON

echo "== valgrind round trip"
"$top/scripts/valgrind-roundtrip.sh" "$top/build/qz4826s1-sim"
echo "== Windows"
"$top/scripts/windows-tests.sh"
echo "All tests passed."
