#!/usr/bin/env bash
# The program started without DISPLAY in its environment, the display named by
# the toolkit's -display switch: it runs on that display (not offscreen), its
# window and tray icon appear there, and the tray menu's exit ends it.
# nodisplay_lane.sh <zorvanefortcp> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
program=$(readlink -f "$1")
lane_begin "$2"

lane_make_root zorvane-nodisplay
root=$LANE_ROOT
mkdir -m 700 "$root/desktop"
mkdir "$root/program"
ln -s "$program" "$root/program/zorvanefortcp"
# The client application, shown at start; no Skype client on its desktop.
printf '[SYSTEM]\r\nAPPMODE=1\r\nOPENWINDOW=0\r\n' >"$root/program/ZorvaneForTcp.ini"

log="$LANE_SHOTS/program.log"
display=$DISPLAY
ZORVANE_DESKTOP="$root/desktop" lane_run "$log" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  "$root/program/zorvanefortcp" -display "$display" -D119
lane_wait_log "$log" '^display: ' 10 || lane_fail "the program traced no display: $(cat "$log")"
grep -q '^display: none found' "$log" && lane_fail "the program looked no further than its environment: $(grep '^display' "$log")"
grep -q '^display: xcb$' "$log" || lane_fail "the program is not on the X server: $(grep '^display' "$log")"
lane_wait_log "$log" '^1番目の引数=-D119$' 5 || lane_fail "the program's switches are not what the toolkit left: $(grep '番目の引数' "$log")"

window=""
for i in $(seq 1 50); do
  window=$(lane_window_named ZorvaneForTcp) && break
  sleep 0.1
done
[ -n "$window" ] || lane_fail "no window on $display: $(cat "$log")"
lane_wait_tray_icon 5 || lane_fail "no icon in the tray on $display"
sleep 1 # a display tick: the clock
lane_shot 01-window-on-the-named-display
lane_log "without DISPLAY, -display $display: window and tray icon on $display"

# No stream: the tray menu's exit ends the program without a question.
lane_click_tray 3 1
sleep 0.5
xdotool key Up
sleep 0.1
xdotool key Return
lane_expect_exit "the tray menu's exit"
lane_log "passed; screenshots in $LANE_SHOTS"
