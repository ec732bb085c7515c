#!/usr/bin/env bash
# The main window on a real X server with trayer as the tray: the icon
# appears, a double click shows the window, a right click opens the tray
# menu, a tray restart brings the icon back within 5 seconds; a screenshot of
# the window in each mode (client, server) with a tunnel up between them.
# maindialog_lane.sh <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
program=$(readlink -f "$1")
sim=$(readlink -f "$2")
lane_begin "$3"

lane_make_root zorvane-lane
root=$LANE_ROOT
server_pid=""

port=$((47300 + RANDOM % 500))
lane_make_sides
ln -s "$program" "$root/program-alice/zorvanefortcp"
ln -s "$program" "$root/program-bob/zorvanefortcp"
# alice: client application, started hidden, connects itself to bob; local
# ports of its own, the FTP channel (port 21) off.
printf '[SYSTEM]\r\nAPPMODE=1\r\nOPENWINDOW=1\r\nENABLEPORT1=0\r\n[CLIENT]\r\nHTTPPORT=18181\r\nCVSPORT=18182\r\nGENPORT1=18183\r\nGENPORT2=18184\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\n' \
  >"$root/program-alice/ZorvaneForTcp.ini"
# bob: server application, shown at start, accepting any contact of its list.
printf '[SYSTEM]\r\nAPPMODE=0\r\nENABLEUSER=1\r\n' >"$root/program-bob/ZorvaneForTcp.ini"

lane_start_skypesims "$sim" "$root" "$port"

window_of() { lane_main_window "$1"; }
wait_window() {
  local pid=$1 i
  for i in $(seq 1 50); do
    window_of "$pid" | grep -q . && return 0
    sleep 0.1
  done
  return 1
}
wait_hidden() {
  local pid=$1 i
  for i in $(seq 1 50); do
    window_of "$pid" | grep -q . || return 0
    sleep 0.1
  done
  return 1
}
shot_window() {
  local id
  id=$(window_of "$1")
  [ -n "$id" ] || lane_fail "no window to take for $2"
  xdotool windowraise "$id"
  sleep 0.5
  import -window "$id" "$LANE_SHOTS/$2.png" || lane_fail "screenshot $2 failed"
}

client_log="$LANE_SHOTS/client.log"
# The toolkit's own -display switch goes to the toolkit; the program sees -D119 alone.
ZORVANE_DESKTOP="$root/desktop-alice" lane_run "$client_log" "$root/program-alice/zorvanefortcp" -display "$DISPLAY" -D119
client=$LANE_PID
lane_wait_log "$client_log" '^display: xcb' 10 || lane_fail "the program did not start on the display: $(cat "$client_log")"
lane_wait_log "$client_log" '^1番目の引数=-D119$' 5 || lane_fail "the program's switches are not what the toolkit left: $(grep '番目の引数' "$client_log")"
lane_wait_tray_icon 5 || lane_fail "the icon did not appear in the tray: $(cat "$client_log")"
sleep 1
window_of "$client" | grep -q . && lane_fail "the window shows although it started hidden"
lane_shot 01-tray-icon

# A double click on the icon shows the window.
lane_click_tray 1 2
wait_window "$client" || lane_fail "no window after the double click on the icon"
lane_log "double click: window shown"

# Esc hides it again (the program stays in the tray).
xdotool windowfocus --sync "$(window_of "$client")" 2>/dev/null
xdotool key Escape
wait_hidden "$client" || lane_fail "Esc did not hide the window"
kill -0 "$client" 2>/dev/null || lane_fail "Esc ended the program"

# A right click opens the tray menu (a popup window of the program); its
# first entry shows the window.
before=$(lane_visible_windows)
lane_click_tray 3 1
lane_wait_more_windows "$before" 5 || lane_fail "the right click on the icon opened no menu"
sleep 0.3
lane_shot 02-tray-menu
xdotool key Down
sleep 0.1
xdotool key Return
wait_window "$client" || lane_fail "the tray menu's first entry did not show the window"
lane_log "right click: menu, first entry shows the window"

# The tray restarts: the icon is back within 5 seconds.
lane_kill_tray
sleep 1
lane_tray_icon | grep -q . && lane_fail "the icon is still there without a tray"
lane_start_tray
start=$(date +%s%N)
lane_wait_tray_icon 5 || lane_fail "the icon did not come back within 5 s"
lane_log "icon back after $(( ($(date +%s%N) - start) / 1000000 )) ms"

# The server application, and the tunnel between them: both windows in each mode.
server_log="$LANE_SHOTS/server.log"
ZORVANE_DESKTOP="$root/desktop-bob" "$root/program-bob/zorvanefortcp" -D119 >"$server_log" 2>&1 &
server_pid=$!
lane_also_end "$server_pid"
wait_window "$server_pid" || lane_fail "the server application's window did not show: $(cat "$server_log")"
for i in $(seq 1 200); do
  [ "$(grep -c 'Skype STREAM は bob と.*で接続' "$root/program-alice/LOG0.log" 2>/dev/null)" -ge 4 ] && break
  sleep 0.1
done
[ "$(grep -c 'Skype STREAM は bob と.*で接続' "$root/program-alice/LOG0.log" 2>/dev/null)" -ge 4 ] ||
  lane_fail "the four enabled channels did not connect: $(cat "$root/program-alice/LOG0.log")"
sleep 2 # two display ticks: the lamps and the clock
shot_window "$client" 03-client-application
shot_window "$server_pid" 04-server-application
lane_shot 05-screen

# The tray menu's exit entry asks first while streams exist; Return answers
# yes. The first icon of the tray belongs to either program after the tray's
# restart: that one ends, with status 0, and the other runs on.
lane_click_tray 3 1
sleep 0.5
xdotool key Up
sleep 0.1
xdotool key Return
sleep 1
lane_shot 06-exit-question
if [ -n "${LANE_WM:-}" ]; then
  # The question is owned by its program's main window, lies over it and
  # carries the program's name.
  question="" asker="" owner=""
  for pid in $client $server_pid; do
    for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
      owner=$(lane_transient_for "$id")
      if [ -n "$owner" ]; then
        question=$id asker=$pid
        break 2
      fi
    done
  done
  [ -n "$question" ] || lane_fail "the exit question is owned by no window"
  [ "$(xdotool getwindowname "$question")" = ZorvaneForTcp ] ||
    lane_fail "the exit question is titled \"$(xdotool getwindowname "$question")\""
  main=$(window_of "$asker")
  [ $((owner)) -eq $((main)) ] || lane_fail "the exit question is owned by $owner, not its main window $main"
  lane_centred_over "$question" "$main" ||
    lane_fail "the exit question ($(lane_geometry "$question")) is not over its main window ($(lane_geometry "$main"))"
  lane_log "exit question: titled ZorvaneForTcp, owned by its main window, over it"
fi
xdotool key Return
ended=""
for i in $(seq 1 50); do
  kill -0 "$client" 2>/dev/null || { ended=$client; break; }
  kill -0 "$server_pid" 2>/dev/null || { ended=$server_pid; break; }
  sleep 0.1
done
[ -n "$ended" ] || lane_fail "the exit entry did not end a program"
wait "$ended"
status=$?
[ "$status" -eq 0 ] || lane_fail "the program ended with status $status"
if [ "$ended" = "$client" ]; then
  LANE_PID=""
  kill -0 "$server_pid" 2>/dev/null || lane_fail "the server application ended too"
else
  server_pid=""
  kill -0 "$client" 2>/dev/null || lane_fail "the client application ended too"
fi
lane_log "passed; screenshots in $LANE_SHOTS"
