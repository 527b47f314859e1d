#!/usr/bin/env bash
# The main job on a new machine: set up, build, make sample firmware, write an
# updater package and read it back.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc)" >/dev/null
pkg=build/linux/tools/varnel-pkg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Sample program files"
"$pkg" sample "$work" --model KVS-Q42R --revision 1.10 --minor C2
echo
echo "== Writing an updater: engine + package"
"$pkg" build --engine tests/data/engine.bin --prm "$work/sample.prm" --out "$work/updater.exe" \
  --product KVS-Q42R --filter "1.**" --options no --customer LENOVO
echo
echo "== Reading it back"
"$pkg" inspect "$work/updater.exe"
