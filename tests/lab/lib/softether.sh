# SoftEther VPN relays, set up the way public volunteer relays run them: one Virtual Hub with
# anonymous users, among them the common name of the dummy client certificate that every public
# profile carries (a hub without it answers AUTH_FAILED), SecureNAT giving the client its address
# by DHCP and translating its traffic in user space, and the server's own self-signed
# certificate as the profile's CA.
# shellcheck shell=bash

SOFTETHER=/usr/libexec/softether/vpnserver/vpnserver
# SoftEther's data directories are compiled in; each relay binds its own over them in a mount
# namespace of its own, so no relay (and nothing on this machine) sees another's.
SOFTETHER_DIRS=(lib:/var/lib/softether log:/var/log/softether run:/run/softether)

# The server's first address of its /29: SecureNAT's virtual host; the next five are leased.
softether_host() { local p; p=$(relay_pool "$1"); echo "${p%.*}.$((${p##*.} + $2))"; }

# Runs a command in the relay's network and mount namespaces (its own SoftEther directories).
in_softether() { # index command...
  local pid
  pid=$(live_pid "relay$1") || return 1
  nsenter -t "$pid" -n -m --wd="$S/relays/$1" -- "${@:2}"
}

start_softether() { # index
  local i=$1 ns dir=$S/relays/$1 d pid
  ns=$(relay_ns "$i")
  rm -rf "${dir:?}/lib" "$dir/configured"
  for d in "${SOFTETHER_DIRS[@]}"; do
    mkdir -p "$dir/${d%%:*}"
    # The mount points must exist; on a machine where the package made none they are made, empty.
    [ -d "${d#*:}" ] || { mkdir -p "${d#*:}" && chmod 755 "${d#*:}"; }
  done
  touch "$S/logs/relay-$i.log"
  # The server looks up names of its makers' services (dynamic DNS, NAT traversal); with a
  # resolver of its own on loopback they fail at once instead of knocking at the guard.
  printf '# SoftEther relay %s of Orlune lab %s\nnameserver 127.0.0.1\n' "${R_NAME[i]}" "$LAB_ID" > "$dir/resolv.conf"
  # execsvc stays in the foreground and forks its worker; through `ip netns exec`, unshare and
  # sh's exec, the recorded pid is the server's own.
  # shellcheck disable=SC2016  # the script's own arguments, expanded by that shell
  ip netns exec "$ns" unshare --mount --propagation private -- /bin/sh -c '
    mount --bind "$1/lib" /var/lib/softether && mount --bind "$1/log" /var/log/softether &&
      mount --bind "$1/run" /run/softether && mount --bind "$1/resolv.conf" /etc/resolv.conf &&
      exec "$2" execsvc' softether "$dir" "$SOFTETHER" \
    </dev/null >>"$S/logs/relay-$i.log" 2>&1 &
  pid=$!
  record_pid "relay$i" "$pid"
  wait_for 5 softether_in_own_mounts "$pid" ||
    die "relay ${R_NAME[i]} did not start (see $S/logs/relay-$i.log)"
  record_pid "relay$i" "$pid"
}

softether_in_own_mounts() { # pid
  [ "$(readlink "/proc/$1/exe")" = "$SOFTETHER" ] &&
    [ "$(readlink "/proc/$1/ns/mnt")" != "$(readlink /proc/self/ns/mnt)" ]
}

softether_ended() { ! kill -0 "$1" 2>/dev/null || [ -z "$(proc_start "$1")" ]; }

softether_listening() { # index
  in_softether "$1" bash -c "exec 3<>/dev/tcp/127.0.0.1/$SOFTETHER_ADMIN_PORT" 2>/dev/null
}

