#!/usr/bin/env bash
# The Windows suite on Linux: cross-builds the tool and its tests for Windows
# x86_64 with mingw-w64 and runs them under wine, in a wine prefix of its own
# that is removed afterwards.
#
#   1. the unit tests and the Windows-side whole runs (qz4826s1.exe against
#      stand-in ftd2xx.dll files, no console), through ctest;
#   2. the whole-run suite of tests/ against qz4826s1-sim.exe;
#   3. the same suite against qz4826s1.exe with the stand-in ftd2xx.dll
#      beside it: every run goes through the DLL loaded at run time.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/packages.sh"
need_packages cmake make g++ googletest g++-mingw-w64-x86-64-posix wine wine64

jobs=$(nproc)
win=$top/build-win        # the Windows build
host=$top/build-win-host  # the Linux whole-run harness that starts the .exe files

echo "== cross-build for Windows (at ${SECONDS} s)"
cmake -S "$top" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win" -j"$jobs"
echo "== the whole-run harness, for Linux (at ${SECONDS} s)"
# only the simulator and the harness: no libftdi1 or umockdev needed here
cmake -S "$top" -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_WITH_LIBFTDI=OFF >/dev/null
cmake --build "$host" -j"$jobs" --target run_tests

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qz4826s1-wine.XXXXXX")
export WINEPREFIX=$scratch/prefix
export WINEDEBUG=-all
# no Mono or Gecko install prompts; no explorer.exe, whose start on the first
# key typed at a wine console stalls that key for 10 s on a headless machine
export WINEDLLOVERRIDES="mscoree,mshtml=;explorer.exe=d"
cleanup() {
    wineserver -k 2>/dev/null || true  # this prefix's server only
    rm -rf "$scratch"
}
trap cleanup EXIT

echo "== wine prefix (at ${SECONDS} s)"
# One wineserver for the whole suite, stdio detached: otherwise each test
# starts its own and keeps ctest's output pipe open for seconds.
mkdir "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot --init </dev/null >/dev/null 2>&1

echo "== unit tests and Windows whole runs (ctest under wine) (at ${SECONDS} s)"
(cd "$win" && ctest -j"$jobs" --output-on-failure --timeout 300)

# A folder is a file that opens but can't be read on POSIX only; the Windows
# side checks its own answer ("File not found").
posix_only=FileFaults.UnreadableInputFailsTheRun

echo "== whole runs of qz4826s1-sim.exe (at ${SECONDS} s)"
QZ_TEST_LAUNCHER=wine QZ_TEST_TOOL="$win/qz4826s1-sim.exe" \
    "$host/tests/run_tests" --gtest_brief=1 --gtest_filter="-$posix_only"

echo "== whole runs of qz4826s1.exe through the stand-in ftd2xx.dll (at ${SECONDS} s)"
mkdir "$scratch/tool"
cp "$win/qz4826s1.exe" "$win/tests/win32/standin-full/ftd2xx.dll" "$scratch/tool/"
# Simulator.*: how qz4826s1-sim itself refuses bad settings
QZ_TEST_LAUNCHER=wine QZ_TEST_TOOL="$scratch/tool/qz4826s1.exe" \
    "$host/tests/run_tests" --gtest_brief=1 --gtest_filter="-$posix_only:Simulator.*"

echo "All Windows tests passed in ${SECONDS} s."
