#!/usr/bin/env bash
# The lab as its users see it: isolation, every endpoint, the catalog, the staged faults, a real
# tunnel through a relay with the engine run by hand, the client host, the install step, and a
# complete clean-up.
set -uo pipefail
. "$(dirname "$0")/testlib.sh"
skip_unless_lab_possible

export LAB_ID
LAB_ID=$(new_lab_id)
LAB_QUIET=1
export LAB_QUIET
SCENARIO=$(dirname "$LAB")/scenarios/faults.lab
S=/run/orlune-lab/$LAB_ID
WORK=$(mktemp -d)
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT

links_before=$(root_links)
start=$EPOCHREALTIME
if ! "$LAB" up --owner $$ --description "$SCENARIO" >/dev/null; then
  echo "FAIL - lab up"; exit 1
fi
echo "# lab up took $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') s (10 relays)"

in_client() { "$LAB" exec -- "$@"; }
CURL=(curl -sS --max-time 5 --cacert "$S/public/ca.crt")
get() { in_client "${CURL[@]}" "$@" 2>/dev/null; }
relay_field() { awk -F'\t' -v n="$1" -v c="$2" '$2 == n { print $c }' "$S/relays.tsv"; }

group "isolation: the lab has no link to this machine's interfaces and only lab addresses"
check_eq "no new link in the machine's own namespace" "$links_before" "$(root_links)"
bad_addr="" bad_route="" in_lab='^(192\.0\.2|198\.51\.100|203\.0\.113)\.[0-9]+(/[0-9]+)?$'
for ns in $(ip netns list | awk '{print $1}' | grep -E "^olab-$LAB_ID-"); do
  for a in $(ip -n "$ns" -4 -o addr show | awk '$2 != "lo" {print $4}'); do
    [[ $a =~ $in_lab ]] || bad_addr+=" $ns:$a"
  done
  while read -r dst _ gw _; do
    [ "$dst" = default ] && dst=$gw
    [[ $dst =~ $in_lab ]] || bad_route+=" $ns:$dst"
  done < <(ip -n "$ns" -4 route show)
  [ "$(ip netns exec "$ns" sysctl -n net.ipv6.conf.all.disable_ipv6)" = 1 ] || bad_addr+=" $ns:ipv6-enabled"
  # IPv6 only on the client's link, from the documentation prefix or link-local.
  for a in $(ip -n "$ns" -6 -o addr show | awk '$2 != "lo" {print $4}'); do
    [[ $a =~ ^(2001:db8:|fe80:) && $ns =~ -(client|inet)$ ]] || bad_addr+=" $ns:$a"
  done
  while read -r dst _; do
    [[ $dst =~ ^(2001:db8:|fe80:|default|multicast) ]] || bad_route+=" $ns:$dst"
  done < <(ip -n "$ns" -6 route show)
done
check_eq "every address is a lab address and IPv6 is only on the client's link" "" "$bad_addr"
check_eq "every route leads to a lab address" "" "$bad_route"
check_eq "every namespace carries the guard" "" "$(for ns in $(ip netns list | awk '{print $1}' | grep -E "^olab-$LAB_ID-"); do
  ip netns exec "$ns" nft list counter inet olab_guard stopped >/dev/null 2>&1 || echo "$ns"; done)"
check_eq "the internet host has no default route" "" "$(ip -n "olab-$LAB_ID-inet" -4 route show default)"
link_kinds=$(for ns in $(ip netns list | awk '{print $1}' | grep -E "^olab-$LAB_ID-"); do
  ip -n "$ns" -d -o link show | grep -oE '(veth|bridge|bridge_slave|tun) ' ; done | sort -u | tr -d ' ' | tr '\n' ' ')
check_eq "links are only veth pairs, one bridge and the relays' tun devices" "bridge bridge_slave tun veth " "$link_kinds"

