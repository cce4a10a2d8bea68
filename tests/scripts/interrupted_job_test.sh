#!/usr/bin/env bash
# A job whose host process dies part-way, then the same list sent again.
# The logs the dead job leaves agree with what was delivered: every delivered
# message but at most the one in flight is in the current job log and the
# sent list, and nothing is recorded that was not delivered. The next Send
# offers to resume, names the recipient in flight, and in all every recipient
# of the list gets exactly one copy (two for the one in flight only when the
# user said to send to it again).
#   interrupted_job_test.sh N [resend|twice]
#     N       the host dies right after its N-th delivery
#     resend  the recipient in flight is answered Yes (sent to again)
#     twice   the resumed job dies too, after 2 deliveries, and is resumed again
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
kill_after=$1
mode=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/lcint.XXXXXX")
trap 'rm -rf "$work"' EXIT

list=$work/list.csv
{ echo "Name,Email"; for i in $(seq 1 8); do echo "R$i,r$i@example.com"; done; } >"$list"
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

run "$work/out" --kill-after "$kill_after"
status=$?
check "run-job reports the job as not completed" test $status -eq 1
check "the host died part-way" grep -q "ended with status 137" "$work/run.log"

out=$work/out
delivered=$(tos "$out" | sort)
logged=$(sed -n 's/.*, To: \(.*\)\. Sent Successfully\r\{0,1\}$/\1/p' "$out/logs/CurrentJob.txt" 2>/dev/null | sort)
listed=$(tail -n +2 "$out/logs/tosent.txt" 2>/dev/null | sed -e 's/\r$//' | cut -d, -f2 | sort)
nd=$(grep -c . <<<"$delivered"); nl=$(grep -c . <<<"$logged"); ns=$(grep -c . <<<"$listed")
echo "delivered $nd, logged $nl, in the sent list $ns"

check "the N messages were delivered before the host died" test "$nd" -eq "$kill_after"
check "nothing is logged that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$logged"))"
check "nothing is in the sent list that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$listed"))"
check "at most the message in flight is missing from the log" test $((nd - nl)) -le 1
check "at most the message in flight is missing from the sent list" test $((nd - ns)) -le 1
check "the log names the messages in the order sent" \
  test "$(sed -n 's/.*# \([0-9]*\), To: .*Sent Successfully.*/\1/p' "$out/logs/CurrentJob.txt" | tr '\n' ' ')" = "$(seq 1 "$nl" | tr '\n' ' ')"
check "the message in flight has its Sending line" \
  grep -q "# $kill_after, To: r$kill_after@example.com. Sending" "$out/logs/CurrentJob.txt"

# Sent again: resume, and the recipient in flight answered as asked.
inflight=no; [ "$mode" = resend ] && inflight=yes
if [ "$mode" = twice ]; then
  run "$work/out2" --answer "yes,$inflight" --kill-after 2
  check "the resumed job died too" test $? -eq 1
  check "its log says it resumed" grep -q "Resumed: $((kill_after - 1)) recipients\? already sent on (" "$work/out2/logs/CurrentJob.txt"
  run "$work/out3" --answer "yes,$inflight"
  last=$work/out3
  all=$( { tos "$out"; tos "$work/out2"; tos "$work/out3"; } | sort)
  check "the second resume counts what both jobs sent" \
    grep -q "Resumed: $((kill_after + 1)) recipients\? already sent on (" "$last/logs/CurrentJob.txt"
else
  run "$work/out2" --answer "yes,$inflight"
  last=$work/out2
  all=$( { tos "$out"; tos "$work/out2"; } | sort)
  check "its log says it resumed" grep -q "Resumed: $((kill_after - 1)) recipients\? already sent on (" "$last/logs/CurrentJob.txt"
fi
check "the resumed job was asked about" grep -q "The last job to this mailing list sent to $((kill_after - 1)) of its 8 recipients and did not complete" "$work/out2/boxes.txt"
check "the recipient in flight was named" grep -q "may or may not have received it: r$kill_after@example.com" "$work/out2/boxes.txt"
check "the last job completed" grep -q "Result: Completed Successfully" "$last/logs/CurrentJob.txt"
expected=$(for i in $(seq 1 8); do echo "r$i@example.com"; done
           [ "$mode" = resend ] && echo "r$kill_after@example.com"
           true)
check "every recipient got exactly one copy in all$([ "$mode" = resend ] && echo ", the one in flight two")" \
  test "$all" = "$(sort <<<"$expected")"
check "the last sent list holds every recipient once" \
  test "$(tail -n +2 "$last/logs/tosent.txt" | sed -e 's/\r$//' | cut -d, -f2 | sort | tr '\n' ' ')" = \
       "$(for i in $(seq 1 8); do echo "r$i@example.com"; done | sort | tr '\n' ' ')"
if [ $failed -ne 0 ]; then cat "$work/run.log"; fi
exit $failed
