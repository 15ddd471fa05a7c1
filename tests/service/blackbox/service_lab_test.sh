#!/bin/bash
# One real tunnel: the installed service, confined as its unit confines it, starts Debian's
# OpenVPN against a lab relay, reports "connected" on the tunnel that carries the whole default
# route, with the engine holding CAP_NET_ADMIN alone, and "disconnect" gives the route and DNS
# back. Everything happens inside a lab (network namespaces with documentation addresses
# only); the lab is removed at the end, also after a failure.
#
# usage: service_lab_test.sh SERVICE_BINARY TEST_CLIENT
# Exit status: 0 passed, 1 failed, 77 skipped (no root, namespaces or tun devices).
set -u
service_binary=$1 client_binary=$2
LAB=$(cd "$(dirname "$0")/../../lab" && pwd)/lab

[ "$(id -u)" -eq 0 ] || { echo "SKIP: the lab needs root"; exit 77; }
probe="olab-probe-$$"
ip netns add "$probe" 2>/dev/null || { echo "SKIP: network namespaces are unavailable"; exit 77; }
ip netns del "$probe"
{ exec 9<>/dev/net/tun; } 2>/dev/null || { echo "SKIP: /dev/net/tun is unusable"; exit 77; }
exec 9>&-
command -v openvpn >/dev/null || { echo "SKIP: openvpn is not installed (scripts/bootstrap lab)"; exit 77; }

LAB_ID="s$(head -c 3 /dev/urandom | od -An -tx1 | tr -d ' \n')"
export LAB_ID LAB_QUIET=1
unit=$(cd "$(dirname "$0")/../../../packaging" && pwd)/orlune-vpn.service
LAB_SERVICE_CAPS=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit" | tr ' ' '\n' | sed 's/^CAP_//' | tr 'A-Z' 'a-z' | paste -sd, -)
export LAB_SERVICE_CAPS
S=/run/orlune-lab/$LAB_ID
holder=
cleanup() {
  [ -z "$holder" ] || kill "$holder" 2>/dev/null
  "$LAB" down >/dev/null 2>&1
}
trap cleanup EXIT

failures=0
check() { # description command...
  local what=$1; shift
  if "$@"; then echo "ok - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}
field() { sed -n "s/^$1=//p" <<<"$2"; }

"$LAB" up --owner $$ --service "$service_binary" --app "$client_binary" >/dev/null || { echo "FAIL - lab up"; exit 1; }
app=$S/install/usr/bin/orlune-vpn
relay=public-vpn-101
address=$(awk -F'\t' -v n="$relay" '$2 == n { print $3 }' "$S/relays.tsv")
route() { "$LAB" exec -- ip -4 route get 1.1.1.1 | sed -n 's/.* dev \([^ ]*\).*/\1/p'; }
as_user() { "$LAB" exec --user -- "$app" "$@"; }

resolv_before=$("$LAB" exec -- cat /etc/resolv.conf)
check "before: the route to 1.1.1.1 leaves through eth0" [ "$(route)" = eth0 ]

# The owner stays alive while the tunnel is up, as the app would.
"$LAB" exec --user -- "$app" hold connect "$S/public/profiles/$relay.ovpn" "$address" > "$S/hold.out" 2>&1 &
holder=$!
for _ in $(seq 100); do grep -q '^state=' "$S/hold.out" && break; sleep 0.05; done
check "connect answers connecting ($(tr '\n' ' ' < "$S/hold.out"))" grep -q '^state=connecting$' "$S/hold.out"

reply=
for _ in $(seq 60); do
  reply=$(as_user request status)
  [ "$(field state "$reply")" = connecting ] || break
  sleep 0.5
done
check "status reaches connected ($(tr '\n' ' ' <<<"$reply"))" [ "$(field state "$reply")" = connected ]
check "on tun0" [ "$(field interface "$reply")" = tun0 ]
check "the route to 1.1.1.1 goes through the tunnel" [ "$(route)" = tun0 ]
check "both halves of the default route go through the tunnel" \
  [ "$("$LAB" exec -- ip -4 route show table main | grep -cE '^(0|128)\.0\.0\.0/1 via .* dev tun0')" = 2 ]
engine=$("$LAB" exec -- cat /var/lib/orlune-vpn/state/engine.pid)
caps=$(grep '^Cap' "/proc/$engine/status" | tr -s '\t\n' ' ')
echo "# the running engine's capabilities: $caps"
check "the engine holds CAP_NET_ADMIN alone (effective, permitted, ambient)" \
  grep -q 'CapPrm: 0000000000001000 CapEff: 0000000000001000 .*CapAmb: 0000000000001000' <<<"$caps"
log_size=$("$LAB" exec -- stat -c %s /var/lib/orlune-vpn/state/engine.log)
check "the engine log is written through the service (${log_size} bytes)" [ "$log_size" -gt 0 ]
check "DNS points at the tunnel's resolvers" grep -q '^nameserver 1.1.1.1$' <<<"$("$LAB" exec -- cat /etc/resolv.conf)"
check "the reply names the engine actually installed" [ "$(field engineVersion "$reply")" = "$(openvpn --version | head -n 1 | awk '{print $2}')" ]

reply=$(as_user request disconnect)
check "disconnect answers stopped" [ "$(field state "$reply")" = stopped ]
check "after: the route to 1.1.1.1 leaves through eth0 again" [ "$(route)" = eth0 ]
check "after: resolv.conf is byte-identical" [ "$("$LAB" exec -- cat /etc/resolv.conf)" = "$resolv_before" ]
check "after: status is stopped" [ "$(field state "$(as_user request status)")" = stopped ]

[ $failures -eq 0 ] || { echo "$failures check(s) failed; service log:"; tail -n 20 "$S/logs/service.log"; exit 1; }
echo "the real tunnel came up and went away cleanly"
