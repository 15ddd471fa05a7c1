#!/usr/bin/env bash
# The built package's maintainer scripts (ours plus debhelper's), run the way dpkg runs them but
# into a scratch root (DPKG_ROOT), with stand-ins for systemctl, deb-systemd-helper and
# deb-systemd-invoke that record what they are asked: the manifest's content and modes on install
# and upgrade and that it is in place before the service (re)starts, start/restart/stop only
# where systemd runs, and what purge removes.
# Usage: maintainer_scripts_test.sh PACKAGE-DIR   (where `make package` leaves the .deb)
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then echo "skipped: the scripts set root ownership"; exit 77; fi
deb=$(ls "${1:?package directory}"/orlune-vpn_*.deb 2>/dev/null)
[ -f "$deb" ] || { echo "skipped: no package in $1 (make package)"; exit 77; }
. "$(dirname "$0")/../tests/lab/test/testlib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DPKG_ROOT=$work/root
mkdir -p "$DPKG_ROOT/usr/bin" "$work/bin" "$work/scripts"
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$DPKG_ROOT" ./usr/libexec/orlune-vpn/write-client-manifest
dpkg-deb -e "$deb" "$work/control"
# "Systemd runs the system" is the scratch root's /run/systemd/system; debhelper's scripts look at
# the real one, which the stand-ins must not depend on.
for script in postinst prerm postrm; do
  sed -e "s#/run/systemd/system#$DPKG_ROOT/run/systemd/system#g" \
      -e "s#/usr/bin/deb-systemd-helper#$work/bin/deb-systemd-helper#g" \
      "$work/control/$script" > "$work/scripts/$script"
done
manifest=$DPKG_ROOT/var/lib/orlune-vpn/client.json
for tool in systemctl deb-systemd-helper deb-systemd-invoke; do
  cat > "$work/bin/$tool" <<STUB
#!/bin/sh
# Starts and restarts also note the manifest's hash at that moment.
case "\$*" in *start*) extra=" [\$(sed -n 's/.*"cdhash": "\\(.*\\)".*/\\1/p' "$manifest" 2>/dev/null | cut -c1-8)]" ;; *) extra="" ;; esac
echo "$tool \$*\$extra" >> "$work/calls"
STUB
  chmod 755 "$work/bin/$tool"
done
export PATH=$work/bin:$PATH
run() { sh "$work/scripts/$1" "${@:2}"; }
# Service calls only: deb-systemd-helper merely records enablement in the (scratch) root.
calls() { grep -v '^deb-systemd-helper' "$work/calls" 2>/dev/null | tr '\n' ';'; rm -f "$work/calls"; }
mode_of() { stat -c '%a %U' "$1"; }
build() { printf '%s\n' "$1" > "$DPKG_ROOT/usr/bin/orlune-vpn"; sha256sum "$DPKG_ROOT/usr/bin/orlune-vpn" | cut -d' ' -f1; }

group "install without systemd: the manifest names the app and its SHA-256; the service is not started"
first=$(build 'first build')
check "postinst configure succeeds" run postinst configure
check_eq "the manifest" "{\"identifier\": \"/usr/bin/orlune-vpn\", \"cdhash\": \"$first\"}" "$(cat "$manifest")"
check_eq "the manifest is 0644, root's" "644 root" "$(mode_of "$manifest")"
check_eq "its directory is 0755, root's" "755 root" "$(mode_of "$(dirname "$manifest")")"
check_eq "no leftover temporary file" "client.json" "$(ls "$(dirname "$manifest")")"
check_eq "no service calls" "" "$(calls)"

group "with systemd: install starts the service; an upgrade restarts it after the new manifest is written"
mkdir -p "$DPKG_ROOT/run/systemd/system"
check "postinst configure succeeds" run postinst configure
check_eq "reload, then start with the manifest in place" \
  "systemctl --system daemon-reload;deb-systemd-invoke start orlune-vpn.service [${first:0:8}];" "$(calls)"
second=$(build 'second build')
check "prerm upgrade succeeds" run prerm upgrade 0.1.0
check_eq "prerm upgrade leaves the service to the new postinst" "" "$(calls)"
check "postinst configure (upgrade) succeeds" run postinst configure 0.1.0
check_eq "the upgrade restarts the service with the new manifest" \
  "systemctl --system daemon-reload;deb-systemd-invoke restart orlune-vpn.service [${second:0:8}];" "$(calls)"
check "prerm remove succeeds" env -u DPKG_ROOT sh "$work/scripts/prerm" remove
check_eq "removal stops the service" "deb-systemd-invoke stop orlune-vpn.service;" "$(calls)"

group "removal keeps the manifest, purge removes the service's directory and its enablement"
check "postrm remove succeeds" run postrm remove
check "the manifest stays after a removal" test -f "$manifest"
mkdir -p "$DPKG_ROOT/var/lib/orlune-vpn/state"
check "postrm purge succeeds" run postrm purge
check "purge removes /var/lib/orlune-vpn" test ! -e "$DPKG_ROOT/var/lib/orlune-vpn"
check_match "purge forgets the unit's enablement" "deb-systemd-helper purge orlune-vpn.service" "$(cat "$work/calls")"
calls >/dev/null

group "purge empties, but keeps, a directory that another mount namespace mounts over"
if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "# skipped: no mount namespaces here"
else
  run postinst configure >/dev/null
  unshare --mount --propagation private sh -c \
    "mount -t tmpfs orlune-test '$DPKG_ROOT/var/lib/orlune-vpn' && touch '$DPKG_ROOT/var/lib/orlune-vpn/theirs' && exec sleep 30" &
  holder=$!
  for _ in $(seq 1 50); do grep -qs " $DPKG_ROOT/var/lib/orlune-vpn " "/proc/$holder/mountinfo" && break; sleep 0.1; done
  check "postrm purge succeeds" run postrm purge
  check "the directory stays" test -d "$DPKG_ROOT/var/lib/orlune-vpn"
  check_eq "emptied" "" "$(ls -A "$DPKG_ROOT/var/lib/orlune-vpn")"
  check "the other namespace keeps its mount and its files" nsenter -t "$holder" -m test -e "$DPKG_ROOT/var/lib/orlune-vpn/theirs"
  kill "$holder"; wait "$holder" 2>/dev/null
  calls >/dev/null
  rm -rf "$DPKG_ROOT/var/lib/orlune-vpn"
fi

group "a missing app is an error, never a manifest with an empty hash"
rm -f "$DPKG_ROOT/usr/bin/orlune-vpn"
out=$(run postinst configure 2>&1); status=$?
check_eq "postinst fails" 1 "$status"
check_match "it says why" "could not hash /usr/bin/orlune-vpn" "$out"
check "no manifest was written" test ! -e "$manifest"
check_eq "the service is not started" "" "$(calls)"
finish
