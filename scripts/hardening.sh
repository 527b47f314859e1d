#!/usr/bin/env bash
# Hardening run, standalone: builds with clang and
#   1. runs the whole unit suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   2. runs every fuzz target (fuzz/) for FUZZ_SECONDS seconds each (default 30), after
#      replaying its saved findings (fuzz/regressions/<target>), and prints its rate
#      (inputs run per second of the whole run, again all together at the end),
#   3. runs the whole unit suite under ThreadSanitizer.
# Any sanitizer report, fuzz finding or failing test fails the run (exit status 1).
# Builds: build/hardening-asan (also the fuzz programs) and build/hardening-tsan. A fuzz
# finding is saved under build/hardening-asan/fuzz-findings/<target>/; once the fault is
# fixed, copy the file to fuzz/regressions/<target>/ so that every test run replays it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1
jobs=$(nproc)
seconds=${FUZZ_SECONDS:-30}
failed=()
rates=()

# Warnings are not findings here; the gcc and mingw builds keep them at zero.
common=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DVARNEL_WERROR=OFF)
# The built program grows beyond 1 MiB with the sanitizers, which its own mode test takes
# for an updater with a broken package: its command-line tests (cli.*) stay with the
# normal builds.
exclude='^cli\.'
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

step() { echo; echo "== $*"; }

asan=build/hardening-asan
step "AddressSanitizer + UndefinedBehaviorSanitizer build ($asan)"
cmake -S . -B "$asan" "${common[@]}" -DVARNEL_FUZZ=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer -fsanitize-coverage-ignorelist=$root/fuzz/coverage_ignore.txt" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null &&
  cmake --build "$asan" -j"$jobs" >/dev/null || { echo "build failed"; exit 1; }

step "unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ctest --test-dir "$asan" -j"$jobs" --output-on-failure -E "$exclude" >"$asan/ctest.log" 2>&1 ||
  { cat "$asan/ctest.log"; failed+=("unit tests (asan+ubsan)"); }
tail -n 3 "$asan/ctest.log"

for program in "$asan"/fuzz/fuzz_*; do
  [ -x "$program" ] || continue
  target=${program##*/fuzz_}
  step "fuzz $target: ${seconds} s"
  work="$asan/fuzz-corpus/$target"
  findings="$asan/fuzz-findings/$target"
  mkdir -p "$work" "$findings"
  regressions=(fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ] && ! "$program" "${regressions[@]}" >"$findings/replay.log" 2>&1; then
    tail -n 30 "$findings/replay.log"
    failed+=("fuzz $target: a saved finding fails again")
    continue
  fi
  # New inputs go to the work folder; the seed corpus in the repository stays as it is.
  start=$(date +%s.%N)
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$work" "fuzz/corpus/$target" >"$findings/fuzz.log" 2>&1; then
    end=$(date +%s.%N)
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$findings/fuzz.log" | tail -n 2
    # The rate over the whole run, the replay of the corpus included.
    units=$(awk '/^stat::number_of_executed_units:/ { print $2 }' "$findings/fuzz.log" | tail -n 1)
    rate=$(awk -v n="${units:-0}" -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", n / (b - a) }')
    echo "rate: $rate inputs/s ($units inputs in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s)"
    rates+=("$target $rate inputs/s")
  else
    tail -n 40 "$findings/fuzz.log"
    echo "finding: $(ls -t "$findings" | grep -vE '\.log$' | head -n 1) in $findings"
    failed+=("fuzz $target")
  fi
done

tsan=build/hardening-tsan
step "ThreadSanitizer build ($tsan)"
cmake -S . -B "$tsan" "${common[@]}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" >/dev/null &&
  cmake --build "$tsan" -j"$jobs" >/dev/null || { echo "build failed"; exit 1; }

step "unit tests under ThreadSanitizer"
ctest --test-dir "$tsan" -j"$jobs" --output-on-failure -E "$exclude" >"$tsan/ctest.log" 2>&1 ||
  { cat "$tsan/ctest.log"; failed+=("unit tests (tsan)"); }
tail -n 3 "$tsan/ctest.log"

echo
((${#rates[@]})) && printf 'fuzz rate: %s\n' "${rates[@]}"
if ((${#failed[@]})); then
  printf 'hardening: FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "hardening: no findings"
