#!/bin/sh
# Runs a Windows program of the windows preset under Wine, in the project's
# 32-bit Wine prefix (scripts/wine-prefix.sh makes it): the preset's
# CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every test program through it.
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENTS...]
here=$(cd "$(dirname "$0")" && pwd)
: "${NALO_WINE_PREFIX:=$here/../build/windows/wine}"
WINEPREFIX=$NALO_WINE_PREFIX
WINEARCH=win32
WINEDEBUG=-all
# Neither the .NET nor the HTML runtime is wanted (nor offered for download).
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
if [ ! -f "$WINEPREFIX/.ready" ]; then
  echo "wine-run: no Wine prefix in $WINEPREFIX; run scripts/wine-prefix.sh first" \
       "(make test-windows does)" >&2
  exit 125
fi
exec wine "$@"
