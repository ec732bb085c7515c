#!/usr/bin/env bash
# The real display lane's harness: an Xvfb server, trayer as the system tray,
# xdotool for clicks and keys, ImageMagick's import for screenshots.
# Source it from a lane script:
#   . tests/display/lane.sh
#   lane_begin <screenshot dir>     # Xvfb and trayer; exits 77 (skip) when a tool is missing
#   lane_run <log> <program> [args] # starts the program on the display (LANE_PID)
#   lane_wait_log <log> <regex> [s] # waits for a line in the program's output
#   lane_click_tray [button] [repeat]  # clicks the first icon of the tray
#   lane_shot <name>                # <dir>/<name>.png of the whole screen
#   lane_kill_tray / lane_start_tray
#   lane_window_visible <name>      # a mapped window with that title exists
#   lane_visible_windows / lane_wait_more_windows <count>  # popups of the program
#   lane_window_named <caption>     # the program's visible window with that caption
#   lane_start_skypesims <skypesim> <root> <port>  # bob listening, alice his contact
#   lane_end_program <log>          # waits for its "end" line and a status of 0
#   lane_make_root <name>           # LANE_ROOT: a scratch directory, removed at the end
#   lane_also_end <pid>             # a process of the script's, ended at the end
# The display is the first free one from LANE_FIRST_DISPLAY (90) to
# LANE_LAST_DISPLAY (140).
# With LANE_WM=openbox the lane runs under that window manager (title bars,
# placement, owned windows as a user's desktop has them); skipped without it.
# Everything started here is ended when the script exits.
set -uo pipefail

LANE_DISPLAY=""
LANE_XVFB_PID=""
LANE_TRAY_PID=""
LANE_PID=""
LANE_WM_PID=""
LANE_SIM_PIDS=""
LANE_OTHER_PIDS=""
LANE_ROOT=""
LANE_SHOTS=""

lane_log() { echo "lane: $*" >&2; }
lane_fail() { lane_log "FAIL: $*"; exit 1; }

lane_cleanup() {
  for pid in $LANE_PID $LANE_OTHER_PIDS $LANE_SIM_PIDS $LANE_TRAY_PID $LANE_WM_PID $LANE_XVFB_PID; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  [ -n "$LANE_ROOT" ] && rm -rf "$LANE_ROOT"
}

lane_begin() {
  LANE_SHOTS="$1"
  local tools="Xvfb trayer xdotool import xwininfo"
  [ -n "${LANE_WM:-}" ] && tools="$tools $LANE_WM xprop"
  for tool in $tools; do
    if ! command -v "$tool" >/dev/null; then
      lane_log "skipped: $tool is missing (scripts/bootstrap installs it)"
      exit 77
    fi
  done
  mkdir -p "$LANE_SHOTS"
  trap lane_cleanup EXIT
  # Lanes start side by side: a number that looked free may be taken by
  # another lane's Xvfb a moment later, and then ours exits: try the next.
  local n i
  for n in $(seq "${LANE_FIRST_DISPLAY:-90}" "${LANE_LAST_DISPLAY:-140}"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    LANE_XVFB_PID=$!
    for i in $(seq 1 200); do
      kill -0 "$LANE_XVFB_PID" 2>/dev/null || break
      DISPLAY=":$n" xwininfo -root >/dev/null 2>&1 && { LANE_DISPLAY=":$n"; break; }
      sleep 0.05
    done
    # The answer may have come from the other lane's server: ours still runs
    # a moment later only where the number is its own.
    [ -n "$LANE_DISPLAY" ] && sleep 0.3
    if [ -n "$LANE_DISPLAY" ] && kill -0 "$LANE_XVFB_PID" 2>/dev/null; then
      break
    fi
    kill "$LANE_XVFB_PID" 2>/dev/null
    LANE_DISPLAY=""
  done
  [ -n "$LANE_DISPLAY" ] || lane_fail "Xvfb did not start on a free display number"
  export DISPLAY="$LANE_DISPLAY"
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  xsetroot_color
  if [ -n "${LANE_WM:-}" ]; then
    "$LANE_WM" >/dev/null 2>&1 &
    LANE_WM_PID=$!
    for i in $(seq 1 200); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.05
    done
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || lane_fail "$LANE_WM did not start"
  fi
  lane_start_tray
}

# The window a window is transient for (its owner), empty when none.
lane_transient_for() {
  xprop -id "$1" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p'
}

# "x y width height" of a window on the screen (without the frame).
lane_geometry() {
  xwininfo -id "$1" 2>/dev/null | awk '
    /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }'
}

