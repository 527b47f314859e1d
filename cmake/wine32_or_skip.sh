#!/bin/sh
# wine32_or_skip.sh COMMAND...: runs a test of the 32-bit Windows build, or ends with 77 (CTest:
# skipped) where no 32-bit Wine can run. That is the usual case on a 64-bit host: the kernel may
# refuse 32-bit Linux programs, and wine32 is not installed there (installing it makes the
# `wine` wrapper prefer the 32-bit loader for every program). The kernel test's guest has one.
loader=${VARNEL_WINE32_LOADER:-/usr/lib/wine/wine}
if [ ! -x "$loader" ] || ! "$loader" --version >/dev/null 2>&1; then
  echo "wine32_or_skip: no 32-bit Wine that runs here ($loader); test skipped" >&2
  exit 77
fi
exec "$@"
