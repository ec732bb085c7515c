#!/usr/bin/env bash
# The settings dialogs on a real X server, opened through the main dialog's
# buttons with a Skype client (skypesim) giving the contact list: one
# screenshot of each dialog; Esc, and in the port dialog a typed port with
# Return, go through the X server; the port reaches the ini file. First the
# main window's controls, as X windows of their own, are checked to lie
# above the group boxes they overlap.
# settingsdialogs_lane.sh <settingsdialogs_lane program> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
helper=$(realpath "$1")
sim=$(realpath "$2")
lane_begin "$3"

root=$(mktemp -d /tmp/zorvane-dlglane-XXXXXX)
sim_pid=""
finish() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  lane_cleanup
  rm -rf "$root"
}
trap finish EXIT

mkdir -m 700 "$root/desktop"
mkdir "$root/program"
export ZORVANE_DESKTOP="$root/desktop"
"$sim" --user alice --contact bob --contact bob2 --contact carol >"$LANE_SHOTS/skypesim.log" 2>&1 &
sim_pid=$!
for i in $(seq 1 100); do
  grep -q '^skypesim ready' "$LANE_SHOTS/skypesim.log" && break
  sleep 0.1
done
grep -q '^skypesim ready' "$LANE_SHOTS/skypesim.log" || lane_fail "skypesim did not start"

# Waits for the dialog, takes it, and leaves it with the given keys.
take_dialog() {
  local log=$1 id=$2 caption=$3 shot=$4 window i
  shift 4
  lane_wait_log "$log" "^open $id " 10 || lane_fail "dialog $id did not open: $(cat "$log")"
  window=""
  for i in $(seq 1 50); do
    window=$(lane_window_named "$caption")
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || lane_fail "no visible window \"$caption\""
  xdotool windowraise "$window"
  sleep 1
  import -window "$window" "$LANE_SHOTS/$shot.png" || lane_fail "screenshot $shot failed"
  [ -n "${LANE_WM:-}" ] && check_owned "$window" "$caption" "$shot"
  xdotool windowfocus --sync "$window" 2>/dev/null
  for key in "$@"; do
    case $key in
      type:*) xdotool type --delay 40 "${key#type:}" ;;
      *) xdotool key "$key" ;;
    esac
    sleep 0.1
  done
}

# Under a window manager: the dialog is a dialog window owned by (transient
# for) the main window, lies over it, and asks for neither a minimise nor a
# maximise box; a screenshot of the screen with both.
check_owned() {
  local window=$1 caption=$2 shot=$3 main owner hints functions decorations
  main=$(lane_window_named ZorvaneForTcp) || lane_fail "no main window beside \"$caption\""
  owner=$(lane_transient_for "$window")
  [ -n "$owner" ] || lane_fail "\"$caption\" is owned by no window"
  [ $((owner)) -eq $((main)) ] || lane_fail "\"$caption\" is owned by $owner, not the main window $main"
  xprop -id "$window" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG ||
    lane_fail "\"$caption\" is no dialog window: $(xprop -id "$window" _NET_WM_WINDOW_TYPE)"
  hints=$(xprop -id "$window" _MOTIF_WM_HINTS | sed -n 's/.*= //p')
  functions=$(echo "$hints" | cut -d, -f2)
  decorations=$(echo "$hints" | cut -d, -f3)
  [ -n "$functions" ] && [ $((functions & 0x18)) -eq 0 ] && [ $((decorations & 0x60)) -eq 0 ] ||
    lane_fail "\"$caption\" asks for a minimise or maximise box: $hints"
  lane_centred_over "$window" "$main" ||
    lane_fail "\"$caption\" ($(lane_geometry "$window")) is not over the main window ($(lane_geometry "$main"))"
  lane_log "\"$caption\": owned by the main window, over it ($(lane_geometry "$window") in $(lane_geometry "$main"))"
  lane_shot "$shot-over-main-window"
}

