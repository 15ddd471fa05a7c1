#!/usr/bin/env bash
# Leak probes in every connection state, with the block settings off and then on. A prober in
# the client host sends, as the ordinary user, rounds of TCP, UDP, ICMP and UDP-53 packets over
# IPv4 and IPv6 to addresses outside the tunnel, a few rounds a second; nftables counters on the
# internet host's client-facing link count what arrives there beside the tunnel (every packet
# that is not for a relay's VPN port), and a counter in the client host what the prober sent.
# The counters are read and reset at each change of state, and the table (state x probe x
# setting, with the packets sent, the rounds and the seconds the state lasted) is printed. With
# both settings on, every state between Connect and Disconnect must show 0 with probes sent.
# The verification is held open for a few seconds by a slow exit-country answer. Then: after Disconnect, after a killed service is started again and
# after the app is killed, no table of ours is left and the ordinary network works.
# The two walks run side by side, each in a lab of its own: they wait on keep-alives and
# time-outs far more than they compute.
# Usage: leak_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
: "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"
PROBES=(tcp4 udp4 icmp4 dns4 tcp6 udp6 icmp6 dns6)
STATES=(before connecting failover verifying connected relay-killed link-down-up after-failed after-disconnect)

# This process starts both walks, shows what they said, and prints and checks the whole table.
if [ -z "${LEAK_WALK:-}" ]; then
  parts=$(mktemp -d)
  trap 'rm -rf "$parts"' EXIT
  declare -A TABLE WALKER
  for setting in off on; do
    ( start=$EPOCHREALTIME; LEAK_WALK=$setting LEAK_TABLE=$parts/$setting.table bash "$0" "$@"; status=$?
      awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "# the part took %.0f s\n", b - a }'; exit $status
    ) >"$parts/$setting.log" 2>&1 &
    WALKER[$setting]=$!
  done
  for setting in off on; do
    wait "${WALKER[$setting]}"; status=$?
    cat "$parts/$setting.log"
    [ "$status" -eq 0 ] || not_ok "the walk with the settings $setting (above)" "exit status $status"
    while read -r key counts; do TABLE[$key]=$counts; done <"$parts/$setting.table" 2>/dev/null
  done

  row() { printf '# %-17s %-4s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n' "$@"; }
  row state set "${PROBES[@]}" other sent rounds secs
  for state in "${STATES[@]}"; do
    for setting in off on; do
      # shellcheck disable=SC2086  # one word per column
      row "$state" "$setting" ${TABLE["$setting|$state"]:-"- - - - - - - - - - - -"}
    done
  done
  for state in connecting failover verifying connected relay-killed link-down-up after-failed; do
    read -r -a c <<<"${TABLE["on|$state"]:-x x x x x x x x x 0 0 0}"
    check_eq "on, $state: nothing leaves beside the tunnel (${c[9]} probe packets sent, ${c[10]} rounds)" \
      "0 0 0 0 0 0 0 0 0" "${c[*]:0:9}"
    check "on, $state: the probes ran meanwhile" test "${c[9]}" -gt 0
  done
  read -r -a c <<<"${TABLE["off|connected"]:-0 0 0 0 0 0 0 0 0 0}"
  check "off, connected: IPv6 leaves beside the tunnel (the difference the settings make)" test "${c[4]}" -gt 0
  finish
  exit
fi

e2e_up "$here/leak.lab" "$1" "$2"
INET=olab-$LAB_ID-inet
PROBE4=192.0.2.99 PROBE6=2001:db8:2::99 DNS4=203.0.113.1 DNS6=2001:db8:1::1
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

# What the prober sends, counted in the client host before any filter of ours sees it: a cell
# with nothing leaked must also show that probes were sent meanwhile.
PROBER_UID=$(id -u orlune-lab)
ip netns exec "olab-$LAB_ID-client" nft -f - <<NFT
table inet olab_probe {
  counter sent { }
  chain output {
    type filter hook output priority raw; policy accept;
    meta skuid != $PROBER_UID return
    ip daddr { $PROBE4, $DNS4 } counter name sent
    ip6 daddr { $PROBE6, $DNS6 } counter name sent
  }
}
NFT

