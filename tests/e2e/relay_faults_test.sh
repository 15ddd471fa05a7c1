#!/usr/bin/env bash
# Relays that fail, against the real programs in the lab, as the lab's ordinary user:
#  1. a profile that asks to run a program is refused by the app; the service never sees it;
#  2. a relay exiting in the wrong country and one whose certificate the client refuses both
#     fail with their own reasons, strictly within the chosen country, and are hidden after;
#  3. a mismatched best relay is skipped and the next relay of the country carries the tunnel;
#  4. relays that push host routes only, or logging, echo texts, routes and DNS: the tunnel is
#     routed by the client alone and carries the whole default route; the rest is ignored;
#  5. a profile without data-ciphers, to a relay that negotiates no cipher, still connects.
# Usage: relay_faults_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
e2e_up "$here/relay_faults.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"
resolv_before=$(resolv)
route_before=$(route_to_1111)

group "an unsafe profile is refused by the app before the service sees it"
start_connect unsafe KR
wait "$RUNNER"; status=$?
check_eq "connect KR exits 3 (not connected)" 3 "$status"
check "the unsafe relay was tried" grep -q "trying vpn-unsafe-214 · server 1 of 1" "$WORK/unsafe.out"
check_match "the failure names the relay and the refusal" \
  "KOREA REPUBLIC OF — CONNECTION FAILED / NO WORKING SERVER\. Tried 1 live relays in Korea Republic of; no other country was attempted\. vpn-unsafe-214: The server profile was rejected because its contents or endpoint could not be safely verified\." \
  "$(cat "$WORK/unsafe.err")"
# The service creates the engine log and configuration only when it accepts a connect.
check_eq "the service never received a profile (no engine log, no configuration)" "" \
  "$("$LAB" exec -- ls /var/lib/orlune-vpn/state/)"
check "no engine was started" no_engine
check_eq "resolv.conf was never touched" "$resolv_before" "$(resolv)"

group "wrong exit country and a refused certificate: both fail, within the country, and are hidden"
start_connect us US
wait "$RUNNER"; status=$?
err=$(cat "$WORK/us.err")
check_eq "connect US exits 3 (not connected)" 3 "$status"
check_match "both relays were tried, nothing else" "Tried 2 live relays in United States; no other country was attempted\." "$err"
check_match "the exit country was checked" "vpn-us-elsewhere: The VPN exit country was KR, but US" "$err"
check_match "the certificate refusal is named" "vpn-us-untrust: .*(TLS|certificate)" "$err"
check "the engine is stopped" no_engine
check_eq "resolv.conf is byte-identical to before" "$resolv_before" "$(resolv)"
check_eq "the route to 1.1.1.1 is as before" "$route_before" "$(route_to_1111)"
check_eq "both are hidden from the recommendations" "[]" \
  "$("$LAB" exec --user -- "$APP" servers US --json)"

group "a mismatched best relay is skipped; the next one of the same country carries the tunnel"
start_connect jp JP
wait_for_line "$WORK/jp.out" '^Connected' 90 "$RUNNER"
check "vpn-elsewhere was tried first" grep -q "trying vpn-elsewhere · server 1 of 2" "$WORK/jp.out"
check_match "public-vpn-101 carries the tunnel" '^Connected to public-vpn-101 \(Japan, ' "$(grep '^Connected' "$WORK/jp.out")"
kill -INT "$(app_pid)" 2>/dev/null
wait "$RUNNER"; status=$?
check_eq "Ctrl-C: exit 0" 0 "$status"
servers=$("$LAB" exec --user -- "$APP" servers JP --json)
check_match "public-vpn-101 stays recommended" 'public-vpn-101' "$servers"
if [[ $servers == *vpn-elsewhere* ]]; then not_ok "vpn-elsewhere is hidden" "$servers"; else ok "vpn-elsewhere is hidden"; fi
check_eq "resolv.conf is byte-identical to before" "$resolv_before" "$(resolv)"

client_routes() { "$LAB" exec -- ip -4 route show table main; }
engine_log() { "$LAB" exec -- cat /var/lib/orlune-vpn/state/engine.log; }
# Connects to the only relay of COUNTRY, checks the routes the tunnel leaves, then Ctrl-C.
connect_through_pushy_relay() { # name country relay
  start_connect "$1" "$2"
  if ! wait_for_line "$WORK/$1.out" '^Connected' 90 "$RUNNER"; then
    not_ok "$3 carries a verified tunnel"; kill -INT "$(app_pid)" 2>/dev/null; wait "$RUNNER"; return 1
  fi
  ok "$3 carries a verified tunnel"
  routes=$(client_routes)
  check_match "both halves of the default route go through the tunnel" '0\.0\.0\.0/1 via [0-9.]+ dev tun0' "$routes"
  check_match "(the upper half too)" '128\.0\.0\.0/1 via [0-9.]+ dev tun0' "$routes"
  if grep -Eq '^(1\.1\.1\.1|8\.8\.8\.8|192\.0\.2\.0/25) ' <<<"$routes"; then
    not_ok "no pushed route was installed" "$routes"
  else
    ok "no pushed route was installed"
  fi
  # Traffic through the tunnel, which a pushed verbosity would log packet by packet.
  "$LAB" exec -- ping -q -c 50 -i 0.02 -W 1 192.0.2.20 >/dev/null 2>&1
  log=$(engine_log)
  check "the engine log stays small after 50 pings (${#log} bytes)" [ "${#log}" -lt 100000 ]
  if grep -Eq '^[0-9: -]*(echo|ECHO)' <<<"$log"; then not_ok "no echo text reached the log"; else ok "no echo text reached the log"; fi
  kill -INT "$(app_pid)" 2>/dev/null
  wait "$RUNNER"; status=$?
  check_eq "Ctrl-C: exit 0" 0 "$status"
  check_eq "resolv.conf is byte-identical to before" "$resolv_before" "$(resolv)"
  check_eq "the route to 1.1.1.1 is as before" "$route_before" "$(route_to_1111)"
}

group "a relay that pushes host routes and no redirect: the client routes everything itself"
connect_through_pushy_relay routes FR vpn-fr-routes

group "a relay that pushes logging, echo texts, a route and DNS: all ignored"
connect_through_pushy_relay noise GB vpn-gb-noise

group "a profile without data-ciphers: the service names the relay's cipher itself"
connect_through_pushy_relay old IT vpn-it-old

e2e_finish unsafe us jp routes noise old
