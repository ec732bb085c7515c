#!/usr/bin/env bash
# The framework on a real X server: the tray icon appears, a double click on
# it reaches the program, a right click opens the tray menu, a tray restart
# brings the icon back within 5 seconds; screenshots in the given directory.
# framework_lane.sh <lane_demo program> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
demo=$1
lane_begin "$2"
log="$LANE_SHOTS/lane_demo.log"

lane_run "$log" "$demo"
lane_wait_log "$log" '^platform xcb' 10 || lane_fail "the demo did not start on the display: $(cat "$log")"
lane_wait_log "$log" '^tray-add ok' 10 || lane_fail "no tray icon was added: $(cat "$log")"
lane_wait_tray_icon 5 || lane_fail "the icon did not appear in the tray"
lane_window_visible LaneDemo && lane_fail "the window shows although it started hidden"
lane_shot 01-tray-icon
lane_log "icon at $(lane_tray_icon)"

# A double click shows the window.
lane_click_tray 1 2
lane_wait_log "$log" '^tray dblclick' 5 || lane_fail "the double click did not reach the callback: $(cat "$log")"
lane_wait_log "$log" '^shown' 5 || lane_fail "the window was not shown"
for i in $(seq 1 50); do lane_window_visible LaneDemo && break; sleep 0.1; done
lane_window_visible LaneDemo || lane_fail "no visible LaneDemo window after the double click"
sleep 0.3
lane_shot 02-window

# A right click opens the tray menu; its first entry is chosen with the keyboard.
before=$(lane_visible_windows)
lane_click_tray 3 1
lane_wait_log "$log" '^tray menu$' 5 || lane_fail "the right click did not reach the callback: $(cat "$log")"
lane_wait_more_windows "$before" 5 || lane_fail "no menu window opened"
sleep 0.3
lane_shot 03-tray-menu
xdotool key Down
sleep 0.1
xdotool key Return
lane_wait_log "$log" '^command 32771' 5 || lane_fail "the menu entry did not arrive as a command: $(cat "$log")"

# The tray restarts: the icon is back within 5 seconds.
lane_kill_tray
sleep 1
lane_shot 04-tray-gone
lane_start_tray
start=$(date +%s%N)
lane_wait_tray_icon 5 || lane_fail "the icon did not come back within 5 s: $(cat "$log")"
took=$(( ($(date +%s%N) - start) / 1000000 ))
lane_log "icon back after ${took} ms"
lane_wait_log "$log" '^taskbar-created' 5 || lane_fail "no TaskbarCreated after the tray restart: $(cat "$log")"
sleep 0.3
lane_shot 05-tray-again

# The menu's exit entry ends the program.
before=$(lane_visible_windows)
lane_click_tray 3 1
lane_wait_log "$log" 'tray menu$' 5 || lane_fail "no menu after the restart"
lane_wait_more_windows "$before" 5 || lane_fail "no menu window opened after the restart"
sleep 0.3
xdotool key Up
sleep 0.1
xdotool key Return
lane_wait_log "$log" '^end ' 5 || lane_fail "the exit entry did not end the program: $(cat "$log")"
wait "$LANE_PID"
status=$?
LANE_PID=""
[ "$status" -eq 0 ] || lane_fail "the demo ended with status $status"
lane_log "passed; screenshots in $LANE_SHOTS"
