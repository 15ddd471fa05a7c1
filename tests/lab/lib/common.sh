# Shared by every lab command: addresses, names, the state directory and its records.
# shellcheck shell=bash
# shellcheck disable=SC2034  # the settings here are read by the files that source this one

LAB_HOME=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LAB_RUN_DIR=${LAB_RUN_DIR:-/run/orlune-lab}
NS_PREFIX=olab

# The only addresses the lab uses. All three ranges are reserved for documentation, so nothing
# in them can belong to a real host, and the guard in every namespace drops anything else.
LAB_RANGES=(192.0.2.0/24 198.51.100.0/24 203.0.113.0/24)
CLIENT_ADDR=203.0.113.10
INET_CLIENT_ADDR=203.0.113.1
# IPv6 only on the client's link, from the documentation prefix (the guard drops all else).
LAB_RANGE6=2001:db8::/32
CLIENT_ADDR6=2001:db8:1::10
INET_CLIENT_ADDR6=2001:db8:1::1
INET_RELAY_ADDR=198.51.100.1
MAX_RELAYS=16
ENDPOINT_NAMES=(catalog connectivity trace echo1 echo2 echo3 ipinfo mirror1 mirror2 speedtest)
declare -A SERVICE_ADDR=(
  [catalog]=192.0.2.10 [connectivity]=192.0.2.20 [trace]=192.0.2.30
  [echo1]=192.0.2.41 [echo2]=192.0.2.42 [echo3]=192.0.2.43 [ipinfo]=192.0.2.50
  [mirror1]=192.0.2.11 [mirror2]=192.0.2.12 [speedtest]=192.0.2.60)
# The speed test's download (sparse, so it costs no memory on the state's tmpfs).
SPEEDTEST_BYTES=$((32 * 1024 * 1024))
# Faults an endpoint can show: nginx-level ones are flag files, packet-level ones nft sets.
# `blocked` refuses the client host only: the internet host itself (its proxy) still gets through.
ENDPOINT_FAULTS=(ok hang slow 429 html empty silent refused blocked)
# The catalog proxy (tinyproxy, `lab proxy start`) on the internet host's client-side address.
PROXY_PORT=8888

relay_addr() { echo "198.51.100.$((10 + $1))"; }
# Each relay hands its tunnel clients a /29 of 192.0.2.128/25 and masquerades it.
relay_pool() { echo "192.0.2.$((128 + 8 * ($1 - 1)))"; }

die() { echo "lab: $*" >&2; exit 1; }
note() { [ "${LAB_QUIET:-0}" = 1 ] || echo "lab: $*" >&2; }

# Runs a command; on failure shows what failed with its output, then fails.
run() {
  local out
  if ! out=$("$@" 2>&1); then
    echo "lab: failed: $*" >&2
    [ -n "$out" ] && printf '%s\n' "$out" | sed 's/^/  | /' >&2
    return 1
  fi
  [ -z "$out" ] || [ "${LAB_VERBOSE:-0}" != 1 ] || printf '%s\n' "$out" >&2
}

valid_id() { [[ $1 =~ ^[a-z0-9]{1,8}$ ]]; }

# Selects the lab that a command acts on: LAB_ID, or the only lab on the machine.
select_lab() {
  if [ -z "${LAB_ID:-}" ]; then
    local ids
    mapfile -t ids < <(list_labs)
    [ ${#ids[@]} -eq 1 ] || die "set LAB_ID to choose a lab (labs here: ${ids[*]:-none})"
    LAB_ID=${ids[0]}
  fi
  valid_id "$LAB_ID" || die "invalid lab id '$LAB_ID' (1-8 of a-z, 0-9)"
  S=$LAB_RUN_DIR/$LAB_ID
}

list_labs() {
  local d
  for d in "$LAB_RUN_DIR"/*/; do
    [ -d "$d" ] || continue
    d=${d%/}; d=${d##*/}
    valid_id "$d" && echo "$d"
  done
}

require_root() { [ "$(id -u)" -eq 0 ] || die "$1 needs root (network namespaces)"; }

ns_name() { echo "$NS_PREFIX-$LAB_ID-$1"; }
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

# Process records carry the start time, so a reused pid is never mistaken for ours.
# A process that has ended but is not yet reaped (state Z or X) has no start time: it is gone.
proc_start() { [ -r "/proc/$1/stat" ] && awk '{sub(/^.*\) /, ""); if ($1 !~ /^[ZX]/) print $20}' "/proc/$1/stat" 2>/dev/null; }
record_pid() { # label pid
  mkdir -p "$S/pids"
  echo "$2 $(proc_start "$2")" > "$S/pids/$1"
}
# Prints the pid of a recorded process if that very process still runs.
live_pid() {
  local f=$S/pids/$1 pid start
  [ -f "$f" ] || return 1
  read -r pid start < "$f" || return 1
  [ -n "$pid" ] && [ -n "$start" ] && [ "$(proc_start "$pid")" = "$start" ] || return 1
  echo "$pid"
}
# Pid written by a daemon into its own pid file; recorded under the label once seen.
adopt_pidfile() { # label pidfile
  local pid
  pid=$(tr -dc 0-9 < "$2" 2>/dev/null) || true
  [ -n "$pid" ] && [ -d "/proc/$pid" ] && record_pid "$1" "$pid"
}

# Minimal JSON string quoting for paths and URLs.
json_str() {
  local s=$1
  s=${s//\\/\\\\}; s=${s//\"/\\\"}; s=${s//$'\n'/\\n}; s=${s//$'\t'/\\t}; s=${s//$'\r'/\\r}
  printf '"%s"' "$s"
}

# Waits until a command succeeds, polling every 50 ms, at most $1 seconds.
wait_for() {
  local tries=$(($1 * 20)); shift
  until "$@" 2>/dev/null; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || return 1
    sleep 0.05
  done
}

# Starts a program that puts itself in the background; its early output goes to a log file
# (a pipe would keep the caller waiting for as long as the daemon lives).
run_daemon() { # log command...
  local log=$1; shift
  if ! "$@" </dev/null >>"$log" 2>&1; then
    echo "lab: failed: $*" >&2
    tail -n 20 "$log" | sed 's/^/  | /' >&2
    return 1
  fi
}