# The main window's controls as X windows of their own: every control that
# overlaps a group box lies above it in the X server's stacking order (the
# "転送先設定" button among them).
check_stacking() {
  local log="$LANE_SHOTS/stacking.log" main result
  (cd "$root/program" && QT_USE_NATIVE_WINDOWS=1 exec "$helper" stacking stay) >"$log" 2>&1 &
  LANE_PID=$!
  lane_wait_log "$log" '^staying' 15 || lane_fail "the helper did not start: $(cat "$log")"
  main=$(lane_window_named ZorvaneForTcp) || lane_fail "no main window for the stacking check"
  # xwininfo lists the children top first; the helper bottom first.
  result=$(xwininfo -id "$main" -children | awk '
    FNR == NR {
      if ($1 == "stack") { n++; id[n] = $2; group[n] = $3; geo[n] = $6 "x" $7 "+" $4 "+" $5
                           x[n] = $4; y[n] = $5; w[n] = $6; h[n] = $7 }
      next
    }
    /^ +0x[0-9a-f]+ / && match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+/) {
      g = substr($0, RSTART, RLENGTH); top++; seen[g]++; depth[g] = top
    }
    END {
      for (a = 1; a <= n; a++) if (group[a] == 1 && seen[geo[a]] == 1)
        for (b = 1; b <= n; b++) if (group[b] == 0 && seen[geo[b]] == 1 &&
            x[b] < x[a] + w[a] && x[a] < x[b] + w[b] && y[b] < y[a] + h[a] && y[a] < y[b] + h[b]) {
          pairs++
          if (depth[geo[b]] > depth[geo[a]]) { bad++; print "control " id[b] " beneath the group box at " geo[a] }
        }
      print "pairs " pairs + 0 " beneath " bad + 0
    }' "$log" -)
  touch "$root/program/end"
  lane_end_program "$log"
  rm -f "$root/program/end"
  lane_log "stacking on the X server: $(echo "$result" | tail -n 1)"
  echo "$result" | grep -q '^pairs [1-9][0-9]* beneath 0$' || lane_fail "group boxes over controls: $result"
  echo "$result" | grep -q '^control 1058 ' && lane_fail "$result"
  return 0
}

# The server application: system settings, then forward settings (Esc ends both).
printf '[SYSTEM]\r\nAPPMODE=0\r\nSOUNDMODE=1\r\n[SERVER]\r\nFOWERDHOST2=web.example\r\nFOWERDPORT2=8080\r\n[CLIENT]\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\nFTPPORT=0\r\nHTTPPORT=0\r\nCVSPORT=0\r\nGENPORT1=0\r\nGENPORT2=0\r\n' \
  >"$root/program/ZorvaneForTcp.ini"
check_stacking
log="$LANE_SHOTS/server.log"
(cd "$root/program" && exec "$helper" 1055 1058) >"$log" 2>&1 &
LANE_PID=$!
lane_wait_log "$log" '^display xcb' 10 || lane_fail "the helper did not start on the display: $(cat "$log")"
lane_wait_log "$log" '^contacts ' 10 || lane_fail "the main dialog did not start: $(cat "$log")"
grep -q '^contacts 3$' "$log" || lane_log "contact list not complete: $(grep '^contacts' "$log")"
take_dialog "$log" 129 "システム設定" 01-system-settings Escape
lane_wait_log "$log" '^closed 1055' 5 || lane_fail "Esc did not end the system settings"
take_dialog "$log" 134 "転送設定ダイアログ" 02-forward-settings Escape
lane_wait_log "$log" '^closed 1058' 5 || lane_fail "Esc did not end the forward settings"
lane_end_program "$log"

# The client application: the port dialog of channel 1; a typed port and Return.
sed -i 's/^APPMODE=0/APPMODE=1/' "$root/program/ZorvaneForTcp.ini"
log="$LANE_SHOTS/client.log"
(cd "$root/program" && exec "$helper" 1115) >"$log" 2>&1 &
LANE_PID=$!
lane_wait_log "$log" '^contacts ' 10 || lane_fail "the main dialog did not start: $(cat "$log")"
take_dialog "$log" 138 "ポート設定" 03-port-setting ctrl+a type:18080 Return
lane_wait_log "$log" '^closed 1115' 5 || lane_fail "Return did not end the port dialog: $(cat "$log")"
grep -q '^closed 1115 1101=18080 ' "$log" || lane_fail "the typed port is not shown: $(grep '^closed' "$log")"
grep -q $'^HTTPPORT=18080\r$' "$root/program/ZorvaneForTcp.ini" || lane_fail "the typed port is not in the ini file"
lane_end_program "$log"
lane_log "passed; screenshots in $LANE_SHOTS"
