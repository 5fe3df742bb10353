#!/usr/bin/env bash
# Makes the 32-bit Wine prefix the Windows tests run in, starts its Wine
# server for good, and checks that Wine runs a 32-bit program and hands its
# exit code back (a Wine without its 32-bit half returns 0 for a program it
# could not start, which would pass every test).
#   scripts/wine-prefix.sh [PREFIX]      (default build/windows/wine)
#
# The prefix uses the null display driver, so windows exist without an X
# server, and shows no crash dialog, so a crashing program ends instead of
# waiting for a click. Made once; remove the folder to make it again.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "${1:-${NALO_WINE_PREFIX:-$here/../build/windows/wine}}")
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run=$here/wine-run.sh
export NALO_WINE_PREFIX=$prefix

make_prefix() {
  rm -rf "$prefix"
  echo "wine-prefix: making $prefix"
  wineboot --init </dev/null >/dev/null 2>&1 9>&-
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.ready"
}

# One maker at a time.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.ready" ]; then
  make_prefix
fi
flock -u 9

# A server that stays up: each test program then starts in a few hundredths
# of a second instead of starting its own server. It must not hold the
# caller's output open (ctest and CI wait for it to close), nor the lock.
wineserver -p </dev/null >/dev/null 2>&1 9>&-

set +e
"$run" cmd /c exit 37 >/dev/null 2>&1
status=$?
set -e
if [ "$status" -ne 37 ]; then
  echo "wine-prefix: Wine does not hand back exit codes (got $status for 37):" \
       "is the 32-bit Wine (wine32:i386) installed?" >&2
  exit 1
fi