# The prober: rounds of all eight probes at once, as the lab user, each round appending a line
# to rounds.log, until the file stop exists. A probe's first packet leaves at once; a TCP connect
# or ping whose packet is dropped or refused would wait for its time-out, so each round ends its
# stragglers after 0.3 s instead of waiting seconds for nothing.
PROBER_STOP=$WORK/prober.stop
start_prober() {
  rm -f "$PROBER_STOP"
  install -m 666 /dev/null "$WORK/rounds.log"
  LAB_USER=orlune-lab "$LAB" exec --user -- bash -c '
    while [ ! -e "$1" ]; do
      ( exec 3<>"/dev/tcp/$2/9" ) 2>/dev/null & a=$!
      ( exec 3<>"/dev/tcp/$4/9" ) 2>/dev/null & b=$!
      ping -n -c1 -W1 "$2" >/dev/null 2>&1 & c=$!
      ping -n -6 -c1 -W1 "$4" >/dev/null 2>&1 & d=$!
      { echo probe >"/dev/udp/$2/9"; echo probe >"/dev/udp/$3/53"
        echo probe >"/dev/udp/$4/9"; echo probe >"/dev/udp/$5/53"; } 2>/dev/null
      sleep 0.3
      kill $a $b $c $d 2>/dev/null; wait
      echo round >>"$6"
    done' prober "$PROBER_STOP" "$PROBE4" "$DNS4" "$PROBE6" "$DNS6" "$WORK/rounds.log" &
  PROBER=$!
}
stop_prober() { : >"$PROBER_STOP"; wait "$PROBER" 2>/dev/null; }
# The lab user's prober writes its rounds into the work directory.
chmod 755 "$WORK"
rounds() { wc -l <"$WORK/rounds.log" 2>/dev/null || echo 0; }
# Waits until COUNT more probe rounds have run (at most 20 s).
wait_rounds() { # count
  local until=$(($(rounds) + $1)) deadline=$((SECONDS + 20))
  while [ "$(rounds)" -lt "$until" ] && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
}

