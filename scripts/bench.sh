#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: each package routine beside memcpy of
# the same bytes, then a table of the ratios and goals. Arguments go to the benchmark
# program (for example --benchmark_filter=Scramble). Exit status 1: a goal was missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target varnel_bench >/dev/null
echo "machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
exec build/bench/bench/varnel_bench "$@"
