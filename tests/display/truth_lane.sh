#!/usr/bin/env bash
# Helpers of the lanes that watch the main window through truth_lane (source
# after lane.sh): the program's output is TRUTH_LOG, its directory TRUTH_DIR.
#   truth_start <dir> <desktop>   # starts truth_lane there (LANE_PID), behind
#                                 # the words of TRUTH_WRAP when set
#   truth_dump                    # the lamps and the log list, printed afresh
#   truth_lamp <id>               # a lamp of the last dump: 0 or 1
#   truth_window                  # the main window (not the tray icon's window)
#   truth_shot <name>             # <shots>/<name>.png of the main window
#   truth_end                     # ends truth_lane, status 0
# A lane script begins with truth_lane_begin "$@" (its arguments:
# <truth_lane> <zorvanefortcp> <skypesim> <screenshot dir>).
TRUTH_LOG=""
TRUTH_DIR=""
TRUTH_HELPER=""
TRUTH_WRAP=""

truth_start() {
  TRUTH_DIR=$1
  TRUTH_LOG="$LANE_SHOTS/$(basename "$1").log"
  rm -f "$1/end" "$1/dump"
  # shellcheck disable=SC2086 # TRUTH_WRAP is a list of words
  (cd "$1" && ZORVANE_DESKTOP="$2" exec $TRUTH_WRAP "$TRUTH_HELPER") >"$TRUTH_LOG" 2>&1 &
  LANE_PID=$!
  lane_wait_log "$TRUTH_LOG" '^running' 15 || lane_fail "the main window did not start: $(cat "$TRUTH_LOG")"
}

truth_dump() {
  local before i
  before=$(grep -c '^dumped' "$TRUTH_LOG")
  touch "$TRUTH_DIR/dump"
  for i in $(seq 1 50); do
    [ "$(grep -c '^dumped' "$TRUTH_LOG")" -gt "$before" ] && return 0
    sleep 0.1
  done
  lane_fail "no dump: $(tail -n 5 "$TRUTH_LOG")"
}

truth_lamp() {
  grep '^lamps ' "$TRUTH_LOG" | tail -n 1 | tr ' ' '\n' | sed -n "s/^$1=//p"
}

# The log list of the last dump, one line each.
truth_list() {
  awk '/^lamps / { n = 0; delete l } /^log / { l[++n] = substr($0, 5) } END { for (i = 1; i <= n; ++i) print l[i] }' \
    "$TRUTH_LOG"
}

truth_window() { lane_main_window "$LANE_PID"; }

truth_shot() {
  local id i
  for i in $(seq 1 50); do
    id=$(truth_window) && break
    sleep 0.1
  done
  [ -n "$id" ] || lane_fail "no main window to take for $1"
  xdotool windowraise "$id"
  sleep 0.5
  import -window "$id" "$LANE_SHOTS/$1.png" || lane_fail "screenshot $1 failed"
}

truth_end() {
  touch "$TRUTH_DIR/end"
  lane_end_program "$TRUTH_LOG"
}

# A skypesim of <user> on <desktop> with the other arguments; its pid in SIM_PID.
truth_skypesim() {
  local user=$1 desktop=$2 i
  shift 2
  ZORVANE_DESKTOP="$desktop" "$TRUTH_SIM" --user "$user" "$@" >"$LANE_SHOTS/skypesim-$user.log" 2>&1 &
  SIM_PID=$!
  lane_also_end "$SIM_PID"
  for i in $(seq 1 100); do
    grep -q '^skypesim ready' "$LANE_SHOTS/skypesim-$user.log" && return 0
    sleep 0.1
  done
  lane_fail "skypesim $user did not start"
}

# The lane's start: the tools, the display, and for two sides (alice the
# client application, bob the server application with the program linked
# in) a desktop and a program directory each below ROOT; ports from BASE on.
truth_lane_begin() {
  local tool
  TRUTH_HELPER=$(realpath "$1")
  TRUTH_PROGRAM=$(realpath "$2")
  TRUTH_SIM=$(realpath "$3")
  lane_begin "$4"
  for tool in curl ss setpriv; do
    command -v "$tool" >/dev/null || { lane_log "skipped: $tool is missing"; exit 77; }
  done
  lane_make_root zorvane-truth
  ROOT=$LANE_ROOT
  BASE=$((20000 + RANDOM % 20000))
  lane_make_sides
  ln -s "$TRUTH_PROGRAM" "$ROOT/program-bob/zorvanefortcp"
  mkdir "$ROOT/web"
}

# A web server on 127.0.0.1:<port> serving ROOT/web.
truth_web() {
  local i
  /usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$ROOT/web" "$1" >"$LANE_SHOTS/web-$1.log" 2>&1 &
  lane_also_end $!
  for i in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  lane_fail "the web server on $1 did not start"
}

# bob's skypesim listening on <port> and alice's reaching him there
# (BOB_SIM, ALICE_SIM); then bob, the server application (the program) with
# the ini lines given, accepting any contact.
truth_two_sides() {
  local port=$1
  shift
  truth_skypesim bob "$ROOT/desktop-bob" --contact alice --listen "127.0.0.1:$port"
  BOB_SIM=$SIM_PID
  truth_skypesim alice "$ROOT/desktop-alice" --contact "bob@127.0.0.1:$port"
  ALICE_SIM=$SIM_PID
  {
    printf '[SYSTEM]\r\nAPPMODE=0\r\nENABLEUSER=1\r\nOPENWINDOW=1\r\n[SERVER]\r\n'
    printf '%s\r\n' "$@"
  } >"$ROOT/program-bob/ZorvaneForTcp.ini"
  ZORVANE_DESKTOP="$ROOT/desktop-bob" "$ROOT/program-bob/zorvanefortcp" >"$LANE_SHOTS/server.log" 2>&1 &
  lane_also_end $!
}