# True when the middle of window $1 lies inside window $2.
lane_centred_over() {
  local x y w h ox oy ow oh
  read -r x y w h <<<"$(lane_geometry "$1")"
  read -r ox oy ow oh <<<"$(lane_geometry "$2")"
  local cx=$((x + w / 2)) cy=$((y + h / 2))
  [ "$cx" -gt "$ox" ] && [ "$cx" -lt $((ox + ow)) ] && [ "$cy" -gt "$oy" ] && [ "$cy" -lt $((oy + oh)) ]
}

# A grey desktop instead of Xvfb's black one, when xsetroot exists.
xsetroot_color() {
  if command -v xsetroot >/dev/null; then xsetroot -solid "#5a6e82" 2>/dev/null; fi
}

lane_start_tray() {
  trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 32 \
    --SetDockType false --transparent false --tint 0xdddddd --distance 0 >/dev/null 2>&1 &
  LANE_TRAY_PID=$!
  local i
  for i in $(seq 1 100); do
    lane_tray_window >/dev/null && return 0
    sleep 0.05
  done
  lane_fail "trayer did not start"
}

lane_kill_tray() {
  [ -n "$LANE_TRAY_PID" ] || return 0
  kill "$LANE_TRAY_PID" 2>/dev/null
  wait "$LANE_TRAY_PID" 2>/dev/null
  LANE_TRAY_PID=""
}

# trayer's panel window (instance "panel", class "trayer").
lane_tray_window() {
  xdotool search --classname '^panel$' 2>/dev/null | head -n 1 | grep .
}

# The first icon embedded in the tray: "x y width height" on the screen.
lane_tray_icon() {
  local tray
  tray=$(lane_tray_window) || return 1
  # The icon is the smallest mapped descendant of the tray window.
  xwininfo -id "$tray" -tree 2>/dev/null | awk '
    /^ +0x[0-9a-f]+ / {
      if (match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+/)) {
        g = substr($0, RSTART, RLENGTH); split(g, p, /[x+ ]+/)
        w = p[1]; h = p[2]; ax = p[5]; ay = p[6]
        if (w >= 8 && h >= 8 && w <= 64 && h <= 64) { print ax, ay, w, h; exit }
      }
    }'
}

lane_wait_tray_icon() {
  local seconds=${1:-5} end
  end=$(( $(date +%s%N) + seconds * 1000000000 ))
  while [ "$(date +%s%N)" -lt "$end" ]; do
    lane_tray_icon | grep -q . && return 0
    sleep 0.1
  done
  return 1
}

lane_click_tray() {
  local button=${1:-1} repeat=${2:-1} geometry x y w h
  geometry=$(lane_tray_icon) || lane_fail "no icon in the tray"
  [ -n "$geometry" ] || lane_fail "no icon in the tray"
  read -r x y w h <<<"$geometry"
  xdotool mousemove $((x + w / 2)) $((y + h / 2))
  sleep 0.2
  xdotool click --repeat "$repeat" --delay 60 "$button"
}

lane_run() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  LANE_PID=$!
}

