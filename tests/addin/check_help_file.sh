#!/usr/bin/env bash
# The help file holds the window type "mywin", the three topic keywords of the
# dialogs, and the keyword of its troubleshooting page, each leading to a page
# that the file holds.
set -u
chm=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
listing=$(chmls "$chm") || { echo "cannot list $chm"; exit 1; }
grep -q '/#WINDOWS' <<<"$listing" || { echo "no window types"; exit 1; }
grep -q 'mywin' "$chm" || { echo "no window type mywin"; exit 1; }
hhk=$(sed -n 's/.* \(\/[^ ]*\.hhk\)$/\1/p' <<<"$listing" | head -n 1)
[ -n "$hhk" ] || { echo "no keyword index"; exit 1; }
(cd "$work" && chmls extract "$chm" "$hhk" index.hhk >/dev/null) || { echo "cannot extract $hhk"; exit 1; }
for keyword in options "mailing lists" "job logs" troubleshooting; do
  grep -q -i "name=\"Name\" value=\"$keyword\"" "$work/index.hhk" || { echo "keyword \"$keyword\" missing"; exit 1; }
  page=$(grep -i -A1 "name=\"Name\" value=\"$keyword\"" "$work/index.hhk" | sed -n 's/.*name="Local" value="\([^"#]*\).*/\1/p' | head -n 1)
  grep -q -i " /$page\$" <<<"$listing" || { echo "keyword \"$keyword\" leads to \"$page\", which the file does not hold"; exit 1; }
done
pages=$(grep -c '\.htm$' <<<"$listing")
[ "$pages" -ge 7 ] || { echo "only $pages pages"; exit 1; }
echo "ok: $pages pages, window type mywin, keywords present"
