#!/usr/bin/env bash
# A job whose host process dies part-way, then the same list sent again.
# The logs the dead job leaves agree with what was delivered: every delivered
# message but at most the one in flight is in the current job log and the
# sent list, and nothing is recorded that was not delivered. The next Send
# offers to resume, names the message and the recipient in flight, and in all
# every recipient of the list gets exactly one copy (two for the one in
# flight only when the user said to send to it again).
#   interrupted_job_test.sh N [MODE] [KIND]
#     N         the host dies right after its N-th delivery
#     MODE      resend    the recipient in flight is answered Yes (sent to again)
#               twice     the resumed job dies too, after 2 deliveries, and is resumed again
#               refused   the first copy is refused (the user goes on); the resumed
#                         job sends it again first and dies right after, before it
#                         reaches the row of the recipient in flight; resumed again
#               resorted  the list is sorted the other way before the resume; the
#                         resumed job dies after 2 deliveries, before it reaches
#                         the row of the recipient in flight; resumed again
#     KIND      csv (ASCII, the default) | utf8 (CSV UTF-8, every name with a
#               letter beyond ASCII) | utf16 (Unicode Text: UTF-16 with its mark, tabs)
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
kill_after=$1
mode=${2:-}
kind=${3:-csv}
work=$(mktemp -d "${TMPDIR:-/tmp}/lcint.XXXXXX")
trap 'rm -rf "$work"' EXIT

list=$work/list.csv
[ "$kind" = utf16 ] && list=$work/list.txt
write_list() {   # write_list NUMBER...: the list's records in that order
  local i
  { case $kind in
      utf16) printf 'Name\tEmail\r\n'; for i in "$@"; do printf 'R%d\tr%d@example.com\r\n' "$i" "$i"; done ;;
      utf8) echo "Name,Email"; for i in "$@"; do echo "Zoë Ñandú $i,r$i@example.com"; done ;;
      *) echo "Name,Email"; for i in "$@"; do echo "R$i,r$i@example.com"; done ;;
    esac; } | if [ "$kind" = utf16 ]; then { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }; else cat; fi >"$list"
}
write_list $(seq 1 8)
data=$work/data
body=$work/body.txt
printf "Dear [[Name]],\nhello.\n" >"$body"
run() {   # run OUT ARGS...: one job on the list, with the one data folder
  local out=$1; shift
  "$top/scripts/run-job" --list "$list" --out "$out" --data "$data" --pause 0 --subject "Hello [[Name]]" \
    --body "$body" "$@" >>"$work/run.log" 2>&1
}

failed=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
tos() { grep -h '^To: ' "$1"/delivered/*.eml 2>/dev/null | sed -e 's/^To: //' -e 's/\r$//'; }
# The records of a list or sent list after its header, decoded strictly by
# its mark (UTF-8 without one): a record in another encoding fails here.
records() {
  python3 - "$1" <<'PY'
import sys
b = open(sys.argv[1], "rb").read()
if b.startswith(b"\xff\xfe"):
    t = b[2:].decode("utf-16-le")
elif b.startswith(b"\xef\xbb\xbf"):
    t = b[3:].decode("utf-8")
else:
    t = b.decode("utf-8")
for line in t.splitlines()[1:]:
    print(line)
PY
}
addresses() { records "$1" | tr '\t' ',' | cut -d, -f2; }
asked() {   # asked OUT N: the resume question of that run counts N already sent
  grep -q "The last job to this mailing list, \"Hello \[\[Name\]\]\" started [0-9/]* [0-9:.]*, sent to $2 of its 8 recipients and did not complete" "$1/boxes.txt"
}

# The first job: with "refused" its first copy is refused and the user goes on.
first=()
inflight_n=$kill_after
if [ "$mode" = refused ]; then first=(--fault 'IMessage.SubmitMessage=fail@1' --answer yes); inflight_n=$((kill_after + 1)); fi
run "$work/out" --kill-after "$kill_after" "${first[@]}"
status=$?
check "run-job reports the job as not completed" test $status -eq 1
check "the host died part-way" grep -q "ended with status 137" "$work/run.log"

out=$work/out
delivered=$(tos "$out" | sort)
logged=$(sed -n 's/.*, To: \(.*\)\. Sent Successfully\r\{0,1\}$/\1/p' "$out/logs/CurrentJob.txt" 2>/dev/null | sort)
listed=$(addresses "$out/logs/tosent.txt" | sort)
nd=$(grep -c . <<<"$delivered"); nl=$(grep -c . <<<"$logged"); ns=$(grep -c . <<<"$listed")
echo "delivered $nd, logged $nl, in the sent list $ns"

check "the N messages were delivered before the host died" test "$nd" -eq "$kill_after"
check "nothing is logged that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$logged"))"
check "nothing is in the sent list that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$listed"))"
check "at most the message in flight is missing from the log" test $((nd - nl)) -le 1
check "at most the message in flight is missing from the sent list" test $((nd - ns)) -le 1
# Each recipient's number in the job is its row, sent or not: r<N> is "# N".
check "the log names the messages in the order sent, each by its number in the job" \
  test "$(sed -n 's/.*# \([0-9]*\), To: r\([0-9]*\)@.*Sent Successfully.*/\1 \2/p' "$out/logs/CurrentJob.txt" |
          awk '$1 != $2 { bad = 1 } { n++ } END { print (bad ? "bad" : n + 0) }')" = "$nl"