group "the services as the client host sees them"
check_eq "echo1 answers the client's address" "203.0.113.10" "$(get https://192.0.2.41/)"
check_eq "echo2 answers the client's address" "203.0.113.10" "$(get https://192.0.2.42/)"
check_eq "echo3 answers the client's address at /ip" "203.0.113.10" "$(get https://192.0.2.43/ip)"
check_eq "echo3 has nothing at /" "404" "$(get -o /dev/null -w '%{http_code}' https://192.0.2.43/)"
check_match "trace has an ip= line with the client's address" $'(^|\n)ip=203\\.0\\.113\\.10(\n|$)' "$(get https://192.0.2.30/cdn-cgi/trace)"
check_eq "generate_204 answers 204 with no body" "204:0" "$(get -o /dev/null -w '%{http_code}:%{size_download}' https://192.0.2.20/generate_204)"
check_eq "IP information names the client's country" "DE" "$(get https://192.0.2.50/203.0.113.10/country)"
check_eq "IP information tells the exit country of a relay" "KR" "$(get "https://192.0.2.50/$(relay_field vpn-elsewhere 3)/country")"
check_eq "IP information does not know other addresses" "404" "$(get -o /dev/null -w '%{http_code}' https://192.0.2.50/1.2.3.4/country)"
check "the certificate verifies against the lab CA only" in_client curl -sS --max-time 5 --cacert "$S/public/ca.crt" -o /dev/null https://192.0.2.41/
check "without the lab CA the certificate is refused" sh -c "! '$LAB' exec -- curl -sS --max-time 5 -o /dev/null https://192.0.2.41/"
endpoints=$(cat "$S/public/endpoints.json")
missing=""
for key in catalog connectivityCheck traceEcho plainEchoes ipInformation caCertificates; do
  [[ $endpoints == *"\"$key\": "* ]] || missing+=" $key"
done
check_eq "the endpoints file has every key" "" "$missing"
if command -v jq >/dev/null; then
  check_eq "endpoints file: plain echoes and the IP-information base" \
    "https://192.0.2.41/ https://192.0.2.42/ https://192.0.2.43/ip https://192.0.2.50/" \
    "$(jq -r '[.plainEchoes[], .ipInformation] | join(" ")' "$S/public/endpoints.json")"
fi

