#!/usr/bin/env bash
# The installed package, end to end: its own client manifest, its app at /usr/bin/orlune-vpn and
# its service, confined like its unit, connect in the lab and give everything back. Skipped
# unless the package is installed (make install) and the lab can run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/e2e/e2elib.sh"
status=$(dpkg-query -W -f='${db:Status-Status}' orlune-vpn 2>/dev/null || true)
[ "$status" = installed ] || { echo "skipped: the orlune-vpn package is not installed"; exit 77; }
skip_unless_lab_possible

export LAB_ID
LAB_ID=$(new_lab_id)
LAB_SERVICE_CAPS=$(unit_capabilities)
export LAB_SERVICE_CAPS
WORK=$(mktemp -d)
APP=/usr/bin/orlune-vpn
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT
"$LAB" up --owner $$ >"$WORK/up.log" 2>&1 || { cat "$WORK/up.log"; echo "FAIL - the lab did not come up"; exit 1; }
eval "$("$LAB" env)"
CLIENT_NET=$(readlink "/proc/$(awk '{print $1}' "$LAB_STATE/pids/client-holder")/ns/net")

group "the package's manifest, app and service"
# The client host sees this machine's /usr but has its own /var/lib/orlune-vpn: it gets the
# manifest the package wrote.
install -m 644 /var/lib/orlune-vpn/client.json "$LAB_STATE/package-client.json"
check "the package's manifest is in the client host" \
  "$LAB" exec -- install -o root -g root -m 644 "$LAB_STATE/package-client.json" /var/lib/orlune-vpn/client.json
check "the installed service starts" "$LAB" install --service /usr/libexec/orlune-vpn/orlune-vpn-service
resolv_before=$(resolv)
start_connect installed JP
if wait_for_line "$WORK/installed.out" '^Connected' 90 "$RUNNER"; then ok "the installed app connects"; else not_ok "the installed app connects"; fi
check_match "the service reports the tunnel to it" '"state":"connected"' "$(service_state)"
kill -INT "$(app_pid)" 2>/dev/null
wait "$RUNNER"; code=$?
check_eq "Ctrl-C: exit 0" 0 "$code"
check "engine stopped, resolv.conf byte-identical" eval 'no_engine && resolv_is "$resolv_before"'
e2e_finish installed
