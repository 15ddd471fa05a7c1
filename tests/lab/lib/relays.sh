# Relay hosts: one namespace each, with Debian's OpenVPN server (NAT of its tunnel pool by
# nftables) or a SoftEther VPN server set up as a public volunteer relay runs it (its own
# SecureNAT gives the client an address and translates in user space).
# shellcheck shell=bash

relay_ns() { ns_name "r$1"; }
is_softether() { [ "${R_KIND[$1]}" = softether ]; }

SOFTETHER_ADMIN_PORT=5555

# What the relay pushes. A healthy relay sends its clients' traffic through itself; push-routes
# pushes host routes for the public resolvers and the lab's services instead (no redirect);
# push-noise adds logging, echo texts, routes and DNS servers to the redirect.
relay_pushes() { # index
  local i=$1
  if has_fault "$i" push-routes; then
    printf 'push "route %s 255.255.255.255"\n' 1.1.1.1 8.8.8.8
    printf 'push "route 192.0.2.0 255.255.255.128"\n'
    return
  fi
  echo 'push "redirect-gateway def1"'
  has_fault "$i" push-noise || return 0
  cat <<'EOF'
push "verb 11"
push "mute 0"
push "echo TUN/TAP device tun9 opened"
push "echo Initialization Sequence Completed"
push "echo AUTH: Received control message: AUTH_FAILED"
push "route 192.0.2.0 255.255.255.128"
push "dhcp-option DNS 192.0.2.53"
push "block-outside-dns"
EOF
}

write_relay_config() { # index
  local i=$1 dir=$S/relays/$1 ca=$S/pki/ca.crt proto
  mkdir -p "$dir"
  has_fault "$i" refuse && ca=$S/pki/rogue-ca.crt
  local notify=""
  # Over UDP a server that stops tells its clients, as TCP does by closing the connection.
  if [ "${R_PROTO[i]}" = udp ]; then proto=udp4; notify="explicit-exit-notify 1"; else proto=tcp4-server; fi
  cat > "$dir/server.conf" <<EOF
# Lab relay ${R_NAME[i]} ($(relay_addr "$i")), lab $LAB_ID
mode server
tls-server
dev tun
topology subnet
server $(relay_pool "$i") 255.255.255.248
proto $proto
local $(relay_addr "$i")
port ${R_PORT[i]}
$(relay_pushes "$i")
ca $ca
cert $S/pki/relay$i.crt
key $S/pki/relay$i.key
dh none
data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305:AES-128-CBC
data-ciphers-fallback AES-128-CBC
auth SHA1
tun-mtu 1400
keepalive 10 60
duplicate-cn
disable-dco
$notify
verb 3
EOF
}

# NAT, plus a drop of the relay port when the relay is staged as down (so a client times out).
relay_nft() { # index
  local i=$1
  cat <<EOF
table ip olab_relay {
  chain postrouting {
    type nat hook postrouting priority srcnat; policy accept;
    ip saddr $(relay_pool "$i")/29 oifname "eth0" snat to $(relay_addr "$i")
  }
  chain input {
    type filter hook input priority filter; policy accept;
    ${R_PROTO[i]} dport ${R_PORT[i]} jump port
    $(is_softether "$i" && echo "iifname \"eth0\" tcp dport $SOFTETHER_ADMIN_PORT drop")
  }
  chain port {
  }
}
EOF
}

relay_running() { live_pid "relay$1" >/dev/null; }

start_relay_server() { # index
  if is_softether "$1"; then start_softether "$1"; else start_openvpn "$1"; fi
}

start_openvpn() { # index
  local i=$1 ns dir=$S/relays/$1
  ns=$(relay_ns "$i")
  : > "$S/logs/relay-$i.log"
  run_daemon "$S/logs/relay-$i.log" in_ns "$ns" openvpn --config "$dir/server.conf" --daemon "olab-$LAB_ID-${R_NAME[i]}" \
    --writepid "$dir/pid" --log-append "$S/logs/relay-$i.log"
  wait_for 5 test -s "$dir/pid" || die "relay ${R_NAME[i]} wrote no pid file (see $S/logs/relay-$i.log)"
  adopt_pidfile "relay$i" "$dir/pid" || die "relay ${R_NAME[i]} did not start (see $S/logs/relay-$i.log)"
}

relay_ready() {
  if is_softether "$1"; then [ -f "$S/relays/$1/configured" ] && softether_listening "$1"
  else grep -q "Initialization Sequence Completed" "$S/logs/relay-$1.log"; fi
}

# Stops a relay's server: TERM lets it end as it would (SoftEther through its own stop command),
# KILL ends it silently.
stop_relay_server() { # index [signal]
  local pid
  pid=$(live_pid "relay$1") || return 0
  if is_softether "$1"; then stop_softether "$1" "$pid" "${2:-TERM}"; return; fi
  kill "-${2:-TERM}" "$pid" 2>/dev/null || true
  wait_for 5 sh -c "! kill -0 $pid" || kill -KILL "$pid" 2>/dev/null || true
  rm -f "$S/pids/relay$1" "$S/relays/$1/pid"
}

# A relay that is down drops its port silently; an up relay accepts it.
set_relay_port_open() { # index open(0|1)
  local ns
  ns=$(relay_ns "$1")
  run in_ns "$ns" nft flush chain ip olab_relay port
  [ "$2" = 1 ] || run in_ns "$ns" nft add rule ip olab_relay port drop
}

# A relay on a slow line: a token bucket on its only link limits everything it sends, the tunnel
# traffic to its clients included. `off` takes the limit away.
set_relay_rate() { # index kbit|off
  local ns burst
  ns=$(relay_ns "$1")
  if [ "$2" = off ]; then
    in_ns "$ns" tc qdisc del dev eth0 root 2>/dev/null || true
    return 0
  fi
  [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -ge 10 ] || die "rate: a whole number of kbit/s (10 or more), or off"
  # Ten milliseconds at the rate, at least a few full packets.
  burst=$(($2 * 10 / 8))
  [ "$burst" -ge 16384 ] || burst=16384
  run in_ns "$ns" tc qdisc replace dev eth0 root tbf rate "${2}kbit" burst "$burst" latency 100ms
}

setup_relay() { # index
  local i=$1 ns
  ns=$(relay_ns "$i")
  make_ns "$ns"
  run ip -n "$(ns_name inet)" link add "r$i-$LAB_ID" type veth peer name eth0 netns "$ns"
  run ip -n "$(ns_name inet)" link set "r$i-$LAB_ID" master "br-$LAB_ID" up
  run ip -n "$ns" addr add "$(relay_addr "$i")/24" dev eth0
  run ip -n "$ns" link set eth0 up
  run ip -n "$ns" route add default via "$INET_RELAY_ADDR"
  run in_ns "$ns" sysctl -qw net.ipv4.ip_forward=1
  relay_nft "$i" | run in_ns "$ns" nft -f -
  is_softether "$i" || write_relay_config "$i"
  # A SoftEther relay that is down still runs (its profile needs the certificate it makes).
  has_fault "$i" down && set_relay_port_open "$i" 0
  [ -z "$(relay_rate "$i")" ] || set_relay_rate "$i" "$(relay_rate "$i")"
  if is_softether "$i" || ! has_fault "$i" down; then start_relay_server "$i"; fi
}
