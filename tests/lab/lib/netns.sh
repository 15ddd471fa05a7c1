# Namespaces of one lab, and the guard that every one of them carries.
# shellcheck shell=bash

# Drops (and counts) every packet to an address outside the lab's ranges, and all IPv6 outside the
# documentation prefix and the link itself. The
# namespaces have no link to the machine's interfaces anyway; this makes a mistake in a route or a
# profile visible instead of merely harmless.
guard_nft() {
  cat <<EOF
table inet olab_guard {
  set lab { type ipv4_addr; flags interval; elements = { 127.0.0.0/8, ${LAB_RANGES[0]}, ${LAB_RANGES[1]}, ${LAB_RANGES[2]} } }
  set lab6 { type ipv6_addr; flags interval; elements = { ::1/128, fe80::/10, ff02::/16, $LAB_RANGE6 } }
  counter stopped { }
  chain output {
    type filter hook output priority filter; policy accept;
    # The kernel's own link-local multicast (IGMP reports when a bridge comes up) is dropped
    # without counting: it is no lab traffic and could not be routed anyway.
    ip daddr 224.0.0.0/24 drop
    ip6 daddr != @lab6 counter name stopped drop
    ip daddr != @lab counter name stopped drop
  }
  chain forward {
    type filter hook forward priority filter; policy accept;
    ip6 daddr != @lab6 counter name stopped drop
    ip daddr != @lab counter name stopped drop
  }
}
EOF
}

# Records the namespace before making it, so `down` finds it whatever happens next.
make_ns() { # name
  local ns=$1
  echo "$ns" >> "$S/namespaces"
  run ip netns add "$ns"
  run in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  run ip -n "$ns" link set lo up
  guard_nft | run in_ns "$ns" nft -f -
}

# Every namespace of the lab: those recorded and any that carry its name.
lab_namespaces() {
  { [ -f "$S/namespaces" ] && cat "$S/namespaces"
    ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$NS_PREFIX-$LAB_ID-" || true
  } | sort -u
}

ns_exists() { [ -e "/run/netns/$1" ]; }
ns_empty() { [ -z "$(ip netns pids "$1" 2>/dev/null)" ]; }

# Packets the guard dropped in one namespace (0 when it has none).
guard_drops() { # ns
  in_ns "$1" nft list counter inet olab_guard stopped 2>/dev/null |
    awk '/packets/ { for (i = 1; i <= NF; i++) if ($i == "packets") n += $(i + 1) } END { print n + 0 }'
}

ns_pids() { ip netns pids "$1" 2>/dev/null | tr '\n' ' '; }

# Ends every process in the namespaces given: TERM for the client host (an app or engine there
# may tidy up), KILL for the servers of the other hosts (a relay told to stop waits to notify its
# clients, which nobody needs at teardown), then KILL for whatever is left after a short grace.
kill_lab_processes() { # ns...
  local ns pids
  for ns in "$@"; do
    ns_exists "$ns" || continue
    pids=$(ns_pids "$ns")
    [ -n "${pids// }" ] || continue
    # shellcheck disable=SC2086
    if [[ $ns == *-client ]]; then kill -TERM $pids 2>/dev/null; else kill -KILL $pids 2>/dev/null; fi
  done
  wait_for 3 all_ns_empty "$@" && return 0
  for ns in "$@"; do
    pids=$(ns_pids "$ns")
    # shellcheck disable=SC2086
    [ -z "${pids// }" ] || kill -KILL $pids 2>/dev/null || true
  done
  wait_for 3 all_ns_empty "$@" || echo "lab: processes left: $(for ns in "$@"; do ns_pids "$ns"; done)" >&2
}

all_ns_empty() { local ns; for ns in "$@"; do ns_empty "$ns" || return 1; done; }