# Waits until <file> (any process's) has a line matching <regex>.
lane_wait_file() {
  local file=$1 pattern=$2 seconds=${3:-30} i
  for i in $(seq 1 $((seconds * 10))); do
    grep -Eq -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# The lane's program ends by itself within 5 s, with status 0; <what> names
# the step that should have ended it.
lane_expect_exit() {
  local what=$1 i status
  for i in $(seq 1 50); do
    kill -0 "$LANE_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$LANE_PID" 2>/dev/null && lane_fail "$what did not end the program"
  wait "$LANE_PID"
  status=$?
  LANE_PID=""
  [ "$status" -eq 0 ] || lane_fail "the program ended with status $status"
}

lane_wait_log() {
  local log=$1 pattern=$2 seconds=${3:-10} end
  end=$(( $(date +%s%N) + seconds * 1000000000 ))
  while [ "$(date +%s%N)" -lt "$end" ]; do
    grep -Eq -- "$pattern" "$log" 2>/dev/null && return 0
    if [ -n "$LANE_PID" ] && ! kill -0 "$LANE_PID" 2>/dev/null; then
      grep -Eq -- "$pattern" "$log" 2>/dev/null && return 0
      return 1
    fi
    sleep 0.05
  done
  return 1
}

# The number of mapped windows of the program (its dialog, an open menu ...).
lane_visible_windows() {
  xdotool search --onlyvisible --pid "$LANE_PID" 2>/dev/null | wc -l
}

# Waits until the program maps more than <count> windows (a popup opened).
lane_wait_more_windows() {
  local count=$1 seconds=${2:-5} end
  end=$(( $(date +%s%N) + seconds * 1000000000 ))
  while [ "$(date +%s%N)" -lt "$end" ]; do
    [ "$(lane_visible_windows)" -gt "$count" ] && return 0
    sleep 0.05
  done
  return 1
}

lane_window_visible() {
  xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1
}

lane_shot() {
  import -window root "$LANE_SHOTS/$1.png" 2>/dev/null || lane_log "screenshot $1 failed"
}

# The visible main window of process <pid> (the lane's program by default):
# the one with the main window's caption, wider than the tray icon's own
# small window, which may carry the same name.
lane_main_window() {
  local pid=${1:-$LANE_PID} id width
  for id in $(xdotool search --all --onlyvisible --pid "$pid" --name '^ZorvaneForTcp$' 2>/dev/null); do
    width=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed -n 's/^WIDTH=//p')
    if [ -n "$width" ] && [ "$width" -gt 200 ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

lane_window_named() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$LANE_PID" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
  done
  return 1
}

# Two Skype clients (<skypesim>) on the desktops <root>/desktop-bob and <root>/desktop-alice:
# bob listens on 127.0.0.1:<port>, alice reaches him there; logs beside the
# screenshots.
lane_start_skypesims() {
  local sim=$1 root=$2 port=$3 who i
  ZORVANE_DESKTOP="$root/desktop-bob" "$sim" --user bob --contact alice --listen "127.0.0.1:$port" \
    >"$LANE_SHOTS/skypesim-bob.log" 2>&1 &
  LANE_SIM_PIDS="$LANE_SIM_PIDS $!"
  ZORVANE_DESKTOP="$root/desktop-alice" "$sim" --user alice --contact "bob@127.0.0.1:$port" \
    >"$LANE_SHOTS/skypesim-alice.log" 2>&1 &
  LANE_SIM_PIDS="$LANE_SIM_PIDS $!"
  for who in alice bob; do
    for i in $(seq 1 100); do
      grep -q '^skypesim ready' "$LANE_SHOTS/skypesim-$who.log" && break
      sleep 0.1
    done
    grep -q '^skypesim ready' "$LANE_SHOTS/skypesim-$who.log" || lane_fail "skypesim $who did not start"
  done
}

lane_end_program() {
  local log=$1 status
  lane_wait_log "$log" '^end' 10 || lane_fail "the program did not end: $(tail -n 5 "$log")"
  wait "$LANE_PID"
  status=$?
  LANE_PID=""
  [ "$status" -eq 0 ] || lane_fail "the program ended with status $status"
}

lane_make_root() { LANE_ROOT=$(mktemp -d "/tmp/$1-XXXXXX"); }
# Below LANE_ROOT a desktop and a program directory for alice and bob.
lane_make_sides() {
  local who
  for who in alice bob; do
    mkdir -m 700 "$LANE_ROOT/desktop-$who"
    mkdir "$LANE_ROOT/program-$who"
  done
}
lane_also_end() { LANE_OTHER_PIDS="$LANE_OTHER_PIDS $1"; }
