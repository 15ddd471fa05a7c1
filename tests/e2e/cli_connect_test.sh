#!/usr/bin/env bash
# The command line against the real service in the lab, as the lab's ordinary user: connect to
# a country whose best relay is down, hold the verified tunnel, then Ctrl-C, and check that the
# route and DNS are exactly as before.
# Usage: cli_connect_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
app=${1:?path of orlune-vpn}
service=${2:?path of orlune-vpn-service}
skip_unless_lab_possible

LAB_ID=$(new_lab_id)
export LAB_ID
LAB_SERVICE_CAPS=$(unit_capabilities)
export LAB_SERVICE_CAPS
work=$(mktemp -d)
cleanup() {
  pkill -INT -f "^${installed_app:-/nonexistent} connect" 2>/dev/null
  "$LAB" down >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

if ! "$LAB" up --description "$here/failover.lab" --owner $$ --service "$service" --app "$app" >"$work/up.log" 2>&1; then
  cat "$work/up.log"; echo "FAIL - the lab did not come up"; exit 1
fi
eval "$("$LAB" env)"
installed_app="$LAB_STATE/install/usr/bin/orlune-vpn"
good_relay=$(awk -F'\t' '$2 == "public-vpn-101" {print $3}' "$LAB_STATE/relays.tsv")

resolv_before=$("$LAB" exec -- cat /etc/resolv.conf)
route_before=$("$LAB" exec -- ip -4 route get 1.1.1.1)

group "connect JP: the dead best relay is tried first, the next one carries the tunnel"
"$LAB" exec --user -- "$installed_app" connect JP >"$work/out" 2>"$work/err" &
runner=$!
for _ in $(seq 1 180); do
  grep -q '^Connected' "$work/out" && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.5
done
connected=$(grep '^Connected' "$work/out" || true)
check_match "a Connected line" '^Connected to public-vpn-101 ' "$connected"
check_match "the public address is the relay's" "public address ${good_relay//./\\.}\\." "$connected"
check_match "the tunnel interface is named" ' through tun[0-9]+;' "$connected"
check "the dead relay was tried first" grep -q "trying vpn-down-111 · server 1 of 3" "$work/out"
resolv_during=$("$LAB" exec -- cat /etc/resolv.conf)
check_match "DNS names 1.1.1.1 while connected" 'nameserver 1\.1\.1\.1' "$resolv_during"
check_match "DNS names 8.8.8.8 while connected" 'nameserver 8\.8\.8\.8' "$resolv_during"
check_match "the route to 1.1.1.1 goes through the tunnel" 'dev tun[0-9]+' "$("$LAB" exec -- ip -4 route get 1.1.1.1)"
check_match "the service reports the tunnel" '"state":"connected"' "$("$LAB" exec --user -- "$installed_app" status --json)"

group "the dead relay is hidden from the recommendations"
servers=$("$LAB" exec --user -- "$installed_app" servers JP --json)
check_match "the healthy relays are listed" 'public-vpn-101' "$servers"
if [[ $servers == *vpn-down-111* ]]; then not_ok "vpn-down-111 is hidden" "$servers"; else ok "vpn-down-111 is hidden"; fi

group "Ctrl-C disconnects and gives everything back"
app_pid=$(pgrep -n -f "^$installed_app connect JP")
[ -n "$app_pid" ] && kill -INT "$app_pid"
status=0
wait "$runner" || status=$?
check_eq "the command line exits 0 after Ctrl-C" 0 "$status"
check "it said so" grep -q '^Disconnected\.' "$work/out"
check_eq "the route to 1.1.1.1 is as before" "$route_before" "$("$LAB" exec -- ip -4 route get 1.1.1.1)"
check_eq "resolv.conf is byte-identical to before" "$resolv_before" "$("$LAB" exec -- cat /etc/resolv.conf)"
check_match "the service has stopped the engine" '"state":"stopped"' "$("$LAB" exec --user -- "$installed_app" status --json)"

if [ "$FAILURES" -gt 0 ]; then
  echo "# stdout:"; sed 's/^/#   /' "$work/out"; echo "# stderr:"; sed 's/^/#   /' "$work/err"
fi
finish
