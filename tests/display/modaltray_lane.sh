#!/usr/bin/env bash
# The tray icon while a modal window is open, under a window manager that
# gives dialogs a minimise button: the about box and the exit question. A
# right click on the icon opens its menu, a double click or the menu's first
# entry brings the modal window back in front of the main window and active,
# also after the modal window was minimised (which iconifies the main window
# with it). The client application under test has streams up to a server
# application (offscreen: its tray icon is not on the display).
# modaltray_lane.sh <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
program=$(readlink -f "$1")
sim=$(readlink -f "$2")
: "${LANE_WM:=openbox}"
lane_begin "$3"

lane_make_root zorvane-modaltray
root=$LANE_ROOT
port=$((47800 + RANDOM % 500))
lane_make_sides
ln -s "$program" "$root/program-alice/zorvanefortcp"
ln -s "$program" "$root/program-bob/zorvanefortcp"
# alice: the client application, shown, connecting itself to bob on channel 1.
printf '[SYSTEM]\r\nAPPMODE=1\r\nOPENWINDOW=0\r\nENABLEPORT1=0\r\nENABLEPORT3=0\r\nENABLEPORT4=0\r\nENABLEPORT5=0\r\n[CLIENT]\r\nHTTPPORT=0\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\n' \
  >"$root/program-alice/ZorvaneForTcp.ini"
printf '[SYSTEM]\r\nAPPMODE=0\r\nENABLEUSER=1\r\n' >"$root/program-bob/ZorvaneForTcp.ini"
lane_start_skypesims "$sim" "$root" "$port"
ZORVANE_DESKTOP="$root/desktop-bob" QT_QPA_PLATFORM=offscreen "$root/program-bob/zorvanefortcp" \
  >"$LANE_SHOTS/server.log" 2>&1 &
lane_also_end $!

log="$LANE_SHOTS/client.log"
ZORVANE_DESKTOP="$root/desktop-alice" lane_run "$log" "$root/program-alice/zorvanefortcp" -D119
lane_wait_tray_icon 10 || lane_fail "no icon in the tray: $(cat "$log")"