check "the message in flight has its Sending line" \
  grep -q "# $inflight_n, To: r$inflight_n@example.com. Sending" "$out/logs/CurrentJob.txt"

# Sent again: resume, and the recipient in flight answered as asked.
inflight=no; [ "$mode" = resend ] && inflight=yes
case $mode in
  twice)
    run "$work/out2" --answer "yes,$inflight" --kill-after 2
    check "the resumed job died too" test $? -eq 1
    check "its log says it resumed" grep -q "Resumed: $((kill_after - 1)) recipients\? already sent on (" "$work/out2/logs/CurrentJob.txt"
    run "$work/out3" --answer "yes,$inflight"
    last=$work/out3
    all=$( { tos "$out"; tos "$work/out2"; tos "$work/out3"; } | sort)
    check "the second resume counts what both jobs sent" \
      grep -q "Resumed: $((kill_after + 1)) recipients\? already sent on (" "$last/logs/CurrentJob.txt"
    check "and asks with that count" asked "$last" $((kill_after + 1))
    check "and names the second job's recipient in flight" grep -q "may or may not have received it: r$((kill_after + 2))@example.com" "$last/boxes.txt"
    ;;
  refused)
    # The refused first copy goes first and the host dies right after it:
    # the "No" about the recipient in flight must be in the sent list already.
    run "$work/out2" --answer "yes,no" --kill-after 1
    check "the resumed job died after the refused copy" test "$(tos "$work/out2")" = "r1@example.com"
    check "its sent list holds the recipient in flight answered No" grep -qx "r$inflight_n@example.com" <(addresses "$data/tosent.txt")
    run "$work/out3" --answer "yes,no"
    last=$work/out3
    all=$( { tos "$out"; tos "$work/out2"; tos "$work/out3"; } | sort)
    check "the second resume counts the one answered No" asked "$last" "$kill_after"
    check "and asks about the refused copy, in flight when its job died" grep -q "may or may not have received it: r1@example.com" "$last/boxes.txt"
    check "and not about the one answered No before" bash -c "! grep -q 'received it: r$inflight_n@' '$last/boxes.txt'"
    ;;
  resorted)
    # The list sorted the other way: the resumed job dies before it reaches
    # the row of the recipient in flight.
    write_list $(seq 8 -1 1)
    run "$work/out2" --answer "yes,no" --kill-after 2
    check "the resumed job sent from the new first row" test "$(tos "$work/out2" | tr '\n' ' ')" = "r8@example.com r7@example.com "
    run "$work/out3" --answer "yes,no"
    last=$work/out3
    all=$( { tos "$out"; tos "$work/out2"; tos "$work/out3"; } | sort)
    check "the second resume counts both jobs' and the one answered No" asked "$last" $((kill_after + 1))
    check "and names the second job's recipient in flight" grep -q "may or may not have received it: r7@example.com" "$last/boxes.txt"
    ;;
  *)
    run "$work/out2" --answer "yes,$inflight"
    last=$work/out2
    all=$( { tos "$out"; tos "$work/out2"; } | sort)
    check "its log says it resumed" grep -q "Resumed: $((kill_after - 1)) recipients\? already sent on (" "$last/logs/CurrentJob.txt"
    ;;
esac
check "the resumed job was asked about, naming the message" asked "$work/out2" $((inflight_n - 1 - (kill_after < inflight_n ? 1 : 0)))
check "the recipient in flight was named" grep -q "may or may not have received it: r$inflight_n@example.com" "$work/out2/boxes.txt"
check "the last job completed" grep -q "Result: Completed Successfully" "$last/logs/CurrentJob.txt"
expected=$(for i in $(seq 1 8); do echo "r$i@example.com"; done
           [ "$mode" = resend ] && echo "r$inflight_n@example.com"
           true)
check "every recipient got exactly one copy in all$([ "$mode" = resend ] && echo ", the one in flight two")" \
  test "$all" = "$(sort <<<"$expected")"
check "the last sent list holds every record of the list once, in the list's encoding" \
  test "$(records "$data/tosent.txt" | sort)" = "$(records "$list" | sort)"
check "the last sent list's mark is the list's" test "$(head -c 2 "$data/tosent.txt" | od -An -tx1)" = "$(head -c 2 "$list" | od -An -tx1)"
if [ $failed -ne 0 ]; then cat "$work/run.log"; fi
exit $failed
