#!/usr/bin/env bash
# The main job on a new machine with no drives: set up and build, make sample program
# files and a parameter file, generate an updater with maintenance mode's automatic run,
# and update three simulated drives in parallel with it.
# usage: bash scripts/demo.sh [--keep]
#   --keep: work in build/demo (emptied first) and keep it, to go on trying the updater.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
keep=0
case "${1:-}" in
  --keep) keep=1 ;;
  "") ;;
  *) echo "usage: bash scripts/demo.sh [--keep]" >&2; exit 2 ;;
esac
# Only the demo's packages and its two programs, in a build folder of their own without the
# tests (scripts/test.sh installs and builds everything); optimised for size and without
# debug information, which builds in half the time of an -O2 -g build.
bash scripts/setup.sh demo
cmake -S . -B build/demo-bin -DCMAKE_BUILD_TYPE=MinSizeRel -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo-bin -j"$(nproc)" --target varnel varnel-pkg >/dev/null
bin=$root/build/demo-bin
if ((keep)); then
  work=$root/build/demo
  rm -rf "$work"
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/fw"
cp "$bin/src/varnel" "$work/varnel"

step() { printf '\n== %s\n' "$*"; }

step "Sample program files and parameter file"
"$bin/tools/varnel-pkg" sample "$work/fw" --model KVS-Q42R --revision 1.10 --minor C2
cat "$work/fw/sample.prm"

step "Maintenance mode, automatic run: varnel fw/sample.prm /a /tp=KVS-Q42R /no"
(cd "$work" && ./varnel fw/sample.prm /a /tp=KVS-Q42R /no)
updater=$work/fw/Q42R1.10-C2  # model part, revision and minor revision; a Linux program
[ -x "$updater" ] || { echo "no updater $updater: $(ls "$work/fw")" >&2; exit 1; }
echo "generated: ${updater#"$work"/}"
"$bin/tools/varnel-pkg" inspect "$updater" | grep -E '"(product|filter|revision|minor|flag_names|customer|body_size|valid)"'

step "Three simulated drives (two of them targets)"
cat > "$work/drives.txt" <<'DRIVES'
journal = journal.txt
[drive]
letter = D
vendor = "QZEN"
product = "DVD-RAM KVS-Q42R"
revision = "1.00"
delay_ms = 2
[drive]
letter = E
vendor = "QZEN"
product = "DVD-RAM KVS-Q42R"
revision = "1.05"
minor = "B1"
delay_ms = 2
[drive]
letter = F
vendor = "OTHER"
product = "BD-ROM XY-9"
revision = "2.00"
DRIVES
export VARNEL_SIMULATE=$work/drives.txt
"$bin/tools/varnel-pkg" drives

step "Updater with /all (the all-drives entry): press UPDATE, then EXIT"
set +e
printf "u\nx\n" | "$updater" /all
code=$?
set -e
echo "exit code: $code"

step "Drives afterwards"
"$bin/tools/varnel-pkg" drives

step "Journal summary (commands each drive received)"
awk -F'|' '{gsub(/ /, "", $1); split($2, b, " "); n[$1 " " b[1]]++}
  END {for (k in n) print k, n[k]}' "$work/journal.txt" | sort |
  sed -e 's/ 12 / INQUIRY /' -e 's/ 3B / WRITE_BUFFER /' -e 's/ 1D / SEND_DIAGNOSTIC /' \
      -e 's/ 00 / TEST_UNIT_READY /' -e 's/ 3C / READ_BUFFER /'

if ((keep)); then
  step "Kept: $work"
  cat <<KEPT
Go on trying the updater there (the drives keep their new firmware in drives.txt.state;
remove that file to start again from the old revisions):
  cd $work
  VARNEL_SIMULATE=drives.txt ./${updater#"$work"/}           # the console screen
  VARNEL_SIMULATE=drives.txt ./${updater#"$work"/} /s; echo \$?
  VARNEL_SIMULATE=drives.txt $bin/tools/varnel-pkg drives
  $bin/tools/varnel-pkg inspect ${updater#"$work"/}
KEPT
fi
