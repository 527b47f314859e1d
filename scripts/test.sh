#!/usr/bin/env bash
# Sets up the machine, builds Linux and Windows, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
jobs=$(nproc)

echo "== Linux build and tests"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$jobs"
ctest --test-dir build/linux --output-on-failure -j"$jobs"

echo "== Windows build (mingw-w64) and tests under Wine"
cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win64 -j"$jobs"
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
ctest --test-dir build/win64 --output-on-failure -j"$jobs"

echo "== Hardening: sanitizers and fuzzing"
bash scripts/hardening.sh

echo "== Linux on a real kernel: a QEMU guest with the sr and sg drivers"
python3 tests/kernel/kernel_test.py --build build/linux

echo "== Windows on a real kernel: Wine in a QEMU guest, both builds against scsi_debug drives"
python3 tests/kernel/wine_test.py --linux build/linux --win64 build/win64 --win32 build/win32
