#!/usr/bin/env bash
# The lamps after this side's skypesim goes away: the client application's
# main window (truth_lane) with a download running through channel 1 to the
# server application (the program) shows L, C and P lit; its skypesim is
# killed; the status text says so, nothing listens on the local port any
# more, and every lamp is dark. A screenshot of the window before and after.
# lamps_lane.sh <truth_lane> <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
. "$here/truth_lane.sh"
truth_lane_begin "$@"
root=$ROOT
simport=$BASE web=$((BASE + 1)) local=$((BASE + 2))
head -c 40000000 /dev/zero >"$root/web/big.bin"
truth_web "$web"
# bob: channel 1 forwarded to the web server.
truth_two_sides "$simport" FOWERDHOST2=127.0.0.1 "FOWERDPORT2=$web"
alice_sim=$ALICE_SIM

# alice: the client application, channel 1 alone, connecting itself to bob.
printf '[SYSTEM]\r\nAPPMODE=1\r\nOPENWINDOW=0\r\nENABLEPORT1=0\r\nENABLEPORT3=0\r\nENABLEPORT4=0\r\nENABLEPORT5=0\r\n[CLIENT]\r\nHTTPPORT=%s\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\n' \
  "$local" >"$root/program-alice/ZorvaneForTcp.ini"
truth_start "$root/program-alice" "$root/desktop-alice"
lane_wait_file "$root/program-alice/LOG0.log" 'Skype STREAM は bob と' 30 ||
  lane_fail "no stream came up: $(cat "$root/program-alice/LOG0.log" 2>/dev/null)"

# Waits until the lamps named read the values given ("1034=1 1035=0").
wait_lamps() {
  local want=$1 i id value ok
  for i in $(seq 1 40); do
    truth_dump
    ok=yes
    for pair in $want; do
      id=${pair%=*} value=${pair#*=}
      [ "$(truth_lamp "$id")" = "$value" ] || ok=""
    done
    [ -n "$ok" ] && return 0
    sleep 0.25
  done
  return 1
}

# Listening: the L lamp of channel 1.
wait_lamps "1034=1" || lane_fail "channel 1's L lamp is not lit: $(grep '^lamps' "$TRUTH_LOG" | tail -n 1)"
truth_shot 01-listening
# A slow download keeps a connection up: C and P.
curl -s --limit-rate 200k -o /dev/null "http://127.0.0.1:$local/big.bin" &
lane_also_end $!
wait_lamps "1035=1 1049=1" ||
  lane_fail "C and P of channel 1 are not lit during the download: $(grep '^lamps' "$TRUTH_LOG" | tail -n 1)"
truth_shot 02-download-running
lane_log "listening: L lit; download running: C and P lit"

# This side's skypesim goes away.
kill "$alice_sim"
wait "$alice_sim" 2>/dev/null
lane_wait_log "$TRUTH_LOG" '^status 通信ドライバと未接続' 30 ||
  lane_fail "the status text does not say the link is lost: $(grep '^status' "$TRUTH_LOG")"
sleep 1.5 # three display ticks
ss -ltnH "sport = :$local" | grep -q . && lane_fail "port $local still listens: $(ss -ltnH "sport = :$local")"
truth_dump
lamps=$(grep '^lamps ' "$TRUTH_LOG" | tail -n 1)
echo "$lamps" | grep -q '=1' && lane_fail "lamps still lit after the link was lost: $lamps"
truth_shot 03-lamps-dark-after-the-skypesim-went-away
lane_log "skypesim killed: 通信ドライバと未接続, nothing listens on $local, every lamp dark"
truth_end
lane_log "passed; screenshots in $LANE_SHOTS"
