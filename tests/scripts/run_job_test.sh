#!/usr/bin/env bash
# scripts/run-job end to end: the add-in registered by regsvr32 in a fresh
# prefix, loaded by the stand-in host, a whole mailing through its dialogs.
#   run_job_test.sh CASE   with CASE samples | delete-original | copy-fails | own-recipients |
#                          submission-fails | cut-short | nothing-usable | submit-raises |
#                          old-outlook | attachments | missing-attachment | unicode-texts |
#                          control-character | sep-line | resume-after-failure | resume-after-stop |
#                          completed-never-resumed | other-list-never-resumed | resume-shared-address |
#                          resume-other-message | resume-edited-list | preview | outbox-and-flush | stop-question |
#                          outbox-holds | cancel-after | sent-times | per-minute | per-day | pause-variation |
#                          send-at | server-pushback | copy-addresses | accounts | workbook | usage
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case_name=$1
out=$(mktemp -d "${TMPDIR:-/tmp}/lettercast-run-job-test.XXXXXX")
trap 'rm -rf "$out"' EXIT

failed=0
check() {   # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
delivered_count() { find "$out/delivered" -name '*.eml' | wc -l; }
# When each message of DIR/delivered was delivered, in delivery order: the
# FILETIME in its Message-ID as milliseconds since 1970 (see scripts/run-job).
delivery_times_ms() {   # delivery_times_ms DIR
  local f hex
  for f in "$1"/delivered/*.eml; do
    [ -e "$f" ] || continue
    hex=$(tr -d '\r' <"$f" | sed -n -e 's/^Message-ID: <[0-9]*\.\([0-9A-Fa-f]\{16\}\)@[^>]*>$/\1/p' | head -n 1)
    [ -n "$hex" ] || { echo "no delivery time in $f" >&2; return 1; }
    echo $(( 16#$hex / 10000 - 11644473600000 ))
  done
}
# True when each delivered message's time falls in the second its Date header names.
delivery_times_match_dates() {   # delivery_times_match_dates DIR
  local f ms i=0
  local -a times
  mapfile -t times < <(delivery_times_ms "$1") || return 1
  for f in "$1"/delivered/*.eml; do
    ms=${times[$i]:-}
    [ -n "$ms" ] && [ $(( ms / 1000 )) -eq "$(date -d "$(tr -d '\r' <"$f" | sed -n -e 's/^Date: //p')" +%s)" ] || return 1
    i=$(( i + 1 ))
  done
}
# The bytes of the attachment named NAME in a delivered file.
attachment_bytes() {   # attachment_bytes EML NAME
  tr -d '\r' <"$1" | awk -v name="$2" '
    /^--=_mixed_/ { part = 0; body = 0; next }
    index($0, "filename=\"" name "\"") { part = 1; next }
    part && !body && $0 == "" { body = 1; next }
    part && body { print }' | base64 -d
}
attachment_count() { grep -c '^Content-Disposition: attachment' "$1"; }
# The delivered file whose To is ADDR.
delivered_to() { grep -lE "^To: $1"$'\r?$' "$out"/delivered/*.eml | head -n 1; }
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
# Jobs on one list of eight, sharing one data folder, each into its own folder.
resume_list() {
  { echo "Name,Email"; for i in $(seq 1 8); do echo "R$i,r$i@example.com"; done; } >"$out/list.csv"
  printf 'Dear [[Name]],\nhello.\n' >"$out/body.txt"
}
resume_run() {   # resume_run DIR ARGS...
  local dir=$1; shift
  "$top/scripts/run-job" --list "$out/list.csv" --out "$out/$dir" --data "$out/data" --pause 0 \
    --subject "Hello [[Name]]" --body "$out/body.txt" "$@" >>"$out/run.log" 2>&1
}
tos() { for d in "$@"; do grep -h '^To: ' "$out/$d"/delivered/*.eml 2>/dev/null; done | sed -e 's/^To: //' -e 's/\r$//' | sort; }
everyone_once() { test "$1" = "$(for i in $(seq 1 8); do echo "r$i@example.com"; done | sort)"; }

# An Excel workbook written here, part by part, as Excel writes one: two
# sheets, the second the list; numbers and dates with their formats.
write_workbook() {   # write_workbook FILE
  python3 - "$1" <<'PY'
import sys, zipfile
from xml.sax.saxutils import escape
strings = []
def s(text):
    if text not in strings:
        strings.append(text)
    return strings.index(text)
def cell(ref, value, style=0, kind=None, formula=None):
    f = "<f>%s</f>" % formula if formula else ""
    if kind == "s":
        return '<c r="%s" t="s" s="%d"><v>%d</v></c>' % (ref, style, s(value))
    if kind == "e":
        return '<c r="%s" t="e"><f>NA()</f><v>%s</v></c>' % (ref, value)
    return '<c r="%s" s="%d">%s<v>%r</v></c>' % (ref, style, f, value)
def row(n, cells):
    return '<row r="%d">%s</row>' % (n, "".join(cells))
header = ["Name", "Email", "Joined", "Amount", "Zip", "Stamp", "Count", "Ratio", "Note", "Address"]
cols = "ABCDEFGHIJ"
rows = [row(1, [cell(c + "1", h, kind="s") for c, h in zip(cols, header)])]
people = [
    (2, "Jos\u00e9", "jose@example.com", "Line one\nLine two"),
    (4, "\u0395\u03bb\u03ad\u03bd\u03b7", "elena@example.com", "Athens"),
    (5, "Nobody", "nobody", "-"),
    (6, "\u65e5\u672c \U0001F600", "nihon@example.com", "Tokyo"),
]
for n, name, email, address in people:
    rows.append(row(n, [cell("A%d" % n, name, kind="s"), cell("B%d" % n, email, kind="s"),
                        cell("C%d" % n, 45000, 1), cell("D%d" % n, 1234.5, 2), cell("E%d" % n, 1234, 3),
                        cell("F%d" % n, 45000.75, 4), cell("G%d" % n, 5, 0, formula="2+3"),
                        cell("H%d" % n, 0.256, 5), cell("I%d" % n, "#N/A", kind="e"),
                        cell("J%d" % n, address, kind="s")]))
sheet = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
         '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>%s</sheetData>'
         '</worksheet>' % "".join(rows))
other = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
         '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>%s</sheetData></worksheet>'
         % row(1, [cell("A1", "Not", kind="s"), cell("B1", "this one", kind="s")]))
shared = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">%s</sst>'
          % "".join('<si><t xml:space="preserve">%s</t></si>' % escape(t) for t in strings))
styles = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
          '<numFmts count="4"><numFmt numFmtId="164" formatCode="d mmmm yyyy"/>'
          '<numFmt numFmtId="165" formatCode="&quot;\u20ac&quot;#,##0.00"/><numFmt numFmtId="166" formatCode="00000"/>'
          '<numFmt numFmtId="167" formatCode="dd.mm.yyyy hh:mm"/></numFmts>'
          '<cellXfs count="6"><xf numFmtId="0"/><xf numFmtId="164" applyNumberFormat="1"/>'
          '<xf numFmtId="165" applyNumberFormat="1"/><xf numFmtId="166" applyNumberFormat="1"/>'
          '<xf numFmtId="167" applyNumberFormat="1"/><xf numFmtId="10" applyNumberFormat="1"/></cellXfs></styleSheet>')
ns = 'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"'
rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
parts = {
    "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/></Types>',
    "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships %s><Relationship Id="rId1" Type="%sofficeDocument" Target="xl/workbook.xml"/></Relationships>' % (ns, rel),
    "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
        '<sheet name="Other" sheetId="1" r:id="rId1"/><sheet name="Spring List" sheetId="2" r:id="rId2"/></sheets></workbook>',
    "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships %s>'
        '<Relationship Id="rId1" Type="%sworksheet" Target="worksheets/sheet1.xml"/>'
        '<Relationship Id="rId2" Type="%sworksheet" Target="worksheets/sheet2.xml"/>'
        '<Relationship Id="rId3" Type="%ssharedStrings" Target="sharedStrings.xml"/>'
        '<Relationship Id="rId4" Type="%sstyles" Target="styles.xml"/></Relationships>' % (ns, rel, rel, rel, rel),
    "xl/worksheets/sheet1.xml": other, "xl/worksheets/sheet2.xml": sheet,
    "xl/sharedStrings.xml": shared, "xl/styles.xml": styles,
}
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items():
        z.writestr(name, text.encode("utf-8"))
PY
}

# The seven names of the unicode-texts list, each in its delivered message:
# the subject and the HTML part (html), or the text/plain part (plain).
texts_exact() {   # texts_exact html|plain
  python3 - "$out" "$1" <<'PY'
import email, glob, sys
from email.header import decode_header, make_header
out, mode = sys.argv[1], sys.argv[2]
names = ["Jos\u00e9", "Zo\u00eb", "\u0141ukasz", "\u0395\u03bb\u03ad\u03bd\u03b7", "\u65e5\u672c", "\u20ac", "\U0001F600"]
files = sorted(glob.glob(out + "/delivered/*.eml"))
ok = len(files) == len(names)
for name, path in zip(names, files):
    m = email.message_from_binary_file(open(path, "rb"))
    part = [p for p in m.walk() if p.get_content_type() == "text/" + mode][0]
    body = part.get_payload(decode=True).decode(part.get_content_charset())
    if mode == "html":
        subject = str(make_header(decode_header(m["Subject"])))
        good = subject == "Cze\u015b\u0107 %s \u2013 \U0001F389" % name and ("<p>Dear %s, \u0141\u00f3d\u017a</p>" % name) in body
    else:
        subject = ""
        good = body.startswith("Drogi %s \u2013 \u0141\u00f3d\u017a" % name)
    if not good:
        print(path, repr(subject), repr(body))
        ok = False
sys.exit(0 if ok else 1)
PY
}


# Checks the delivered messages of DIR against the expectations of a Python
# expression file: CHECK is Python with m (the message), part(type) (its
# decoded text/TYPE part), subject, files (name -> bytes) and n (its number).
delivered_match() {   # delivered_match DIR COUNT CHECK
  python3 - "$1" "$2" "$3" <<'PY'
import email, glob, sys
from email.header import decode_header, make_header
folder, count, check = sys.argv[1], int(sys.argv[2]), sys.argv[3]
files_ = sorted(glob.glob(folder + "/delivered/*.eml"))
ok = len(files_) == count
if not ok:
    print("delivered:", len(files_), "expected:", count)
for n, path in enumerate(files_):
    m = email.message_from_binary_file(open(path, "rb"))
    # Line ends as "\n", however the transfer encoding carried them.
    def part(kind):
        for p in m.walk():
            if p.get_content_type() == "text/" + kind:
                return p.get_payload(decode=True).decode(p.get_content_charset()).replace("\r\n", "\n")
        return None
    subject = str(make_header(decode_header(m["Subject"] or "")))
    files = dict((str(make_header(decode_header(p.get_filename()))), p.get_payload(decode=True))
                 for p in m.walk() if p.get_filename())
    env = dict(m=m, part=part, subject=subject, files=files, n=n, folder=folder)
    if not eval(check, env):
        print(path, repr(subject), repr(part("plain"))[:300], repr(part("html"))[:300], list(files))
        ok = False
sys.exit(0 if ok else 1)
PY
}

# A list of N recipients r1@example.com on.
numbered_list() {   # numbered_list N FILE
  { echo "Name,Email"; for i in $(seq 1 "$1"); do echo "R$i,r$i@example.com"; done; } >"$2"
}

case $case_name in
  samples)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0
    status=$?
    check "exit status 0" test $status -eq 0
    check "one message per usable recipient" test "$(delivered_count)" -eq 4
    for to in anna.berg@example.com carlos.diaz@example.org dana.evans@example.net helga@example.com; do
      check "a message to $to" grep -qE "^To: $to"$'\r?$' "$out"/delivered/*.eml
    done
    check "the subject merged for the second recipient" \
      grep -q "^Subject: Autumn meeting in Madrid, Carlos" "$out/delivered/0002.eml"
    check "every message has its text/plain alternative" \
      test "$(grep -l "^Content-Type: text/plain" "$out"/delivered/*.eml | wc -l)" -eq 4
    check "the plain text is merged too" grep -q "^Dear Carlos Diaz, Jr\.," "$out/delivered/0002.eml"
    check "no placeholder goes out" sh -c '! grep -q "\[\[" "$1"/delivered/*.eml' - "$out"
    check "the sent list holds the header and the four records" \
      test "$(grep -cv '^$' "$out/logs/tosent.txt")" -eq 5
    check "the current job log ends completed" grep -q "Result: Completed Successfully" "$out/logs/CurrentJob.txt"
    check "the closing box reports four sent" grep -q "Sent: 4" "$out/boxes.txt"
    check "the composed message is kept" grep -q "^kept" "$out/original.txt"
    check "a list without a file column gives copies without files" \
      test -z "$(grep -l 'multipart/mixed' "$out"/delivered/*.eml)"
    check "nor a line for files in the log" bash -c "! grep -q 'Attachments:' '$out/logs/CurrentJob.txt'"
    check "without limits the log says nothing of them" \
      bash -c "! grep -qE 'At most|in the last 24 hours|varied|Waiting' '$out/logs/CurrentJob.txt'"
    times=$(delivery_times_ms "$out")
    check "a delivery time for each message" test "$(grep -c '^[0-9]\+$' <<<"$times")" -eq 4
    check "the delivery times rise with the delivery numbers" sort -n -c <<<"$times"
    check "each delivery time is in its message's Date" delivery_times_match_dates "$out"
    ;;
  attachments)
    # One, two and no files; the fourth recipient's file is refused by the host.
    mkdir -p "$out/list/files" "$out/elsewhere"
    head -c 5000 /dev/urandom >"$out/list/files/invoice.bin"
    printf 'Schedule for Bob\r\n' >"$out/list/files/schedule.txt"
    head -c 70000 /dev/urandom >"$out/elsewhere/scan 2.bin"
    printf 'Dan\n' >"$out/list/files/dan.txt"
    {
      printf 'Name,Email, attachments \n'
      printf 'Ann,ann@example.com,files/invoice.bin\n'
      printf 'Bob,bob@example.com," files\\schedule.txt ; '"'"'%s'"'"' "\n' "$(winpath "$out/elsewhere/scan 2.bin")"
      printf 'Cid,cid@example.com,\n'
      printf 'Dan,dan@example.com,files/dan.txt\n'
    } >"$out/list/list.csv"
    "$top/scripts/run-job" --list "$out/list/list.csv" --out "$out" --pause 0 --save-original 0 \
      --fault 'Attachments.Add=raise:0x80070020@4'
    status=$?
    check "exit status 1: one recipient was not sent" test $status -eq 1
    check "three delivered" test "$(delivered_count)" -eq 3
    ann=$(delivered_to ann@example.com); bob=$(delivered_to bob@example.com); cid=$(delivered_to cid@example.com)
    check "Ann's copy carries one file" test "$(attachment_count "$ann")" -eq 1
    check "Ann's file byte for byte, from the list's folder" \
      cmp -s "$out/list/files/invoice.bin" <(attachment_bytes "$ann" invoice.bin)
    check "Bob's copy carries two files" test "$(attachment_count "$bob")" -eq 2
    check "Bob's first file byte for byte" cmp -s "$out/list/files/schedule.txt" <(attachment_bytes "$bob" schedule.txt)
    check "Bob's second file, quoted and absolute, byte for byte" \
      cmp -s "$out/elsewhere/scan 2.bin" <(attachment_bytes "$bob" "scan 2.bin")
    check "Cid's copy carries none" test "$(attachment_count "$cid")" -eq 0
    check "Cid's copy is not multipart/mixed" bash -c "! grep -q multipart/mixed '$cid'"
    check "nothing went to Dan" test -z "$(delivered_to dan@example.com)"
    check "Dan's refused file is logged with its path and the host's error" \
      grep -qE "To: dan@example.com\. Not Sent: the file .*files.dan\.txt could not be attached: .*0x80070020" \
      "$out/logs/CurrentJob.txt"
    check "the start block names the column and the files" \
      grep -q "Attachments: column attachments, 4 files in all" "$out/logs/CurrentJob.txt"
    check "Bob's line counts his files" \
      grep -q "To: bob@example.com. Sent Successfully (2 attachments)" "$out/logs/CurrentJob.txt"
    check "Cid's line counts none" grep -qE "To: cid@example.com. Sent Successfully"$'\r?$' "$out/logs/CurrentJob.txt"
    check "Dan is not in the sent list" bash -c "! grep -q dan@ '$out/logs/tosent.txt'"
    check "the job log ends incomplete" grep -q "Result: Incomplete" "$out/logs/CurrentJob.txt"
    # Names beyond ASCII, beside a UTF-8 list and an ANSI one, and the test
    # copy to oneself with the recipient's files.
    mkdir -p "$out/u/files"
    head -c 3000 /dev/urandom >"$out/u/files/Rechnung-M"$'\xc3\xbc'"ller.pdf"
    printf 'Name,Email,Attachment\nJ\xc3\xb6rg,joerg@example.com,files/Rechnung-M\xc3\xbcller.pdf\n' >"$out/u/utf8.csv"
    printf 'Name,Email,Attachment\nJ\xf6rg,joerg@example.com,files\\Rechnung-M\xfcller.pdf\n' >"$out/u/ansi.csv"
    for kind in utf8 ansi; do
      "$top/scripts/run-job" --list "$out/u/$kind.csv" --out "$out/u/$kind" --pause 0 --save-original 0
      check "$kind list: exit status 0" test $? -eq 0
      check "$kind list: the file arrives under its name, byte for byte" delivered_match "$out/u/$kind" 1 \
        "files == {'Rechnung-M\u00fcller.pdf': open(folder + '/../files/Rechnung-M\u00fcller.pdf', 'rb').read()}"
    done
    "$top/scripts/run-job" --list "$out/u/utf8.csv" --out "$out/u/test" --test-send 1
    check "the test send ran" test $? -eq 0
    check "the test copy carries the recipient's file" delivered_match "$out/u/test" 1 \
      "files == {'Rechnung-M\u00fcller.pdf': open(folder + '/../files/Rechnung-M\u00fcller.pdf', 'rb').read()}"
    ;;
  missing-attachment)
    mkdir -p "$out/list"
    printf 'here' >"$out/list/here.txt"
    printf 'Email,Attachment\nann@example.com,here.txt\nbob@example.com,here.txt;gone.pdf\n' >"$out/list/list.csv"
    "$top/scripts/run-job" --list "$out/list/list.csv" --out "$out" --pause 0 --save-original 0
    status=$?
    check "exit status 1" test $status -eq 1
    check "nothing delivered" test "$(delivered_count)" -eq 0
    check "the box names the line and the path" grep -qE "Line 3: .*list.gone\.pdf \(not found\)" "$out/boxes.txt"
    check "the box says nothing was sent" grep -q "1 of the files named in the mailing list's column" "$out/boxes.txt"
    check "the closing box names the reason" grep -q "Job Not Started (1 file named in the mailing list cannot be attached)" \
      "$out/boxes.txt"
    check "no log was written" test -z "$(ls "$out/logs")"
    check "the composed message is not deleted" bash -c "! grep -q '^deleted' '$out/original.txt'"
    # Files over 20 MB for one copy: the user is asked first, and No sends nothing.
    truncate -s 12M "$out/list/big1.bin"; truncate -s 9M "$out/list/big2.bin"
    printf 'Email,Attachment\nann@example.com,here.txt\nbob@example.com,big1.bin;big2.bin\n' >"$out/list/list.csv"
    "$top/scripts/run-job" --list "$out/list/list.csv" --out "$out" --pause 0 --save-original 0 --answer no
    status=$?
    check "answered No: exit status 1" test $status -eq 1
    check "the question names the copy, its line and its size" \
      grep -q "The files of 1 recipient come to more than 20 MB.*Line 3: bob@example.com (21.0 MB).*Send this copy anyway?" "$out/boxes.txt"
    check "answered No: nothing delivered" test "$(delivered_count)" -eq 0
    check "answered No: no log was written" test -z "$(ls "$out/logs")"
    ;;
  delete-original)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 --save-original 0
    status=$?
    check "exit status 0" test $status -eq 0
    check "four messages delivered" test "$(delivered_count)" -eq 4
    check "the composed message is deleted" grep -q "^deleted" "$out/original.txt"
    check "the log records the option" grep -q "Save Original: 0" "$out/logs/CurrentJob.txt"
    ;;
  copy-fails)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 --fault 'MailItem.Copy=raise@*'
    status=$?
    check "exit status 1" test $status -eq 1
    check "nothing delivered" test "$(delivered_count)" -eq 0
    check "eleven reports in the current job log" \
      test "$(grep -c "Caught exception during message copy A" "$out/logs/CurrentJob.txt")" -eq 11
    check "the job log ends incomplete" grep -q "Result: Incomplete" "$out/logs/CurrentJob.txt"
    ;;
  own-recipients)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 \
      --to boss@example.com --to team@example.com --cc cc@example.com --bcc hidden@example.com
    status=$?
    check "exit status 0" test $status -eq 0
    check "one message per list recipient" test "$(delivered_count)" -eq 4
    check "no copy names the composed message's own recipients" \
      test -z "$(grep -lE 'boss@|team@|cc@example|hidden@' "$out"/delivered/*.eml)"
    check "no copy has a Cc or Bcc" test -z "$(grep -liE '^(cc|bcc):' "$out"/delivered/*.eml)"
    for f in "$out"/delivered/*.eml; do
      check "$(basename "$f") has one To with one address" \
        test "$(grep -cE '^To: [^,]+'$'\r?$' "$f")" -eq 1
    done
    check "the user was told before sending" \
      grep -q "will not receive the copies; each copy goes to its list recipient only" "$out/boxes.txt"
    check "the log names them" grep -q "own recipients get no copy: To: boss@example.com; team@example.com; Cc: cc@example.com; Bcc: hidden@example.com" \
      "$out/logs/CurrentJob.txt"
    ;;
  submission-fails)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 --save-original 0 \
      --fault 'IMessage.SubmitMessage=fail@2' --answer yes
    status=$?
    check "exit status 1: the job did not complete" test $status -eq 1
    check "three messages delivered" test "$(delivered_count)" -eq 3
    check "the second recipient is logged as not sent" \
      grep -q "To: carlos.diaz@example.org. Not Sent: the submission failed" "$out/logs/CurrentJob.txt"
    check "nor is it in the sent list" bash -c "! grep -q carlos.diaz '$out/logs/tosent.txt'"
    check "three counted" grep -q "E-Mails Sent: 3" "$out/logs/CurrentJob.txt"
    check "the closing box says not complete" grep -q "Job Not Complete (See Current Job Log)" "$out/boxes.txt"
    check "the composed message is not deleted" bash -c "! grep -q '^deleted' '$out/original.txt'"
    ;;
  cut-short)
    { printf 'Name,Email\nAnn,ann@example.com\n%033000d,long@example.com\nBob,bob@example.com\n' 0; } >"$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out" --pause 0 --save-original 0 --answer yes
    status=$?
    check "exit status 1: the records after the long one got nothing" test $status -eq 1
    check "the one before it delivered" test "$(delivered_count)" -eq 1
    check "the user was asked first" grep -q "Send to the 1 recipient before it?" "$out/boxes.txt"
    check "the job log ends incomplete" grep -q "Result: Incomplete" "$out/logs/CurrentJob.txt"
    check "the composed message is not deleted" bash -c "! grep -q '^deleted' '$out/original.txt'"
    ;;
  nothing-usable)
    printf 'Name,Email\r\nAnn,ann at example.com\r\n' >"$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out" --pause 0 --save-original 0
    status=$?
    check "exit status 1" test $status -eq 1
    check "nothing delivered" test "$(delivered_count)" -eq 0
    check "the user was told why before anything was opened" \
      grep -q "The mailing list has no usable recipient: its one record was skipped" "$out/boxes.txt"
    check "the closing box names the reason, not a log" \
      grep -q "Job Not Started (The mailing list has no usable recipient" "$out/boxes.txt"
    check "no log was written" test -z "$(ls "$out/logs")"
    check "the composed message is not deleted" bash -c "! grep -q '^deleted' '$out/original.txt'"
    ;;
  control-character)
    # An exporter's Ctrl-Z for a letter it could not write: every byte is
    # read, and the list is refused with the line before anything goes.
    printf 'Name,Email\r\nAnn,ann@example.com\r\nBj\032rn,bjorn@example.com\r\nCid,cid@example.com\r\n' >"$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out" --pause 0 --save-original 0
    status=$?
    check "exit status 1" test $status -eq 1
    check "nothing delivered" test "$(delivered_count)" -eq 0
    check "the line and the character were told" \
      grep -q "Line 3 of the mailing list holds the control character 0x1A where text belongs" "$out/boxes.txt"
    check "not a success" bash -c "! grep -q 'Completed Successfully' '$out/boxes.txt'"
    check "no log was written" test -z "$(ls "$out/logs")"
    check "the composed message is not deleted" bash -c "! grep -q '^deleted' '$out/original.txt'"
    ;;
  sep-line)
    # Excel's first line naming the delimiter; the header follows it.
    printf 'sep=;\r\nName;Email;Amount, EUR\r\nAnn;ann@example.com;1,5\r\nBob;bob@example.com;2\r\n' >"$out/list.csv"
    printf 'Dear [[Name]], [[Amount, EUR]].\n' >"$out/body.txt"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out" --pause 0 --subject "Hello [[Name]]" --body "$out/body.txt"
    status=$?
    check "exit status 0" test $status -eq 0
    check "everyone delivered" test "$(delivered_count)" -eq 2
    check "to Ann with her values" grep -q "Dear Ann, 1,5." "$(delivered_to ann@example.com)"
    check "to Bob with his" grep -q "Dear Bob, 2." "$(delivered_to bob@example.com)"
    check "the log names the semicolon" grep -q "Delimiter: Semicolon" "$out/logs/CurrentJob.txt"
    check "the sent list begins with the sep line" test "$(head -n 1 "$out/logs/tosent.txt" | tr -d '\r')" = "sep=;"
    ;;
  unicode-texts)
    # Excel's Unicode Text list, a UTF-8 subject file and a UTF-8 HTML file
    # with a mark: every character arrives, and the sent list is UTF-16 too.
    python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
names = ["Jos\u00e9", "Zo\u00eb", "\u0141ukasz", "\u0395\u03bb\u03ad\u03bd\u03b7", "\u65e5\u672c", "\u20ac", "\U0001F600"]
text = "Name\tE-mail\r\n" + "".join("%s\tp%d@example.com\r\n" % (n, i) for i, n in enumerate(names))
open(out + "/list.txt", "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
open(out + "/subject.txt", "wb").write(b"\xef\xbb\xbf" + "Cze\u015b\u0107 [[Name]] \u2013 \U0001F389\n".encode())
open(out + "/body.html", "wb").write(b"\xef\xbb\xbf" + '<html><head><meta charset="utf-8"></head><body><p>Dear [[Name]], \u0141\u00f3d\u017a</p></body></html>'.encode())
PY
    "$top/scripts/run-job" --list "$out/list.txt" --out "$out" --pause 0 --save-original 0 \
      --subject-file "$out/subject.txt" --html "$out/body.html"
    status=$?
    check "exit status 0" test $status -eq 0
    check "seven delivered" test "$(delivered_count)" -eq 7
    check "every subject and HTML body exact" texts_exact html
    check "the sent list is the list, UTF-16 with its mark" cmp "$out/list.txt" "$out/logs/tosent.txt"
    check "the start block says Tab" grep -q "Delimiter: Tab" "$out/logs/CurrentJob.txt"
    # A plain message from a UTF-8 body file without a mark.
    printf 'Drogi [[Name]] \xe2\x80\x93 \xc5\x81\xc3\xb3d\xc5\xba\r\n' >"$out/body.txt"
    "$top/scripts/run-job" --list "$out/list.txt" --out "$out" --pause 0 --save-original 0 \
      --subject-file "$out/subject.txt" --body "$out/body.txt"
    check "plain: exit status 0" test $? -eq 0
    check "plain: every body exact" texts_exact plain
    # Values merged into HTML arrive as the text they are, "[[HTML:Sig]]" as
    # markup; a multi-line value makes the subject one line; 17,000 letters
    # of two bytes each are within the limit; a long plain body comes whole.
    python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
names = ["amp & <b>not bold</b>", "Tom <Tommy> Smith", "a<b"]
rows = ["Name,E-mail,Note,Sig,Smile,Long\r\n"]
for i, name in enumerate(names):
    rows.append('"%s",v%d@example.com,"12 Main St\r\nSpringfield","<b>Sig %d</b>",\U0001F600,%s\r\n' % (name, i, i, "\u00e9" * 17000))
open(out + "/values.csv", "wb").write("".join(rows).encode())
open(out + "/values.html", "wb").write('<html><head><meta charset="utf-8"></head><body><p>Dear [[Name]], [[Note]]</p><p>[[HTML:Sig]]</p><p title="[[Name]]">[[Long]]</p></body></html>'.encode())
open(out + "/values-subject.txt", "wb").write("Re: [[Note]] \u2013 [[Name]]\n".encode())
# Stored as windows-1252, as the charset says; read through HTMLBody.
open(out + "/cp1252.html", "wb").write('<html><head><meta http-equiv="Content-Type" content="text/html; charset=windows-1252"></head><body><p>Gr\u00fc\u00dfe [[Name]]</p></body></html>'.encode("cp1252"))
# ASCII that declares windows-1252: the plain part is made from the HTML.
open(out + "/refs.html", "wb").write(b'<html><head><meta charset="windows-1252"></head><body><p>Caf&eacute; &hellip; [[Smile]] [[Name]]</p></body></html>')
open(out + "/long.txt", "wb").write(("\u0141\u00f3d\u017a " * 1200 + "[[Name]] \U0001F600").encode())
PY
    "$top/scripts/run-job" --list "$out/values.csv" --out "$out/values" --pause 0 --save-original 0 \
      --subject-file "$out/values-subject.txt" --html "$out/values.html"
    check "HTML values: exit status 0" test $? -eq 0
    check "HTML values: every value shows as it is, [[HTML:Sig]] is markup, the subject is one line" \
      delivered_match "$out/values" 3 "$(cat <<'PY'
(lambda name, html: subject == "Re: 12 Main St Springfield \u2013 " + name
 and ("<p>Dear %s, 12 Main St\nSpringfield</p>" % name.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")) in html
 and ("<p><b>Sig %d</b></p>" % n) in html
 and ('<p title="%s">%s</p>' % (name.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;"), "\u00e9" * 17000)) in html
 and part("plain").startswith("Dear " + name + ", 12 Main St")
 and ("Sig %d" % n) in part("plain") and "[[" not in part("plain"))(
 ["amp & <b>not bold</b>", "Tom <Tommy> Smith", "a<b"][n], part("html"))
PY
)"
    check "HTML values: [[HTML:Sig]] is no unknown placeholder, in the HTML or in its plain body" \
      bash -c "! grep -q 'names no field' '$out/values/boxes.txt'"
    "$top/scripts/run-job" --list "$out/values.csv" --out "$out/htmlbody" --pause 0 --save-original 0 \
      --subject "Hi" --html "$out/cp1252.html" --fault 'IMessage.OpenProperty=fail@2'
    check "HTML read through HTMLBody: exit status 0" test $? -eq 0
    check "HTML read through HTMLBody arrives in the charset it declares" \
      delivered_match "$out/htmlbody" 3 "$(cat <<'PY'
"<p>Gr\u00fc\u00dfe %s</p>" % ["amp &amp; &lt;b&gt;not bold&lt;/b&gt;", "Tom &lt;Tommy&gt; Smith", "a&lt;b"][n] in part("html")
PY
)"
    "$top/scripts/run-job" --list "$out/values.csv" --out "$out/refs" --pause 0 --save-original 0 \
      --subject "Hi" --html "$out/refs.html"
    check "references: exit status 0" test $? -eq 0
    check "the plain part of HTML in windows-1252 reads every reference" \
      delivered_match "$out/refs" 3 "$(cat <<'PY'
part("plain") == "Caf\u00e9 \u2026 \U0001F600 " + ["amp & <b>not bold</b>", "Tom <Tommy> Smith", "a<b"][n]
PY
)"
    "$top/scripts/run-job" --list "$out/values.csv" --out "$out/long" --pause 0 --save-original 0 \
      --subject "Hi" --body "$out/long.txt"
    check "long body: exit status 0" test $? -eq 0
    check "a long plain body arrives whole, every typed letter" \
      delivered_match "$out/long" 3 "$(cat <<'PY'
part("plain") == "\u0141\u00f3d\u017a " * 1200 + ["amp & <b>not bold</b>", "Tom <Tommy> Smith", "a<b"][n] + " \U0001F600"
PY
)"
    check "the long body was read through its stream" bash -c "! grep -q 'Failed' '$out/long/boxes.txt'"
    ;;
  submit-raises)
    # Raised inside the host, answered in the add-in's DLL: the host lives on.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 \
      --fault 'IMessage.SubmitMessage=raise@2' --fault 'IMAPIStatus.FlushQueues=raise@2' 2>"$out/err"
    check "the host was not ended by the raise" bash -c "! grep -q 'terminate called' '$out/err'"
    check "the closing box came" grep -q "Sent: " "$out/boxes.txt"
    check "the failed submission was reported" grep -q "Failed to submit message to: carlos.diaz@example.org" "$out/boxes.txt"
    # The second flush is the third recipient's: its copy is taken back.
    check "the first and the last delivered" test "$(delivered_count)" -eq 2
    check "none to the failed one" bash -c "! grep -q '^To: carlos' '$out'/delivered/*.eml"
    check "none to the one whose flush failed" bash -c "! grep -q '^To: dana' '$out'/delivered/*.eml"
    check "the box counts both as not sent" grep -qF "Sent: 2\\nNot sent: 2 (see the Current Job Log)" "$out/boxes.txt"
    ;;
  outbox-and-flush)
    # The first copy cannot be moved to the Outbox and is submitted where it
    # lies; the last one's flush fails. The box, the log, the sent list and
    # what was delivered all say the same: three sent, helga not.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 \
      --fault 'MailItem.Move=raise@1' --fault 'IMAPIStatus.FlushQueues=fail@4'
    status=$?
    check "exit status 1: one recipient was not sent" test $status -eq 1
    check "three delivered" test "$(delivered_count)" -eq 3
    check "the copy submitted outside the Outbox went" grep -qE "^To: anna.berg@example.com"$'\r?$' "$out/delivered/0001.eml"
    check "none to the unflushed one" bash -c "! grep -q '^To: helga' '$out'/delivered/*.eml"
    check "the box adds up, with a warning" grep -qF "$(printf 'Lettercast\t0x00000030\tJob Not Complete (See Current Job Log)\\n\\nSent: 3\\nNot sent: 1 (see the Current Job Log)\\nSkipped: 1 (see the Current Job Log)')" "$out/boxes.txt"
    log=$out/logs/CurrentJob.txt
    check "the move failure is logged" grep -q "Error caught moving message to Outbox during message 1" "$log"
    check "the first recipient is sent" grep -q "# 1, To: anna.berg@example.com. Sent Successfully" "$log"
    check "the last is not, and why" \
      grep -q "# 4, To: helga@example.com. Not Sent: the outgoing queue could not be flushed; the copy was taken back out of it" "$log"
    check "each recipient has one number" test "$(grep -cE '\) # [0-9]+, To: .*\. (Sent Successfully|Not Sent: )' "$log")" -eq 4
    check "the log counts three" grep -q "E-Mails Sent: 3" "$log"
    check "the sent list holds the three sent" test "$(grep -cv '^$' "$out/logs/tosent.txt")" -eq 4
    check "and not helga" bash -c "! grep -q helga '$out/logs/tosent.txt'"
    ;;
  stop-question)
    # Esc during the job asks; No keeps it going to the end (the list check
    # before it, of the sample's record without an address, answered Yes).
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/esc" --pause 1 --escape-after 1 --answer yes,no
    check "answered No, the job completed" test $? -eq 0
    check "Esc asked first" grep -qF "Stop sending? 1 of 4 have been sent; the rest can be sent later" "$out/esc/boxes.txt"
    check "as a question" grep -qE "^Lettercast"$'\t'"0x00000(0|1)24"$'\t'"Stop sending" "$out/esc/boxes.txt"
    check "all four delivered" test "$(find "$out/esc/delivered" -name '*.eml' | wc -l)" -eq 4
    # The close box, answered Yes, stops it: the box, the log and the sent
    # list agree with what went.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/close" --pause 1 --close-after 2 --answer yes
    check "answered Yes, the job stopped" test $? -eq 1
    check "the close box asked" grep -qF "Stop sending? 2 of 4 have been sent; the rest can be sent later" "$out/close/boxes.txt"
    check "two delivered" test "$(find "$out/close/delivered" -name '*.eml' | wc -l)" -eq 2
    check "the end box warns and counts two" \
      grep -qF "$(printf 'Lettercast\t0x00000030\tJob Not Complete (See Current Job Log)\\n\\nSent: 2')" "$out/close/boxes.txt"
    check "the log says stopped" grep -q "^Job Stopped" "$out/close/logs/CurrentJob.txt"
    check "the sent list holds the two" test "$(grep -cv '^$' "$out/close/logs/tosent.txt")" -eq 3
    ;;
  outbox-holds)
    # The server takes two messages and then holds every copy it is given in
    # the Outbox; only what the stand-in delivers is checked here.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 --outbox-holds-after 2
    check "two delivered" test "$(delivered_count)" -eq 2
    check "the first recipient's first" grep -qE "^To: anna.berg@example.com"$'\r?$' "$out/delivered/0001.eml"
    check "the second recipient's second" grep -qE "^To: carlos.diaz@example.org"$'\r?$' "$out/delivered/0002.eml"
    ;;
  cancel-after)
    # Cancel clicked during the long pause after the first message, and the
    # question answered Yes: the job stops there.
    { echo "Name,Email"; for i in 1 2 3; do echo "R$i,r$i@example.com"; done; } >"$out/list.csv"
    printf 'Dear [[Name]],\nhello.\n' >"$out/body.txt"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out" --pause 60 --cancel-after 5 --answer yes \
      --subject "Hello [[Name]]" --body "$out/body.txt"
    check "the job did not complete: exit status 1" test $? -eq 1
    check "one delivered" test "$(delivered_count)" -eq 1
    check "Cancel asked first" grep -qF "Stop sending? 1 of 3 have been sent; the rest can be sent later" "$out/boxes.txt"
    check "the log says stopped" grep -q "^Job Stopped" "$out/logs/CurrentJob.txt"
    ;;
  sent-times)
    # The add-in's record of sent messages goes into the job's data folder and
    # back, like the logs, but is no log.
    mkdir -p "$out/data"
    : >"$out/data/SentTimes.dat"
    touch -d '2001-01-01 00:00:00' "$out/data/SentTimes.dat"
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/job" --pause 0 --data "$out/data"
    check "the job completed" test $? -eq 0
    check "the record came back to the data folder" \
      test -f "$out/data/SentTimes.dat" -a "$(stat -c %Y "$out/data/SentTimes.dat")" -gt "$(date -d 2001-01-02 +%s)"
    check "it is not among the logs" test ! -e "$out/job/logs/SentTimes.dat"
    check "the logs came back too" test -f "$out/data/CurrentJob.txt"
    ;;
  copy-addresses)
    # Cc, Bcc and Reply-To columns: every copy goes to its recipient and that
    # row's Cc and Bcc, nobody else, with replies to the row's Reply-To; Bcc
    # only on the envelope. A Cc cell that is no address skips its row.
    {
      printf 'Name,Email,Manager,Cc,Bcc,Reply-To\n'
      printf 'Ann,ann@example.com,ann.boss,[[Manager]]@example.com,crm@example.org,team@example.com\n'
      printf 'Ben,ben@example.com,,,crm@example.org,\n'
      printf 'Cara,cara@example.com,,"x@example.com; y@example.com",,"help@example.com, sales@example.com"\n'
      printf 'Dan,dan@example.com,,boss,,\n'
      printf 'Eve,eve@example.com,,,,\n'
      printf 'Fay,fay@example,,,,\n'
      printf 'Gus,gus..lee@example.com,,,,\n'
      printf 'Hal,hal@example.com,,"boss@example",,\n'
    } >"$out/list.csv"
    mkdir -p "$out/data"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/job" --pause 0 --data "$out/data" \
      --cc own@example.com --bcc ownhidden@example.com
    check "exit status 0: a skipped row leaves the job complete" test $? -eq 0
    check "four delivered" test "$(find "$out/job/delivered" -name '*.eml' | wc -l)" -eq 4
    check "every row's headers and envelope exactly" python3 - "$out/job/delivered" <<'PY'
import email, glob, sys
expected = {
    "ann@example.com": ("ann.boss@example.com", "team@example.com",
                        ["ann@example.com", "ann.boss@example.com", "crm@example.org"]),
    "ben@example.com": (None, None, ["ben@example.com", "crm@example.org"]),
    "cara@example.com": ("x@example.com, y@example.com", "help@example.com, sales@example.com",
                         ["cara@example.com", "x@example.com", "y@example.com"]),
    "eve@example.com": (None, None, ["eve@example.com"]),
}
seen, ok = set(), True
for path in sorted(glob.glob(sys.argv[1] + "/*.eml")):
    m = email.message_from_binary_file(open(path, "rb"))
    to = m["To"]
    envelope = [line[len("RCPT TO:<"):-1] for line in open(path[:-4] + ".envelope").read().splitlines()
                if line.startswith("RCPT TO:<")]
    got = (m["Cc"], m["Reply-To"], envelope)
    if to not in expected or got != expected[to] or m["Bcc"] is not None or to in seen:
        print(path, to, got, m["Bcc"])
        ok = False
    seen.add(to)
sys.exit(0 if ok and seen == set(expected) else 1)
PY
    log=$out/job/logs/CurrentJob.txt
    check "the start block names the columns" test "$(grep -cE $'^\t(Cc: column Cc|Bcc: column Bcc|Reply-To: column Reply-To)\r?$' "$log")" -eq 3
    check "and the account the copies go from" grep -qE $'^\tFrom: user@standin.example\r?$' "$log"
    check "each sent line counts its Cc and Bcc" \
      test "$(grep -cE 'To: (ann@example.com. Sent Successfully \(Cc: 1, Bcc: 1\)|ben@example.com. Sent Successfully \(Cc: 0, Bcc: 1\)|cara@example.com. Sent Successfully \(Cc: 2, Bcc: 0\)|eve@example.com. Sent Successfully)'$'\r?$' "$log")" -eq 4
    check "the bad Cc cell's row is skipped with its line" \
      grep -q "Skipped line 5 of the mailing list: the Cc column holds something that is not an e-mail address: boss" "$log"
    check "addresses no server takes are skipped with why" \
      test "$(grep -cE 'Skipped line (7 of the mailing list: the address has no dot in its domain: fay@example|8 of the mailing list: the address has a dot at the start or end of a part, or two dots together: gus\.\.lee@example\.com|9 of the mailing list: the Cc column holds something that is not an e-mail address: boss@example)'$'\r?$' "$log")" -eq 3
    check "nobody else got anything" bash -c "! grep -qE 'own@|ownhidden@|dan@' '$out'/job/delivered/*"
    check "the sent list holds the list's own records" \
      test "$(sed -e 's/\r$//' "$out/job/logs/tosent.txt")" = "$(sed -e 5d -e '7,$d' "$out/list.csv")"
    check "the sending limits count every recipient of a copy" \
      test "$(sed -n -e 's/^[0-9-]* [0-9:.]* \([0-9]*\)\r\?$/\1/p' "$out/data/SentTimes.dat" | tr '\n' ' ')" = "3 2 3 1 "
    # Ann's address again on a later row: the check before sending asks (after
    # the sample message's placeholders, answered Yes), and each answer
    # delivers what it says.
    { cat "$out/list.csv"; printf 'Ivy,Ann@Example.com,,,,\n'; } >"$out/again.csv"
    for answer in yes no; do
      "$top/scripts/run-job" --list "$out/again.csv" --out "$out/again-$answer" --pause 0 --answer "yes,$answer"
    done
    check "the repeated address is asked about with its lines" \
      grep -qF "1 address appears more than once: ann@example.com on lines 2 and 10.\n\nSend one copy to every record (Yes), only to the first record of each address (No)" "$out/again-yes/boxes.txt"
    check "with the records it skips" \
      grep -qF "4 records will be skipped: line 5 (boss: the Cc column holds something that is not an e-mail address), line 7 (fay@example: the address has no dot in its domain)" "$out/again-yes/boxes.txt"
    check "Yes: a copy to every record" test "$(grep -l '^To: Ann@Example.com' "$out"/again-yes/delivered/*.eml | wc -l)" -eq 1
    check "No: none to the repeat, which is skipped with why" \
      test "$(find "$out/again-no/delivered" -name '*.eml' | wc -l)" -eq 4 -a \
      "$(grep -c "Skipped line 10 of the mailing list: an earlier record has the same address" "$out/again-no/logs/CurrentJob.txt")" -eq 1
    check "and counted so in the end box" grep -qF 'Sent: 4\nSkipped: 5 (see the Current Job Log)' "$out/again-no/boxes.txt"
    "$top/scripts/run-job" --list "$out/again.csv" --out "$out/preview" --preview 1
    shown=$(sed -e 's/\r$//' "$out/preview/preview.txt")
    check "the preview tells of the repeated address" \
      grep -qx "Send asks first: 1 address appears more than once: ann@example.com on lines 2 and 10." <<<"$shown"
    check "the preview shows the copy's From, Cc, Bcc and Reply-To" \
      test "$(grep -cxE 'From: user@standin.example|To: ann@example.com|Cc: ann.boss@example.com|Bcc: crm@example.org|Reply-To: team@example.com' <<<"$shown")" -eq 5
    check "and the skipped row with its line" \
      grep -qx "  Line 5: the Cc column holds something that is not an e-mail address: boss" <<<"$shown"
    check "and the columns" grep -qx "Cc column: Cc" <<<"$shown"
    # Outlook refuses Ann's reply address: her copy does not go without it.
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/noreply" --pause 0 --fault 'Recipients.Add=fail:0x80004005@1'
    check "a refused reply address: exit status 1" test $? -eq 1
    check "Ann is not sent to, with why" \
      grep -q "To: ann@example.com. Not Sent: the reply address could not be set (0x80004005)" "$out/noreply/logs/CurrentJob.txt"
    check "the others are" test "$(find "$out/noreply/delivered" -name '*.eml' | wc -l)" -eq 3
    check "nothing went to Ann's Cc either" bash -c "! grep -q ann '$out'/noreply/delivered/*.envelope"
    ;;
  accounts)
    # A profile of a work and a home account, the message written in the
    # second: every copy goes from it, its sent copies in its own Sent folder.
    # Outlook 2016: an account's Sent folder is found through its store.
    accounts="work@example.com;home@example.org" modern=16.0.4266.1001
    senders_are() {   # senders_are DIR FROM [SENDER]: every copy's From, Sender and envelope sender
      python3 - "$@" <<'PY'
import email, glob, sys
folder, sender = sys.argv[1], sys.argv[2]
account = sys.argv[3] if len(sys.argv) > 3 else sender
files_, ok = sorted(glob.glob(folder + "/delivered/*.eml")), True
for path in files_:
    m = email.message_from_binary_file(open(path, "rb"))
    envelope = open(path[:-4] + ".envelope").read().splitlines()
    got = (email.utils.parseaddr(m["From"])[1], email.utils.parseaddr(m["Sender"] or "")[1], envelope[0])
    want = (sender, "" if account == sender else account, "MAIL FROM:<%s>" % account)
    if got != want:
        print(path, got, want)
        ok = False
sys.exit(0 if ok and files_ else 1)
PY
    }
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/home" --pause 0 \
      --accounts "$accounts" --from home@example.org --outlook-version $modern
    check "exit status 0" test $? -eq 0
    check "four delivered" test "$(find "$out/home/delivered" -name '*.eml' | wc -l)" -eq 4
    check "every copy from the home account" senders_are "$out/home" home@example.org
    check "every sent copy in the home account's Sent folder" \
      test "$(cut -f1 "$out/home/sent.txt" | sort | uniq -c | sed -e 's/^ *//')" = "4 home@example.org"
    check "the log names the account" grep -qE $'^\tFrom: home@example.org\r?$' "$out/home/logs/CurrentJob.txt"
    check "nothing was asked about the account" bash -c "! grep -qE 'account|Sent Items' '$out/home/boxes.txt'"
    # A host whose Copy leaves the account behind, sending on behalf of a
    # team: the add-in puts both on every copy itself.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/dropped" --pause 0 \
      --accounts "$accounts" --from home@example.org --on-behalf-of team@example.com --copy-drops-account \
      --outlook-version $modern
    check "with Copy dropping the account: exit status 0" test $? -eq 0
    check "every copy on behalf of the team, from the home account" \
      senders_are "$out/dropped" team@example.com home@example.org
    check "and filed in the home account's Sent folder" \
      test "$(cut -f1 "$out/dropped/sent.txt" | sort -u)" = home@example.org
    # The preview names the account; the test copy goes from it, to me alone.
    printf 'Name,Email,Cc,Bcc\nAnn,ann@example.com,boss@example.com,crm@example.org\n' >"$out/cc.csv"
    "$top/scripts/run-job" --list "$out/cc.csv" --out "$out/test" --test-send 1 --accounts "$accounts" \
      --from home@example.org --outlook-version $modern
    check "the test send ran" test $? -eq 0
    check "the preview names the account" grep -qx "From: home@example.org" <(sed -e 's/\r$//' "$out/test/preview.txt")
    check "the test copy went from it" senders_are "$out/test" home@example.org
    check "to me alone, not to the row's Cc or Bcc" \
      test "$(grep -c '^RCPT TO:' "$out"/test/delivered/*.envelope)" -eq 1
    # Outlook 2007 cannot say where an account's sent mail goes: the user is
    # told once, the copies still go from the account, the sent copies to
    # the default Sent Items.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/2007" --pause 0 \
      --accounts "$accounts" --from home@example.org --outlook-version 12.0.6607.1000
    check "Outlook 2007: exit status 0" test $? -eq 0
    check "the user was told once before sending" \
      test "$(grep -c 'does not say where that account keeps its sent mail' "$out/2007/boxes.txt")" -eq 1
    check "the copies went from the account" senders_are "$out/2007" home@example.org
    check "their sent copies to the default Sent Items" test "$(cut -f1 "$out/2007/sent.txt" | sort -u)" = work@example.com
    # A profile without accounts: told once, sent from Outlook's default.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/none" --pause 0 --accounts none
    check "no accounts: exit status 0" test $? -eq 0
    check "all four delivered" test "$(find "$out/none/delivered" -name '*.eml' | wc -l)" -eq 4
    check "the user was told once" test "$(grep -c 'names no e-mail account' "$out/none/boxes.txt")" -eq 1
    check "the log says so" grep -qE $'^\tFrom: Outlook\'s default account\r?$' "$out/none/logs/CurrentJob.txt"
    # Outlook refuses the account on the first copy, which Copy left without
    # one: the user is told once, and every copy goes from the default.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/refused" --pause 0 \
      --accounts "$accounts" --from home@example.org --outlook-version $modern --copy-drops-account \
      --fault 'MailItem.SendUsingAccount.putref=fail:0x80004005@*'
    check "an account refused at once: exit status 0" test $? -eq 0
    check "the user was told once" test "$(grep -c 'Outlook would not send the copies from home@example.org' "$out/refused/boxes.txt")" -eq 1
    check "every copy went from the default account" senders_are "$out/refused" work@example.com
    check "the log says so" grep -q "From: Outlook's default account: Outlook would not send the copies from home@example.org" \
      "$out/refused/logs/CurrentJob.txt"
    # Refused once copies have gone from the account: the job stops there.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/later" --pause 0 \
      --accounts "$accounts" --from home@example.org --outlook-version $modern --copy-drops-account \
      --fault 'MailItem.SendUsingAccount.putref=fail:0x80004005@2'
    check "an account refused later: exit status 1" test $? -eq 1
    check "only the first copy went, from the account" senders_are "$out/later" home@example.org
    check "one delivered" test "$(find "$out/later/delivered" -name '*.eml' | wc -l)" -eq 1
    check "the job stopped with a box naming the account" \
      grep -q "could not be sent from the message's account: the copy could not be set to go from home@example.org" "$out/later/boxes.txt"
    ;;
  old-outlook)
    # The add-in refuses the host in a box while it connects; the box is
    # answered and the host ends instead of waiting for ever.
    timeout 120 "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --outlook-version 11.0 2>/dev/null
    status=$?
    check "exit status 1, in time" test $status -eq 1
    check "the refusal box was answered" grep -q "designed for Outlook 2007 or later" "$out/boxes.txt"
    check "nothing delivered" test "$(delivered_count)" -eq 0
    ;;
  resume-after-failure)
    # The third recipient cannot be added: the job ends with two sent.
    resume_list
    resume_run one --fault 'IMessage.ModifyRecipients=fail@3'
    check "the first job did not complete" test $? -eq 1
    check "it sent two" test "$(tos one | wc -l)" -eq 2
    resume_run two --answer yes
    check "the resumed job completed" test $? -eq 0
    check "the user was asked" grep -q "sent to 2 of its 8 recipients and did not complete. Send only to the 6" "$out/two/boxes.txt"
    check "nothing was in flight" bash -c "! grep -q 'may or may not' '$out/two/boxes.txt'"
    check "every recipient got exactly one copy in all" everyone_once "$(tos one two)"
    check "the start block says so" grep -q "Resumed: 2 recipients already sent on (" "$out/two/logs/CurrentJob.txt"
    check "the closing box counts them" grep -q "Already sent by the last job: 2" "$out/two/boxes.txt"
    check "the sent list holds all eight" test "$(tail -n +2 "$out/data/tosent.txt" | sort -u | wc -l)" -eq 8
    resume_run three --answer yes
    check "a completed job is not resumed: everyone again" everyone_once "$(tos three)"
    check "and nobody asked" bash -c "! grep -q 'did not complete' '$out/three/boxes.txt'"
    # A list in UTF-16 with its mark (Excel's Unicode Text), whose sent list is
    # written in UTF-16 too, is resumed the same way.
    { printf '\xff\xfe'; { printf 'Name\tEmail\r\n'; for i in $(seq 1 8); do printf 'R%d\tu%d@example.com\r\n' "$i" "$i"; done; } |
        iconv -f UTF-8 -t UTF-16LE; } >"$out/list16.txt"
    for run in "four --fault IMessage.ModifyRecipients=fail@3" "five --answer yes"; do
      set -- $run
      "$top/scripts/run-job" --list "$out/list16.txt" --out "$out/$1" --data "$out/data16" --pause 0 \
        --subject "Hello [[Name]]" --body "$out/body.txt" "${@:2}" >>"$out/run.log" 2>&1
    done
    check "a UTF-16 list is offered the resume" grep -q "sent to 2 of its 8 recipients and did not complete" "$out/five/boxes.txt"
    check "and each of its recipients got one copy in all" \
      test "$(tos four five | wc -l)" -eq 8 -a "$(tos four five | sort -u | wc -l)" -eq 8
    ;;
  resume-after-stop)
    # The third submission fails and the user stops; sent again, No sends to everyone.
    resume_list
    resume_run one --fault 'IMessage.SubmitMessage=fail@3' --answer no
    check "the first job did not complete" test $? -eq 1
    check "the copy that failed has its result after its Sending line" \
      grep -q "To: r3@example.com. Not Sent: the submission failed" "$out/one/logs/CurrentJob.txt"
    resume_run two --answer no
    check "No sends to everyone" everyone_once "$(tos two)"
    check "the user was asked" grep -q "sent to 2 of its 8 recipients and did not complete" "$out/two/boxes.txt"
    check "nothing was in flight" bash -c "! grep -q 'may or may not' '$out/two/boxes.txt'"
    check "its log does not say resumed" bash -c "! grep -q Resumed: '$out/two/logs/CurrentJob.txt'"
    ;;
  completed-never-resumed)
    resume_list
    resume_run one
    check "the first job completed" test $? -eq 0
    resume_run two --answer yes
    check "everyone again" everyone_once "$(tos two)"
    check "nobody asked" bash -c "! grep -q 'did not complete' '$out/two/boxes.txt'"
    ;;
  other-list-never-resumed)
    resume_list
    resume_run one --kill-after 3
    cp "$out/list.csv" "$out/same.csv"
    "$top/scripts/run-job" --list "$out/same.csv" --out "$out/two" --data "$out/data" --pause 0 \
      --subject "Hello [[Name]]" --body "$out/body.txt" --kill-after 3 --answer yes >>"$out/run.log" 2>&1
    check "another path is not offered a resume" bash -c "! grep -q 'did not complete' '$out/two/boxes.txt'"
    check "and its job starts from the first recipient" grep -q "^To: r1@example.com" "$out/two/delivered/0001.eml"
    # The first list again, after the job to the other one: its resume is
    # offered as it was, and the recipient in flight answered No.
    resume_run four --answer yes,no
    check "the first list is still offered its resume" grep -q "sent to 2 of its 8 recipients and did not complete" "$out/four/boxes.txt"
    check "with its recipient in flight" grep -q "may or may not have received it: r3@example.com" "$out/four/boxes.txt"
    check "and each of its recipients got one copy in all" everyone_once "$(tos one four)"
    # The other list, its job killed, then completed by a job that another
    # one-line mailing to a third list came before.
    { echo "Name,Email"; echo "Solo,solo@example.com"; } >"$out/solo.csv"
    "$top/scripts/run-job" --list "$out/solo.csv" --out "$out/five" --data "$out/data" --pause 0 \
      --subject "Hello [[Name]]" --body "$out/body.txt" >>"$out/run.log" 2>&1
    check "the one-line mailing completed" test "$(tos five)" = "solo@example.com"
    "$top/scripts/run-job" --list "$out/same.csv" --out "$out/six" --data "$out/data" --pause 0 \
      --subject "Hello [[Name]]" --body "$out/body.txt" --answer yes,no >>"$out/run.log" 2>&1
    check "the other list is offered its own resume" grep -q "sent to 2 of its 8 recipients and did not complete" "$out/six/boxes.txt"
    check "and each of its recipients got one copy in all" everyone_once "$(tos two six)"
    ;;
  resume-shared-address)
    # Two children's reports to one parent, then others: the host dies while
    # the first report is in flight; answered No, the second still goes.
    { echo "Name,Email"; echo "Ann,parent@example.com"; echo "Bob,parent@example.com"
      for i in $(seq 3 8); do echo "R$i,r$i@example.com"; done; } >"$out/list.csv"
    printf 'Dear [[Name]],\nhello.\n' >"$out/body.txt"
    dear() { grep -l "Dear $2," "$out/$1"/delivered/*.eml 2>/dev/null | wc -l; }
    resume_run one --kill-after 1
    check "the first report went, the job died" test "$(dear one Ann)" -eq 1 -a "$(tos one | wc -l)" -eq 1
    # The list check first: one copy to each of the two records.
    resume_run two --answer yes,yes,no
    check "the shared address was asked about first" \
      grep -q "1 address appears more than once: parent@example.com on lines 2 and 3" "$out/two/boxes.txt"
    check "the recipient in flight is named with its record" \
      grep -q 'may or may not have received it: parent@example.com, in the record "Ann,parent@example.com"' "$out/two/boxes.txt"
    check "the other child's report went" test "$(dear two Bob)" -eq 1
    check "the one answered No did not go again" test "$(dear two Ann)" -eq 0
    check "the job completed" grep -q "Result: Completed Successfully" "$out/two/logs/CurrentJob.txt"
    # The first report sent, the host dies while the second is in flight.
    rm -rf "$out/data"
    resume_run three --kill-after 2
    resume_run four --answer yes,yes,no
    check "one of the two counts as sent" grep -q "sent to 1 of its 8 recipients" "$out/four/boxes.txt"
    check "the second is the one in flight" \
      grep -q 'may or may not have received it: parent@example.com, in the record "Bob,parent@example.com"' "$out/four/boxes.txt"
    check "neither report went again" test "$(dear four Ann)" -eq 0 -a "$(dear four Bob)" -eq 0
    check "everyone else got one" test "$(tos three four | sort -u | wc -l)" -eq 7 -a "$(tos three four | wc -l)" -eq 8
    ;;
  resume-other-message)
    # The March newsletter interrupted; the April one to the same list is no resume.
    resume_list
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/march" --data "$out/data" --pause 0 \
      --subject "March [[Name]]" --body "$out/body.txt" --kill-after 3 >>"$out/run.log" 2>&1
    # The Preview tells what Send would ask, for the same message only.
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/pmarch" --data "$out/data" \
      --subject "March [[Name]]" --body "$out/body.txt" --preview 2
    check "the preview of the same message tells of the resume" \
      grep -q '^Resume: Send will ask: The last job to this mailing list, "March \[\[Name\]\]" started .*, sent to 2 of its 8 recipients and did not complete. Send only to the 6 recipients' "$out/pmarch/preview.txt"
    check "and of the recipient in flight" grep -q "^Resume: then: .*may or may not have received it: r3@example.com" "$out/pmarch/preview.txt"
    check "and that this recipient already has it" grep -q "^Already sent by the last job" "$out/pmarch/preview.txt"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/papril" --data "$out/data" \
      --subject "April [[Name]]" --body "$out/body.txt" --preview 2
    check "the preview of another message tells of none" bash -c "! grep -q '^Resume:\|^Already sent' '$out/papril/preview.txt'"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/april" --data "$out/data" --pause 0 \
      --subject "April [[Name]]" --body "$out/body.txt" --answer yes >>"$out/run.log" 2>&1
    check "another message is not offered the resume" bash -c "! grep -q 'did not complete' '$out/april/boxes.txt'"
    check "everyone gets April" everyone_once "$(tos april)"
    ;;
  resume-edited-list)
    # The header saved again with quotes: the same columns, no word of a change.
    resume_list
    resume_run one --kill-after 3
    { echo '"Name","Email"'; for i in $(seq 1 8); do echo "\"R$i\",r$i@example.com"; done; } >"$out/list.csv"
    resume_run two --answer yes,no
    check "a re-quoted header is offered the resume" grep -q "sent to 2 of its 8 recipients and did not complete. Send only to the 6" "$out/two/boxes.txt"
    check "each recipient got one copy in all" everyone_once "$(tos one two)"
    # A column added, a row deleted: counted on the list as it is now, and
    # the question says the header changed.
    rm -rf "$out/data"
    resume_list
    resume_run three --kill-after 4
    { echo "Name,Email,City"; for i in 1 3 4 5 6 7 8; do echo "R$i,r$i@example.com,Oslo"; done; } >"$out/list.csv"
    resume_run four --answer yes,no
    check "an added column is offered the resume, the deleted row not counted" \
      grep -q "sent to 2 of its 7 recipients and did not complete. The list's header has changed since" "$out/four/boxes.txt"
    check "each remaining recipient got one copy in all" \
      test "$(tos three four | grep -v r2@ | sort | tr '\n' ' ')" = "$(for i in 1 3 4 5 6 7 8; do echo "r$i@example.com"; done | sort | tr '\n' ' ')"
    check "the sent list has the new header and every record under it" \
      test "$(sed -e 's/\r$//' "$out/data/tosent.txt" | sort | tr '\n' ' ')" = "$(sort "$out/list.csv" | tr '\n' ' ')"
    ;;
  preview)
    # What the preview shows for a recipient is what the job delivers to it.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/preview" --preview 3
    check "the preview was written" test $? -eq 0
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/job" --pause 0 --data "$out/data"
    check "the job completed" test $? -eq 0
    shown=$(sed -e 's/\r$//' "$out/preview/preview.txt")
    sent=$out/job/delivered/0003.eml
    to=$(sed -e 's/\r$//' -n -e 's/^To: //p' "$sent")
    check "it names the third recipient" grep -qx "Recipient 3 of 4: $to" <<<"$shown"
    check "with the subject the job sent" grep -qxF "$(sed -e 's/\r$//' -n -e '/^Subject: /p' "$sent")" <<<"$shown"
    check "and the body's first line" grep -qF "Dear Dana Evans," <<<"$shown"
    check "the job sent that line to that recipient" grep -q "Dear Dana Evans," "$sent"
    check "the delimiter and address column" grep -qx "Address column: E-Mail Address" <<<"$shown"
    check "the usable and skipped records" \
      test "$(grep -cE '^(Usable recipients: 4|Skipped records: 1|  Line 11: the address is empty)$' <<<"$shown")" -eq 3
    check "no warning without unknown placeholders" bash -c "! grep -q Warning: <<<'$shown'"
    check "nothing was sent by the preview" test -z "$(ls "$out/preview/delivered")"
    # The test to oneself: the previewed copy, to the profile's address, no log touched.
    logs_before=$(cd "$out/data" && md5sum *.txt)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/test" --test-send 3 --data "$out/data"
    check "the test send ran" test $? -eq 0
    check "one copy delivered" test "$(find "$out/test/delivered" -name '*.eml' | wc -l)" -eq 1
    test_copy=$(find "$out/test/delivered" -name '*.eml' | head -n 1)
    check "to the profile's own address" grep -qx "To: user@standin.example" <(sed -e 's/\r$//' "$test_copy")
    check "with the recipient's subject after [Test]" grep -qxF \
      "$(sed -e 's/\r$//' -n -e 's/^Subject: /Subject: [Test] /p' "$sent")" <(sed -e 's/\r$//' "$test_copy")
    check "and the recipient's body" grep -q "Dear Dana Evans," "$test_copy"
    check "the user is told where it went" grep -q "A test copy for recipient 3 was sent to user@standin.example." "$out/test/boxes.txt"
    check "the logs are as they were" test "$(cd "$out/data" && md5sum *.txt)" = "$logs_before"
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/unknown" --preview 9 \
      --subject "Hi [[Nmae]]" --body "$top/samples/SampleMessage.txt"
    shown=$(sed -e 's/\r$//' "$out/unknown/preview.txt")
    check "a recipient beyond the list shows the last one" grep -q "^Recipient 4 of 4: " <<<"$shown"
    check "the warning names the unknown placeholder" \
      grep -qx "Warning: \[\[Nmae\]\] names no field of the mailing list and will be sent as it stands." <<<"$shown"
    # A long list is counted on while the first recipient shows; the script,
    # as a user, steps and tests once the count is done.
    { echo "Name,E-mail"; seq 1 300000 | sed -e 's/.*/Person &,p&@example.com/'; } >"$out/long.csv"
    "$top/scripts/run-job" --list "$out/long.csv" --out "$out/long" --test-send 2
    check "the long list's preview was written" test $? -eq 0
    shown=$(sed -e 's/\r$//' "$out/long/preview.txt")
    check "it shows the second recipient of the whole count" grep -qx "Recipient 2 of 300000: p2@example.com" <<<"$shown"
    check "and the count" grep -qx "Usable recipients: 300000" <<<"$shown"
    check "the test copy went once the count was done" \
      test "$(find "$out/long/delivered" -name '*.eml' | wc -l)" -eq 1
    ;;
  per-minute)
    # Seven recipients at two a minute: no minute holds three, and all go.
    numbered_list 7 "$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/job" --pause 0 --per-minute 2 >"$out/run.log" 2>&1
    check "the job completed" test $? -eq 0
    check "all seven delivered" test "$(find "$out/job/delivered" -name '*.eml' | wc -l)" -eq 7
    mapfile -t times < <(delivery_times_ms "$out/job")
    check "seven delivery times" test ${#times[@]} -eq 7
    for i in 2 3 4 5 6; do
      check "messages $((i - 1)) and $((i + 1)) are a minute apart" test $(( times[i] - times[i - 2] )) -ge 60000
    done
    check "the log names the limit" grep -qF $'\t\tAt most 2 messages a minute' "$out/job/logs/CurrentJob.txt"
    ;;
  per-day)
    # Three recipients a day of five: the first job sends three and waits
    # until the user closes it while it waits for the fourth.
    numbered_list 5 "$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/first" --data "$out/data" --pause 0 --per-day 3 \
      --close-after 3 --answer yes >"$out/run.log" 2>&1
    check "the first job did not complete" test $? -eq 1
    check "it sent three" test "$(find "$out/first/delivered" -name '*.eml' | wc -l)" -eq 3
    log=$out/first/logs/CurrentJob.txt
    check "it found no record before it" grep -q "No record of copies sent in the last 24 hours was found" "$log"
    check "it waited for the daily limit, saying when" \
      grep -qE "\) Waiting for the daily limit: the next message goes at [0-9]{2}:[0-9]{2} tomorrow" "$log"
    check "it was stopped" grep -q "^Job Stopped" "$log"
    check "its box says Not Complete with three sent" \
      grep -qF "$(printf 'Job Not Complete (See Current Job Log)\\n\\nSent: 3')" "$out/first/boxes.txt"
    check "the record holds its three copies" test "$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2} ' "$out/data/SentTimes.dat")" -eq 3
    # The second job the same day counts them: it sends none and says when.
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/second" --data "$out/data" --pause 0 --per-day 3 \
      --close-after 3 --answer yes >>"$out/run.log" 2>&1
    check "the second job did not complete" test $? -eq 1
    check "it sent none" test "$(find "$out/second/delivered" -name '*.eml' | wc -l)" -eq 0
    log=$out/second/logs/CurrentJob.txt
    check "it counted the first job's" grep -qF "Sent in the last 24 hours before this job: 3 messages to 3 recipients" "$log"
    check "and said when the next goes" \
      grep -qE "\) Waiting for the daily limit: the next message goes at [0-9]{2}:[0-9]{2} tomorrow" "$log"
    # A damaged record counts from zero, and the job says so.
    printf 'Lettercast sent times 1\nnot a record\n' >"$out/data/SentTimes.dat"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/third" --data "$out/data" --pause 0 --per-day 3 \
      --answer yes >>"$out/run.log" 2>&1
    check "after a damaged record the rest went" test $? -eq 0
    check "the last two delivered" test "$(grep -h '^To: ' "$out"/third/delivered/*.eml | tr -d '\r' | sort | tr '\n' ' ')" = \
      "To: r4@example.com To: r5@example.com "
    check "the log says the record was damaged" \
      grep -qF "The record of copies sent in the last 24 hours is damaged (line 2): the limits count from zero" \
      "$out/third/logs/CurrentJob.txt"
    check "the record holds the two since" test "$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2} ' "$out/data/SentTimes.dat")" -eq 2
    # A test copy counts as well.
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/test" --data "$out/data" --test-send 1 >>"$out/run.log" 2>&1
    check "the test copy went" test "$(find "$out/test/delivered" -name '*.eml' | wc -l)" -eq 1
    check "and is in the record" test "$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2} ' "$out/data/SentTimes.dat")" -eq 3
    ;;
  pause-variation)
    # A pause of 2 s varied by 1 over 20 messages: every gap from 1 to 3 s,
    # their mean within a tenth of 2.
    numbered_list 20 "$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/job" --pause 2 --pause-variation 1 >"$out/run.log" 2>&1
    check "the job completed" test $? -eq 0
    mapfile -t times < <(delivery_times_ms "$out/job")
    check "twenty delivered" test ${#times[@]} -eq 20
    total=0
    for i in $(seq 1 19); do
      gap=$(( times[i] - times[i - 1] ))
      total=$(( total + gap ))
      check "gap $i ($gap ms) within 1 to 3 s" test $gap -ge 1000 -a $gap -le 3000
    done
    check "the mean gap ($(( total / 19 )) ms) within 10 % of 2 s" test $(( total / 19 )) -ge 1800 -a $(( total / 19 )) -le 2200
    check "the log names the variation" grep -qF $'\t\tPause varied by up to 1 second' "$out/job/logs/CurrentJob.txt"
    ;;
  send-at)
    # Set to start in two minutes: checked and asked at once, then it waits,
    # and Cancel ends it with nothing sent (pressed once the status counts the
    # first recipient, which it does only while it waits to start).
    at=$(date -d '+2 minutes' +%H:%M)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out/job" --send-at "$at" --close-after 0 \
      --preset gmail --answer yes >"$out/run.log" 2>&1
    check "the job did not complete" test $? -eq 1
    check "nothing went" test "$(find "$out/job/delivered" -name '*.eml' | wc -l)" -eq 0
    log=$out/job/logs/CurrentJob.txt
    check "the log says when it was to start" grep -qE "\) Waiting to start: the first message goes at $at" "$log"
    check "it was stopped" grep -q "^Job Stopped" "$log"
    check "the preset's limit is in the log" grep -qF $'\t\tAt most 500 recipients in any 24 hours' "$log"
    ;;
  server-pushback)
    # The server refuses the third copy for its quota: the job stops there,
    # and a resume sends the rest.
    numbered_list 5 "$out/list.csv"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/refused" --data "$out/data" --pause 0 \
      --fault 'IMessage.SubmitMessage=fail:0x8004060C@3' >"$out/run.log" 2>&1
    check "the refused job did not complete" test $? -eq 1
    check "two went" test "$(find "$out/refused/delivered" -name '*.eml' | wc -l)" -eq 2
    check "the box says the server takes no more" grep -qF "The mail server takes no more mail for now" "$out/refused/boxes.txt"
    check "and asked nothing" bash -c "! grep -q 'Continue Sending Anyway' '$out/refused/boxes.txt'"
    check "the log says why it stopped" grep -qF ") Stopped: the mail server takes no more mail for now" \
      "$out/refused/logs/CurrentJob.txt"
    "$top/scripts/run-job" --list "$out/list.csv" --out "$out/resumed" --data "$out/data" --pause 0 \
      --answer yes >>"$out/run.log" 2>&1
    check "the resumed job completed" test $? -eq 0
    check "the rest went" test "$(grep -h '^To: ' "$out"/resumed/delivered/*.eml | tr -d '\r' | sort | tr '\n' ' ')" = \
      "To: r3@example.com To: r4@example.com To: r5@example.com "
    # A server that takes the copies and holds them in the Outbox.
    numbered_list 10 "$out/ten.csv"
    "$top/scripts/run-job" --list "$out/ten.csv" --out "$out/held" --pause 0 --outbox-holds-after 2 >>"$out/run.log" 2>&1
    check "the held job did not complete" test $? -eq 1
    check "two were delivered" test "$(find "$out/held/delivered" -name '*.eml' | wc -l)" -eq 2
    check "it stopped once six stayed in the Outbox" \
      grep -qF "6 copies stay in the Outbox after a flush; they go when the server takes them" "$out/held/boxes.txt"
    check "the eight submitted are logged as sent" \
      test "$(grep -c 'Sent Successfully' "$out/held/logs/CurrentJob.txt")" -eq 8
    ;;
  workbook)
    # An Excel workbook picked as it is: the second sheet chosen, every value
    # merged as Excel shows it, rows told by their row, the sent list a CSV
    # named after the sheet that reads back as the same list, and a resume
    # of the same workbook and sheet.
    write_workbook "$out/book.xlsx"
    printf 'Dear [[Name]]: [[Joined]] | [[Amount]] | [[Zip]] | [[Stamp]] | [[Count]] | [[Ratio]] | [[Note]] | [[Address]]\n' \
      >"$out/body.txt"
    mkdir -p "$out/data"
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Spring List" --out "$out/job" --pause 0 --data "$out/data" \
      --subject "Hello [[Name]]" --body "$out/body.txt" >>"$out/run.log" 2>&1
    check "exit status 0" test $? -eq 0
    check "three delivered, the row without an address skipped" test "$(find "$out/job/delivered" -name '*.eml' | wc -l)" -eq 3
    check "every value as Excel shows it" python3 - "$out/job/delivered" <<'PY'