# The main window: the program's visible window with its caption and the
# main window's size (the tray icon's own window may carry the same name).
main_window() {
  local id width
  for id in $(xdotool search --onlyvisible --pid "$LANE_PID" --name '^ZorvaneForTcp$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed -n 's/^WIDTH=//p')
    [ -n "$width" ] && [ "$width" -gt 300 ] && { echo "$id"; return 0; }
  done
  return 1
}
wait_for() { # <seconds> <command...>: true once the command is
  local end=$(( $(date +%s%N) + $1 * 1000000000 ))
  shift
  while [ "$(date +%s%N)" -lt "$end" ]; do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
iconic() { [ "$(wm_state "$1")" = Iconic ]; }
normal() { [ "$(wm_state "$1")" = Normal ]; }
active_window() { xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p'; }
is_active() { local a; a=$(active_window); [ -n "$a" ] && [ $((a)) -eq $(($1)) ]; }
# True when window $1 lies above window $2 in the window manager's stacking.
above() {
  local list i=0 pos1=-1 pos2=-1 id
  list=$(xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null | sed 's/.*# //; s/,/ /g')
  for id in $list; do
    [ $((id)) -eq $(($1)) ] && pos1=$i
    [ $((id)) -eq $(($2)) ] && pos2=$i
    i=$((i + 1))
  done
  [ "$pos1" -ge 0 ] && [ "$pos2" -ge 0 ] && [ "$pos1" -gt "$pos2" ]
}
# The modal window $1 is shown over the main window $2 and has the keys.
in_front() { normal "$1" && normal "$2" && is_active "$1" && above "$1" "$2"; }
expect_in_front() { # <modal> <main> <what>
  wait_for 5 in_front "$1" "$2" ||
    lane_fail "$3: the modal window is not back in front (state $(wm_state "$1"), main $(wm_state "$2"), active $(active_window), modal $1)"
  sleep 0.5 # the window manager's restore animation
  lane_centred_over "$1" "$2" ||
    lane_fail "$3: the modal window ($(lane_geometry "$1")) is not over the main window ($(lane_geometry "$2"))"
}
# A right click on the icon opens the menu; its first entry shows the window.
tray_menu_open() {
  local before
  before=$(lane_visible_windows)
  lane_click_tray 3 1
  lane_wait_more_windows "$before" 5 || lane_fail "$1: the right click on the icon opened no menu"
  sleep 0.3
  [ -n "${2:-}" ] && lane_shot "$2"
  xdotool key Down
  sleep 0.1
  xdotool key Return
}
# Minimises a window through the window manager (what its minimise button
# does); the window manager iconifies a shown owner with it.
minimise() { # <window> <main, when shown>
  xdotool windowminimize "$1"
  wait_for 5 iconic "$1" || lane_fail "the window manager did not minimise $1"
  [ -z "${2:-}" ] || wait_for 5 iconic "$2" || lane_fail "the main window was not iconified with its modal window"
}

main=""
wait_for 5 main_window >/dev/null && main=$(main_window)
[ -n "$main" ] || lane_fail "no main window: $(cat "$log")"
lane_wait_file "$root/program-alice/LOG0.log" 'Skype STREAM は bob と' 30 ||
  lane_fail "no stream came up: $(cat "$root/program-alice/LOG0.log" 2>/dev/null)"

# The about box, from the system menu (a right click on the window's background).
read -r x y w h <<<"$(lane_geometry "$main")"
xdotool mousemove $((x + w - 12)) $((y + h - 6))
sleep 0.2
xdotool click 3
sleep 0.5
xdotool key Up
sleep 0.1
xdotool key Return
about=""
for i in $(seq 1 50); do
  about=$(lane_window_named "zorvaneForTcpのﾊﾞｰｼﾞｮﾝ情報") && break
  sleep 0.1
done
[ -n "$about" ] || lane_fail "the about box did not open"
expect_in_front "$about" "$main" "the about box opened"

tray_menu_open "about box open" 01-tray-menu-over-the-about-box
expect_in_front "$about" "$main" "about box, the tray menu's first entry"
lane_log "about box open: the tray menu opens, its first entry keeps the about box in front"

minimise "$about" "$main"
lane_shot 02-about-box-minimised
lane_click_tray 1 2
expect_in_front "$about" "$main" "about box minimised, a double click on the icon"
lane_shot 03-about-box-back
lane_log "about box minimised: a double click on the icon brings it back in front"

minimise "$about" "$main"
tray_menu_open "about box minimised"
expect_in_front "$about" "$main" "about box minimised, the tray menu's first entry"
lane_log "about box minimised: the tray menu's first entry brings it back in front"
xdotool key Return # OK
wait_for 5 bash -c "! xprop -id $about WM_STATE >/dev/null 2>&1 || [ -z \"\$(xprop -id $about WM_STATE 2>/dev/null | grep Normal)\" ]" ||
  lane_fail "OK did not close the about box"

# The window hidden (Esc), the tray menu's exit entry asks the question;
# $question is its window.
ask_with_window_hidden() {
  local i id owner
  xdotool windowfocus --sync "$main" 2>/dev/null
  xdotool key Escape
  wait_for 5 bash -c "! xdotool search --onlyvisible --pid $LANE_PID --name '^ZorvaneForTcp\$' 2>/dev/null | grep -qx $((main))" ||
    lane_fail "Esc did not hide the window"
  lane_click_tray 3 1
  sleep 0.5
  xdotool key Up
  sleep 0.1
  xdotool key Return
  question=""
  for i in $(seq 1 50); do
    for id in $(xdotool search --onlyvisible --pid "$LANE_PID" 2>/dev/null); do
      owner=$(lane_transient_for "$id")
      [ -n "$owner" ] && [ $((owner)) -eq $((main)) ] && { question=$id; return 0; }
    done
    sleep 0.1
  done
  lane_fail "the exit question did not open"
}

ask_with_window_hidden
lane_shot 04-exit-question-window-hidden
lane_click_tray 1 2
expect_in_front "$question" "$main" "exit question, a double click on the icon"
lane_shot 05-exit-question-over-the-window
lane_log "exit question: a double click on the icon shows the window with the question in front"

# No; asked again with the window hidden, and minimised: nothing of the
# program is seen until the icon brings both back.
xdotool key Escape
wait_for 5 bash -c "! xdotool search --onlyvisible --pid $LANE_PID 2>/dev/null | grep -qx $((question))" ||
  lane_fail "No did not close the exit question"
kill -0 "$LANE_PID" 2>/dev/null || lane_fail "No ended the program"
ask_with_window_hidden
minimise "$question"
lane_shot 06-exit-question-minimised
lane_click_tray 1 2
expect_in_front "$question" "$main" "exit question minimised, a double click on the icon"
lane_shot 07-exit-question-back
lane_log "exit question minimised with the window hidden: a double click on the icon brings both back"

# Yes ends the program.
xdotool key Return
lane_expect_exit "Yes to the exit question"
lane_log "passed; screenshots in $LANE_SHOTS"
