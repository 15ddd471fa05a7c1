# Distances: the wide-area link between the client host and the rest of the lab.
#
# Profile `none` (the default) links the client host straight to the internet host. Profile
# `real` puts the lab's delay line (tests/lab/delay_line, built as lab-delay-line) in between, in
# the internet host: every packet from and to the client host passes a tun device that the line
# reads and writes back after the far end's distance (delay, jitter, loss, bottleneck rate).
# shellcheck shell=bash

WAN_PROFILES=(none real)
WAN_TABLE=100

valid_wan_profile() { local p; for p in "${WAN_PROFILES[@]}"; do [ "$1" = "$p" ] && return 0; done; return 1; }
wan_profile() { cat "$S/wan/profile" 2>/dev/null || echo none; }
wan_dev() { echo "wan-$LAB_ID"; }

# The delay line program: LAB_DELAY_LINE, or the one in the project's build tree.
wan_program() { # profile
  local p=${LAB_DELAY_LINE:-$LAB_HOME/../../build/tests/lab/lab-delay-line}
  [ -x "$p" ] || die "the wan profile '$1' needs the delay line $p; build it with: cmake --build build --target lab-delay-line (or set LAB_DELAY_LINE)"
  echo "$p"
}

# Round-trip time from the client host (in Germany) to a relay, by the relay's country.
relay_rtt() { # code
  case $1 in
    JP) echo 220 ;; KR) echo 240 ;; CN|TW|HK|SG|TH|VN|ID|PH) echo 250 ;;
    US|CA) echo 120 ;; *) echo 160 ;;
  esac
}

# Volunteer relays sit on very different lines. The Nth relay gets the Nth rate (kbit/s) of this
# cycle. A tunnel carries about 92 % of its line in steady state, so five relays give 13.8, 14.2,
# 5.5, 14.0 and 10.0 Mbit/s: 11.5 on average with a median of 13.8, as measured through public relays.
RELAY_RATES=(15000 15400 6000 15200 10900)

# The real profile, in the delay line's class format (see delay_line.cpp). The catalog is as far
# and as slow as the public one (its 1.3 MB in about 1.6 s); the other services are a content
# network close by; each relay is at its country's distance on its own line.
wan_classes_real() {
  local i
  echo "# lab $LAB_ID, profile real"
  echo "class catalog ${SERVICE_ADDR[catalog]}/32 rtt=120 jitter=3 rate=14000 buffer=100"
  echo "class services 192.0.2.0/24 rtt=25 jitter=2 rate=50000 buffer=50"
  echo "class relays 198.51.100.0/24 rtt=160 jitter=6 loss=0.05 rate=12000 buffer=100"
  for ((i = 1; i <= R_COUNT; i++)); do
    echo "class ${R_NAME[i]} $(relay_addr "$i")/32 rtt=$(relay_rtt "${R_CODE[i]}") jitter=6 loss=0.05 rate=${RELAY_RATES[(i - 1) % ${#RELAY_RATES[@]}]} buffer=100"
  done
}

# Packets the line writes back come in on its device and are routed as usual; everything from
# the client host, and everything else for it, is routed into the device first. Local delivery
# moves behind the client's rule, so the client host reaches the services only through the line.
# The router's own address on the client's link stays next door (ARP and neighbour discovery ask
# the routing table whether it is local).
wan_rules() { # family-flag client-prefix next-door...
  local f=$1 net=$2 inet dev near
  inet=$(ns_name inet); dev=$(wan_dev)
  run ip "$f" -n "$inet" route add default dev "$dev" table $WAN_TABLE
  run ip "$f" -n "$inet" rule add pref 100 iif "$dev" lookup local
  run ip "$f" -n "$inet" rule add pref 101 iif "$dev" lookup main
  for near in "${@:3}"; do run ip "$f" -n "$inet" rule add pref 105 iif "cl-$LAB_ID" to "$near" lookup local; done
  run ip "$f" -n "$inet" rule add pref 110 iif "cl-$LAB_ID" lookup $WAN_TABLE
  run ip "$f" -n "$inet" rule add pref 120 lookup local
  run ip "$f" -n "$inet" rule del pref 0
  run ip "$f" -n "$inet" rule add pref 130 to "$net" lookup $WAN_TABLE
}

start_wan() { # profile
  mkdir -p "$S/wan"
  echo "$1" > "$S/wan/profile"
  [ "$1" != none ] || return 0
  local inet dev program net clients=(--client "$CLIENT_ADDR/32") nets6
  inet=$(ns_name inet); dev=$(wan_dev)
  program=$(wan_program "$1")
  "wan_classes_$1" > "$S/wan/classes.conf"
  # IPv6 of the client host's link (where the lab has it) takes the same way.
  nets6=$(ip -6 -n "$(ns_name client)" -o addr show dev eth0 scope global 2>/dev/null | awk '{print $4}')
  for net in $nets6; do clients+=(--client "$net"); done
  : > "$S/logs/wan.log"
  ip netns exec "$inet" "$program" --dev "$dev" "${clients[@]}" --config "$S/wan/classes.conf" \
    </dev/null >>"$S/logs/wan.log" 2>&1 &
  record_pid wan $!
  wait_for 5 ip -n "$inet" link show "$dev" >/dev/null ||
    die "the delay line did not start (see $S/logs/wan.log)"
  # Its packets for the client come from the services' own addresses. Early demux would hand a
  # client's packet straight to the service's socket, which forwarding into the line then drops.
  run in_ns "$inet" sysctl -qw net.ipv4.conf.all.rp_filter=0 "net.ipv4.conf.$dev.rp_filter=0" \
    "net.ipv4.conf.$dev.accept_local=1" net.ipv4.ip_early_demux=0 net.ipv4.tcp_early_demux=0 \
    net.ipv4.udp_early_demux=0
  [ -z "$nets6" ] || run in_ns "$inet" sysctl -qw "net.ipv6.conf.$dev.disable_ipv6=0" net.ipv6.conf.all.forwarding=1
  run ip -n "$inet" link set "$dev" up
  wan_rules -4 "${CLIENT_ADDR%.*}.0/24" "$INET_CLIENT_ADDR"
  for net in $nets6; do wan_rules -6 "$net" fe80::/10 ff00::/8; done
}

wan_running() { live_pid wan >/dev/null; }

# The line's counters per class and direction (it prints them on SIGUSR1).
wan_counters() {
  local pid lines
  pid=$(live_pid wan) || die "lab $LAB_ID has no delay line (profile $(wan_profile))"
  lines=$(wc -l < "$S/logs/wan.log")
  kill -USR1 "$pid"
  wait_for 2 sh -c "[ \$(wc -l < '$S/logs/wan.log') -gt $lines ] && tail -n 1 '$S/logs/wan.log' | grep -q '^class .* down '"
  tail -n +"$((lines + 1))" "$S/logs/wan.log"
}
