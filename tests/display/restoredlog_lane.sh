#!/usr/bin/env bash
# Event-log lines read back at start: the server application (its log list
# unfolded) runs once and ends; at the next start the list shows the lines
# of LOG0.log as they were written, without the CR of the file's CR LF (the
# list would elide it as "..."). A screenshot of the list.
# restoredlog_lane.sh <truth_lane> <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
. "$here/truth_lane.sh"
truth_lane_begin "$@"
root=$ROOT
truth_skypesim alice "$root/desktop-alice" --contact bob
printf '[SYSTEM]\r\nAPPMODE=0\r\nOPENWINDOW=0\r\n' >"$root/program-alice/ZorvaneForTcp.ini"

# The first run writes its lines.
truth_start "$root/program-alice" "$root/desktop-alice"
lane_wait_log "$TRUTH_LOG" '^status 通信ドライバと接続' 15 || lane_fail "no link: $(cat "$TRUTH_LOG")"
truth_end
first_run="$LANE_SHOTS/program-first-run.log"
mv "$TRUTH_LOG" "$first_run"
written=$(tr -d '\r' <"$root/program-alice/LOG0.log")
[ -n "$written" ] || lane_fail "the first run wrote no log line"
grep -q $'\r$' "$root/program-alice/LOG0.log" || lane_fail "LOG0.log has no CR LF line ends"

# The second run reads them back.
truth_start "$root/program-alice" "$root/desktop-alice"
sleep 1
truth_dump
shown=$(truth_list)
echo "$shown" | grep -q '\\r' && lane_fail "list lines keep the CR: $(echo "$shown" | grep '\\r' | head -n 3)"
echo "$shown" | grep -q '\\n' && lane_fail "list lines keep the LF: $(echo "$shown" | grep '\\n' | head -n 3)"
while IFS= read -r line; do
  echo "$shown" | grep -qxF -- "$line" || lane_fail "the restored line \"$line\" is not in the list: $shown"
done <<<"$written"
truth_shot 01-restored-log-lines
lane_log "$(echo "$written" | wc -l) lines read back, shown without their line end"
truth_end
lane_log "passed; screenshots in $LANE_SHOTS"
