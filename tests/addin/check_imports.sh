#!/usr/bin/env bash
# The DLL must be a PE32 i386 DLL that imports nothing but Windows system DLLs,
# and none of the functions that Windows XP SP3 lacks (listed in
# missing_on_xp.txt beside this script, or in the file given third); with x64
# second, a PE32+ x86-64 DLL, and none of the functions that Windows 7 lacks
# (missing_on_windows7.txt).
set -u
dll=$1
arch=${2:-x86}
case $arch in
  x86) format=pei-i386 objdump=i686-w64-mingw32-objdump windows="Windows XP SP3" list=missing_on_xp.txt ;;
  x64) format=pei-x86-64 objdump=x86_64-w64-mingw32-objdump windows="Windows 7" list=missing_on_windows7.txt ;;
  *) echo "usage: check_imports.sh DLL [x86|x64] [LIST]"; exit 2 ;;
esac
missing_list=${3:-$(dirname "$0")/$list}
info=$($objdump -p "$dll") || { echo "cannot read $dll"; exit 1; }
grep -q "file format $format\$" <<<"$info" || { echo "not a $format file"; exit 1; }
grep -qi 'DLL' <<<"$($objdump -f "$dll")" || { echo "not a DLL"; exit 1; }
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$info" | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $imports
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|version|comctl32|comdlg32|shlwapi|uuid)\.dll$'
bad=$(grep -v -E "$allowed" <<<"$imports")
if [ -n "$bad" ]; then echo "imports outside the system DLLs:" $bad; exit 1; fi

# Every imported function as "dll function", from the import tables only
# (the export table that follows them lists names too).
functions=$(awk '/^The Export Tables/ { exit }
                 /DLL Name:/ { dll = tolower($3); next }
                 dll != "" && /^\t[0-9a-f]+\t +[0-9]+  [A-Za-z_]/ { print dll, $3 }' <<<"$info" | sort -u)
count=$(grep -c . <<<"$functions")
[ "$count" -gt 50 ] || { echo "read only $count imported functions: the import table was not understood"; exit 1; }
[ -f "$missing_list" ] || { echo "no list $missing_list"; exit 1; }
absent=$(grep -v -e '^#' -e '^\s*$' "$missing_list" | awk '{ print tolower($1), $2 }' | sort -u)
found=$(comm -12 <(awk '{ print tolower($1), $2 }' <<<"$functions" | sort -u) <(sort -u <<<"$absent"))
if [ -n "$found" ]; then
  echo "imports that $windows does not have:"
  sed 's/^/  /' <<<"$found"
  exit 1
fi
echo "ok: $count functions, none of the $(grep -c . <<<"$absent") that $windows lacks"
