#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; skips what is present.
# usage: bash scripts/setup.sh [all|demo]
#   all (the default): everything the test command builds and runs (scripts/test.sh);
#   demo: only what scripts/demo.sh needs to build and run varnel and varnel-pkg.
# g++-mingw-w64-i686-posix: the 32-bit Windows program (the product); x86-64: the second build.
# dpkg-dev, file: the Debian package (CPack); groff-base: checks the manual pages;
# qemu-system-x86 ... sg3-utils: the guest of the kernel test (tests/kernel).
set -euo pipefail
demo_pkgs=(cmake g++ make)
pkgs=(cmake g++ make libgtest-dev googletest g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      wine64 wine xvfb
      clang clang-format libclang-rt-14-dev tmux python3 libbenchmark-dev
      osslsigncode openssl dbus-daemon libdbus-1-3 python3-dbus python3-gi fonts-wine
      fonts-vlgothic
      dpkg-dev file groff-base
      qemu-system-x86 busybox-static kmod cpio sg3-utils)
case "${1:-all}" in
  all) ;;
  demo) pkgs=("${demo_pkgs[@]}") ;;
  *) echo "usage: bash scripts/setup.sh [all|demo]" >&2; exit 2 ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
