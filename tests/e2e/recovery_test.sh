#!/usr/bin/env bash
# What happens around a held tunnel, against the real programs in one lab (the scenarios follow
# each other, each starting from a clean state):
#  1. a second ordinary user is refused while the first one's tunnel runs, which stays up;
#  2. the app killed with SIGKILL: the service notices, stops the engine and gives DNS back;
#  3. the client's link goes down: the app reports the loss and the tunnel is stopped; when the
#     link returns the app connects to the same country again;
#  4. the service killed with SIGKILL: the engine and the DNS change it leaves behind are cleaned
#     up when it starts again, before it serves anyone.
# Usage: recovery_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
e2e_up "$here/../lab/default.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"
other_user=orlune-lab2
resolv_before=$(resolv)
route_before=$(route_to_1111)

connect_jp() { # run name
  start_connect "$1" JP
  if wait_for_line "$WORK/$1.out" '^Connected' 90 "$RUNNER"; then
    ok "$1: connected to Japan"
  else
    not_ok "$1: connected to Japan"; e2e_finish "$1"; exit 1
  fi
}
restored() { no_engine && resolv_is "$resolv_before"; }

group "a second ordinary user is refused while the first one's tunnel runs"
connect_jp first
# The other account exists and is ordinary (uid >= 1000), like the lab user.
LAB_USER=$other_user "$LAB" exec --user -- true 2>/dev/null
check_match "$other_user is an ordinary user" '^[0-9]+$' "$(id -u "$other_user")"
out=$(service_state "$other_user"); status=$?
check_eq "status as $other_user exits 1" 1 "$status"
check_match "status as $other_user is refused" 'Another user owns the active VPN connection\.' "$out"
start_connect second KR "$other_user"
wait "$RUNNER"; status=$?
check_eq "connect as $other_user exits 3 (not connected)" 3 "$status"
check_match "connect as $other_user is refused" \
  '^KOREA REPUBLIC OF — profile setup needs attention\. Another user owns the active VPN connection\.' "$(cat "$WORK/second.err")"
check_match "the first user's tunnel still runs" '"state":"connected"' "$(service_state)"
check_match "its DNS is still in place" 'nameserver 1\.1\.1\.1' "$(resolv)"

group "the app killed with SIGKILL: the service stops the engine and restores DNS"
first_runner=$RUNNER
kill -KILL "$(app_pid)"
if took=$(time_until 10 restored); then
  ok "engine stopped and resolv.conf byte-identical after ${took} s"
  check "within about two seconds" awk -v t="$took" 'BEGIN { exit !(t <= 4) }'
else
  not_ok "engine stopped and resolv.conf restored within 10 s" "$(resolv)"
fi
check_eq "the route to 1.1.1.1 is as before" "$route_before" "$(route_to_1111)"
check_match "the service is idle" '"state":"stopped"' "$(service_state)"
check_match "$other_user may ask again" '"state":"stopped"' "$(service_state "$other_user")"
wait "$first_runner" 2>/dev/null

group "the link goes down while connected: loss reported, tunnel stopped; back: same country again"
connect_jp link
"$LAB" link down
if wait_for_line "$WORK/link.err" 'No Internet Connection: the physical network interface went down\. Orlune VPN is stopping the tunnel safely\.' 30 "$RUNNER"; then
  ok "the app reports the loss"
else
  not_ok "the app reports the loss"
fi
if took=$(time_until 20 restored); then ok "the tunnel is stopped and DNS restored (${took} s after the report)"; else not_ok "the tunnel is stopped and DNS restored"; fi
check_match "the service is idle" '"state":"stopped"' "$(service_state)"
"$LAB" link up
# The second Connected line: the path monitor sees the link return, the reconnection runs the
# whole connect flow again (within the health timer's 15 s at the latest).
reconnected=0
for _ in $(seq 1 450); do
  [ "$(grep -c '^Connected' "$WORK/link.out")" -ge 2 ] && { reconnected=1; break; }
  kill -0 "$RUNNER" 2>/dev/null || break
  sleep 0.2
done
check_eq "the app connected again after the link returned" 1 "$reconnected"
check_match "to the same country" '^Connected to public-vpn-10[0-9] \(Japan, ' "$(grep '^Connected' "$WORK/link.out" | tail -n 1)"
check_match "the service reports the tunnel" '"state":"connected"' "$(service_state)"
kill -INT "$(app_pid)" 2>/dev/null
wait "$RUNNER"; status=$?
check_eq "Ctrl-C: exit 0" 0 "$status"
check "engine stopped, resolv.conf byte-identical" restored
check_eq "the route to 1.1.1.1 is as before" "$route_before" "$(route_to_1111)"

group "the service killed with SIGKILL while connected, then started again"
connect_jp crash
crashed=$(service_pid)
kill -KILL "$crashed"
# The app goes too, so nothing but the restarted service acts on what the crash left.
kill -KILL "$(app_pid)"
wait "$RUNNER" 2>/dev/null
# A supervisor starts the service again once the old process has ended.
time_until 10 process_gone "$crashed" >/dev/null || not_ok "the killed service ended"
check "the engine outlived the service" test -n "$(engine_pids)"
check_match "so did its DNS change" 'nameserver 1\.1\.1\.1' "$(resolv)"
started=$(date +%s%N)
check "the service starts again" "$LAB" service start
took=$(awk -v d=$(($(date +%s%N) - started)) 'BEGIN { printf "%.1f", d / 1e9 }')
check "once it serves again (${took} s), the engine is gone and resolv.conf byte-identical" restored
check_eq "the route to 1.1.1.1 is as before" "$route_before" "$(route_to_1111)"
check_match "the service is idle" '"state":"stopped"' "$(service_state)"

e2e_finish first second link crash
