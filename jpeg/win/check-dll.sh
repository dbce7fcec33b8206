#!/bin/sh
# Checks a built jpegcodec.dll: it imports from nothing but the C runtime
# and KERNEL32, and exports "Jpeg_EncodeStart" as ordinal 1.
# usage: check-dll.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2
dump=$("$objdump" -p "$dll")
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | tr '\n' ' ')
if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
  echo "unexpected imports: $imports"
  exit 1
fi
# Export table: "[   0] +base[   1] ..." then the name table "[   0] Jpeg_EncodeStart".
count=$(printf '%s\n' "$dump" | grep -c '+base\[' || true)
if [ "$count" != 1 ] || ! printf '%s\n' "$dump" | grep -q '+base\[   1\]'; then
  echo "expected exactly one export, ordinal 1"
  exit 1
fi
if ! printf '%s\n' "$dump" | grep -Eq '^[[:space:]]*\[ *0\] Jpeg_EncodeStart$'; then
  echo "export not named Jpeg_EncodeStart"
  exit 1
fi
echo "imports: $imports; export Jpeg_EncodeStart @1"
