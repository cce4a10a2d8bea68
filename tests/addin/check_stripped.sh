#!/usr/bin/env bash
# The stripped DLL that scripts/package ships is the same DLL to Windows: the
# same exports, the same resources (version, dialogs, strings, scripts, type
# library), the same sections where code and data live, and much smaller.
set -u
dll=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/scripts/lib/strip.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stripped=$work/stripped.dll
lc_strip_dll "$dll" "$stripped" || { echo "strip failed"; exit 1; }

od() { x86_64-w64-mingw32-objdump "$@"; }
fail=0
# The export table: names, ordinals and addresses.
exports() { od -p "$1" | sed -n '/^The Export Tables/,/^PE File Base Relocations/p' | grep -v -e 'Time/Date' -e '^PE File'; }
[ -n "$(exports "$dll" | grep -e DllGetClassObject -e 'Export RVA')" ] || { echo "no exports read from $dll"; exit 1; }
if ! diff <(exports "$dll") <(exports "$stripped") >"$work/exports.diff"; then
  echo "the exports differ after stripping:"; cat "$work/exports.diff"; fail=1
fi
# The resource section byte for byte, at the same address: the version
# resource and everything else Windows loads from it.
rsrc() { od -s -j .rsrc "$1" | sed 1,3d; }
[ "$(rsrc "$dll" | wc -l)" -gt 100 ] || { echo "no resource section read from $dll"; exit 1; }
if ! cmp -s <(rsrc "$dll") <(rsrc "$stripped"); then
  echo "the resources differ after stripping"; fail=1
fi
# Its version resource in particular, as UTF-16 text.
version_text() { iconv -c -f UTF-16LE -t UTF-8 <"$1" 2>/dev/null | tr -c '[:print:]' '\n' | grep -E '^(4\.3\.0\.0|Pigeonflight_ATL\.dll|Lettercast)$' | sort | uniq -c; }
[ -n "$(version_text "$dll")" ] || { echo "no version texts read from $dll"; exit 1; }
if [ "$(version_text "$dll")" != "$(version_text "$stripped")" ]; then
  echo "the version texts differ after stripping"; fail=1
fi
# Code, data, imports and relocations: the loaded image.
sections() { od -h "$1" | awk '$2 ~ /^\.(text|data|rdata|idata|edata|rsrc|reloc|bss|tls|CRT)/ { print $2, $3, $4 }'; }
if [ "$(sections "$dll")" != "$(sections "$stripped")" ]; then
  echo "the loaded sections differ after stripping:"; diff <(sections "$dll") <(sections "$stripped"); fail=1
fi
before=$(stat -c %s "$dll") after=$(stat -c %s "$stripped")
echo "stripped: $before -> $after bytes"
# What stripping removes is the debugging information, whatever its share of
# the file (the static zlib brings code without any).
[ "$after" -lt "$before" ] || { echo "stripping did not shrink the DLL"; fail=1; }
od -h "$dll" | grep -q ' \.debug_' || { echo "no debugging sections read from $dll"; exit 1; }
if od -h "$stripped" | grep -q ' \.debug_'; then
  echo "the stripped DLL still has debugging sections"; fail=1
fi
[ $fail -eq 0 ] && echo ok
exit $fail
