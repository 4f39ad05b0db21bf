#!/bin/sh
# Each tool imports system DLLs only, so nothing in a release needs a runtime installed.
set -eu
objdump=$1
shift
fail=0
for exe in "$@"; do
  imports=$($objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
  for dll in $imports; do
    case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
      kernel32.dll|ws2_32.dll|msvcrt.dll) ;;
      *) echo "$(basename "$exe"): unexpected import $dll"; fail=1 ;;
    esac
  done
  echo "$(basename "$exe"): $imports"
done
exit $fail
