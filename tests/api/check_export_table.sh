#!/bin/sh
# The built DLL's export names, ordinals and imports, read from the file
# itself, and no function-local static linked in.
set -eu
objdump=$1
format=$2
dll=$3
dump=$($objdump -p "$dll")
fail=0
echo "$dump" | grep -q "file format $format\$" || { echo "not a $format file"; fail=1; }
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
for dll_name in $imports; do
  case $dll_name in KERNEL32.dll|WS2_32.dll|msvcrt.dll) ;; *) echo "unexpected import: $dll_name"; fail=1 ;; esac
done
case $imports in *KERNEL32.dll*msvcrt.dll*) ;; *) echo "imports: $imports"; fail=1 ;; esac
# "[Ordinal/Name Pointer] Table" rows read "[ index] name"; the ordinal is index + base.
base=$(echo "$dump" | sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p')
table=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
  while read -r idx name; do echo "$((idx + base)) $name"; done | tr '\n' ';')
[ "$table" = "1 _RegisterOrderFunc;2 _initial;3 _process;4 _writelog;" ] || { echo "exports: $table"; fail=1; }
# The runtime guards a function-local static with an object it makes at each
# load and no unload gives back.
symbols=$($objdump -t "$dll")
echo "$symbols" | grep -q DllMain || { echo "no symbol table"; fail=1; }
if echo "$symbols" | grep -q __cxa_guard_acquire; then echo "a function-local static is linked in"; fail=1; fi
if [ $fail -ne 0 ]; then echo "export table check failed"; exit 1; fi
echo "$format exports: $table imports: $imports"
