# The client host: the user's computer. A network namespace plus a private mount namespace, both
# held by one long-lived process that every `lab exec` joins. In its mount namespace the host gets
# its own /etc/resolv.conf and empty tmpfs over the service's directories, so nothing the service
# or the app writes there touches this machine's own files.
# shellcheck shell=bash

LAB_USER=${LAB_USER:-orlune-lab}
SERVICE_DIRS=(/run/orlune-vpn /var/lib/orlune-vpn)
EXEC_ENV=()   # NAME=VALUE pairs that `lab exec --env` adds

client_holder() { live_pid client-holder || die "the client host of lab $LAB_ID is not running"; }

# Runs a command inside the client host as root, with the caller's environment.
client_root() {
  local holder
  holder=$(client_holder)
  nsenter -t "$holder" -n -m -- "$@"
}

# The lab's ordinary user: a dedicated account with uid >= 1000, made on first use.
ensure_lab_user() {
  if ! id -u "$LAB_USER" >/dev/null 2>&1; then
    command -v useradd >/dev/null || die "no useradd to create the lab user $LAB_USER"
    # Two labs starting together may race for the account database: retry briefly.
    for _ in 1 2 3 4 5; do
      useradd --create-home --shell /bin/bash --comment "Orlune VPN lab user" "$LAB_USER" 2>/dev/null && break
      id -u "$LAB_USER" >/dev/null 2>&1 && break
      sleep 0.2
    done
    id -u "$LAB_USER" >/dev/null 2>&1 || die "could not create the lab user $LAB_USER"
    note "created the ordinary user $LAB_USER (uid $(id -u "$LAB_USER"))"
  fi
  local uid
  uid=$(id -u "$LAB_USER")
  [ "$uid" -ge 1000 ] && [ "$uid" -ne 65534 ] || die "lab user $LAB_USER has uid $uid; an ordinary user (uid >= 1000) is needed"
}

# The user's home is per lab (fresh settings every time) and lives in the state directory. Another
# user than the default one (LAB_USER=NAME lab exec --user) gets a home of its own beside it.
user_home() { if [ "$LAB_USER" = orlune-lab ]; then echo "$S/home"; else echo "$S/home-$LAB_USER"; fi; }

ensure_user_home() {
  local home
  home=$(user_home)
  [ -d "$home" ] && return 0
  mkdir -p "$home/.runtime"
  chown -R "$LAB_USER:" "$home"
  chmod 700 "$home" "$home/.runtime"
}

# Runs a command in the client host as the lab user, with a login-like, clean environment.
client_user() {
  local holder uid gid home envs=()
  holder=$(client_holder)
  ensure_lab_user
  ensure_user_home
  uid=$(id -u "$LAB_USER"); gid=$(id -g "$LAB_USER"); home=$(user_home)
  local v
  for v in TERM DISPLAY WAYLAND_DISPLAY XAUTHORITY QT_QPA_PLATFORM QT_QUICK_BACKEND QT_LOGGING_RULES; do
    [ -z "${!v:-}" ] || envs+=("$v=${!v}")
  done
  envs+=("${EXEC_ENV[@]}")
  nsenter -t "$holder" -n -m --wd="$home" -- setpriv --reuid="$uid" --regid="$gid" --init-groups -- \
    env -i HOME="$home" USER="$LAB_USER" LOGNAME="$LAB_USER" SHELL=/bin/bash \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$home/.runtime" \
    ORLUNE_ENDPOINTS="$S/public/endpoints.json" LAB_ID="$LAB_ID" LAB_STATE="$S" "${envs[@]}" "$@"
}

client_mount() { run nsenter -t "$1" -n -m -- "${@:2}"; }

setup_client() {
  local ns holder d
  ns=$(ns_name client)
  make_ns "$ns"
  run ip -n "$(ns_name inet)" link add "cl-$LAB_ID" type veth peer name eth0 netns "$ns"
  run ip -n "$(ns_name inet)" addr add "$INET_CLIENT_ADDR/24" dev "cl-$LAB_ID"
  run ip -n "$(ns_name inet)" link set "cl-$LAB_ID" up
  run ip -n "$ns" addr add "$CLIENT_ADDR/24" dev eth0
  run ip -n "$ns" link set eth0 up
  run ip -n "$ns" route add default via "$INET_CLIENT_ADDR"
  # The client's link alone carries IPv6, as a dual-stack home network would: the relays stay
  # IPv4-only, so IPv6 would leave beside the tunnel unless it is blocked.
  local inet_ns
  inet_ns=$(ns_name inet)
  run in_ns "$inet_ns" sysctl -qw "net.ipv6.conf.cl-$LAB_ID.disable_ipv6=0"
  run in_ns "$ns" sysctl -qw net.ipv6.conf.eth0.disable_ipv6=0 net.ipv6.conf.lo.disable_ipv6=0 \
    net.ipv6.conf.eth0.keep_addr_on_down=1
  run ip -n "$inet_ns" -6 addr add "$INET_CLIENT_ADDR6/64" dev "cl-$LAB_ID" nodad
  run ip -n "$ns" -6 addr add "$CLIENT_ADDR6/64" dev eth0 nodad
  run ip -n "$ns" -6 route add default via "$INET_CLIENT_ADDR6"

  mkdir -p "$S/client"
  printf '# Client host of Orlune lab %s\nnameserver %s\n' "$LAB_ID" "$INET_CLIENT_ADDR" > "$S/client/resolv.conf"
  # The mount points must exist; on a machine without the package they are made, empty.
  for d in "${SERVICE_DIRS[@]}"; do [ -d "$d" ] || { mkdir -p "$d" && chmod 755 "$d"; }; done

  nsenter --net="/run/netns/$ns" -- unshare --mount --propagation private -- sleep infinity \
    </dev/null >/dev/null 2>&1 &
  holder=$!
  record_pid client-holder "$holder"
  # The holder has its own mount namespace once unshare has exec'd sleep.
  wait_for 5 holder_ready "$holder" || die "the client host's holder process did not start"
  record_pid client-holder "$holder"
  client_mount "$holder" mount -t sysfs -o ro,nosuid,nodev,noexec olab-sys /sys
  if [ -L /etc/resolv.conf ]; then
    # A link (for example into systemd-resolved's directory) would make the service pick a
    # backend that talks to this machine's resolver; the client host gets a plain file instead.
    mkdir -p "$S/client/etc-upper" "$S/client/etc-work"
    client_mount "$holder" mount -t overlay olab-etc \
      -o "lowerdir=/etc,upperdir=$S/client/etc-upper,workdir=$S/client/etc-work" /etc
    client_mount "$holder" rm -f /etc/resolv.conf
    client_mount "$holder" touch /etc/resolv.conf
  fi
  client_mount "$holder" mount --bind "$S/client/resolv.conf" /etc/resolv.conf
  for d in "${SERVICE_DIRS[@]}"; do
    client_mount "$holder" mount -t tmpfs -o mode=755,nosuid,nodev,size=16m olab-state "$d"
  done

  ensure_user_home
}

holder_ready() {
  [ "$(readlink "/proc/$1/ns/mnt")" != "$(readlink /proc/self/ns/mnt)" ] &&
    [ "$(readlink "/proc/$1/exe")" = "$(readlink -f "$(command -v sleep)")" ]
}
