#!/usr/bin/env bash
# scripts/run-job end to end: the add-in registered by regsvr32 in a fresh
# prefix, loaded by the stand-in host, a whole mailing through its dialogs.
#   run_job_test.sh CASE   with CASE samples | delete-original | copy-fails |
#                          submit-raises | old-outlook | usage
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
    check "the sent list holds the header and the four records" \
      test "$(grep -cv '^$' "$out/logs/tosent.txt")" -eq 5
    check "the current job log ends completed" grep -q "Result: Completed Successfully" "$out/logs/CurrentJob.txt"
    check "the closing box reports four sent" grep -q "Sent: 4" "$out/boxes.txt"
    check "the composed message is kept" grep -q "^kept" "$out/original.txt"
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
  submit-raises)
    # Raised inside the host, answered in the add-in's DLL: the host lives on.
    "$top/scripts/run-job" --list "$top/samples/SampleTo.txt" --out "$out" --pause 0 \
      --fault 'IMessage.SubmitMessage=raise@2' --fault 'IMAPIStatus.FlushQueues=raise@3' 2>"$out/err"
    check "the host was not ended by the raise" bash -c "! grep -q 'terminate called' '$out/err'"
    check "the closing box came" grep -q "Sent: " "$out/boxes.txt"
    check "the failed submission was reported" grep -q "Failed to submit message to: carlos.diaz@example.org" "$out/boxes.txt"
    check "the other three delivered" test "$(delivered_count)" -eq 3
    check "none to the failed one" bash -c "! grep -q '^To: carlos' '$out'/delivered/*.eml"
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
    ;;
  *) echo "unknown case $case_name"; exit 2 ;;
esac
exit $failed
