#!/usr/bin/env bash
# A job whose host process is killed part-way: the logs it leaves agree with
# what was delivered. Every delivered message but at most the one in flight is
# in the current job log and the sent list; nothing is recorded that was not
# delivered.
#   interrupted_job_test.sh N   kill the host once N messages are delivered
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
kill_after=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/lcint.XXXXXX")
trap 'rm -rf "$work"' EXIT
token=$(basename "$work")

list=$work/list.csv
{ echo "Name,Email"; for i in $(seq 1 8); do echo "R$i,r$i@example.com"; done; } >"$list"

# run-job makes its prefix and store under TMPDIR, so they are found here.
TMPDIR=$work "$top/scripts/run-job" --list "$list" --out "$work/out" --pause 1 >"$work/run.log" 2>&1 &
job=$!

killed=0
for _ in $(seq 1 600); do
  n=$(find "$work" -path '*/store/Delivered/*.eml' 2>/dev/null | wc -l)
  if [ "$n" -ge "$kill_after" ]; then
    pkill -KILL -f "outlook-standin.exe.*$token" && killed=1
    break
  fi
  kill -0 $job 2>/dev/null || break
  sleep 0.1
done
wait $job
status=$?

failed=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
check "the host was killed part-way" test $killed -eq 1
check "run-job reports the job as not completed" test $status -eq 1

out=$work/out
delivered=$(grep -h '^To: ' "$out"/delivered/*.eml 2>/dev/null | sed -e 's/^To: //' -e 's/\r$//' | sort)
logged=$(sed -n 's/.*, To: \(.*\)\. Sent Successfully\r\{0,1\}$/\1/p' "$out/logs/CurrentJob.txt" 2>/dev/null | sort)
listed=$(tail -n +2 "$out/logs/tosent.txt" 2>/dev/null | sed -e 's/\r$//' | cut -d, -f2 | sort)
nd=$(grep -c . <<<"$delivered"); nl=$(grep -c . <<<"$logged"); ns=$(grep -c . <<<"$listed")
echo "delivered $nd, logged $nl, in the sent list $ns"

check "something was delivered before the kill" test "$nd" -ge "$kill_after"
check "nothing is logged that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$logged"))"
check "nothing is in the sent list that was not delivered" test -z "$(comm -13 <(echo "$delivered") <(echo "$listed"))"
check "at most the message in flight is missing from the log" test $((nd - nl)) -le 1
check "at most the message in flight is missing from the sent list" test $((nd - ns)) -le 1
check "the log names the messages in the order sent" \
  test "$(sed -n 's/.*# \([0-9]*\), To: .*/\1/p' "$out/logs/CurrentJob.txt" | tr '\n' ' ')" = "$(seq 1 "$nl" | tr '\n' ' ')"
if [ $failed -ne 0 ]; then cat "$work/run.log"; fi
exit $failed
