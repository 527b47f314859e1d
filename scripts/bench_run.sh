#!/usr/bin/env bash
# Whole-program figures of the Linux updater against simulated drives (Release build):
#   a. parallel update: 1, 8 and 32 drives with a per-command delay updated at once
#      (/s /all, a 4 MiB updater); elapsed times, their ratios to one drive (goal for 32
#      drives <= 1.15, a duplicator tower) and the process's user + system processor time;
#   b. peak resident memory of a whole update run of a 4 MiB updater into eight drives
#      (goal < 16 MiB);
#   c. start-up: process start to the updater dialog ready on a 4 MiB updater with no
#      drives (/s without a target ends right after the initialisation; goal < 30 ms);
#   d. footprint of an updater with a 3 MiB Main image (about 3.9 MB): peak resident memory
#      of a /s /all run into eight drives and of the varnel-pkg build that makes it (goal
#      <= 12.5 MiB each), and the processor time (user + system) of /s with no target drive.
# usage: bash scripts/bench_run.sh [--reference DIR]
#   --reference DIR: the build folder of another version (DIR/src/varnel and
#   DIR/tools/varnel-pkg, e.g. a Release build of an older commit in a git worktree); d. is
#   run with it as well, side by side, and the processor time becomes the median of the
#   ratios of paired runs (goal <= 1.15).
# Environment: DELAY_MS (per-command delay of the drives, default 20), RUNS (start-up
# runs averaged, default 50), PAIRS (paired runs of d., default 21, each a batch of 5 runs
# of each program). Exit status 1: a goal was missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
delay=${DELAY_MS:-20}
runs=${RUNS:-50}
pairs=${PAIRS:-21}
reference=
case "${1:-}" in
  --reference)
    reference=$(cd "${2:?--reference needs a build folder}" && pwd)
    for f in src/varnel tools/varnel-pkg; do
      [ -x "$reference/$f" ] || { echo "bench_run: no $reference/$f" >&2; exit 2; }
    done ;;
  "") ;;
  *) echo "usage: bash scripts/bench_run.sh [--reference DIR]" >&2; exit 2 ;;
esac
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target varnel varnel-pkg >/dev/null
varnel=$build/src/varnel
pkg=$build/tools/varnel-pkg

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 4 MiB updater: MAIN code sized so that engine, package and trailer just fit.
engine=$(stat -c %s "$varnel")
size=$((4194304 - engine - 1024 - 41984 - 4096))
"$pkg" sample "$work/fw" --size "$size" --revision 1.10 >/dev/null
"$pkg" build --engine "$varnel" --prm "$work/fw/sample.prm" --out "$work/upd" \
  --product KVS-Q42R --filter '1.0*' >/dev/null
updater_bytes=$(stat -c %s "$work/upd")

drives() {  # drives COUNT FILE: ASPI-style addresses on one adapter (up to 32), as a tower
  echo "journal = ${2##*/}.journal" >"$2"
  echo "adapters = 1" >>"$2"
  for ((i = 0; i < $1; i++)); do
    printf '[drive]\naddress = 0.%d.%d\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "1.00"\ndelay_ms = %s\n' \
      $((i / 4)) $((i % 4)) "$delay" >>"$2"
  done
}

# One /s /all run into COUNT drives; prints "elapsed_s user_s sys_s max_rss_kib".
# run COUNT [UPDATER]: the 4 MiB updater unless another is named.
run() {
  local file="$work/drives$1.txt"
  drives "$1" "$file"
  rm -f "$file.state" "$file.journal"
  local status=0
  VARNEL_SIMULATE=$file /usr/bin/time -f '%e %U %S %M' -o "$work/time" "${2:-$work/upd}" /s /all \
    >/dev/null 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "bench_run: update into $1 drives ended with status $status" >&2
    exit 1
  fi
  local updated
  updated=$(grep -c 'revision "1.10"' "$file.state" || true)
  if [ "$updated" -ne "$1" ]; then
    echo "bench_run: $updated of $1 drives updated" >&2
    exit 1
  fi
  cat "$work/time"
}

missed=()
echo "machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "updater: $updater_bytes bytes; drives: $delay ms per command (the 3 s wait after the diagnostic included)"

read -r one_e one_u one_s one_m < <(run 1)
read -r eight_e eight_u eight_s eight_m < <(run 8)
read -r many_e many_u many_s many_m < <(run 32)
ratio8=$(awk -v a="$eight_e" -v b="$one_e" 'BEGIN { printf "%.2f", a / b }')
ratio=$(awk -v a="$many_e" -v b="$one_e" 'BEGIN { printf "%.2f", a / b }')
printf 'parallel update:  1 drive %6.2f s   8 drives %6.2f s (%sx)   32 drives %6.2f s (%sx, goal <= 1.15)\n' \
  "$one_e" "$eight_e" "$ratio8" "$many_e" "$ratio"
printf '  processor time: 1 drive %.2f s user + %.2f s system; 8 drives %.2f + %.2f s; 32 drives %.2f + %.2f s\n' \
  "$one_u" "$one_s" "$eight_u" "$eight_s" "$many_u" "$many_s"
# Commands a drive answers before its first image chunk: the search, the disc check, the
# revision read and the identity check (the drives are asked at the same time).
before=$(awk -F' [|] ' '!($1 in started) { if ($2 ~ /^3B 0[25] 00 /) started[$1] = 1; else n[$1]++ }
  END { for (d in n) { s += n[d]; c++ } printf "%.1f", s / c }' "$work/drives32.txt.journal")
printf '  commands before its first chunk, per drive of 32: %s (%s ms each)\n' "$before" "$delay"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.15) }' || missed+=("parallel ratio $ratio (32 drives)")