import email, glob, sys
from email.header import decode_header, make_header
values = "15 March 2023 | \u20ac1,234.50 | 01234 | 15.03.2023 18:00 | 5 | 25.60% | #N/A | "
expected = {
    "jose@example.com": ("Jos\u00e9", "Line one\nLine two"),
    "elena@example.com": ("\u0395\u03bb\u03ad\u03bd\u03b7", "Athens"),
    "nihon@example.com": ("\u65e5\u672c \U0001F600", "Tokyo"),
}
ok, seen = True, set()
for path in glob.glob(sys.argv[1] + "/*.eml"):
    m = email.message_from_binary_file(open(path, "rb"))
    to = m["To"]
    name, address = expected.get(to, ("?", "?"))
    body = m.get_payload(decode=True).decode("utf-8").replace("\r\n", "\n")
    subject = str(make_header(decode_header(m["Subject"])))
    if body.strip("\n") != "Dear %s: %s%s" % (name, values, address) or subject != "Hello " + name:
        print(to, repr(subject), repr(body))
        ok = False
    seen.add(to)
sys.exit(0 if ok and seen == set(expected) else 1)
PY
    log=$out/job/logs/CurrentJob.txt
    check "the log names the sheet" grep -qx $'\t\tSheet: Spring List' <(tr -d '\r' <"$log")
    check "the skipped row is told by its row" grep -q "Skipped line 5 of the mailing list" "$log"
    sent="$out/job/logs/Spring List.csv"
    check "the sent list is named after the sheet" test -f "$sent"
    check "it is CSV UTF-8 with its mark, header and the rows sent to" python3 - "$sent" <<'PY'
