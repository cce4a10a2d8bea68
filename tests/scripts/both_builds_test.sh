#!/usr/bin/env bash
# Both builds registered by regsvr32 for one user in one 64-bit prefix, as on
# 64-bit Windows with both installed: each stand-in host loads its own build's
# DLL and delivers, unregistering one build (either one first) leaves the other
# working, and unregistering the second leaves no key of either behind.
#   both_builds_test.sh X86_BUILD X64_BUILD
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
x86=$(realpath "$1") x64=$(realpath "$2")
out=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-both-builds-test.XXXXXX")

export LETTERCAST_ARCH=x64 LETTERCAST_BUILD_DIR=$x64
source "$top/scripts/lib/wine.sh"
lc_wine_fresh "$out/prefix" || exit 1
export WINEPREFIX=$out/prefix
trap 'lc_wine_stop; rm -rf "$out"' EXIT
lc_wine_serve

failed=0
check() {   # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
dll() { winpath "$1/bin/Pigeonflight_ATL.dll"; }
regsvr() { wine regsvr32 /s "$@" </dev/null >>"$out/regsvr32.log" 2>&1; }
# A key in the 32-bit or the 64-bit registry view.
has_key() { wine reg query "$1" "/reg:$2" </dev/null >/dev/null 2>&1; }

# job NAME x86|x64: the sample mailing through that build's host.
job() {
  local name=$1 arch=$2 build=$x86
  [ "$arch" = x86 ] || build=$x64
  LETTERCAST_ARCH=$arch LETTERCAST_BUILD_DIR=$build "$top/scripts/run-job" --prefix "$WINEPREFIX" \
    --list "$top/samples/SampleTo.txt" --out "$out/$name" --pause 0 </dev/null >"$out/$name.log" 2>&1
  local status=$?
  lc_wine_serve
  return $status
}
delivered() { test "$(find "$out/$1/delivered" -name '*.eml' | wc -l)" -eq 4; }
served_by() { local build=$x86; [ "$2" = x86 ] || build=$x64; grep -qiF "Pigeonflight_ATL.Connect is served by $(dll "$build")" "$out/$1.log"; }
works() {   # works NAME x86|x64
  check "$1: the job completes" job "$1" "$2"
  check "$1: four messages delivered" delivered "$1"
  check "$1: the host's own build serves the add-in" served_by "$1" "$2"
}
refused() {   # refused NAME x86|x64: that host finds no add-in to load
  local name=$1
  job "$name" "$2"
  check "$name: no job ran" test "$(find "$out/$name/delivered" -name '*.eml' 2>/dev/null | wc -l)" -eq 0
  check "$name: the host finds no class" grep -q "no class for this ProgID\|cannot be created" "$out/$name.log"
}
clsid='HKCR\CLSID\{2BF6E8F5-8037-4654-A520-6CC436A37AA9}'
shared=('HKCR\Pigeonflight_ATL.Connect' 'HKCR\Pigeonflight_ATL.Connect.1' 'HKCR\AppID\{24E867AF-C5C8-4349-ADB3-DF78975C06BF}'
        'HKCR\TypeLib\{6EB38DB3-97C4-4446-A085-9C590A97C559}' 'HKCU\Software\Microsoft\Office\Outlook\Addins\Pigeonflight_ATL.Connect')
shared_keys_stay() { local k; for k in "${shared[@]}"; do has_key "$k" 64 || return 1; done; }
nothing_left() {
  local k
  for k in "${shared[@]}" "$clsid"; do
    if has_key "$k" 64 || has_key "$k" 32; then echo "  still there: $k"; return 1; fi
  done
}

view() { [ "$1" = x86 ] && echo 32 || echo 64; }
for order in "x86 x64" "x64 x86"; do
  read -r first second <<<"$order"
  check "both builds register" regsvr "$(dll "$x86")"
  regsvr "$(dll "$x64")"
  works "$first-first-both-x86" x86
  works "$first-first-both-x64" x64
  build=$x86; [ "$first" = x86 ] || build=$x64
  check "the $first build unregisters first" regsvr /u "$(dll "$build")"
  check "its class key goes from the $(view "$first")-bit view" \
    sh -c '! wine reg query "$1" "/reg:$2" </dev/null >/dev/null 2>&1' - "$clsid" "$(view "$first")"
  check "the keys both builds share stay for the $second build" shared_keys_stay
  works "$first-gone-$second" "$second"
  refused "$first-gone-$first" "$first"
  build=$x64; [ "$second" = x64 ] || build=$x86
  check "the $second build unregisters" regsvr /u "$(dll "$build")"
  check "unregistering both leaves no key of either" nothing_left
done
[ $failed -eq 0 ] || { sed -n '1,$p' "$out"/*.log | tail -40; }
exit $failed
