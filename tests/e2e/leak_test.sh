#!/usr/bin/env bash
# Leak probes in every connection state, with the block settings off and then on. A prober in
# the client host sends, as the ordinary user, TCP, UDP, ICMP and UDP-53 packets over IPv4 and
# IPv6 to addresses outside the tunnel, without a pause; nftables counters on the internet
# host's client-facing link count what arrives there beside the tunnel (every packet that is not
# for a relay's VPN port). The counters are read and reset at each change of state, and the
# table (state x probe x setting) is printed. With both settings on, every state between Connect
# and Disconnect must show 0. Then: after Disconnect, after a killed service is started again and
# after the app is killed, no table of ours is left and the ordinary network works.
# Usage: leak_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
e2e_up "$here/leak.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"

INET=olab-$LAB_ID-inet
PROBE4=192.0.2.99 PROBE6=2001:db8:2::99 DNS4=203.0.113.1 DNS6=2001:db8:1::1
PROBES=(tcp4 udp4 icmp4 dns4 tcp6 udp6 icmp6 dns6)
ip netns exec "$INET" sysctl -qw net.ipv6.conf.lo.disable_ipv6=0
ip -n "$INET" addr add "$PROBE4/32" dev lo
ip -n "$INET" -6 addr add "$PROBE6/128" dev lo nodad

ip netns exec "$INET" nft -f - <<NFT
table inet olab_leak {
$(for p in "${PROBES[@]}" other; do echo "  counter $p { }"; done)
  chain count {
    type filter hook prerouting priority raw; policy accept;
    iifname != "cl-$LAB_ID" return
    ip daddr $PROBE4 tcp dport 9 counter name tcp4 return
    ip daddr $PROBE4 udp dport 9 counter name udp4 return
    ip daddr $PROBE4 icmp type echo-request counter name icmp4 return
    ip daddr $DNS4 udp dport 53 counter name dns4 return
    ip6 daddr $PROBE6 tcp dport 9 counter name tcp6 return
    ip6 daddr $PROBE6 udp dport 9 counter name udp6 return
    ip6 daddr $PROBE6 icmpv6 type echo-request counter name icmp6 return
    ip6 daddr $DNS6 udp dport 53 counter name dns6 return
    # The link's own business: neighbour discovery, link-local and multicast.
    ip6 daddr { fe80::/10, ff00::/8 } return
    icmpv6 type { nd-neighbor-solicit, nd-neighbor-advert, nd-router-solicit } return
    ip daddr 198.51.100.0/24 udp dport 1194 return
    ip daddr 198.51.100.0/24 tcp dport 443 return
    counter name other
  }
}
NFT

# The prober: one round of all eight probes after another, as the lab user, each round
# appending a line to rounds.log, until the file stop exists.
PROBER_STOP=$WORK/prober.stop
start_prober() {
  rm -f "$PROBER_STOP"
  install -m 666 /dev/null "$WORK/rounds.log"
  LAB_USER=orlune-lab "$LAB" exec --user -- bash -c '
    while [ ! -e "$1" ]; do
      timeout 1 bash -c "exec 3<>/dev/tcp/$2/9" 2>/dev/null
      echo probe 2>/dev/null >"/dev/udp/$2/9"
      ping -n -c1 -W1 "$2" >/dev/null 2>&1
      echo probe 2>/dev/null >"/dev/udp/$3/53"
      timeout 1 bash -c "exec 3<>/dev/tcp/$4/9" 2>/dev/null
      echo probe 2>/dev/null >"/dev/udp/$4/9"
      ping -n -6 -c1 -W1 "$4" >/dev/null 2>&1
      echo probe 2>/dev/null >"/dev/udp/$5/53"
      echo round >>"$6"
      sleep 0.1
    done' prober "$PROBER_STOP" "$PROBE4" "$DNS4" "$PROBE6" "$DNS6" "$WORK/rounds.log" &
  PROBER=$!
}
stop_prober() { : >"$PROBER_STOP"; wait "$PROBER" 2>/dev/null; }
# The lab user's prober writes its rounds into the work directory.
chmod 755 "$WORK"

