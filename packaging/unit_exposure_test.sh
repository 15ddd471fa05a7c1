#!/bin/sh
# The service unit's sandbox as systemd rates it offline: the overall exposure must stay under
# the limit, and the unit must pass systemd's own checks.
# Usage: unit_exposure_test.sh UNIT-FILE LIMIT
unit=${1:?unit file}
limit=${2:?exposure limit}
command -v systemd-analyze >/dev/null 2>&1 || { echo "skipped: no systemd-analyze"; exit 77; }
fail=0
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
# The analysis rates a unit by its file name; a copy under the installed name keeps the report's
# wording and avoids touching the source tree.
cp "$unit" "$work/orlune-vpn.service"
report=$(systemd-analyze security --offline=true --no-pager "$work/orlune-vpn.service" 2>&1)
figure=$(printf '%s\n' "$report" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
if [ -z "$figure" ]; then
  printf '%s\n' "$report"; echo "FAIL - no exposure figure"; exit 1
fi
if awk -v f="$figure" -v l="$limit" 'BEGIN { exit !(f < l) }'; then
  echo "ok - exposure $figure is under $limit"
else
  printf '%s\n' "$report"; echo "FAIL - exposure $figure is not under $limit"; fail=1
fi
# Settings the service's shutdown depends on, which no exposure figure reflects.
for line in 'KillMode=mixed' 'ExecStart=/usr/libexec/orlune-vpn/orlune-vpn-service' 'DeviceAllow=/dev/net/tun rw'; do
  if grep -qx "$line" "$unit"; then echo "ok - $line"; else echo "FAIL - the unit lacks $line"; fail=1; fi
done
verify=$(systemd-analyze verify --man=no "$work/orlune-vpn.service" 2>&1 |
  grep -v -e 'Command /usr/libexec/orlune-vpn/orlune-vpn-service is not executable' -e 'is not executable: No such file' )
if [ -z "$verify" ]; then echo "ok - systemd-analyze verify"; else printf '%s\n' "$verify"; echo "FAIL - systemd-analyze verify"; fail=1; fi
exit $fail
