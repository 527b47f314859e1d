#!/usr/bin/env bash
# The Linux varnel on a terminal (tmux: send-keys, capture-pane): maintenance mode from
# Load to Generate, then the generated updater on two simulated drives: the all-drives
# entry, UPDATE, the progress bars during the run, the REBOOT state and the restart
# command. Then the package of a Windows-built updater applied with --package= gives the
# same drive journal and result log as the Linux-built updater.
# usage: varnel_terminal_test.sh BUILD_DIR [WINDOWS_ENGINE]
#   WINDOWS_ENGINE (or VARNEL_WIN_ENGINE): varnel.exe of the Windows build; default: the
#   product (build/win32) or else the 64-bit build (build/win64) when present, else the test
#   engine bytes of tests/data
#   (--package= reads only the appended package).
set -euo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
win_engine=${2:-${VARNEL_WIN_ENGINE:-}}
if [ -z "$win_engine" ]; then
  win_engine=$root/tests/data/engine.bin
  for build in win64 win32; do
    [ -f "$root/build/$build/src/varnel.exe" ] && win_engine=$root/build/$build/src/varnel.exe
  done
fi
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed (scripts/setup.sh)"; exit 77; }

work=$(mktemp -d)
sock=$work/tmux.sock
T() { tmux -S "$sock" "$@"; }
cleanup() { T kill-server 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
screen() { T capture-pane -p -t v; }
fail() {
  echo "FAIL: $*" >&2
  if T has-session -t v 2>/dev/null; then echo "--- screen:" >&2; screen >&2; fi
  exit 1
}
# wait_for ERE [SECONDS]: polls the screen until a line matches.
wait_for() {
  local deadline=$((SECONDS + ${2:-15}))
  until screen | grep -qE -- "$1"; do
    ((SECONDS < deadline)) || fail "timed out waiting for: $1"
    sleep 0.05
  done
}
keys() {  # TEXT: typed, then Enter
  [ -z "$1" ] || T send-keys -t v -l -- "$1"
  T send-keys -t v Enter
}
# run COMMAND: starts a command line in the shell of the pane, after a clear screen.
run() { keys "clear; $1; echo EXIT=\$?"; }

mkdir -p "$work/fw" "$work/win" "$work/lin"
cp "$bin/src/varnel" "$work/varnel"
"$bin/tools/varnel-pkg" sample "$work/fw" --model KVS-Q42R --revision 1.10 >/dev/null

# --- The package of a Windows-built updater, applied with --package=: these runs go in the
# background while the terminal is tested; their checks are at the end.
pkg_opts=(--prm "$work/fw/sample.prm" --product KVS-Q42R --filter '1.0*' --options ff)
"$bin/tools/varnel-pkg" build --engine "$win_engine" --out "$work/win/Q42R1.10.exe" "${pkg_opts[@]}" >/dev/null
"$bin/tools/varnel-pkg" build --engine "$work/varnel" --out "$work/lin/Q42R1.10.exe" "${pkg_opts[@]}" >/dev/null
# apply NAME ARGS...: a run in $work on fresh simulated drives of its own
# ($work/NAME/drives.txt, journal.txt, qzfwup.txt); its exit status in $work/NAME/status.
apply() {
  local name=$1 dir=$work/$1
  shift
  mkdir -p "$dir"
  { echo "journal = journal.txt"
    for d in "D 1.00" "E 1.01" "F 1.02"; do
      printf '[drive]\nletter = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "%s"\n' $d
    done; } >"$dir/drives.txt"
  : >"$dir/journal.txt"
  set +e
  (cd "$work" && VARNEL_SIMULATE=$dir/drives.txt VARNEL_LOG_DIR=$dir "$@" </dev/null >"$dir/out.txt" 2>&1)
  echo $? >"$dir/status"
  set -e
}
status() { cat "$work/$1/status"; }
# Downloads run in parallel: each drive's commands in order, drives interleaved anyhow.
same_journal() {
  local d a b
  for d in D E F; do
    a=$(grep "^$d | " "$work/$1/journal.txt" || true)
    b=$(grep "^$d | " "$work/$2/journal.txt" || true)
    [ "$a" = "$b" ] || fail "drive $d: journals of $1 and $2 differ: $(diff <(echo "$a") <(echo "$b") | head -4)"
  done
}
# Each run waits 3 s after its diagnostic: the runs go side by side.
apply win-s ./varnel --package=win/Q42R1.10.exe /s /all &
apply lin-s lin/Q42R1.10.exe /s /all &
apply win-lw ./varnel --package=win/Q42R1.10.exe /lw /dl=E &
apply lin-lw lin/Q42R1.10.exe /lw /dl=E &
apply nopkg ./varnel --package=fw/sample.prm &
apply missing ./varnel --package=fw/none.exe &

T new-session -d -s v -x 100 -y 50 -c "$work" "env -i PATH=$PATH HOME=$work TERM=screen bash --norc --noprofile"
T set-option -t v status off >/dev/null

# --- Maintenance mode: parameter file, Load, options, filter, Generate.
run "./varnel"
wait_for 'Maintenance mode Ver\.3\.74K'
wait_for 'Enter: Load'
keys "p fw/sample.prm"
wait_for "Parameter file \(\*\.prm\): fw/sample\.prm"
keys "l"
wait_for 'Status: Load OK \(Push Generate button\)'
wait_for 'Main Program +main\.bin'
wait_for "Output file: $work/fw/Q42R1\.10 +\\|"  # a Linux updater: no .exe
screen | grep -q 'generate a Linux type updater' || fail "the heading does not say Linux"
keys "ff"
wait_for 'ff +\[x\] Filter free when minor rev\. is shown\.'
keys "rf 1.0"
wait_for 'Inquiry Rev\. Filter: 1 \. 0 \*'
keys "g"
wait_for '^EXIT=0'
updater=$work/fw/Q42R1.10
[ -x "$updater" ] || fail "maintenance mode wrote no updater"
info=$("$bin/tools/varnel-pkg" inspect "$updater")
for want in '"product": "KVS-Q42R"' '"filter": "1.0*"' '"revision": "1.10"' \
    '"flag_names": ["FILTER_FREE_MINOR"]'; do
  grep -qF "$want" <<<"$info" || fail "generated updater: inspect lacks $want"
done

# --- The updater on two simulated drives.
drives() {  # delay_ms letter revision ... -> drives.txt, fresh state and journal
  local delay=$1
  shift
  { echo "journal = journal.txt"
    while (($#)); do
      printf '[drive]\nletter = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "%s"\ndelay_ms = %s\n' \
        "$1" "$2" "$delay"
      shift 2
    done; } >"$work/drives.txt"
  rm -f "$work/journal.txt" "$work/drives.txt.state"
}
drives 100 D 1.00 E 1.01
rm -f "$work/rebooted" "$work/allow"
run "VARNEL_SIMULATE=drives.txt VARNEL_REBOOT_COMMAND='test -e allow && touch rebooted' fw/Q42R1.10"
wait_for '^\| +> 1\) D: QZEN     DVD-RAM KVS-Q42R 1\.00'
wait_for '^\| +3\) \*: All target drives\. \(2units\)'
wait_for 'Current version: 1\.00 +New version: 1\.10'
wait_for '\| Please close other applications before updating\.'
keys "3"
wait_for '^\| +> 3\) \*: All target drives\.'
wait_for 'Current version: \*\*\*\*'
keys "u"
wait_for "Now updating\. It takes a few minutes\. Don't turn off the PC\."
# Mid-run: each drive's bar part-way, the buttons disabled.
declare -A seen=()
deadline=$((SECONDS + 15))
until [ "${#seen[@]}" = 3 ]; do
  ((SECONDS < deadline)) || fail "during the run, seen only: ${!seen[*]}"
  s=$(screen)
  for d in D E; do
    grep -qE "^\| +$d: +\[#+\.+\] +[0-9]{1,2}%  [0-9]+/350208 bytes" <<<"$s" && seen[$d]=1
  done
  grep -qE '\( \) UPDATE +\( \) EXIT' <<<"$s" && seen[buttons]=1
  sleep 0.05
done
# The REBOOT state: both drives done, entries show the new revision.
wait_for '\[u\] REBOOT +\[x\] EXIT' 30
s=$(screen)
for want in 'Updating was completed successfully. Please reboot the PC.' \
    'D:      [####################] 100%  350208/350208 bytes  verified' \
    'E:      [####################] 100%  350208/350208 bytes  verified' \
    '1) D: QZEN     DVD-RAM KVS-Q42R 1.10' '2) E: QZEN     DVD-RAM KVS-Q42R 1.10'; do
  grep -qF -- "$want" <<<"$s" || fail "REBOOT state lacks: $want"
done
for d in D E; do
  [ "$(grep -c "^$d | 1D 01 00 00 06 00" "$work/journal.txt")" = 1 ] || fail "drive $d: no diagnostic"
done
# REBOOT: a failing restart command, then one that works.
keys "u"
wait_for '\| Rebooting was failed\.'
[ ! -e "$work/rebooted" ] || fail "restart reported failed but ran"
touch "$work/allow"
keys "u"
wait_for '\| Now the PC is rebooting\.\.\.'
# The message comes first, the command right after it.
for _ in $(seq 100); do [ -e "$work/rebooted" ] && break; sleep 0.05; done
[ -e "$work/rebooted" ] || fail "the restart command did not run"
keys "x"
wait_for '^EXIT=0'

# --- An interrupt (Ctrl-C) during a run: the run finishes, then the program ends.
drives 40 D 1.00 E 1.01
run "VARNEL_SIMULATE=drives.txt fw/Q42R1.10 /all"
wait_for '^\| +> 3\) \*: All target drives\.'
keys "u"
wait_for 'D: +\[#+\.+\] +[0-9]{1,2}%'
T send-keys -t v C-c
wait_for '^EXIT=0' 20
for d in D E; do
  [ "$(grep -c "^$d | 1D 01 00 00 06 00" "$work/journal.txt")" = 1 ] || fail "interrupted run: drive $d not updated"
done

# --- An about box and an unopenable drive, on the terminal.
drives 0 D 1.00
sed -i 's/^delay_ms = 0/open = denied/' "$work/drives.txt"
run "VARNEL_SIMULATE=drives.txt fw/Q42R1.10"
wait_for "Can't find the target drive\."
wait_for 'Permission denied: 1 drive could not be opened\.'
wait_for 'CAP_SYS_RAWIO'  # the group lists drives, it does not update them
keys "a"
wait_for '^\| Varnel engine Version 3\.74K'
keys ""
wait_for 'a about'
keys "x"
wait_for '^EXIT=3'
T kill-server

# --- Checks of the runs with --package= started at the beginning.
wait
[ "$(status win-s)" = 0 ] || fail "--package= /s exited $(status win-s): $(cat "$work/win-s/out.txt")"
[ "$(status lin-s)" = 0 ] || fail "Linux updater /s exited $(status lin-s)"
for d in D E F; do
  grep -q "^$d | 1D 01 00 00 06 00" "$work/win-s/journal.txt" || fail "--package= /s /all: drive $d not updated"
done
same_journal win-s lin-s
[ "$(status win-lw)" = 1 ] || fail "--package= /lw exited $(status win-lw)"
same_journal win-lw lin-lw
printf 'FILE=Q42R1.10.EXE\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.01\r\nNEW_REV=1.10\r\nSTATUS=OK\r\n' >"$work/want.log"
cmp -s "$work/win-lw/qzfwup.txt" "$work/want.log" || { cat -A "$work/win-lw/qzfwup.txt"; fail "--package= log differs"; }
cmp -s "$work/lin-lw/qzfwup.txt" "$work/want.log" || fail "Linux updater log differs"

# A file without a package: the broken-file state; a missing file: an error. Both 259 -> 3.
[ "$(status nopkg)" = 3 ] || fail "--package= without a package exited $(status nopkg)"
grep -q 'The file may be broken\.' "$work/nopkg/out.txt" || fail "no broken-file state: $(cat "$work/nopkg/out.txt")"
! grep -q ' | 3B ' "$work/nopkg/journal.txt" || fail "--package= without a package wrote into a drive"
[ "$(status missing)" = 3 ] || fail "--package= of a missing file exited $(status missing)"
grep -q "varnel: cannot read $work/fw/none.exe" "$work/missing/out.txt" || fail "no error for a missing file"
echo "1 passed, 0 failed ($(basename "$win_engine") as Windows engine)"
