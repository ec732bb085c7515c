#!/usr/bin/env bash
# A local-port dialog opened before the tunnel comes up and confirmed after:
# the client application (the settings-dialogs helper: the real main dialog)
# opens channel 1's port dialog at once; auto-connect brings the streams up
# to the server application (the program) meanwhile; the new port typed then
# with Return is refused. The window, the ini file and the listening port stay
# as they were, and a web page still arrives through the old port.
# portlock_lane.sh <settingsdialogs_lane program> <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
helper=$(realpath "$1")
program=$(realpath "$2")
sim=$(realpath "$3")
lane_begin "$4"
command -v curl >/dev/null || { lane_log "skipped: curl is missing"; exit 77; }

lane_make_root zorvane-portlock
root=$LANE_ROOT

base=$((20000 + RANDOM % 20000))
simport=$base web=$((base + 1)) old=$((base + 2)) new=$((base + 3))
lane_make_sides
ln -s "$program" "$root/program-bob/zorvanefortcp"
mkdir "$root/web"
echo "through the tunnel" >"$root/web/page.txt"
/usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$root/web" "$web" >"$LANE_SHOTS/web.log" 2>&1 &
lane_also_end $!
for i in $(seq 1 100); do
  curl -s -o /dev/null "http://127.0.0.1:$web/page.txt" && break
  sleep 0.1
done
curl -s -o /dev/null "http://127.0.0.1:$web/page.txt" || lane_fail "the web server did not start"

lane_start_skypesims "$sim" "$root" "$simport"

# bob: the server application, channel 1 forwarded to the web server.
printf '[SYSTEM]\r\nAPPMODE=0\r\nENABLEUSER=1\r\nOPENWINDOW=1\r\n[SERVER]\r\nFOWERDHOST2=127.0.0.1\r\nFOWERDPORT2=%s\r\n' \
  "$web" >"$root/program-bob/ZorvaneForTcp.ini"
ZORVANE_DESKTOP="$root/desktop-bob" "$root/program-bob/zorvanefortcp" >"$LANE_SHOTS/server.log" 2>&1 &
lane_also_end $!

# alice: the client application, channel 1 alone, connecting itself to bob.
printf '[SYSTEM]\r\nAPPMODE=1\r\nENABLEPORT1=0\r\nENABLEPORT3=0\r\nENABLEPORT4=0\r\nENABLEPORT5=0\r\n[CLIENT]\r\nHTTPPORT=%s\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\n' \
  "$old" >"$root/program-alice/ZorvaneForTcp.ini"
log="$LANE_SHOTS/client.log"
(cd "$root/program-alice" && ZORVANE_DESKTOP="$root/desktop-alice" exec "$helper" 1115 stay) >"$log" 2>&1 &
LANE_PID=$!
lane_wait_log "$log" '^open 138 ' 15 || lane_fail "the port dialog did not open: $(cat "$log")"

# The streams come up while the dialog is open.
lane_wait_file "$root/program-alice/LOG0.log" 'Skype STREAM は bob と' 30 ||
  lane_fail "no stream came up: $(cat "$root/program-alice/LOG0.log" 2>/dev/null)"
page=""
for i in $(seq 1 100); do
  page=$(curl -s --max-time 5 "http://127.0.0.1:$old/page.txt") && [ "$page" = "through the tunnel" ] && break
  sleep 0.1
done
[ "$page" = "through the tunnel" ] || lane_fail "no page through port $old before the change: \"$page\""
lane_log "streams up; a page arrives through $old"

window=""
for i in $(seq 1 50); do
  window=$(lane_window_named "ポート設定") && break
  sleep 0.1
done
[ -n "$window" ] || lane_fail "no visible port dialog"
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key ctrl+a
xdotool type --delay 40 "$new"
sleep 0.1
lane_shot 01-port-typed-with-streams-up
xdotool key Return
lane_wait_log "$log" '^closed 1115' 5 || lane_fail "Return did not end the port dialog: $(cat "$log")"
closed=$(grep '^closed 1115' "$log")
lane_log "$closed"
echo "$closed" | grep -q " 1101=$old " || lane_fail "the window does not show the port listened on ($old): $closed"
echo "$closed" | grep -q " 1012=接続中は設定を変更できません" || lane_fail "no refusal in the message line: $closed"
grep -q $'^HTTPPORT='"$old"$'\r$' "$root/program-alice/ZorvaneForTcp.ini" ||
  lane_fail "the ini file changed: $(cat "$root/program-alice/ZorvaneForTcp.ini")"
page=$(curl -s --max-time 10 "http://127.0.0.1:$old/page.txt")
[ "$page" = "through the tunnel" ] || lane_fail "no page through port $old: \"$page\""
curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$new/page.txt" && lane_fail "something listens on $new"
lane_log "after the refused change: the page still arrives through $old, nothing listens on $new"
touch "$root/program-alice/end"
lane_end_program "$log"
lane_log "passed; screenshots in $LANE_SHOTS"
