#!/usr/bin/env bash
# Local ports the client application cannot listen on: channel 1's port is
# held by another program (a web server), channel 2's is under 1024 and the
# program runs without the right to bind it; channel 3 works. The streams
# come up; the message line says, for each port in turn, that it cannot be
# opened and why (address in use, permission denied), and the log lines carry
# the reasons. A page through channel 3 makes the server application connect;
# when the link is cut, neither side writes a disconnect line for a port it
# never held or for port 0. A screenshot of each message.
# portinuse_lane.sh <truth_lane> <zorvanefortcp> <skypesim> <screenshot dir>
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lane.sh"
. "$here/truth_lane.sh"
truth_lane_begin "$@"
root=$ROOT
simport=$BASE web=$((BASE + 1)) held=$((BASE + 2)) open=$((BASE + 3))
low=$((900 + RANDOM % 100))
echo "through the tunnel" >"$root/web/page.txt"
truth_web "$web"
truth_web "$held" # the other program on channel 1's port
# bob: channel 3 forwarded to the web server.
truth_two_sides "$simport" FOWERDHOST4=127.0.0.1 "FOWERDPORT4=$web"
bob_sim=$BOB_SIM

# alice: the client application on channels 1 to 3, without the right to
# bind a port under 1024, connecting itself to bob.
printf '[SYSTEM]\r\nAPPMODE=1\r\nOPENWINDOW=0\r\nENABLEPORT1=0\r\nENABLEPORT5=0\r\n[CLIENT]\r\nHTTPPORT=%s\r\nCVSPORT=%s\r\nGENPORT1=%s\r\nAUTOCONNECT=1\r\nAUTOCONNECTUSER=bob\r\n' \
  "$held" "$low" "$open" >"$root/program-alice/ZorvaneForTcp.ini"
TRUTH_WRAP="setpriv --inh-caps=-net_bind_service --bounding-set=-net_bind_service --"
truth_start "$root/program-alice" "$root/desktop-alice"

first="message 設定１のポート${held}を開けません: アドレスは使用中です(10048)"
second="message 設定２のポート${low}を開けません: アクセス権がありません(10013)"
# As regular expressions: the parentheses stand for themselves.
re() { printf '%s' "$1" | sed 's/[()]/\\&/g'; }
lane_wait_log "$TRUTH_LOG" "^$(re "$first")\$" 30 || lane_fail "no word of port $held: $(grep '^message' "$TRUTH_LOG")"
truth_shot 01-port-in-use
lane_wait_log "$TRUTH_LOG" "^$(re "$second")\$" 10 || lane_fail "no word of port $low: $(grep '^message' "$TRUTH_LOG")"
truth_shot 02-permission-denied
lane_log "message line: ${first#message }, then ${second#message }"
alice_log="$root/program-alice/LOG0.log"
grep -qF "サーバソケット作成失敗: ポート番号=$held アドレスは使用中です(10048)" "$alice_log" ||
  lane_fail "the log line of port $held has no reason: $(grep 'サーバソケット' "$alice_log")"
grep -qF "サーバソケット作成失敗: ポート番号=$low アクセス権がありません(10013)" "$alice_log" ||
  lane_fail "the log line of port $low has no reason: $(grep 'サーバソケット' "$alice_log")"

# Channel 3 carries a page; the server application connected for it.
page=""
for i in $(seq 1 100); do
  page=$(curl -s --max-time 5 "http://127.0.0.1:$open/page.txt") && [ "$page" = "through the tunnel" ] && break
  sleep 0.1
done
[ "$page" = "through the tunnel" ] || lane_fail "no page through port $open: \"$page\""
bob_log="$root/program-bob/LOG0.log"
lane_wait_file "$bob_log" "TCP接続: 127.0.0.1 ポート番号=$web" 10 || lane_fail "the server application did not connect"

# The link is cut: bob's skypesim goes away, the streams end at both sides.
kill "$bob_sim"
wait "$bob_sim" 2>/dev/null
lane_wait_file "$alice_log" 'Skype STREAM .*(を切断|をキャンセル)' 30 || lane_fail "alice's streams did not end: $(tail -n 5 "$alice_log")"
lane_wait_file "$bob_log" 'Skype STREAM .*(を切断|をキャンセル)' 30 || lane_fail "bob's streams did not end: $(tail -n 5 "$bob_log")"
sleep 1
for port in $held $low; do
  grep -q "TCP切断: ポート番号=$port\$" <(tr -d '\r' <"$alice_log") &&
    lane_fail "a disconnect line for port $port, never listened on: $(grep 'TCP切断' "$alice_log")"
done
grep -q "ポート番号=0\$" <(tr -d '\r' <"$bob_log") && lane_fail "the server application logs port 0: $(grep 'ポート番号=0' "$bob_log")"
truth_dump
truth_shot 03-after-the-link-was-cut
lane_log "link cut: no disconnect line for $held or $low, none of port 0 on the server application"
truth_end
lane_log "passed; screenshots in $LANE_SHOTS"