# The vpncmd batch that makes a fresh server a public relay. Ports go comma-separated: with
# spaces PortsUDPSet silently takes only the first.
softether_batch() { # index
  local i=$1 host dns2=none domain=none routes=none port
  host=$(softether_host "$i" 1)
  if has_fault "$i" push-noise; then
    dns2=192.0.2.53; domain=vpngate.example
    routes="192.0.2.0/255.255.255.128/$host"
  elif has_fault "$i" push-routes; then
    # SoftEther pushes the redirect with any gateway, and without one it pushes no gateway for
    # the routes either: the host routes come beside the redirect.
    routes="1.1.1.1/255.255.255.255/$host,8.8.8.8/255.255.255.255/$host,192.0.2.0/255.255.255.128/$host"
  fi
  cat <<EOF
KeepDisable
VpnAzureSetEnable no
VpnOverIcmpDnsEnable /ICMP:no /DNS:no
HubCreate VPNGATE /PASSWORD:
HubDelete DEFAULT
Hub VPNGATE
UserCreate vpn /GROUP:none /REALNAME:none /NOTE:none
UserAnonymousSet vpn
EOF
  # A relay staged to refuse lacks the user of the dummy certificate, as misconfigured public
  # relays do.
  has_fault "$i" refuse || cat <<EOF
UserCreate VPNGateClientCert /GROUP:none /REALNAME:none /NOTE:none
UserAnonymousSet VPNGateClientCert
EOF
  cat <<EOF
SecureNatEnable
SecureNatHostSet /MAC:none /IP:$host /MASK:255.255.255.248
DhcpSet /START:$(softether_host "$i" 2) /END:$(softether_host "$i" 6) /MASK:255.255.255.248 /EXPIRE:7200 /GW:$host /DNS:$host /DNS2:$dns2 /DOMAIN:$domain /LOG:no /PUSHROUTE:$routes
EOF
  # Only the admin port (closed to the outside by nft) and the relay's own port stay open.
  for port in 443 992 1194; do
    [ "${R_PROTO[i]}" = tcp ] && [ "$port" = "${R_PORT[i]}" ] || echo "ListenerDelete $port"
  done
  if [ "${R_PROTO[i]}" = tcp ]; then
    [[ " 443 992 1194 $SOFTETHER_ADMIN_PORT " == *" ${R_PORT[i]} "* ]] || echo "ListenerCreate ${R_PORT[i]}"
    echo "PortsUDPSet 0"
  else
    echo "PortsUDPSet ${R_PORT[i]}"
  fi
  # The server's self-signed certificate is the CA of its profile (vpncmd refuses absolute
  # paths); a server set up again keeps the one its profile names.
  if [ -s "$S/relays/$i/server.key" ]; then
    echo "ServerCertSet /LOADCERT:server.crt /LOADKEY:server.key"
  else
    echo "ServerCertGet server.crt"
    echo "ServerKeyGet server.key"
  fi
  echo "Flush"
}

# Waits for the admin port, runs the batch and keeps the server's certificate and key. A
# restarted server drops the hub it had saved, so every start is set up afresh.
configure_softether() { # index
  local i=$1 dir=$S/relays/$1 out
  wait_for 10 softether_listening "$i" || die "relay ${R_NAME[i]} does not answer on its admin port (see $S/logs/relay-$i.log)"
  softether_batch "$i" > "$dir/setup.vpncmd"
  out=$(in_softether "$i" vpncmd "localhost:$SOFTETHER_ADMIN_PORT" /SERVER "/IN:$dir/setup.vpncmd" 2>&1)
  printf '%s\n' "$out" > "$S/logs/relay-$i-setup.log"
  if grep -q "^Error occurred" <<< "$out" || [ ! -s "$dir/server.crt" ]; then
    die "relay ${R_NAME[i]}: its setup failed (see $S/logs/relay-$i-setup.log)"
  fi
  touch "$dir/configured"
}

# Configures every SoftEther relay that runs and is not set up yet, all at once.
configure_softether_relays() {
  local i pids=() failed=0
  for ((i = 1; i <= R_COUNT; i++)); do
    if ! is_softether "$i" || ! relay_running "$i" || [ -f "$S/relays/$i/configured" ]; then continue; fi
    configure_softether "$i" &
    pids+=($!)
  done
  for i in "${pids[@]}"; do wait "$i" || failed=1; done
  [ $failed = 0 ] || die "a SoftEther relay could not be set up"
}

# A stop through the server's own command (about 2 s) or a silent kill of all its processes.
stop_softether() { # index pid TERM|KILL
  local i=$1 pid=$2 ns
  ns=$(relay_ns "$i")
  if [ "$3" != KILL ]; then
    in_softether "$i" "$SOFTETHER" stop >/dev/null 2>&1 || true
    wait_for 5 softether_ended "$pid" || true
  fi
  # shellcheck disable=SC2046
  kill -KILL $(ip netns pids "$ns") 2>/dev/null || true
  wait_for 5 ns_empty "$ns" || true
  rm -f "$S/pids/relay$i"
}
