#!/usr/bin/env bash
# Generation from a shell: exit statuses of maintenance mode's automatic run and of
# varnel-pkg, updaters the updater would refuse, two writers of one output, planted links,
# and names that are not regular files.
# usage: generation_test.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
pkg=$bin/tools/varnel-pkg
cp "$bin/src/varnel" "$work/varnel"

status_of() {  # command... -> sets status (a command that blocks fails after 20 s)
  set +e
  timeout -k 5 20 "$@" </dev/null >"$work/out.txt" 2>&1
  status=$?
  set -e
  [ "$status" != 124 ] || fail "$* did not end: $(cat "$work/out.txt")"
}
samples() {  # folder [--size N] -> sample set with model KVS-Q42R, revision 1.10
  local folder=$1
  shift
  "$pkg" sample "$folder" --model KVS-Q42R --revision 1.10 "$@" >/dev/null
}
poke() {  # file offset hex-byte
  printf "\\x$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# Maintenance mode's automatic run: the exit status is the result code of the failure.
samples "$work/good"
status_of "$work/varnel" "$work/good/sample.prm" /a
[ "$status" = 0 ] || fail "good run exited $status: $(cat "$work/out.txt")"
[ -x "$work/good/Q42R1.10" ] || fail "no updater: $(ls "$work/good")"

status_of "$work/varnel" "$work/absent.prm" /a
[ "$status" = 1 ] || fail "absent parameter file exited $status, want 1"
grep -q "Can not open Parameter file." "$work/out.txt" || fail "no message: $(cat "$work/out.txt")"

# An odd-length Main image followed by a Core image whose first byte is not zero loads,
# but the updater would find the Main image broken: 21, nothing written.
samples "$work/odd" --size 70001
poke "$work/odd/core.bin" 0 01
poke "$work/odd/core.bin" 2 ff
status_of "$work/varnel" "$work/odd/sample.prm" /a
[ "$status" = 21 ] || fail "odd Main exited $status, want 21: $(cat "$work/out.txt")"
grep -q "The updater would find its Main image broken" "$work/out.txt" || fail "no message"
[ ! -e "$work/odd/Q42R1.10" ] || fail "the odd Main was written"
status_of "$pkg" build --engine "$work/varnel" --prm "$work/odd/sample.prm" --out "$work/odd.exe"
[ "$status" = 21 ] || fail "varnel-pkg build of the odd Main exited $status, want 21"
[ ! -e "$work/odd.exe" ] || fail "varnel-pkg wrote the odd Main"

# A read-only output is refused with 9 and kept.
samples "$work/ro"
echo old >"$work/ro/Q42R1.10"
chmod a-w "$work/ro/Q42R1.10"
status_of "$work/varnel" "$work/ro/sample.prm" /a
[ "$status" = 9 ] || fail "read-only output exited $status, want 9"
[ "$(cat "$work/ro/Q42R1.10")" = old ] || fail "the read-only output was replaced"

# Pipes where files are read: refused at once.
mkfifo "$work/pipe.prm" "$work/DriveList.txt"
status_of "$work/varnel" "$work/pipe.prm" /a
[ "$status" = 1 ] || fail "a pipe as parameter file exited $status, want 1"
status_of "$work/varnel"                      # DriveList.txt beside the program is a pipe
[ "$status" = 0 ] || fail "maintenance mode with a pipe as drive list exited $status"
status_of "$work/varnel" --package="$work/pipe.prm"
[ "$status" = 3 ] || fail "--package= with a pipe exited $status, want 3 (259)"
grep -qF "cannot read $work/pipe.prm" "$work/out.txt" || fail "no message for the pipe"
status_of "$work/varnel" --package="$work"
grep -qF "cannot read $work: Is a directory" "$work/out.txt" || fail "no message for the folder"
status_of "$pkg" inspect "$work/pipe.prm"
[ "$status" = 5 ] || fail "varnel-pkg inspect of a pipe exited $status, want 5"
: >"$work/empty.exe"
status_of "$pkg" inspect "$work/empty.exe"
[ "$status" = 3 ] || fail "varnel-pkg inspect of an empty file exited $status, want 3"
for drives in "$work/pipe.prm" /dev/zero "$work/good/main.bin"; do
  status_of env VARNEL_SIMULATE="$drives" "$pkg" drives
  [ "$status" = 6 ] || fail "varnel-pkg drives on $drives exited $status, want 6"
  grep -qF "$drives" "$work/out.txt" || fail "drives does not name $drives"
done

# Two writers of one output with different seeds: the output is always one whole file.
for t in 1 2; do
  "$pkg" build --engine "$work/varnel" --prm "$work/good/sample.prm" --out "$work/ref$t.exe" \
    --time "$t" >/dev/null
done
mkdir "$work/race"
for round in $(seq 40); do
  "$pkg" build --engine "$work/varnel" --prm "$work/good/sample.prm" --out "$work/race/same.exe" \
    --time 1 >/dev/null &
  one=$!
  "$pkg" build --engine "$work/varnel" --prm "$work/good/sample.prm" --out "$work/race/same.exe" \
    --time 2 >/dev/null &
  two=$!
  wait "$one" || fail "round $round: first writer failed"
  wait "$two" || fail "round $round: second writer failed"
  cmp -s "$work/race/same.exe" "$work/ref1.exe" || cmp -s "$work/race/same.exe" "$work/ref2.exe" ||
    fail "round $round: the output is neither writer's file"
done
[ "$(ls "$work/race")" = same.exe ] || fail "left behind: $(ls "$work/race")"

# A link planted at the old temporary name is not followed; the longest names are written.
echo keep >"$work/target"
chmod 640 "$work/target"
ln -s "$work/target" "$work/out.exe.partial"
"$pkg" build --engine "$work/varnel" --prm "$work/good/sample.prm" --out "$work/out.exe" \
  --time 1 >/dev/null
[ "$(cat "$work/target")" = keep ] && [ "$(stat -c %a "$work/target")" = 640 ] ||
  fail "the linked file was changed"
long=$work/$(printf 'n%.0s' $(seq 251)).exe
"$pkg" build --engine "$work/varnel" --prm "$work/good/sample.prm" --out "$long" --time 1 \
  >/dev/null || fail "a name of 255 bytes was not written"
cmp -s "$long" "$work/ref1.exe" || fail "the long name holds another file"
cmp -s "$work/out.exe" "$work/ref1.exe" || fail "out.exe holds another file"
echo "1 passed, 0 failed"