group "the catalog"
get https://192.0.2.10/api/iphone/ > "$WORK/catalog.csv"
check_eq "banner line" $'*vpn_servers\r' "$(sed -n 1p "$WORK/catalog.csv")"
check_eq "header line" $'#HostName,IP,Score,Ping,Speed,CountryLong,CountryShort,NumVpnSessions,Uptime,TotalUsers,TotalTraffic,LogType,Operator,Message,OpenVPN_ConfigData_Base64\r' "$(sed -n 2p "$WORK/catalog.csv")"
check_eq "closing line" $'*\r' "$(tail -n 1 "$WORK/catalog.csv")"
check_eq "every line ends in CR LF" "0" "$(grep -vc $'\r$' "$WORK/catalog.csv")"
check_eq "one row per listed relay (the hidden one is not listed)" "9" "$(($(wc -l < "$WORK/catalog.csv") - 3))"
check_eq "the hidden relay is absent" "0" "$(grep -c '^vpn-hidden-115,' "$WORK/catalog.csv")"
bad_rows=""
while IFS=, read -r host ip _ _ _ _ _ _ uptime _ _ _ _ _ b64 extra; do
  [[ $host == [\#*]* ]] && continue
  profile=$(printf '%s' "${b64%$'\r'}" | base64 -d 2>/dev/null | tr -d '\r')
  port=$(relay_field "$host" 5)
  grep -qx "remote $ip $port" <<< "$profile" || bad_rows+=" $host:remote"
  for block in ca cert key; do grep -qx "<$block>" <<< "$profile" || bad_rows+=" $host:$block"; done
  [ "$(grep -c '^remote ' <<< "$profile")" = 1 ] || bad_rows+=" $host:remotes"
  [[ $uptime =~ ^[0-9]+000$ ]] || bad_rows+=" $host:uptime"
  [ -z "$extra" ] || bad_rows+=" $host:columns"
done < "$WORK/catalog.csv"
check_eq "each row: 15 columns, one remote naming its IP and port, inline ca/cert/key, uptime in ms" "" "$bad_rows"
check "the unsafe relay's profile asks to run a program" grep -q '^up ' "$S/public/profiles/vpn-unsafe-114.ovpn"
check "a healthy relay's profile has no up line" sh -c "! grep -q '^up ' '$S/public/profiles/public-vpn-101.ovpn'"
"$LAB" catalog hide public-vpn-102
check_eq "a relay hidden at run time vanishes from the catalog" "0" "$(get https://192.0.2.10/api/iphone/ | grep -c '^public-vpn-102,')"
"$LAB" catalog show vpn-hidden-115
check_eq "a hidden relay shown at run time is listed" "1" "$(get https://192.0.2.10/api/iphone/ | grep -c '^vpn-hidden-115,')"
sample=$(dirname "$LAB")/../data/vpngate/vpngate_api_error_2026-08-21.txt
"$LAB" catalog serve "$sample"
get https://192.0.2.10/api/iphone/ > "$WORK/served"
check "a catalog file of the test's own is served byte for byte" cmp -s "$sample" "$WORK/served"
"$LAB" catalog generate
check_eq "generate returns to the relays' catalog" $'*vpn_servers\r' "$(get https://192.0.2.10/api/iphone/ | head -n 1)"

group "endpoint faults"
# fault | curl exit status | HTTP status | body pattern
while IFS='|' read -r fault want_rc want_code body; do
  "$LAB" fault echo2 "$fault"
  out=$(in_client "${CURL[@]}" --max-time 3 -w '\n%{http_code}' https://192.0.2.42/ 2>/dev/null); rc=$?
  check_eq "echo2 $fault: curl status and HTTP status" "$want_rc $want_code" "$rc ${out##*$'\n'}"
  [ -z "$body" ] || check_match "echo2 $fault: body" "$body" "$out"
done <<'EOF'
429|0|429|Too Many Requests
html|0|200|^<!DOCTYPE html>
hang|28|000|
silent|28|000|
refused|7|000|
empty|0|200|
blocked|7|000|
ok|0|200|^203\.0\.113\.10
EOF
check_eq "other endpoints keep answering while one is faulty" "203.0.113.10" "$(get https://192.0.2.41/)"

group "a real tunnel, the engine run by hand on generated profiles"
# Waits up to $3 seconds for a line matching $2 in file $1.
wait_log() {
  local i
  for ((i = 0; i < $3 * 20; i++)); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}
engine_start() { # relay [engine options...]
  local relay=$1; shift
  in_client openvpn --config "$S/public/profiles/$relay.ovpn" --daemon "olab-test-$relay" \
    --writepid "$WORK/$relay.pid" --log "$WORK/$relay.log" "$@" >/dev/null 2>&1
}
tunnel_up() { engine_start "$@" && wait_log "$WORK/$1.log" "Initialization Sequence Completed" 10; }
tunnel_down() { # relay
  local pid
  pid=$(cat "$WORK/$1.pid" 2>/dev/null) || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null
}
for relay in public-vpn-101 public-vpn-102 vpn-elsewhere; do
  addr=$(relay_field "$relay" 3)
  if ! tunnel_up "$relay"; then not_ok "$relay: tunnel up" "$(tail -n 5 "$WORK/$relay.log" 2>/dev/null)"; tunnel_down "$relay"; continue; fi
  ok "$relay ($(relay_field "$relay" 4)): tunnel up"
  check_match "$relay: the route to 1.1.1.1 goes through the tunnel" ' dev tun[0-9]+ ' "$(in_client ip -4 route get 1.1.1.1)"
  check_eq "$relay: every echo sees the relay's address" "$addr $addr $addr" \
    "$(get https://192.0.2.41/) $(get https://192.0.2.42/) $(get https://192.0.2.43/ip)"
  check_match "$relay: trace sees the relay's address" "ip=${addr//./\\.}" "$(get https://192.0.2.30/cdn-cgi/trace)"
  check_eq "$relay: IP information names the exit country" "$(relay_field "$relay" 10)" "$(get "https://192.0.2.50/$addr/country")"
  tunnel_down "$relay"
  check_eq "$relay: after the tunnel the echo sees the client again" "203.0.113.10" "$(get https://192.0.2.41/)"
done
check_eq "the catalog claims JP for the relay that exits elsewhere" "JP" "$(relay_field vpn-elsewhere 7)"
# The service runs the engine strictly: the relay's certificate must be a server's, AEAD ciphers
# first, a smaller tunnel MTU. The lab's relays must satisfy that too.
if tunnel_up public-vpn-102 --remote-cert-tls server --tun-mtu 1400 --mssfix 1360 \
    --data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305:AES-128-CBC --data-ciphers-fallback AES-128-CBC; then
  check_match "a strict client is served (server certificate, negotiated AEAD cipher)" "Data Channel: cipher 'AES-256-GCM'" "$(cat "$WORK/public-vpn-102.log")"
else
  not_ok "a strict client is served" "$(grep -E 'VERIFY|TLS Error|error' "$WORK/public-vpn-102.log" | head -n 3)"
fi
tunnel_down public-vpn-102

engine_start vpn-untrust-116
check "a relay with a certificate of another CA: VERIFY ERROR in the client's log" wait_log "$WORK/vpn-untrust-116.log" "VERIFY ERROR:" 5
check "... and TLS Error" wait_log "$WORK/vpn-untrust-116.log" "TLS Error:" 2
tunnel_down vpn-untrust-116
engine_start vpn-refuse-113
refuse_log=$S/logs/relay-$(relay_field vpn-refuse-113 1).log
check "a relay that refuses the client's certificate: VERIFY ERROR in its server log" wait_log "$refuse_log" "VERIFY ERROR" 5
tunnel_down vpn-refuse-113
check "... and the client sees no tunnel" sh -c "! grep -q 'Initialization Sequence Completed' '$WORK/vpn-refuse-113.log'"
check "the down relay runs no server" sh -c "'$LAB' status | grep -E '^ +vpn-down-111 .* no server'"

tunnel_up public-vpn-101
"$LAB" relay stop public-vpn-101
check "a relay that stops tells its connected client" wait_log "$WORK/public-vpn-101.log" "process restarting" 5
tunnel_down public-vpn-101
check "a stopped relay runs no server" sh -c "'$LAB' status | grep -E '^ +public-vpn-101 .* no server'"
"$LAB" relay start public-vpn-101
if tunnel_up public-vpn-101; then ok "a restarted relay carries a tunnel again"; else not_ok "a restarted relay carries a tunnel again"; fi
tunnel_down public-vpn-101
"$LAB" relay kill public-vpn-102
check "a killed relay runs no server" sh -c "'$LAB' status | grep -E '^ +public-vpn-102 .* no server'"
"$LAB" relay start public-vpn-102

"$LAB" link down
check "with the client's link down nothing is reachable" sh -c "! '$LAB' exec -- curl -sS --max-time 2 --cacert '$S/public/ca.crt' https://192.0.2.41/"
"$LAB" link up
check_eq "with the link back the echo answers again" "203.0.113.10" "$(get https://192.0.2.41/)"

group "the client host"
check_eq "its resolv.conf names the internet host" "nameserver 203.0.113.1" "$(in_client grep '^nameserver' /etc/resolv.conf)"
check_eq "its interfaces are lo and eth0 only" "eth0 lo" "$(in_client ls /sys/class/net | sort | tr '\n' ' ' | sed 's/ $//')"
for d in /run/orlune-vpn /var/lib/orlune-vpn; do
  check_eq "$d is its own tmpfs" "tmpfs" "$(in_client findmnt -n -o FSTYPE "$d")"
done
in_client touch /run/orlune-vpn/lab-probe
check "a file written there does not reach the machine" test ! -e /run/orlune-vpn/lab-probe
user_id=$("$LAB" exec --user -- id -u)
check_match "exec --user runs as an ordinary user" '^[0-9]+$' "$user_id"
[ "${user_id:-0}" -ge 1000 ] 2>/dev/null && ok "the ordinary user's uid is at least 1000" || not_ok "the ordinary user's uid is at least 1000" "$user_id"
check_eq "the user gets the endpoints file" "$S/public/endpoints.json" "$("$LAB" exec --user -- sh -c 'echo $ORLUNE_ENDPOINTS')"
check "the user cannot write the service's directories" sh -c "! '$LAB' exec --user -- touch /var/lib/orlune-vpn/x"
check_eq "the user's home is writable" "ok" "$("$LAB" exec --user -- sh -c 'touch "$HOME/probe" && echo ok')"

group "install (stand-in binaries)"
cat > "$WORK/service" <<'EOF'
#!/bin/sh
# Stand-in service: makes its socket path and waits.
: > /run/orlune-vpn/control.sock
exec sleep 300
EOF
printf '#!/bin/sh\necho stand-in app\n' > "$WORK/app"
chmod 775 "$WORK/service" "$WORK/app"
if "$LAB" install --service "$WORK/service" --app "$WORK/app" >/dev/null 2>&1; then ok "install"; else not_ok "install"; fi
app=$S/install/usr/bin/orlune-vpn
check_eq "the app copy is root's, mode 755" "root:root 755" "$(stat -c '%U:%G %a' "$app")"
check_eq "the service copy is root's, mode 755" "root:root 755" "$(stat -c '%U:%G %a' "$S/install/usr/libexec/orlune-vpn/orlune-vpn-service")"
check_eq "the manifest names the app and its SHA-256" \
  "{\"identifier\": \"$app\", \"cdhash\": \"$(sha256sum "$app" | cut -d' ' -f1)\"}" "$(in_client cat /var/lib/orlune-vpn/client.json)"
service_pid=$(awk '{print $1}' "$S/pids/service" 2>/dev/null)
check_eq "the service runs in the client host's network" "$(readlink "/proc/$(awk '{print $1}' "$S/pids/client-holder")/ns/net")" "$(readlink "/proc/$service_pid/ns/net" 2>/dev/null)"
check_eq "the service runs as root" "0" "$(ps -o uid= -p "$service_pid" | tr -d ' ')"
check "its socket path is in the client host" in_client test -e /run/orlune-vpn/control.sock
check "... and not on the machine" test ! -e /run/orlune-vpn/control.sock
check_eq "the user runs the installed app" "stand-in app" "$("$LAB" exec --user -- "$app")"
"$LAB" install --app "$WORK/app" --manifest-app-path /usr/bin/orlune-vpn >/dev/null 2>&1
check_match "the manifest can name another path" '"identifier": "/usr/bin/orlune-vpn"' "$(in_client cat /var/lib/orlune-vpn/client.json)"

group "down"
stopped=$(for ns in $(ip netns list | awk '{print $1}' | grep -E "^olab-$LAB_ID-"); do
  ip netns exec "$ns" nft list counter inet olab_guard stopped | awk -v ns="$ns" '/packets/ && $2 != 0 { print ns ": " $2 }'; done)
check_eq "after all that traffic the guard stopped nothing (no packet headed outside the lab)" "" "$stopped"
lab_pids=$(for ns in $(ip netns list | awk '{print $1}' | grep -E "^olab-$LAB_ID-"); do ip netns pids "$ns"; done | tr '\n' ' ')
check_match "the lab ran processes (nginx, relays, holder, service)" '[0-9]+ .*[0-9]+ .*[0-9]+ ' "$lab_pids"
"$LAB" down >/dev/null 2>&1
check_lab_gone "$LAB_ID" "after down"
# shellcheck disable=SC2086
check_eq "after down: no process of the lab" "" "$(live_among $lab_pids)"
check_eq "after down: the machine's links are as before" "$links_before" "$(root_links)"
check "down again succeeds" "$LAB" down

finish
