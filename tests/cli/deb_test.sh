#!/usr/bin/env bash
# The Debian package (CPack) and `cmake --install`: the package holds both programs, their
# manual pages and the documentation; unpacked into a temporary root, the installed
# programs answer --help and --version, make a sample updater with the installed engine and
# update a simulated drive with it.
# usage: deb_test.sh BUILD_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^#define VARNEL_VERSION "\(.*\)"$/\1/p' "$(dirname "$0")/../../src/base/version.h")
cpack --config "$bin/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.txt" 2>&1 ||
  { cat "$work/cpack.txt"; fail "cpack failed"; }
deb=$work/pkg/varnel_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/pkg")"

info=$(dpkg-deb -f "$deb" Package Version Architecture Depends)
for want in "Package: varnel" "Version: $version" "Architecture: amd64" "Depends: libc6"; do
  grep -qF "$want" <<<"$info" || fail "control lacks '$want': $info"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/varnel ./usr/bin/varnel-pkg ./usr/share/man/man1/varnel.1.gz \
    ./usr/share/man/man1/varnel-pkg.1.gz ./usr/share/doc/varnel/README.md \
    ./usr/share/doc/varnel/updater.md ./usr/share/doc/varnel/simulator.md; do
  grep -qxF "$path" <<<"$contents" || fail "package lacks $path"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr/bin
for prog in varnel varnel-pkg; do
  [ "$("$usr/$prog" --version)" = "$prog $version" ] || fail "$prog --version"
  "$usr/$prog" --help | grep -q "usage: $prog" || fail "$prog --help"
  page=$root/usr/share/man/man1/$prog.1.gz
  zcat "$page" | head -1 | grep -q '^\.TH ' || fail "$page is no manual page"
  if command -v groff >/dev/null; then
    warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
    [ -z "$warnings" ] || fail "$prog.1: $warnings"
  fi
done

# The installed engine makes an updater; the updater updates a simulated drive.
"$usr/varnel-pkg" sample "$work/fw" --model KVS-Q42R --revision 1.10 >/dev/null
"$usr/varnel-pkg" build --engine "$usr/varnel" --prm "$work/fw/sample.prm" \
  --out "$work/Q42R1.10" --product KVS-Q42R >/dev/null
printf '[drive]\nletter = D\nvendor = "QZEN"\nproduct = "DVD-RAM KVS-Q42R"\nrevision = "1.00"\n' \
  >"$work/drives.txt"
set +e
VARNEL_SIMULATE=$work/drives.txt "$work/Q42R1.10" /s </dev/null >"$work/out.txt" 2>&1
status=$?
set -e
[ "$status" = 0 ] || fail "updater made by the installed engine exited $status: $(cat "$work/out.txt")"
grep -q '1.10' "$work/drives.txt.state" || fail "the simulated drive kept its firmware"

# cmake --install puts the same files under a prefix.
cmake --install "$bin" --prefix "$work/prefix" >/dev/null
for path in bin/varnel bin/varnel-pkg share/man/man1/varnel.1.gz share/man/man1/varnel-pkg.1.gz \
    share/doc/varnel/README.md; do
  [ -f "$work/prefix/$path" ] || fail "cmake --install left out $path"
done
echo "1 passed, 0 failed"