import csv, sys
data = open(sys.argv[1], "rb").read()
rows = list(csv.reader(data[3:].decode("utf-8").splitlines(keepends=True)))
ok = data.startswith(b"\xef\xbb\xbf") and rows[0][:3] == ["Name", "Email", "Joined"] and \
     [r[1] for r in rows[1:]] == ["jose@example.com", "elena@example.com", "nihon@example.com"] and \
     rows[1][9] == "Line one\r\nLine two" and rows[2][3] == "\u20ac1,234.50"
sys.exit(0 if ok else 1)
PY
    # The sent list read as a list gives every copy the same values.
    cp "$sent" "$out/again.csv"
    "$top/scripts/run-job" --list "$out/again.csv" --out "$out/again" --pause 0 \
      --subject "Hello [[Name]]" --body "$out/body.txt" >>"$out/run.log" 2>&1
    check "the sent list sends again" test "$(find "$out/again/delivered" -name '*.eml' | wc -l)" -eq 3
    check "with the same texts" bash -c "diff <(cd '$out/job/delivered' && grep -h -a -v -e '^Date:' -e '^Message-ID:' *.eml | sort) \
      <(cd '$out/again/delivered' && grep -h -a -v -e '^Date:' -e '^Message-ID:' *.eml | sort)"
    # Killed after the first copy, then the same workbook and sheet resumed.
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Spring List" --out "$out/killed" --pause 0 --data "$out/data" \
      --subject "Again [[Name]]" --body "$out/body.txt" --kill-after 1 >>"$out/run.log" 2>&1
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Spring List" --out "$out/resumed" --pause 0 --data "$out/data" \
      --subject "Again [[Name]]" --body "$out/body.txt" --answer yes,yes,no >>"$out/run.log" 2>&1
    check "the resume was offered" grep -q "The last job to this mailing list" "$out/resumed/boxes.txt"
    check "the resume sends the rest, once each" test "$(tos killed resumed | tr '\n' ' ')" = \
      "elena@example.com jose@example.com nihon@example.com "
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Other" --out "$out/other" --pause 0 --data "$out/data" \
      --subject "Again [[Name]]" --body "$out/body.txt" >>"$out/run.log" 2>&1
    check "another sheet of it is a list of its own: no address column, no resume" \
      bash -c "grep -q 'field could not be found' '$out/other/boxes.txt' && ! grep -q 'The last job' '$out/other/boxes.txt'"
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Spring List" --out "$out/preview" --pause 0 \
      --subject "Hello [[Name]]" --body "$out/body.txt" --test-send 1 >>"$out/run.log" 2>&1
    # The host reads the Preview's text in the ANSI code page.
    check "the Preview names the sheet and shows row 2 as Excel does" python3 - "$out/preview/preview.txt" <<'PY'
