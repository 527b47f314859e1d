#!/usr/bin/env bash
# The Linux varnel and varnel-pkg from a shell: maintenance mode's automatic run, then the
# generated updater on simulated drives (silent run, result log, exit statuses).
# usage: varnel_cli_test.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$work/fw" "$work/log"
cp "$bin/src/varnel" "$work/varnel"
"$bin/tools/varnel-pkg" sample "$work/fw" --model KVS-Q42R --revision 1.10 --minor C2 >/dev/null

# Maintenance mode with an absolute parameter path: writes the updater named by the rules, a
# Linux program without .exe.
"$work/varnel" "$work/fw/sample.prm" /a /tp=KVS-Q42R /cn=LENOVO /ff /no </dev/null >/dev/null ||
  fail "maintenance run exited $?"
updater=$work/fw/Q42R1.10          # LENOVO: the inquiry revision cut to four characters
[ -x "$updater" ] || fail "no executable $updater: $(ls "$work/fw")"
[ "$(ls "$work/fw" | grep -c '\.exe$')" = 0 ] || fail "a .exe was written: $(ls "$work/fw")"
info=$("$bin/tools/varnel-pkg" inspect "$updater")
for want in '"product": "KVS-Q42R"' '"filter": "****"' '"revision": "1.10"' '"minor": "C2"' \
    '"flag_names": ["FILTER_FREE_MINOR", "ONLY_NEWER", "CUST_LENOVO"]' '"customer": "LENOVO"'; do
  grep -qF "$want" <<<"$info" || fail "inspect lacks $want"
done

