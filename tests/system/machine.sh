# A booted Debian 12 as the lab's client host: a root file system made once with mmdebstrap
# (cached outside the work tree, keyed by its package list) and booted with systemd-nspawn into
# the lab's client network namespace, with a throw-away overlay so every boot starts clean.
# Nothing here boots systemd on this machine's own root file system.
# shellcheck shell=bash

SYSTEM_CACHE=${ORLUNE_SYSTEM_CACHE:-/var/cache/orlune-vpn-system}
SYSTEM_USER=orlune-user
# What the machine runs besides the package and its dependencies: systemd with D-Bus, both
# resolver managers (disabled until a scenario enables one), and the tools the tests use.
BASE_PACKAGES=(systemd systemd-sysv dbus systemd-resolved network-manager nftables iproute2 procps
               util-linux passwd openvpn ca-certificates)
# Changes to how the root file system is made change its key as well.
ROOTFS_RECIPE=1

note() { echo "system: $*" >&2; }

# Where nspawn cannot boot a machine, the suite is skipped (exit 77) with the reason.
skip_unless_machine_possible() {
  [ "$(id -u)" -eq 0 ] || { echo "skipped: the system suite needs root"; exit 77; }
  command -v systemd-nspawn >/dev/null && command -v mmdebstrap >/dev/null ||
    { echo "skipped: no systemd-nspawn or mmdebstrap (scripts/bootstrap system installs them)"; exit 77; }
  [ -d /sys/fs/cgroup/unified ] || [ "$(stat -fc %T /sys/fs/cgroup)" = cgroup2fs ] ||
    { echo "skipped: no cgroup v2 hierarchy, which the unit's device policy needs to be enforced"; exit 77; }
  [ -r /etc/apt/sources.list.d/debian.sources ] || [ -r /etc/apt/sources.list ] ||
    { echo "skipped: no apt sources to build the root file system from"; exit 77; }
}

apt_sources() {
  if [ -r /etc/apt/sources.list.d/debian.sources ]; then cat /etc/apt/sources.list.d/debian.sources
  else cat /etc/apt/sources.list; fi
}

# The package's run-time dependencies by name (first of each alternative, versions dropped).
deb_depends() { # deb
  dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$'
}

rootfs_packages() { # deb
  { printf '%s\n' "${BASE_PACKAGES[@]}"; deb_depends "$1"; } | sort -u
}

# Prints the root file system for this package list, building it first when it is not cached.
ensure_rootfs() { # deb
  local packages key root
  packages=$(rootfs_packages "$1")
  key=$(printf '%s\nrecipe %s\n' "$packages" "$ROOTFS_RECIPE" | sha256sum | cut -c1-16)
  root=$SYSTEM_CACHE/root-$key
  mkdir -p "$SYSTEM_CACHE/archives"
  # Tests started together build it once: the others wait for the first.
  exec 8>"$SYSTEM_CACHE/.lock"
  flock 8
  # A cached tree made for a larger list serves as well (the package's dependencies shrank).
  local d
  if [ ! -f "$root/.complete" ]; then
    for d in "$SYSTEM_CACHE"/root-*/; do
      [ -f "$d.complete" ] && [ "$(head -1 "$d.packages" 2>/dev/null)" = "recipe $ROOTFS_RECIPE" ] || continue
      [ -z "$(comm -23 <(echo "$packages") <(tail -n +2 "$d.packages" | sort))" ] && { root=${d%/}; break; }
    done
  fi
  if [ ! -f "$root/.complete" ]; then
    note "building the Debian 12 root file system $root (first run or a new package list): mmdebstrap"
    note "  from this machine's apt sources, $(wc -l <<<"$packages") packages, a few minutes with downloads:"
    note "  $(tr '\n' ' ' <<<"$packages")"
    rm -rf "$root.new"
    local t0=$SECONDS
    # Packages already downloaded (by this machine's apt or an earlier build) are hard-linked in,
    # and whatever is downloaded is kept for the next build.
    if ! apt_sources | mmdebstrap --variant=minbase --include="$(paste -sd, <<<"$packages")" \
        --skip=download/empty --skip=essential/unlink \
        --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
        --setup-hook="cp -l $SYSTEM_CACHE/archives/*.deb /var/cache/apt/archives/*.deb \"\$1\"/var/cache/apt/archives/ 2>/dev/null || true" \
        --customize-hook="cp -ln \"\$1\"/var/cache/apt/archives/*.deb $SYSTEM_CACHE/archives/ 2>/dev/null || true" \
        --customize-hook="bash $SYSTEM_DIR/customize_rootfs.sh \"\$1\" $SYSTEM_USER" \
        bookworm "$root.new" - >"$SYSTEM_CACHE/build-$key.log" 2>&1; then
      tail -n 30 "$SYSTEM_CACHE/build-$key.log" >&2
      rm -rf "$root.new"
      note "building the root file system failed (log $SYSTEM_CACHE/build-$key.log)"
      return 1
    fi
    { echo "recipe $ROOTFS_RECIPE"; echo "$packages"; } > "$root.new/.packages"
    touch "$root.new/.complete"
    mv "$root.new" "$root"
    note "root file system ready in $((SECONDS - t0)) s ($(du -sh "$root" | cut -f1))"
  fi
  exec 8>&-
  echo "$root"
}