import sys
text = open(sys.argv[1], "rb").read().decode("cp1252")
sys.exit(0 if "Sheet: Spring List" in text and "Dear Jos\u00e9: 15 March 2023 | \u20ac1,234.50" in text else 1)
PY
    check "the test send names the sheet" grep -q 'recipient 1 of the sheet "Spring List" was sent' "$out/preview/boxes.txt"
    # What cannot be read is told before anything goes.
    printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1old workbook' >"$out/old.xls"
    printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0' >"$out/locked.xlsx"
    printf 'Name,Email\r\nAnn,ann@example.com\r\n' >"$out/renamed.xlsx"
    head -c 1500 "$out/book.xlsx" >"$out/damaged.xlsx"
    for bad in "old.xls:Excel 97-2003" "locked.xlsx:password" "renamed.xlsx:is not one" "damaged.xlsx:damaged"; do
      "$top/scripts/run-job" --list "$out/${bad%%:*}" --out "$out/bad-${bad%%:*}" --pause 0 >>"$out/run.log" 2>&1
      check "${bad%%:*}: refused" test $? -eq 1
      check "${bad%%:*}: told why" grep -q "${bad#*:}" "$out/bad-${bad%%:*}/boxes.txt"
      check "${bad%%:*}: nothing delivered" test -z "$(find "$out/bad-${bad%%:*}/delivered" -name '*.eml')"
    done
    "$top/scripts/run-job" --list "$out/book.xlsx" --sheet "Autumn" --out "$out/nosheet" --pause 0 >>"$out/run.log" 2>&1
    check "a sheet the workbook lacks is a script failure" test $? -ne 0
    ;;
  usage)
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --fault 'MailItem.Copy=throw@1' >/dev/null 2>"$out/err"
    check "a throw into the add-in is a usage error" test $? -eq 2
    check "it says why" grep -q "throw cannot cross" "$out/err"
    "$top/scripts/run-job" --out "$out" >/dev/null 2>"$out/err"
    check "a missing list is a usage error" test $? -eq 2
    check "it says what is missing" grep -q -- "--list is required" "$out/err"
    "$top/scripts/run-job" --list "$out/no-such-list.txt" --out "$out" >/dev/null 2>"$out/err"
    check "a list that does not exist is a usage error" test $? -eq 2
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause soon >/dev/null 2>"$out/err"
    check "a pause that is no number is a usage error" test $? -eq 2
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --answer yes,maybe >/dev/null 2>"$out/err"
    check "an answer that is neither yes nor no is a usage error" test $? -eq 2
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --kill-after 0 >/dev/null 2>"$out/err"
    check "a kill after no delivery is a usage error" test $? -eq 2
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --escape-after 1 --close-after 1 >/dev/null 2>"$out/err"
    check "Esc and the close box together are a usage error" test $? -eq 2
    for bad in "--per-minute 1.5" "--per-day -3" "--pause-variation x" "--outbox-holds-after two" "--cancel-after 2.5.5" \
               "--cancel-after .5" "--cancel-after soon" "--send-at 24:00" "--send-at 7:30" "--send-at 12:60" "--send-at noon" \
               "--preset yahoo" "--cancel-after 2 --preview 1" "--cancel-after 2 --test-send 1"; do
      "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" $bad >/dev/null 2>"$out/err"
      check "$bad is a usage error" test $? -eq 2
    done
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --preset yahoo >/dev/null 2>"$out/err"
    check "an unknown preset is told with the keys" grep -q -- "--preset takes one of none, exchange, outlook.com, gmail, workspace" "$out/err"
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --preset gmail --send-at 25:00 >/dev/null 2>"$out/err"
    check "a known preset passes, and the bad time is what is told" \
      bash -c "grep -q -- '--send-at takes' '$out/err' && ! grep -q -- '--preset takes' '$out/err'"
    ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac
[ $failed -eq 0 ] || cat "$out/run.log" 2>/dev/null
exit $failed
