#!/bin/sh
# Checks a plugin DLL as its users' core loads it: the export table holds the
# one entry and nothing else, and every DLL it imports is a system DLL (the
# runtimes are linked in; the core's folder has no libstdc++ or
# libwinpthread).
#   check-dll.sh OBJDUMP PLUGIN.dll ENTRY
set -eu
objdump=$1 dll=$2 entry=$3

dump=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$dump" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
if [ "$exports" != "$entry" ]; then
  echo "$dll exports:"; printf '%s\n' "$exports"; echo "expected only $entry"
  exit 1
fi

status=0
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | gdi32.dll | shell32.dll | \
    ole32.dll | ntdll.dll | ws2_32.dll | bcrypt.dll) ;;
    *) echo "$dll imports $name, which is not a system DLL"; status=1 ;;
  esac
done
exit $status