# Counts since the last call (the counters are reset), one word per probe, then "other", the
# packets the prober sent, the probe rounds that ran and the seconds the state lasted.
declare -A TABLE STEPS
LAST_TAKE=$EPOCHREALTIME
take() { # setting state
  local counts sent rounds now secs
  counts=$(ip netns exec "$INET" nft list counters table inet olab_leak |
    awk '/counter/ { name = $2 } /packets/ { for (i = 1; i <= NF; i++) if ($i == "packets") n[name] = $(i + 1) }
         END { split("tcp4 udp4 icmp4 dns4 tcp6 udp6 icmp6 dns6 other", order, " ");
               for (i = 1; i <= 9; i++) printf "%s ", n[order[i]] + 0 }')
  sent=$(ip netns exec "olab-$LAB_ID-client" nft list counter inet olab_probe sent |
    awk '{ for (i = 1; i <= NF; i++) if ($i == "packets") print $(i + 1) }')
  ip netns exec "$INET" nft reset counters table inet olab_leak >/dev/null
  ip netns exec "olab-$LAB_ID-client" nft reset counters table inet olab_probe >/dev/null
  rounds=$(rounds)
  truncate -s 0 "$WORK/rounds.log"
  now=$EPOCHREALTIME
  secs=$(awk -v a="$LAST_TAKE" -v b="$now" 'BEGIN { printf "%.1f", b - a }')
  TABLE["$1|$2"]="$counts${sent:-0} $rounds $secs"
  STEPS["$1"]+=" $2 $secs,"
  LAST_TAKE=$now
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

# Every relay back and listed, and the app's memory of failed relays forgotten.
fresh_start() {
  "$LAB" relay start public-vpn-101 >/dev/null 2>&1
  "$LAB" relay start public-vpn-102 >/dev/null 2>&1
  "$LAB" catalog show public-vpn-102 >/dev/null 2>&1
  rm -rf "$LAB_STATE/home/.config" "$LAB_STATE/home/.cache"
}

walk() { # setting [options...]
  local setting=$1 run=walk-$1
  shift
  start_prober
  wait_rounds 2; take "$setting" before

  # The exit-country answer comes 3 s late: the app stays in verification long enough to probe.
  "$LAB" fault ipinfo slow

  LAB_USER=orlune-lab "$LAB" exec --user -- "$APP" connect JP "$@" >"$WORK/$run.out" 2>"$WORK/$run.err" &
  RUNNER=$!
  wait_for_line "$WORK/$run.out" 'server 1 of' 60 "$RUNNER"; take "$setting" -
  wait_for_line "$WORK/$run.out" 'server 2 of' 60 "$RUNNER"; take "$setting" connecting
  wait_for_line "$WORK/$run.out" 'Verifying VPN route' 60 "$RUNNER"; take "$setting" failover
  wait_for_line "$WORK/$run.out" '^Connected' 30 "$RUNNER"; take "$setting" verifying
  "$LAB" fault ipinfo ok
  if [ "$(connected_count "$run")" -lt 1 ]; then
    not_ok "$setting: connected to Japan"; stop_prober; return 1
  fi
  wait_rounds 3; take "$setting" connected
  [ "$setting" = on ] && check "on: our table is loaded while connected" has_table

  # Silently: the engine notices by its keep-alive, the app then reconnects on its own. The
  # relay is back once the loss is noticed, so the reconnection need not wait out a dead one.
  "$LAB" relay kill public-vpn-101 >/dev/null
  wait_for_line "$WORK/$run.err" 'health check failed' 60 "$RUNNER" || not_ok "$setting: the loss was noticed"
  "$LAB" relay start public-vpn-101 >/dev/null
  wait_connected "$run" 2 180 || not_ok "$setting: reconnected after the relay was killed"
  take "$setting" relay-killed

  "$LAB" link down >/dev/null; sleep 4; "$LAB" link up >/dev/null
  wait_connected "$run" 3 120 || not_ok "$setting: reconnected after the link came back"
  take "$setting" link-down-up

  # Every relay stops and the catalog lists one only: the reconnection finds none that works.
  "$LAB" catalog hide public-vpn-102 >/dev/null
  "$LAB" relay stop public-vpn-102 >/dev/null
  "$LAB" relay stop public-vpn-101 >/dev/null
  wait_for_line "$WORK/$run.err" 'CONNECTION FAILED' 180 "$RUNNER" || not_ok "$setting: the reconnection failed"
  take "$setting" -
  wait_rounds 3; take "$setting" after-failed
  [ "$setting" = on ] && check "on: the block holds after the failed attempt" has_table

  kill -INT "$(app_pid)" 2>/dev/null
  wait "$RUNNER"
  take "$setting" -
  wait_rounds 3; take "$setting" after-disconnect
  stop_prober
  check "$setting: no table of ours after Disconnect" no_table
  check "$setting: the ordinary network works after Disconnect" network_works
}

if [ "$LEAK_WALK" = off ]; then
  group "the states walked with the settings off"
  walk off
else
  group "the states walked with the settings on"
  walk on --fail-closed --block-ipv6
fi
echo "# seconds per step, $LEAK_WALK:${STEPS[$LEAK_WALK]%,}"
for key in "${!TABLE[@]}"; do echo "$key ${TABLE[$key]}"; done >"$LEAK_TABLE"

if [ "$LEAK_WALK" = off ]; then
  group "a killed service leaves the table until it starts again"
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
else
  group "a killed app takes the block with it"
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
fi

e2e_finish "walk-$LEAK_WALK" crash owner
