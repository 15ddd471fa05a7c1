#!/usr/bin/env bash
# SoftEther relays: their set-up (own mounts, the batch's hub, users, SecureNAT and ports), what a
# client meets on each (tunnel, pushed options, AUTH_FAILED, VERIFY ERROR, the cipher that must be
# named), stop and start, and a teardown that leaves no process, mount or namespace.
set -uo pipefail
. "$(dirname "$0")/testlib.sh"
skip_unless_lab_possible

export LAB_ID LAB_QUIET=1
LAB_ID=$(new_lab_id)
S=/run/orlune-lab/$LAB_ID
WORK=$(mktemp -d)
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT

start=$EPOCHREALTIME
"$LAB" up --owner $$ --description "$(dirname "$LAB")/scenarios/softether.lab" >/dev/null || { echo "FAIL - lab up"; exit 1; }
echo "# lab up took $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') s (6 SoftEther relays)"
relay_field() { awk -F'\t' -v n="$1" -v c="$2" '$2 == n { print $c }' "$S/relays.tsv"; }
server_pids() { local i; for i in 1 2 3 4 5 6; do ip netns pids "olab-$LAB_ID-r$i"; done; }
profile() { tr -d '\r' < "$S/public/profiles/$1.ovpn"; }

group "set-up: each server in its own mounts, configured by the batch"
pid=$(awk '{print $1}' "$S/pids/relay1")
check_eq "the server runs SoftEther's binary" /usr/libexec/softether/vpnserver/vpnserver "$(readlink "/proc/$pid/exe")"
check "its data directory is the relay's own" grep -q " /var/lib/softether " "/proc/$pid/mountinfo"
check_eq "this machine's data directory stays empty" "" "$(ls -A /var/lib/softether 2>/dev/null)"
check "the hub has the certificate user" grep -q 'VPNGateClientCert' "$S/relays/1/lib/vpn_server.config"
check "a refusing relay's hub lacks it" sh -c "! grep -q VPNGateClientCert '$S/relays/3/lib/vpn_server.config'"
check_eq "the profile's CA is the server's own certificate" "$(openssl x509 -noout -fingerprint < "$S/relays/1/server.crt")" \
  "$(profile se-udp-101 | sed -n '/<ca>/,/<\/ca>/p' | sed '1d;$d' | openssl x509 -noout -fingerprint)"
check "profiles are CRLF text of the public shape" grep -q $'^# OpenVPN 2.0 Sample Configuration File\r$' "$S/public/profiles/se-udp-101.ovpn"
check_eq "a profile as older servers write it names no data-ciphers" "" "$(profile se-old-105 | grep '^data-ciphers' || true)"
check "the admin port is closed to the client host" \
  sh -c "! '$LAB' exec -- timeout 2 bash -c 'exec 3<>/dev/tcp/198.51.100.11/5555'"

group "what a client meets (the engine run by hand on each profile)"
engine() { # name seconds [extra options...]: runs the engine on the relay's profile; its log in $WORK/NAME.log
  local name=$1 seconds=$2; shift 2
  "$LAB" exec -- timeout "$seconds" openvpn --config "$S/public/profiles/$name.ovpn" --auth-retry none \
    --log "$WORK/$name.log" "$@" >/dev/null 2>&1 &
}
wait_log() { local t=$(($2 * 10)); while [ $t -gt 0 ]; do grep -q -- "$3" "$WORK/$1.log" 2>/dev/null && return 0; sleep 0.1; t=$((t - 1)); done; return 1; }
for name in se-udp-101 se-tcp-102; do
  engine "$name" 20 --writepid "$WORK/$name.pid"
  if wait_log "$name" 15 "Initialization Sequence Completed"; then
    ok "$name ($(relay_field "$name" 4)): tunnel up"
    check_eq "$name: the echo sees the relay" "$(relay_field "$name" 3)" \
      "$("$LAB" exec -- curl -sS --max-time 5 --cacert "$S/public/ca.crt" https://192.0.2.41/ 2>/dev/null)"
  else not_ok "$name: tunnel up" "$(tail -3 "$WORK/$name.log")"; fi
  check "$name: pushes ping 3, ping-restart 10 and block-outside-dns" grep -q "PUSH_REPLY,ping 3,ping-restart 10,.*block-outside-dns" "$WORK/$name.log"
  kill "$(cat "$WORK/$name.pid")" 2>/dev/null; wait_log "$name" 5 "process exiting"
done
check "a noisy relay pushes its domain and a second DNS server" grep -q "dhcp-option DOMAIN vpngate.example,dhcp-option DNS [0-9.]*,dhcp-option DNS 192.0.2.53" "$WORK/se-tcp-102.log"
engine se-refuse-103 15; check "a hub without the certificate user answers AUTH_FAILED" wait_log se-refuse-103 12 "AUTH_FAILED"
engine se-untrust-104 6; check "an untrusted relay fails verification" wait_log se-untrust-104 5 "VERIFY ERROR"
engine se-old-105 8; check "without data-ciphers no cipher is agreed" wait_log se-old-105 7 "failed to negotiate cipher"
engine se-old-105 12 --data-ciphers AES-128-CBC --writepid "$WORK/old.pid"
check "with AES-128-CBC among the data ciphers it connects" wait_log se-old-105 10 "Initialization Sequence Completed"
kill "$(cat "$WORK/old.pid" 2>/dev/null)" 2>/dev/null
wait

group "stop and start"
check "relay stop ends the server" "$LAB" relay stop se-udp-101
check_eq "no process left in its namespace" "" "$(ip netns pids "olab-$LAB_ID-r1")"
check "relay start brings it back configured" "$LAB" relay start se-udp-101
check "its hub is there again" grep -q 'VPNGATE' "$S/relays/1/lib/vpn_server.config"
engine se-udp-101 15 --writepid "$WORK/again.pid"
check "a client connects again with the profile of before" wait_log se-udp-101 12 "Initialization Sequence Completed"
kill "$(cat "$WORK/again.pid" 2>/dev/null)" 2>/dev/null
wait

group "teardown"
mapfile -t pids < <(server_pids)
check_eq "every server ran before down" 1 "$([ ${#pids[@]} -ge 6 ] && echo 1)"
check_eq "the relays sent nothing outside the lab" 0 "$(for i in 1 2 3 4 5 6; do
  ip netns exec "olab-$LAB_ID-r$i" nft list counter inet olab_guard stopped; done | awk '/packets/ {n += $2} END {print n + 0}')"
"$LAB" down >/dev/null 2>&1
check_eq "no server process left" "" "$(live_among "${pids[@]}")"
check_lab_gone "$LAB_ID" "after down"
finish
