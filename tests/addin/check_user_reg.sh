#!/usr/bin/env bash
# The package's two .reg files, imported by Windows' own regedit: the first
# gives the user opening it exactly the add-in key that registration writes
# (values read from the registration script), the second removes that key.
# The "reg add" lines that Install.html gives instead must write the same.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
add=$top/docs/package/Lettercast-add-for-this-user.reg
remove=$top/docs/package/Lettercast-remove-for-this-user.reg
rgs=$top/resources/Connect.rgs
key='HKCU\Software\Microsoft\Office\Outlook\Addins\Pigeonflight_ATL.Connect'
run() { "$top/scripts/wine-run" "$@" 2>/dev/null | tr -d '\r'; }
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# What registration writes into the add-in key: "name type data" lines.
expected=$(sed -n '/Pigeonflight_ATL\.Connect$/,/}/p' "$rgs" | sed -n \
  -e "s/^\s*val \(\S*\) = s '\(.*\)'\s*$/\1 REG_SZ \2/p" \
  -e "s/^\s*val \(\S*\) = d \([0-9]*\)\s*$/\1 REG_DWORD \2/p" | sort)
[ "$(grep -c . <<<"$expected")" -eq 3 ] || { echo "cannot read the add-in key from $rgs: $expected"; exit 1; }

values() {
  run reg query "$key" | sed -n 's/^\s\+\(\S\+\)\s\+\(REG_SZ\|REG_DWORD\)\s\+\(.*\)$/\1 \2 \3/p' |
    while read -r n t d; do [ "$t" = REG_DWORD ] && d=$((d)); echo "$n $t $d"; done | sort
}
fail=0
run reg delete "$key" /f >/dev/null
run regedit /s "$(winpath "$add")"
got=$(values)
if [ "$got" != "$expected" ]; then
  echo "after importing $(basename "$add"):"; diff <(echo "$expected") <(echo "$got"); fail=1
fi

run reg delete "$key" /f >/dev/null
lines=$(sed -e "s/<[^>]*>//g" "$top/docs/install-windows.html" | grep '^reg add "HKCU\\Software\\Microsoft\\Office\\Outlook\\Addins\\Pigeonflight_ATL.Connect"')
[ "$(grep -c . <<<"$lines")" -ge 3 ] || { echo "Install.html gives no reg add lines"; fail=1; }
while IFS= read -r line; do
  eval "set -- $line"
  run "$@" >/dev/null
done <<<"$lines"
got=$(values)
if [ "$got" != "$expected" ]; then
  echo "after Install.html's reg add lines:"; diff <(echo "$expected") <(echo "$got"); fail=1
fi
run regedit /s "$(winpath "$remove")"
if run reg query "$key" | grep -q REG_; then
  echo "the key is still there after importing $(basename "$remove")"; fail=1
fi
[ $fail -eq 0 ] && echo "ok: the add-in key as registration writes it, and gone again"
exit $fail
