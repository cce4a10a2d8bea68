#!/usr/bin/env bash
# The DLL must be a PE32 i386 DLL that imports nothing but Windows system DLLs.
set -u
dll=$1
info=$(i686-w64-mingw32-objdump -p "$dll") || { echo "cannot read $dll"; exit 1; }
grep -q 'file format pei-i386' <<<"$info" || { echo "not a PE32 i386 file"; exit 1; }
grep -q 'Characteristics.*' <<<"$info"
grep -qi 'DLL' <<<"$(i686-w64-mingw32-objdump -f "$dll")" || { echo "not a DLL"; exit 1; }
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$info" | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $imports
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|version|comctl32|comdlg32|shlwapi|uuid)\.dll$'
bad=$(grep -v -E "$allowed" <<<"$imports")
if [ -n "$bad" ]; then echo "imports outside the system DLLs:" $bad; exit 1; fi
echo "ok"
