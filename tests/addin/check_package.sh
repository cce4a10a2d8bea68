#!/usr/bin/env bash
# The zip for Windows users as scripts/package makes it: one folder, named as
# every path of the install page names it, holding exactly the files the
# install page lists (both installer packages, each build's DLL, help and
# sample list in its own folder, the .reg files, the page), each build's DLL
# of its own bitness and the same in its package, the regsvr32 of each command
# matching its build, the text files with CR LF line ends, and under 2300 KB.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${LETTERCAST_BUILD_DIR:-$top/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$top/scripts/lib/package.sh"
lc_package "$build" "$work/Lettercast.zip" || { echo "FAILED: the zip could not be made"; exit 1; }

fail=0
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi; }
page=$top/docs/install-windows.html
folders=$(unzip -Z1 "$work/Lettercast.zip" | cut -d/ -f1 | sort -u)
check "the zip unpacks to one folder" test "$(grep -c . <<<"$folders")" -eq 1
# Every path the install page gives for a DLL names its build's folder within
# the zip's folder.
dll_paths=$(grep -o '[A-Za-z]:\\[^"<]*\\Pigeonflight_ATL\.dll' "$page")
check "the install page names DLL paths" test -n "$dll_paths"
named=$(sed -n 's/.*\\\([^\\]*\)\\\(x86\|x64\)\\Pigeonflight_ATL\.dll$/\1/p' <<<"$dll_paths" | sort -u)
check "every DLL path of the install page is in a build's folder, x86 or x64" \
  test "$(grep -c . <<<"$dll_paths")" -eq "$(grep -c '\\\(x86\|x64\)\\Pigeonflight_ATL\.dll$' <<<"$dll_paths")"
check "that folder's parent is the zip's folder ($folders; the page: $named)" test "$named" = "$folders"
check "the install page says what the zip holds" grep -q "folder, <code>$folders</code>" "$page"
# 64-bit Windows keeps the 32-bit regsvr32 in SysWOW64 and the 64-bit one in
# System32: each must register the DLL it can load.
check "SysWOW64's regsvr32 registers the x86 DLL only" \
  test -z "$(grep 'SysWOW64\\regsvr32' "$page" | grep -v '\\x86\\Pigeonflight_ATL\.dll')"
check "System32's regsvr32 registers the x64 DLL only" \
  test -z "$(grep 'System32\\regsvr32' "$page" | grep -v '\\x64\\Pigeonflight_ATL\.dll')"
for arch in x86 x64; do
  check "the install page registers the $arch DLL with regsvr32" grep -q "regsvr32.*\\\\$arch\\\\Pigeonflight_ATL\\.dll" "$page"
done

unzip -q "$work/Lettercast.zip" -d "$work/out"
out=$work/out/$folders
listed=$(sed -n 's|^<tr><td><code>\([^<]*\)</code></td>.*|\1|p' "$page" | tr '\\' / | sort)
check "the install page lists the files" test -n "$listed"
for f in $listed; do
  check "the zip holds $f" test -f "$out/$f"
done
held=$(cd "$out" && find . -type f -printf '%P\n' | sort)
unlisted=$(comm -13 <(echo "$listed") <(echo "$held"))
check "the zip holds no file the install page does not list${unlisted:+ ($unlisted)}" test -z "$unlisted"

# x86 and x64 as the PE header says: PE32 (pei-i386) and PE32+ (pei-x86-64).
format() { x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null | sed -n 's/.*file format \(\S*\).*/\1/p'; }
check "x86\\Pigeonflight_ATL.dll is a 32-bit DLL" test "$(format "$out/x86/Pigeonflight_ATL.dll")" = pei-i386
check "x64\\Pigeonflight_ATL.dll is a 64-bit DLL" test "$(format "$out/x64/Pigeonflight_ATL.dll")" = pei-x86-64
for arch in x86 x64; do
  msiextract -C "$work/msi-$arch" "$out/Lettercast-$arch.msi" >/dev/null 2>&1
  for f in Pigeonflight_ATL.dll Lettercast.chm SampleTo.txt; do
    check "Lettercast-$arch.msi holds the zip's $arch\\$f" cmp -s "$work/msi-$arch/Programs/Lettercast/$arch/$f" "$out/$arch/$f"
  done
done
for f in "$out"/*.reg "$out"/x86/SampleTo.txt "$out"/x64/SampleTo.txt; do
  check "${f#"$out"/} has CR LF line ends" test "$(grep -c $'\r$' "$f")" -eq "$(wc -l <"$f")"
done
check "under 2300 KB" test "$(stat -c %s "$work/Lettercast.zip")" -lt 2355200
exit $fail
