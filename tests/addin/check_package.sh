#!/usr/bin/env bash
# The zip for Windows users as scripts/package makes it: one folder, named as
# every path of the install page names it, holding each file the install page
# lists, the .reg files with CR LF line ends, and under 500 KB.
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
# Every path the install page gives for the DLL names its folder.
named=$(grep -o '[A-Za-z]:\\[^"<]*\\Pigeonflight_ATL\.dll' "$page" | sed 's/\\Pigeonflight_ATL\.dll$//; s/.*\\//' | sort -u)
check "the install page names the add-in's folder" test -n "$named"
check "that folder is the zip's ($folders; the page: $named)" test "$named" = "$folders"
check "the install page says what the zip holds" grep -q "folder, <code>$folders</code>" "$page"
unzip -q "$work/Lettercast.zip" -d "$work/out"
for f in $(sed -n 's|^<tr><td><code>\([^<]*\)</code></td>.*|\1|p' "$page"); do
  check "the zip holds $f" test -f "$work/out/$folders/$f"
done
for f in "$work/out/$folders"/*.reg "$work/out/$folders/SampleTo.txt"; do
  check "$(basename "$f") has CR LF line ends" test "$(grep -c $'\r$' "$f")" -eq "$(wc -l <"$f")"
done
check "under 500 KB" test "$(stat -c %s "$work/Lettercast.zip")" -lt 512000
exit $fail