drives() {  # letter revision ... -> drive file
  { echo "journal = journal.txt"
    while (($#)); do
      printf '[drive]\nletter = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "%s"\ndelay_ms = 1\n' "$1" "$2"
      shift 2
    done; } >"$work/drives.txt"
  rm -f "$work/journal.txt" "$work/drives.txt.state"
}
run() {  # args... -> sets status
  set +e
  VARNEL_SIMULATE=$work/drives.txt VARNEL_LOG_DIR=$work/log "$updater" "$@" </dev/null >"$work/out.txt" 2>&1
  status=$?
  set -e
}

# Silent: LENOVO selects every target; both drives get the firmware, exit 0.
drives D 1.00 E 1.05
run /s
[ "$status" = 0 ] || fail "silent run exited $status: $(cat "$work/out.txt")"
for d in D E; do
  [ "$(grep -c "^$d | 1D 01 00 00 06 00" "$work/journal.txt")" = 1 ] || fail "drive $d: no diagnostic"
  grep -q "^$d | 3B 05" "$work/journal.txt" || fail "drive $d: no final image chunk"
done
grep -q '1.10' "$work/drives.txt.state" || fail "state lacks the new revision"

# Second run: every drive is current and the package allows only newer firmware: 1638 -> 102.
run /s
[ "$status" = 102 ] || fail "current drives exited $status, want 102 (1638)"

# Unattended log: five CRLF lines.
drives D 1.00
run /lw
[ "$status" = 1 ] || fail "unattended run exited $status"
printf 'FILE=Q42R1.10\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.10\r\nSTATUS=OK\r\n' >"$work/want.txt"
cmp -s "$work/log/qzfwup.txt" "$work/want.txt" || { cat -A "$work/log/qzfwup.txt"; fail "log differs"; }

# No target at all, silent: 259 -> 3.
drives D 9.99
sed -i 's/KVS-Q42R/OTHER-DRV/' "$work/drives.txt"
run /s
[ "$status" = 3 ] || fail "no target exited $status, want 3 (259)"

# Firmware only where it belongs, and never a failure called success. One case per line:
#   name | drive D keys | drive E | switches | exit status | drives without any write | log
# Drive D is a target at 1.00 with the keys given ("other": another product at 2.00);
# drive E ("-": none) likewise. The journal proves what each drive received.
other='vendor = "OTHER"\nproduct = "DVDRAM KXS-7350P"\nrevision = "2.00"'
log_ng='FILE=Q42R1.10\r\nMODEL=NO_DRIVE\r\nOLD_REV=\r\nNEW_REV=1.10\r\nSTATUS=NG\r\n'
cases=(
  "late answer shifts nothing|other\ninquiry_failures = 4|target|/s|0|D|"
  "target stops answering|fault = INQUIRY 2+ check 2 04 01|other|/s|3|DE|"
  "target replaced|replaced = 1 \"OTHER\" \"DVDRAM KXS-7350P\"|-|/s|3|D|"
  "unattended, target replaced|replaced = 1 \"OTHER\" \"DVDRAM KXS-7350P\"|-|/lw|1|D|FILE=Q42R1.10\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.10\r\nSTATUS=NG\r\n"
  "diagnostic refused, HARDWARE ERROR 00/00|fault = SEND_DIAGNOSTIC 1 check 4 00 00|-|/s|3||"
  "chunks refused, BUSY|fault = WRITE_BUFFER 2+ status 08|-|/s|3||"
  "unit attention after new microcode|ua_after_microcode = yes|-|/s|0||"
  "unattended, dl= of no drive||target|/lw /dl=Z|1|DE|$log_ng"
  "unattended, only newer|revision = \"1.20\"|-|/lw|1|D|FILE=Q42R1.10\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.20\r\nNEW_REV=1.10\r\nSTATUS=NG\r\n"
)
drive_text() {  # letter keys
  local keys=$2
  [ "$keys" = target ] && keys=
  keys=${keys/#other/$other}
  printf '[drive]\nletter = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "1.00"\ndelay_ms = 1\n%b\n' "$1" "$keys"
}
for c in "${cases[@]}"; do
  IFS='|' read -r name keys_d keys_e switches want untouched want_log <<<"$c"
  { echo "journal = journal.txt"; drive_text D "$keys_d"; [ "$keys_e" = - ] || drive_text E "$keys_e"; } >"$work/drives.txt"
  rm -f "$work/journal.txt" "$work/drives.txt.state" "$work/log/qzfwup.txt"
  # shellcheck disable=SC2086
  run $switches
  [ "$status" = "$want" ] || fail "$name: exit status $status, want $want: $(cat "$work/out.txt")"
  for d in $(grep -o . <<<"$untouched"); do
    ! grep -qE "^$d \| (3B|1D) " "$work/journal.txt" || fail "$name: drive $d was written"
  done
  if [ -n "$want_log" ]; then
    printf '%b' "$want_log" | cmp -s - "$work/log/qzfwup.txt" ||
      { cat -A "$work/log/qzfwup.txt"; fail "$name: log differs"; }
  fi
  if [ "$want" = 0 ]; then
    grep -q 'revision "1.10"' "$work/drives.txt.state" || fail "$name: no drive updated"
  elif [ "$want" = 3 ]; then
    ! grep -q 'revision "1.10"' "$work/drives.txt.state" 2>/dev/null || fail "$name: a drive updated"
  fi
  if [[ $name == *microcode* ]]; then
    # The drive refuses the command after new microcode once; it goes out again, unchanged.
    grep -A1 'check 6/3F/16' "$work/journal.txt" >"$work/ua.txt"
    refused=$(sed -n 1p "$work/ua.txt" | cut -d'|' -f1-3)
    repeat=$(sed -n 2p "$work/ua.txt" | cut -d'|' -f1-3)
    [ -n "$refused" ] && [ "$refused" = "$repeat" ] && sed -n 2p "$work/ua.txt" | grep -q '| good' ||
      fail "$name: the refused command was not repeated: $(cat "$work/ua.txt")"
  fi
done

# Unattended with a log that cannot be written: nothing is touched, exit status 29.
drives D 1.00
set +e
VARNEL_SIMULATE=$work/drives.txt VARNEL_LOG_DIR=$work/missing "$updater" /lw </dev/null >"$work/out.txt" 2>&1
status=$?
set -e
[ "$status" = 29 ] || fail "unwritable log: exit status $status, want 29"
! grep -qE '^D \| (3B|1D) ' "$work/journal.txt" || fail "unwritable log: drive D was written"

# The name the updater was started by counts, not the file a link leads to: started as
# Q42R1.10-C2 (a link), the log names the link and the minor revision is shown.
drives D 1.00
ln -s Q42R1.10 "$work/fw/Q42R1.10-C2"
updater_file=$updater
updater=$work/fw/Q42R1.10-C2
run /lw
updater=$updater_file
[ "$status" = 1 ] || fail "unattended run through a link exited $status"
printf 'FILE=Q42R1.10-C2\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.10-C2\r\nSTATUS=OK\r\n' >"$work/want.txt"
cmp -s "$work/log/qzfwup.txt" "$work/want.txt" || { cat -A "$work/log/qzfwup.txt"; fail "link: log differs"; }

# Drives named like Linux drives: /dl= takes the device name, with or without /dev/. (An
# updater without a customer code: LENOVO's would update every target.)
"$bin/tools/varnel-pkg" build --engine "$work/varnel" --prm "$work/fw/sample.prm" \
  --product KVS-Q42R --out "$work/plain" >/dev/null
updater=$work/plain
named_drives() {  # device address ... -> drive file
  { echo "journal = journal.txt"
    while (($#)); do
      printf '[drive]\ndevice = %s\naddress = %s\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "1.00"\n' "$1" "$2"
      shift 2
    done; } >"$work/drives.txt"
  rm -f "$work/journal.txt" "$work/drives.txt.state"
}
for dl in sr10 /dev/sr10; do
  named_drives sr1 0:0:1:0 sr10 256:0:1:0
  run /lw "/dl=$dl"
  [ "$status" = 1 ] && grep -q 'STATUS=OK' "$work/log/qzfwup.txt" || fail "/dl=$dl: $status"
  grep -q '^sr10 | 1D 01 00 00 06 00' "$work/journal.txt" || fail "/dl=$dl: sr10 not updated"
  ! grep -qE '^sr1 \| (3B|1D) ' "$work/journal.txt" || fail "/dl=$dl: sr1 was written"
done
named_drives sr1 0:0:1:0
run /lw /dl=D
grep -q 'MODEL=NO_DRIVE' "$work/log/qzfwup.txt" || fail "/dl=D chose a named drive"
! grep -qE '^sr1 \| (3B|1D) ' "$work/journal.txt" || fail "/dl=D: sr1 was written"
printf 'u\nx\n' | VARNEL_SIMULATE=$work/drives.txt "$updater" >"$work/out.txt" 2>&1 || true
grep -qF '1) sr1 [0:0:1:0] QZEN     DVD-RAM KVS-Q42R 1.' "$work/out.txt" ||
  fail "no label with name and address: $(cat "$work/out.txt")"

# A command the system refuses (no privilege) and a drive removed mid-download: the message
# says which, the exit status is 3, and nothing more goes to the drive after it.
for kind in denied gone; do
  named_drives sr1 0:0:1:0
  echo "fault = WRITE_BUFFER 2 $kind" >>"$work/drives.txt"
  set +e
  printf 'u\nx\n' | VARNEL_SIMULATE=$work/drives.txt "$updater" >"$work/out.txt" 2>&1
  status=$?
  set -e
  [ "$status" = 3 ] || fail "$kind: exit status $status"
  grep -q 'Updating was failed. Please repeat that. (Error data = 00 ' "$work/out.txt" ||
    fail "$kind: no failure text: $(cat "$work/out.txt")"
  refused='The system refused to send WRITE BUFFER to the drive sr1 \[0:0:1:0\] for lack of privilege'
  gone='The drive sr1 \[0:0:1:0\] is gone'
  if [ "$kind" = denied ]; then
    grep -q "$refused" "$work/out.txt" && grep -q 'setcap cap_sys_rawio+ep' "$work/out.txt" &&
      ! grep -q "$gone" "$work/out.txt" || fail "denied: $(cat "$work/out.txt")"
  else
    grep -q "$gone" "$work/out.txt" && ! grep -q 'refused' "$work/out.txt" ||
      fail "gone: $(cat "$work/out.txt")"
  fi
  [ "$(tail -n 1 "$work/journal.txt" | cut -d'|' -f4)" = " $kind " ] ||
    fail "$kind: commands after the refused one: $(tail -n 3 "$work/journal.txt")"
done

# Drives whose firmware commands need CAP_SYS_RAWIO, and a process without it (as root, the
# capability is taken out of the bounding set): said before any run, nothing but INQUIRY
# reaches a drive, exit status 3.
named_drives sr1 0:0:1:0
sed -i '1a needs_privilege = yes' "$work/drives.txt"
without=()
if grep -q '^CapEff:' /proc/self/status &&
    (( 0x$(sed -n 's/^CapEff:[[:space:]]*//p' /proc/self/status) >> 17 & 1 )); then
  without=(setpriv --bounding-set -sys_rawio --inh-caps -sys_rawio)
  "${without[@]}" true 2>/dev/null || without=(skip)
fi
if [ "${without[0]:-}" = skip ]; then
  echo "note: cannot drop CAP_SYS_RAWIO here; the privilege check is not tried"
else
  set +e
  printf 'u\nx\n' | VARNEL_SIMULATE=$work/drives.txt "${without[@]}" "$updater" >"$work/out.txt" 2>&1
  status=$?
  set -e
  [ "$status" = 3 ] || fail "no privilege: exit status $status: $(cat "$work/out.txt")"
  [ "$(grep -c 'This process lacks the privilege' "$work/out.txt")" -ge 2 ] ||
    fail "no privilege: not said at once and after UPDATE: $(cat "$work/out.txt")"
  ! grep -vE '^sr1 \| 12 ' "$work/journal.txt" || fail "no privilege: more than INQUIRY was sent"
fi

# Silent runs say on standard error which drive failed and why, one line each; a run that
# succeeds says nothing there.
run_split() {  # args... -> status, out.txt, err.txt
  set +e
  VARNEL_SIMULATE=$work/drives.txt VARNEL_LOG_DIR=$work/log "$updater" "$@" </dev/null >"$work/out.txt" 2>"$work/err.txt"
  status=$?
  set -e
}
label_d='D: QZEN     DVD-RAM KVS-Q42R 1.00'
label_e='E: QZEN     DVD-RAM KVS-Q42R 1.00'
drives D 1.00 E 1.00
run_split /s /all
[ "$status" = 0 ] && [ ! -s "$work/err.txt" ] || fail "good silent run: $status, stderr: $(cat "$work/err.txt")"
drives D 1.00 E 1.00
sed -i '0,/delay_ms = 1/s//delay_ms = 1\nfault = WRITE_BUFFER 2 gone/' "$work/drives.txt"
run_split /s /all
[ "$status" = 3 ] && [ "$(wc -l <"$work/err.txt")" = 1 ] || fail "failed silent run: $status: $(cat "$work/err.txt")"
grep -qF "varnel: $label_d: Updating was failed. Please repeat that. (" "$work/err.txt" &&
  grep -qF 'is gone' "$work/err.txt" || fail "failed silent run said: $(cat "$work/err.txt")"

# Power: on battery below 25 % without external power no run starts, before any command but
# the search's INQUIRY; external power, or enough charge, runs as usual.
supply() {  # folder mains-online battery-capacity
  rm -rf "$1"; mkdir -p "$1/AC" "$1/BAT0"
  echo Mains >"$1/AC/type"; echo "$2" >"$1/AC/online"
  echo Battery >"$1/BAT0/type"; echo "$3" >"$1/BAT0/capacity"
}
supply "$work/low" 0 24
supply "$work/enough" 0 25
supply "$work/plugged" 1 5
for power in low enough plugged; do
  for switches in "/s /all" "/lw"; do
    drives D 1.00 E 1.00
    rm -f "$work/log/qzfwup.txt"
    # shellcheck disable=SC2086
    VARNEL_POWER_SUPPLY_DIR=$work/$power run_split $switches
    name="$power, $switches"
    if [ "$power" != low ]; then
      grep -q "^D | 1D 01 00 00 06 00" "$work/journal.txt" || fail "$name: drive D not updated"
      [ ! -s "$work/err.txt" ] || fail "$name: stderr: $(cat "$work/err.txt")"
      continue
    fi
    ! grep -vE '^[DE] \| 12 ' "$work/journal.txt" || fail "$name: more than INQUIRY was sent"
    words='The PC runs on battery (24 % charged) without external power'
    if [ "$switches" = /lw ]; then
      [ "$status" = 1 ] || fail "$name: exit status $status"
      printf 'FILE=PLAIN\r\nMODEL=KVS-Q42R\r\nOLD_REV=1.00\r\nNEW_REV=1.10\r\nSTATUS=NG\r\n' |
        cmp -s - "$work/log/qzfwup.txt" || { cat -A "$work/log/qzfwup.txt"; fail "$name: log"; }
      want=1
    else
      [ "$status" = 3 ] || fail "$name: exit status $status, want 3 (259)"
      want=2
    fi
    [ "$(wc -l <"$work/err.txt")" = "$want" ] && grep -qF "varnel: $label_d: $words" "$work/err.txt" ||
      fail "$name: stderr: $(cat "$work/err.txt")"
  done
done

# A disc in the drive: /lw ejects it, waits and then writes; a drive whose tray stays shut
# gets no firmware and the log says NG.
drives D 1.00
sed -i 's/delay_ms = 1/delay_ms = 1\nmedium = yes/' "$work/drives.txt"
run_split /lw
[ "$status" = 1 ] && grep -q 'STATUS=OK' "$work/log/qzfwup.txt" || fail "disc, /lw: $status $(cat "$work/err.txt")"
eject=$(grep -n '^D | 1B 00 00 00 02 00' "$work/journal.txt" | head -n 1 | cut -d: -f1)
first_write=$(grep -n '^D | 3B ' "$work/journal.txt" | head -n 1 | cut -d: -f1)
[ -n "$eject" ] && [ -n "$first_write" ] && [ "$eject" -lt "$first_write" ] ||
  fail "disc, /lw: no eject before the first WRITE BUFFER"
for switches in /lw "/s"; do
  drives D 1.00
  sed -i 's/delay_ms = 1/delay_ms = 1\nmedium = yes\nfault = START_STOP_UNIT 1+ check 5 53 02/' "$work/drives.txt"
  # shellcheck disable=SC2086
  run_split $switches
  ! grep -qE '^D \| (3B|1D) ' "$work/journal.txt" || fail "stuck disc, $switches: drive D was written"
  grep -qF "varnel: $label_d: A disc is still in the drive after the eject" "$work/err.txt" ||
    fail "stuck disc, $switches: stderr: $(cat "$work/err.txt")"
  if [ "$switches" = /lw ]; then
    [ "$status" = 1 ] && grep -q 'STATUS=NG' "$work/log/qzfwup.txt" || fail "stuck disc, /lw: $status"
  else
    [ "$status" = 3 ] || fail "stuck disc, /s: exit status $status"
  fi
done

# A copy with a file capability, run by an unprivileged user, has more privilege than that
# user: it applies only its own package, and takes no VARNEL_* setting (here the simulated
# drives), so the drives of the file are never touched.
priv=$work/priv
mkdir -p "$priv"
cp "$updater" "$priv/upd"
chmod 755 "$work" "$priv" "$priv/upd"
as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if [ "$(id -u)" = 0 ] && command -v setcap >/dev/null && setcap cap_sys_rawio+ep "$priv/upd" 2>/dev/null &&
    "${as_user[@]}" "$priv/upd" --version >/dev/null 2>&1; then
  drives D 1.00
  set +e
  VARNEL_SIMULATE=$work/drives.txt "${as_user[@]}" "$priv/upd" "--package=$updater" /s \
    </dev/null >"$work/out.txt" 2>"$work/err.txt"
  status=$?
  set -e
  [ "$status" = 2 ] && [ "$(wc -l <"$work/err.txt")" = 1 ] &&
    grep -qF 'varnel: --package is refused: this program runs with more privilege than its user' "$work/err.txt" ||
    fail "privileged --package: status $status, stderr: $(cat "$work/err.txt")"
  set +e
  VARNEL_SIMULATE=$work/drives.txt VARNEL_LOG_DIR=$work/log "${as_user[@]}" "$priv/upd" /s \
    </dev/null >"$work/out.txt" 2>"$work/err.txt"
  status=$?
  set -e
  [ "$status" = 3 ] || fail "privileged run: status $status: $(cat "$work/err.txt")"
  [ ! -e "$work/journal.txt" ] || fail "privileged run took its drives from VARNEL_SIMULATE"
else
  echo "note: cannot run a copy with a file capability as another user here; the privilege rule is not tried"
fi

# /report=FILE: one JSON file for scripts, whatever the outcome. D runs the new firmware, E
# takes it at its next start (still reports 1.00), F fails. The journal shows each updated
# drive asked again after its diagnostic: TEST UNIT READY, then the 48-byte INQUIRY.
{ echo "journal = journal.txt"; drive_text D target; drive_text E 'activates = restart'
  drive_text F 'fault = WRITE_BUFFER 2 check 3 0C 00'; } >"$work/drives.txt"
rm -f "$work/journal.txt" "$work/drives.txt.state"
run /s /all "/report=$work/log/run.json"
[ "$status" = 3 ] || fail "report run exited $status: $(cat "$work/out.txt")"
python3 - "$work/log/run.json" <<'PY' || fail "report: $(cat "$work/log/run.json")"
import json, sys
r = json.load(open(sys.argv[1]))
assert (r["updater"], r["revision"], r["exit_code"]) == ("plain", "1.10", 3), r
d = {x["drive"][0]: x for x in r["drives"]}
assert sorted(d) == ["D", "E", "F"], d
want = {"D": ("updated", "1.10", True), "E": ("updated", "1.00", False), "F": ("failed", "", False)}
for k, (result, after, verified) in want.items():
    x = d[k]
    assert (x["result"], x["revision_after"], x["verified"]) == (result, after, verified), x
    assert (x["vendor"], x["product"], x["revision_before"]) == ("QZEN", "DVD-RAM KVS-Q42R", "1.00"), x
assert d["D"]["error"] == d["E"]["error"] == "", d
assert d["F"]["error"].startswith("MEDIUM ERROR"), d["F"]
PY
for d in D E; do
  grep "^$d | " "$work/journal.txt" | cut -d'|' -f2 | grep -A2 '1D 01 00 00 06 00' | tail -n 2 |
    tr -d ' ' | paste -sd, | grep -qx '000000000000,120000003000' ||
    fail "drive $d not asked again after the diagnostic: $(grep "^$d | " "$work/journal.txt" | tail -n 3)"
done
grep -q 'E revision "1.00"' "$work/drives.txt.state" 2>/dev/null ||
  ! grep -q '^E ' "$work/drives.txt.state" 2>/dev/null || fail "E reports the new revision"

# A report that cannot be written: said on standard error, exit status 29, no drive asked.
rm -f "$work/journal.txt"
run /s /all "/report=$work/missing/run.json"
[ "$status" = 29 ] || fail "unwritable report: exit status $status"
grep -qF "cannot write the report '$work/missing/run.json'" "$work/out.txt" ||
  fail "unwritable report: $(cat "$work/out.txt")"
[ ! -s "$work/journal.txt" ] || fail "unwritable report: a drive was asked"

# Linux conventions: --help and --version answer on standard output with status 0 and touch
# no drive, also in an updater; an unknown option is one line on standard error, status 2.
drives D 1.00
rm -f "$work/journal.txt"
for prog in "$work/varnel" "$updater"; do
  for opt in --help -h --version; do
    set +e
    VARNEL_SIMULATE=$work/drives.txt "$prog" /s "$opt" </dev/null >"$work/out.txt" 2>"$work/err.txt"
    status=$?
    set -e
    [ "$status" = 0 ] && [ -s "$work/out.txt" ] && [ ! -s "$work/err.txt" ] ||
      fail "$prog $opt: status $status, stderr: $(cat "$work/err.txt")"
  done
  grep -qx 'varnel 3\.[0-9]*[A-Z]*' "$work/out.txt" || fail "--version said: $(cat "$work/out.txt")"
  for opt in --bogus /x -v --package; do
    set +e
    VARNEL_SIMULATE=$work/drives.txt "$prog" /s "$opt" </dev/null >"$work/out.txt" 2>"$work/err.txt"
    status=$?
    set -e
    [ "$status" = 2 ] && [ ! -s "$work/out.txt" ] && [ "$(wc -l <"$work/err.txt")" = 1 ] ||
      fail "$prog $opt: status $status, stderr: $(cat "$work/err.txt")"
    grep -qF "unknown option '$opt'" "$work/err.txt" || fail "$opt: $(cat "$work/err.txt")"
  done
done
[ ! -e "$work/journal.txt" ] || fail "--help or an unknown option reached a drive"
echo "1 passed, 0 failed"