rss_mib=$(awk -v k="$eight_m" 'BEGIN { printf "%.1f", k / 1024 }')
printf 'peak memory:      %s MiB (%s KiB) for 8 drives, %s KiB for 1, %s KiB for 32 (goal < 16 MiB for 8)\n' \
  "$rss_mib" "$eight_m" "$one_m" "$many_m"
[ "$eight_m" -lt 16384 ] || missed+=("peak memory $rss_mib MiB")

# Start-up: no drives at all; the run ends once the dialog is initialised.
: >"$work/none.txt"
VARNEL_SIMULATE=$work/none.txt "$work/upd" /s >/dev/null 2>&1 || true  # warm the cache
start=$(date +%s%N)
for ((i = 0; i < runs; i++)); do
  VARNEL_SIMULATE=$work/none.txt "$work/upd" /s >/dev/null 2>&1 || true
done
end=$(date +%s%N)
startup_ms=$(awk -v d=$((end - start)) -v n="$runs" 'BEGIN { printf "%.1f", d / n / 1e6 }')
printf 'start-up:         %s ms per run, mean of %s (goal < 30 ms)\n' "$startup_ms" "$runs"
awk -v t="$startup_ms" 'BEGIN { exit !(t < 30) }' || missed+=("start-up $startup_ms ms")

# Footprint: a 3 MiB Main image (engine + package of about 3.9 MB).
"$pkg" sample "$work/fw3" --size $((3145728 - 1024)) --revision 1.10 >/dev/null
# build_rss PKG ENGINE OUT: builds the updater; prints the peak resident memory in KiB.
build_rss() {
  /usr/bin/time -f '%M' -o "$work/time" "$1" build --engine "$2" --prm "$work/fw3/sample.prm" \
    --out "$3" --product KVS-Q42R --filter '1.0*' >/dev/null
  cat "$work/time"
}
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
build_m=$(build_rss "$pkg" "$varnel" "$work/upd3")
read -r _ _ _ upd3_m < <(run 8 "$work/upd3")
: >"$work/none.txt"
# CPU seconds (user + system, from wait4) of runs of /s with no drive at all.
cpu_runs() {
  VARNEL_SIMULATE=$work/none.txt python3 - "$@" <<'PY'
import os, statistics, sys
mode, pairs, batch = sys.argv[1], int(sys.argv[2]), 5
programs = sys.argv[3:]
null = os.open(os.devnull, os.O_RDWR)
def cpu(program):
    pid = os.posix_spawn(program, [program, "/s"], os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)])
    _, _, usage = os.wait4(pid, 0)
    return usage.ru_utime + usage.ru_stime
for p in programs:
    cpu(p)  # warm the page cache
per_run = {p: [] for p in programs}
ratios = []
for i in range(pairs):
    order = programs if i % 2 == 0 else programs[::-1]
    sums = {}
    for p in order:
        runs = [cpu(p) for _ in range(batch)]
        per_run[p] += runs
        sums[p] = sum(runs)
    if mode == "pair":
        ratios.append(sums[programs[0]] / sums[programs[1]])
print(" ".join("%.2f" % (statistics.median(per_run[p]) * 1000) for p in programs),
      "%.2f" % statistics.median(ratios) if ratios else "-")
PY
}
printf 'footprint:        updater of %s bytes (3 MiB Main image); goals <= 12.5 MiB, <= 1.15x\n' \
  "$(stat -c %s "$work/upd3")"
if [ -n "$reference" ]; then
  ref_build_m=$(build_rss "$reference/tools/varnel-pkg" "$reference/src/varnel" "$work/ref3")
  read -r _ _ _ ref_upd3_m < <(run 8 "$work/ref3")
  read -r cpu_ms ref_cpu_ms cpu_ratio < <(cpu_runs pair "$pairs" "$work/upd3" "$work/ref3")
  printf '  peak memory, /s /all into 8 drives: %s MiB (%s KiB); reference %s MiB\n' \
    "$(mib "$upd3_m")" "$upd3_m" "$(mib "$ref_upd3_m")"
  printf '  peak memory, varnel-pkg build:      %s MiB (%s KiB); reference %s MiB\n' \
    "$(mib "$build_m")" "$build_m" "$(mib "$ref_build_m")"
  printf '  processor time, /s with no target:  %sx of the reference, median of %s paired batches (%s ms against %s ms per run, medians)\n' \
    "$cpu_ratio" "$pairs" "$cpu_ms" "$ref_cpu_ms"
  awk -v r="$cpu_ratio" 'BEGIN { exit !(r <= 1.15) }' || missed+=("processor time ${cpu_ratio}x")
else
  read -r cpu_ms _ < <(cpu_runs single "$pairs" "$work/upd3")
  printf '  peak memory, /s /all into 8 drives: %s MiB (%s KiB)\n' "$(mib "$upd3_m")" "$upd3_m"
  printf '  peak memory, varnel-pkg build:      %s MiB (%s KiB)\n' "$(mib "$build_m")" "$build_m"
  printf '  processor time, /s with no target:  %s ms per run, median of %s (no reference: no ratio)\n' \
    "$cpu_ms" "$((pairs * 5))"
fi
[ "$upd3_m" -le 12800 ] || missed+=("peak memory of the 3 MiB run $(mib "$upd3_m") MiB")
[ "$build_m" -le 12800 ] || missed+=("peak memory of varnel-pkg build $(mib "$build_m") MiB")

if ((${#missed[@]})); then
  printf 'bench_run: goal missed: %s\n' "${missed[@]}"
  exit 1
fi
