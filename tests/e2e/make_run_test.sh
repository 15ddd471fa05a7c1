#!/usr/bin/env bash
# `make run` as a newcomer meets it, on the command line: the lab comes up, the facts before, the
# verified tunnel, then Ctrl-C (SIGINT to the terminal's whole process group) disconnects, shows
# everything as before and takes the lab down.
# Usage: make_run_test.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
build=${1:?build directory}
skip_unless_lab_possible
work=$(mktemp -d)
run_pid=""
trap '[ -z "$run_pid" ] || kill -KILL -- -"$run_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Its own process group, as a terminal's foreground job would be.
ORLUNE_RUN_MODE=cli setsid "$here/../../scripts/run" "$build" >"$work/out" 2>&1 &
run_pid=$!
lab_id=run$run_pid

group "the demo shows the verified tunnel"
if wait_for_line "$work/out" '^.*Verified: ' 120 "$run_pid"; then ok "a Verified line"; else not_ok "a Verified line"; fi
out=$(sed 's/\x1b\[[0-9;]*m//g' "$work/out")
check_match "before: the client's own address and DNS" 'Before: public address 203\.0\.113\.10, DNS 203\.0\.113\.1, route to 1\.1\.1\.1: .* dev eth0' "$out"
check_match "the command line connected" 'Connected to [a-z0-9-]+ \([^,]+, [0-9.]+\) through tun[0-9]+; public address ' "$out"
check_match "verified: the relay's address and country, the service's DNS, the tunnel route" \
  'Verified: public address 198\.51\.100\.[0-9]+, exit country [A-Z]{2}, DNS 1\.1\.1\.1, 8\.8\.8\.8, route: .* dev tun[0-9]+' "$out"
check "the lab runs" test -d "/run/orlune-lab/$lab_id"

group "Ctrl-C disconnects, shows everything as before and takes the lab down"
kill -INT -- -"$run_pid"
status=0
for _ in $(seq 1 150); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.2; done
wait "$run_pid" || status=$?
run_pid=""
out=$(sed 's/\x1b\[[0-9;]*m//g' "$work/out")
check_eq "make run exits 0" 0 "$status"
check_match "the app disconnected" '(^|[^A-Za-z])Disconnected\.' "$out"
check_match "after: as before" 'After: public address 203\.0\.113\.10, DNS 203\.0\.113\.1, route to 1\.1\.1\.1: .* dev eth0' "$out"
check "the lab is gone" test ! -e "/run/orlune-lab/$lab_id"
[ "$FAILURES" -eq 0 ] || sed 's/^/#   /' "$work/out"
finish
