#!/usr/bin/env bash
# The package's maintainer scripts, run the way dpkg runs them but into a scratch root
# (DPKG_ROOT), with a stand-in systemctl that records what it is asked: the manifest's content
# and modes on install and upgrade, the service's start, restart and stop only where systemd
# runs, and what purge removes.
# Usage: maintainer_scripts_test.sh PACKAGING-DIR
set -uo pipefail
dir=${1:?packaging directory}
if [ "$(id -u)" -ne 0 ]; then echo "skipped: the scripts set root ownership"; exit 77; fi
. "$(dirname "$0")/../tests/lab/test/testlib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DPKG_ROOT=$work/root
mkdir -p "$DPKG_ROOT/usr/bin" "$work/bin"
cat > "$work/bin/systemctl" <<'STUB'
#!/bin/sh
echo "$*" >> "$SYSTEMCTL_LOG"
case "$1" in is-active) [ -e "$SYSTEMCTL_ACTIVE" ] ;; esac
STUB
chmod 755 "$work/bin/systemctl"
export PATH=$work/bin:$PATH SYSTEMCTL_LOG=$work/systemctl.log SYSTEMCTL_ACTIVE=$work/active
manifest=$DPKG_ROOT/var/lib/orlune-vpn/client.json
calls() { cat "$SYSTEMCTL_LOG" 2>/dev/null | tr '\n' ';'; rm -f "$SYSTEMCTL_LOG"; }
mode_of() { stat -c '%a %U' "$1"; }

group "install without systemd: the manifest names the app and its SHA-256; no service calls"
printf 'first build\n' > "$DPKG_ROOT/usr/bin/orlune-vpn"
first=$(sha256sum "$DPKG_ROOT/usr/bin/orlune-vpn" | cut -d' ' -f1)
check "postinst configure succeeds" sh "$dir/postinst" configure
check_eq "the manifest" "{\"identifier\": \"/usr/bin/orlune-vpn\", \"cdhash\": \"$first\"}" "$(cat "$manifest")"
check_eq "the manifest is 0644, root's" "644 root" "$(mode_of "$manifest")"
check_eq "its directory is 0755, root's" "755 root" "$(mode_of "$(dirname "$manifest")")"
check_eq "no leftover temporary file" "client.json" "$(ls "$(dirname "$manifest")")"
check_eq "systemctl is not called" "" "$(calls)"

group "with systemd: install enables and starts; an upgrade of a running service restarts it"
mkdir -p "$DPKG_ROOT/run/systemd/system"
check "postinst configure succeeds" sh "$dir/postinst" configure
check_eq "enable and start" "daemon-reload;enable orlune-vpn.service;start orlune-vpn.service;" "$(calls)"
printf 'second build\n' > "$DPKG_ROOT/usr/bin/orlune-vpn"
second=$(sha256sum "$DPKG_ROOT/usr/bin/orlune-vpn" | cut -d' ' -f1)
touch "$SYSTEMCTL_ACTIVE"
check "prerm upgrade succeeds" sh "$dir/prerm" upgrade 0.1.0
check_eq "prerm upgrade leaves the service to the new postinst" "" "$(calls)"
check "postinst configure (upgrade) succeeds" sh "$dir/postinst" configure 0.1.0
check_eq "the upgrade restarts the running service" "daemon-reload;enable orlune-vpn.service;is-active --quiet orlune-vpn.service;restart orlune-vpn.service;" "$(calls)"
check_match "the upgrade rewrote the manifest with the new hash" "\"cdhash\": \"$second\"" "$(cat "$manifest")"
check "prerm remove succeeds" sh "$dir/prerm" remove
check_eq "removal stops and disables the service" "stop orlune-vpn.service;disable orlune-vpn.service;" "$(calls)"

group "removal keeps the manifest, purge removes the service's directory"
check "postrm remove succeeds" sh "$dir/postrm" remove
check "the manifest stays after a removal" test -f "$manifest"
mkdir -p "$DPKG_ROOT/var/lib/orlune-vpn/state"
check "postrm purge succeeds" sh "$dir/postrm" purge
check "purge removes /var/lib/orlune-vpn" test ! -e "$DPKG_ROOT/var/lib/orlune-vpn"
calls >/dev/null

group "purge empties, but keeps, a directory that another mount namespace mounts over"
if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "# skipped: no mount namespaces here"
else
  sh "$dir/postinst" configure >/dev/null
  calls >/dev/null
  unshare --mount --propagation private sh -c \
    "mount -t tmpfs orlune-test '$DPKG_ROOT/var/lib/orlune-vpn' && touch '$DPKG_ROOT/var/lib/orlune-vpn/theirs' && exec sleep 30" &
  holder=$!
  for _ in $(seq 1 50); do grep -qs " $DPKG_ROOT/var/lib/orlune-vpn " "/proc/$holder/mountinfo" && break; sleep 0.1; done
  check "postrm purge succeeds" sh "$dir/postrm" purge
  check "the directory stays" test -d "$DPKG_ROOT/var/lib/orlune-vpn"
  check_eq "emptied" "" "$(ls -A "$DPKG_ROOT/var/lib/orlune-vpn")"
  check "the other namespace keeps its mount and its files" nsenter -t "$holder" -m test -e "$DPKG_ROOT/var/lib/orlune-vpn/theirs"
  kill "$holder"; wait "$holder" 2>/dev/null
  calls >/dev/null
  rm -rf "$DPKG_ROOT/var/lib/orlune-vpn"
fi

group "a missing app is an error, never a manifest with an empty hash"
rm -f "$DPKG_ROOT/usr/bin/orlune-vpn"
out=$(sh "$dir/postinst" configure 2>&1); status=$?
check_eq "postinst fails" 1 "$status"
check_match "it says why" "could not hash /usr/bin/orlune-vpn" "$out"
check "no manifest was written" test ! -e "$manifest"
check_eq "the service is not started" "" "$(calls)"
finish
