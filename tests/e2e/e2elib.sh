# Helpers shared by the end-to-end tests: a lab with the build installed, the command line run
# in the background as a lab user, and the facts a test compares (DNS, route, engine processes).
# shellcheck shell=bash
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$E2E_DIR/../lab/test/testlib.sh"
UNIT_FILE=$E2E_DIR/../../packaging/orlune-vpn.service

# The service runs with no more capabilities than its systemd unit grants, so every scenario
# also proves that the unit's bounding set is enough.
unit_capabilities() {
  sed -n 's/^CapabilityBoundingSet=//p' "$UNIT_FILE" | tr ' ' '\n' | sed 's/^CAP_//' |
    tr 'A-Z' 'a-z' | paste -sd, -
}

# Brings a lab up for this test with both programs installed; sets LAB_ID, LAB_STATE, APP, WORK.
e2e_up() { # description app service [lab up options...]
  local description=$1 app=$2 service=$3
  shift 3
  export LAB_ID
  LAB_ID=$(new_lab_id)
  LAB_SERVICE_CAPS=$(unit_capabilities)
  export LAB_SERVICE_CAPS
  WORK=$(mktemp -d)
  trap e2e_cleanup EXIT
  if ! "$LAB" up --description "$description" --owner $$ --app "$app" --service "$service" "$@" >"$WORK/up.log" 2>&1; then
    cat "$WORK/up.log"; echo "FAIL - the lab did not come up"; exit 1
  fi
  eval "$("$LAB" env)"
  APP=$LAB_STATE/install/usr/bin/orlune-vpn
  CLIENT_NET=$(readlink "/proc/$(awk '{print $1}' "$LAB_STATE/pids/client-holder")/ns/net")
}

e2e_cleanup() {
  pkill -KILL -f "^${APP:-/nonexistent} " 2>/dev/null
  "$LAB" down >/dev/null 2>&1
  [ -z "${WORK:-}" ] || rm -rf "$WORK"
}

# Starts `orlune-vpn connect TARGET` as a lab user in the background; its output goes to
# $WORK/NAME.out and .err, its runner's pid to RUNNER.
start_connect() { # name target [user]
  LAB_USER=${3:-orlune-lab} "$LAB" exec --user -- "$APP" connect "$2" >"$WORK/$1.out" 2>"$WORK/$1.err" &
  # shellcheck disable=SC2034  # read by the tests that source this file
  RUNNER=$!
}

# Waits until FILE has a line matching REGEX (true) or SECONDS pass or the runner ends (false).
wait_for_line() { # file regex seconds [runner]
  local deadline=$((SECONDS + $3))
  while [ $SECONDS -lt $deadline ]; do
    grep -Eq -- "$2" "$1" 2>/dev/null && return 0
    if [ -n "${4:-}" ] && ! kill -0 "$4" 2>/dev/null; then grep -Eq -- "$2" "$1" 2>/dev/null; return; fi
    sleep 0.2
  done
  return 1
}

# Waits until a command succeeds; prints the seconds it took (with tenths), fails after LIMIT.
time_until() { # limit command...
  local limit=$1 start now
  shift
  start=$(date +%s%N)
  while :; do
    if "$@" >/dev/null 2>&1; then
      now=$(date +%s%N); awk -v d=$((now - start)) 'BEGIN { printf "%.1f", d / 1e9 }'; return 0
    fi
    now=$(date +%s%N)
    [ $(((now - start) / 1000000)) -lt $((limit * 1000)) ] || return 1
    sleep 0.05
  done
}

# Ended: no such process, or one that only waits to be reaped.
process_gone() { ! awk '{sub(/^.*\) /, ""); exit ($1 ~ /^[ZX]/)}' "/proc/$1/stat" 2>/dev/null; }
app_pid() { pgrep -n -f "^$APP connect" || true; }
service_pid() { awk '{print $1}' "$LAB_STATE/pids/service" 2>/dev/null; }

# OpenVPN engines running inside this lab's client host (other labs may run their own).
engine_pids() {
  local p
  for p in $(pgrep -f '^/usr/sbin/openvpn --config /var/lib/orlune-vpn/state/' || true); do
    [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$CLIENT_NET" ] && echo "$p"
  done
  return 0
}
no_engine() { [ -z "$(engine_pids)" ]; }

resolv() { "$LAB" exec -- cat /etc/resolv.conf; }
route_to_1111() { "$LAB" exec -- ip -4 route get 1.1.1.1; }
service_state() { LAB_USER=${1:-orlune-lab} "$LAB" exec --user -- "$APP" status --json 2>&1; }
resolv_is() { [ "$(resolv)" = "$1" ]; }

# Prints the outputs of the named runs when something failed, then the summary.
e2e_finish() { # names...
  local name
  if [ "$FAILURES" -gt 0 ]; then
    for name in "$@"; do
      for stream in out err; do
        [ -s "$WORK/$name.$stream" ] || continue
        echo "# $name std$stream:"; sed 's/^/#   /' "$WORK/$name.$stream"
      done
    done
    echo "# service log:"; tail -n 30 "$LAB_STATE/logs/service.log" 2>/dev/null | sed 's/^/#   /'
  fi
  finish
}