# Boots ROOT as the client host of lab LAB_ID; sets MACHINE_PID (the machine's init, as this
# machine sees it) and MACHINE_NSPAWN. The overlay keeps the cached tree unchanged.
boot_machine() { # root log
  local root=$1 log=$2 ns=/run/netns/olab-$LAB_ID-client
  [ -e "$ns" ] || { note "lab $LAB_ID has no client host"; return 1; }
  # Without the unified hierarchy and the bpf system call the unit's device policy would be
  # silently ignored inside, and the hardened unit would pass a test it should fail.
  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 setsid systemd-nspawn -b -D "$root" --volatile=overlay \
    --register=no --keep-unit --system-call-filter=bpf --capability=CAP_NET_ADMIN --console=passive --quiet \
    --machine="olab-$LAB_ID" --hostname=orlune-client --resolv-conf=off --timezone=off \
    --network-namespace-path="$ns" \
    --bind-ro="$LAB_STATE/public" </dev/null >"$log" 2>&1 &
  MACHINE_NSPAWN=$!
  MACHINE_PID=""
  local state
  for _ in $(seq 1 100); do
    MACHINE_PID=$(machine_init_pid "$MACHINE_NSPAWN") && break
    kill -0 "$MACHINE_NSPAWN" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$MACHINE_PID" ] || { note "the machine did not start (log $log)"; tail -n 20 "$log" >&2; return 1; }
  # The first calls may come before the bus is up.
  for _ in $(seq 1 100); do
    state=$(in_machine systemctl is-system-running --wait 2>/dev/null) || true
    case $state in running|degraded) return 0 ;; esac
    sleep 0.1
  done
  note "the machine did not finish booting (state '$state')"
  return 1
}

# The machine's init: a descendant of nspawn that is pid 1 in its own pid namespace.
machine_init_pid() { # nspawn-pid
  local p
  for p in $(pgrep -P "$1") $(for c in $(pgrep -P "$1"); do pgrep -P "$c"; done); do
    [ "$(awk '/^NSpid:/ {print $NF}' "/proc/$p/status" 2>/dev/null)" = 1 ] && { echo "$p"; return 0; }
  done
  return 1
}

# Runs a command inside the machine as its root.
in_machine() { nsenter -t "$MACHINE_PID" -a -- "$@"; }

# Runs a command inside the machine as its ordinary desktop user, with a login-like environment
# and the lab's endpoints.
as_user() {
  nsenter -t "$MACHINE_PID" -a -- setpriv --reuid="$SYSTEM_USER" \
    --regid="$SYSTEM_USER" --init-groups -- env -i -C /home/$SYSTEM_USER HOME=/home/$SYSTEM_USER USER=$SYSTEM_USER \
    LOGNAME=$SYSTEM_USER PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
    XDG_RUNTIME_DIR=/home/$SYSTEM_USER/.runtime ORLUNE_ENDPOINTS="$LAB_STATE/public/endpoints.json" "$@"
}

# Powers the machine off and waits for nspawn to end (killing it after 20 s), then removes the
# cgroups that nspawn leaves behind with --keep-unit.
stop_machine() {
  [ -n "${MACHINE_NSPAWN:-}" ] || return 0
  if kill -0 "$MACHINE_NSPAWN" 2>/dev/null; then
    in_machine systemctl poweroff --no-block >/dev/null 2>&1 || kill -TERM "$MACHINE_NSPAWN" 2>/dev/null
    for _ in $(seq 1 200); do kill -0 "$MACHINE_NSPAWN" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$MACHINE_NSPAWN" 2>/dev/null || true
  fi
  wait "$MACHINE_NSPAWN" 2>/dev/null || true
  MACHINE_NSPAWN=""
  remove_payload_cgroups
}

remove_payload_cgroups() {
  local base own d
  base=/sys/fs/cgroup/unified
  [ -d "$base" ] || base=/sys/fs/cgroup
  own=$(awk -F: '$1 == 0 {print $3}' /proc/self/cgroup)
  for d in "$base${own%/}/payload" "$base${own%/}/supervisor"; do
    [ -d "$d" ] || continue
    find "$d" -depth -type d -exec rmdir {} + 2>/dev/null || true
  done
}