# Counts since the last call (the counters are reset), one word per probe, then "other" and the
# number of probe rounds that ran meanwhile.
declare -A TABLE
take() { # setting state
  local counts rounds
  counts=$(ip netns exec "$INET" nft list counters table inet olab_leak |
    awk '/counter/ { name = $2 } /packets/ { for (i = 1; i <= NF; i++) if ($i == "packets") n[name] = $(i + 1) }
         END { split("tcp4 udp4 icmp4 dns4 tcp6 udp6 icmp6 dns6 other", order, " ");
               for (i = 1; i <= 9; i++) printf "%s ", n[order[i]] + 0 }')
  ip netns exec "$INET" nft reset counters table inet olab_leak >/dev/null
  rounds=$(wc -l <"$WORK/rounds.log" 2>/dev/null || echo 0)
  truncate -s 0 "$WORK/rounds.log"
  TABLE["$1|$2"]="$counts$rounds"
}

no_table() { ! "$LAB" exec -- nft list table inet orlune_vpn >/dev/null 2>&1; }
has_table() { "$LAB" exec -- nft list table inet orlune_vpn >/dev/null 2>&1; }
network_works() { "$LAB" exec --user -- curl -sS --max-time 5 --cacert "$LAB_STATE/public/ca.crt" https://192.0.2.41/ >/dev/null; }
connected_count() { grep -c '^Connected' "$WORK/$1.out" 2>/dev/null; }
wait_connected() { # run count seconds
  local deadline=$((SECONDS + $3))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(connected_count "$1")" -ge "$2" ] && return 0
    kill -0 "$RUNNER" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

STATES=(before connecting failover verifying connected relay-killed link-down-up after-failed after-disconnect)
# Every relay back, and the app's memory of failed relays forgotten.
fresh_start() {
  "$LAB" relay start public-vpn-101 >/dev/null 2>&1
  "$LAB" relay start public-vpn-102 >/dev/null 2>&1
  rm -rf "$LAB_STATE/home/.config" "$LAB_STATE/home/.cache"
}

walk() { # setting [options...]
  local setting=$1 run=walk-$1
  shift
  fresh_start
  start_prober
  sleep 2; take "$setting" before

  LAB_USER=orlune-lab "$LAB" exec --user -- "$APP" connect JP "$@" >"$WORK/$run.out" 2>"$WORK/$run.err" &
  RUNNER=$!
  wait_for_line "$WORK/$run.out" 'server 1 of' 60 "$RUNNER"; take "$setting" -
  wait_for_line "$WORK/$run.out" 'server 2 of' 60 "$RUNNER"; take "$setting" connecting
  wait_for_line "$WORK/$run.out" 'Verifying VPN route' 60 "$RUNNER"; take "$setting" failover
  wait_for_line "$WORK/$run.out" '^Connected' 30 "$RUNNER"; take "$setting" verifying
  if [ "$(connected_count "$run")" -lt 1 ]; then
    not_ok "$setting: connected to Japan"; stop_prober; return 1
  fi
  sleep 3; take "$setting" connected
  [ "$setting" = on ] && check "on: our table is loaded while connected" has_table

  # Silently: the engine notices by its keep-alive, the app then reconnects on its own.
  "$LAB" relay kill public-vpn-101 >/dev/null
  wait_connected "$run" 2 180 || not_ok "$setting: reconnected after the relay was killed"
  take "$setting" relay-killed

  "$LAB" link down >/dev/null; sleep 4; "$LAB" link up >/dev/null
  wait_connected "$run" 3 120 || not_ok "$setting: reconnected after the link came back"
  take "$setting" link-down-up

  # The last relay stops: the reconnection finds none that works (the others failed before).
  "$LAB" relay stop public-vpn-102 >/dev/null
  wait_for_line "$WORK/$run.err" 'CONNECTION FAILED' 180 "$RUNNER" || not_ok "$setting: the reconnection failed"
  take "$setting" -
  sleep 4; take "$setting" after-failed
  [ "$setting" = on ] && check "on: the block holds after the failed attempt" has_table

  kill -INT "$(app_pid)" 2>/dev/null
  wait "$RUNNER"
  take "$setting" -
  sleep 3; take "$setting" after-disconnect
  stop_prober
  check "$setting: no table of ours after Disconnect" no_table
  check "$setting: the ordinary network works after Disconnect" network_works
}

group "the states walked with the settings off, then on"
walk off
walk on --fail-closed --block-ipv6

printf '# %-17s %-4s %6s %6s %6s %6s %6s %6s %6s %6s %6s %7s\n' state set "${PROBES[@]}" other rounds
for state in "${STATES[@]}"; do
  for setting in off on; do
    printf '# %-17s %-4s %6s %6s %6s %6s %6s %6s %6s %6s %6s %7s\n' "$state" "$setting" ${TABLE["$setting|$state"]:-"- - - - - - - - - -"}
  done
done
for state in connecting failover verifying connected relay-killed link-down-up after-failed; do
  read -r -a c <<<"${TABLE["on|$state"]:-x x x x x x x x x x}"
  check_eq "on, $state: nothing leaves beside the tunnel (${c[9]} probe rounds)" "0 0 0 0 0 0 0 0 0" "${c[*]:0:9}"
done
read -r -a c <<<"${TABLE["off|connected"]:-0 0 0 0 0 0 0 0 0 0}"
check "off, connected: IPv6 leaves beside the tunnel (the difference the settings make)" test "${c[4]}" -gt 0

group "a killed service leaves the table until it starts again; a killed app takes it with it"
fresh_start
run=crash
LAB_USER=orlune-lab "$LAB" exec --user -- "$APP" connect JP --fail-closed >"$WORK/$run.out" 2>"$WORK/$run.err" &
RUNNER=$!
if wait_connected "$run" 1 90; then
  crashed=$(service_pid)
  kill -KILL "$crashed"
  kill -KILL "$(app_pid)"; wait "$RUNNER" 2>/dev/null
  time_until 10 process_gone "$crashed" >/dev/null
  check "the block outlives the killed service (nothing leaks meanwhile)" has_table
  check "the service starts again" "$LAB" service start
  check "its start removed our table" no_table
  check "and the ordinary network works" network_works
else
  not_ok "connected with --fail-closed"
fi
fresh_start
run=owner
LAB_USER=orlune-lab "$LAB" exec --user -- "$APP" connect JP --fail-closed --block-ipv6 >"$WORK/$run.out" 2>"$WORK/$run.err" &
RUNNER=$!
if wait_connected "$run" 1 90; then
  kill -KILL "$(app_pid)"; wait "$RUNNER" 2>/dev/null
  if took=$(time_until 10 no_table); then ok "the app's death lifts the block (${took} s)"; else not_ok "the app's death lifts the block"; fi
  check "and the ordinary network works" network_works
else
  not_ok "connected with --fail-closed --block-ipv6"
fi

e2e_finish walk-off walk-on crash owner
