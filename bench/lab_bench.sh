#!/usr/bin/env bash
# The system measured in the lab, side by side with the raw engine in the same run. Prints one
# plain line per figure ("bench NAME key=value ..."), each as the median and the spread (min, max)
# over repeated runs, so a script can compare two runs line by line.
#   connect     the command line from start to its "Connected" line, against the engine started
#               by hand on the same relay's profile until "Initialization Sequence Completed"
#               plus one IP echo request through the tunnel
#   connect_steps  where the command line's connect spends its time, step by step (the program
#               prints its steps with ORLUNE_TRACE_STEPS=1; the route through the tunnel, watched
#               from outside, marks the engine ready)
#   connect_real, connect_real_steps  the same over the lab's real distances (`up --wan real`),
#               in a second lab brought up at the end
#   block       the command line's connect on the TCP relay with the traffic block off and on
#               (--fail-closed --block-ipv6), alternating
#   disconnect  SIGINT to the command line until it exits with route and DNS back, against
#               SIGTERM to the engine until the route no longer goes through the tunnel
#   failover    `connect JP` with Japan's best relay silent: from its engine's end to the next
#               relay's engine start, watched from outside, and the whole connect
#   status      round trips of "status" (client authorization included) from an installed client,
#               with no tunnel and with one running
#   service     peak resident memory over the run, idle resident memory and idle CPU per minute
#   cli         peak resident memory of the command line while it holds the tunnel
#   window      the window, offscreen as the lab's user with a 300-relay catalog: start-up to its
#               first frame, and peak resident memory once the catalog is loaded and it is idle
# Usage: bench/lab_bench.sh BUILD_DIR   (as root; BENCH_RUNS=5, BENCH_STATUS_ROUNDS=5,
#        BENCH_STATUS_REQUESTS=1000, BENCH_STATUS_TUNNEL_REQUESTS=200, BENCH_IDLE_SECONDS=60,
#        BENCH_WINDOW_RUNS=3, BENCH_WINDOW_IDLE_SECONDS=10, BENCH_REAL_RUNS=BENCH_RUNS change the
#        counts; BENCH_ONLY=connect measures only the connects, without and with distances,
#        BENCH_ONLY=window only the window, BENCH_ONLY=service one connect and the idle service,
#        BENCH_ONLY=failover only the failover)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build directory}" && pwd)
lab=$root/tests/lab/lab
app=$build/app/orlune-vpn
service=$build/service/main/orlune-vpn-service
status_client=$build/bench/orlune-status-bench
# The delay line of this build tree (a bench build has its own), unless one is named.
for line in "$build/tests/lab/lab-delay-line" "$build/bench/lab-delay-line"; do
  [ -n "${LAB_DELAY_LINE:-}" ] || [ ! -x "$line" ] || export LAB_DELAY_LINE=$line
done
runs=${BENCH_RUNS:-5}
status_rounds=${BENCH_STATUS_ROUNDS:-5}
status_requests=${BENCH_STATUS_REQUESTS:-1000}
tunnel_requests=${BENCH_STATUS_TUNNEL_REQUESTS:-200}
idle_seconds=${BENCH_IDLE_SECONDS:-60}
window_runs=${BENCH_WINDOW_RUNS:-3}
window_idle_seconds=${BENCH_WINDOW_IDLE_SECONDS:-10}
window_relays=300
real_runs=${BENCH_REAL_RUNS:-$runs}
only=${BENCH_ONLY:-}
# Targets, printed beside the figures they judge (never asserted).
target_overhead_ms=200
target_real_overhead_ms=1000
target_real_ratio=1.3
target_cli_kb=$((20 * 1024))
target_window_kb=$((70 * 1024))
target_service_kb=$((6 * 1024))
target_status_p99_us=5000
target_failover_ms=1000
capture=$root/tests/data/vpngate/vpngate_api_iphone_2025-09-27.csv
# Every wait below is bounded; a step that exceeds its bound fails the bench, never hangs it.
connect_limit_s=60
disconnect_limit_s=30
# Each run takes two of a relay's few tunnel addresses (the app's engine, then the raw one), and
# the relay frees an address only when the client's keep-alive runs out (two minutes over UDP),
# so the runs take turns on the lab's three identical UDP relays. The status client's tunnel
# uses a TCP relay, whose addresses come free as soon as the connection closes.
udp_relays=(public-vpn-101 public-vpn-103 vpn-kr-201)
tcp_relay=public-vpn-102
most_runs=6

fail() { echo "bench: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "the bench runs in the lab and needs root (network namespaces)"
for program in "$app" "$service" "$status_client"; do
  [ -x "$program" ] || fail "missing $program: build the bench targets first"
done
for n in "$runs" "$real_runs" "$status_rounds" "$status_requests" "$tunnel_requests" "$idle_seconds" "$window_runs" \
         "$window_idle_seconds"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] && [ "$n" -le 100000 ] || fail "counts must be whole numbers from 1 to 100000"
done
case $only in ""|connect|window|service|failover) ;; *) fail "BENCH_ONLY is connect, window, service or failover" ;; esac
[ "$runs" -le $most_runs ] && [ "$real_runs" -le $most_runs ] || fail "at most $most_runs runs: the lab's relays have only a few tunnel addresses each"

export LAB_ID=bn$(($$ % 1000000))
work=$(mktemp -d)
engine_pid=""
app_pid=""
watcher_pid=""
cleanup() {
  # Only what this script started, by process id; `lab down` ends the rest of the lab.
  [ -z "$watcher_pid" ] || kill -KILL "$watcher_pid" 2>/dev/null
  [ -z "$app_pid" ] || kill -KILL "$app_pid" 2>/dev/null
  [ -z "$engine_pid" ] || kill -KILL "$engine_pid" 2>/dev/null
  "$lab" down >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Polls a condition every 10 ms for at most $1 seconds.
poll() {
  local limit=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$limit" ] || return 1
    sleep 0.01
  done
}
# median, min and max of the numbers on standard input, as "median=… min=… max=…" with prefix $1.
stats() {
  sort -g | awk -v p="$1" '{v[NR] = $1}
    END {m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
         printf "%s_median=%.6g %s_min=%.6g %s_max=%.6g", p, m, p, v[1], p, v[NR]}'
}
median() { sort -g | awk '{v[NR] = $1} END {printf "%.6g", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
proc_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
# Nanoseconds the process has spent on a CPU (schedstat is exact where /proc/PID/stat counts ticks).
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }

relay_address() { awk -F'\t' -v r="$1" '$2 == r {print $3}' "$LAB_STATE/relays.tsv"; }
route() { ip -n "$netns" -4 route get 1.1.1.1; }
# The lab with distances $1 (none or real), the app and service of this build installed.
lab_up() {
  "$lab" up --owner $$ --wan "$1" --service "$service" --app "$app" >"$work/up.log" 2>&1 ||
    { cat "$work/up.log"; fail "the lab did not come up"; }
  eval "$("$lab" env)"
  installed=$LAB_STATE/install/usr/bin/orlune-vpn
  netns=olab-$LAB_ID-client
  echo_url=$(sed -n 's/.*"plainEchoes": *\[ *"\([^"]*\)".*/\1/p' "$ORLUNE_ENDPOINTS")
  ca=$LAB_STATE/public/ca.crt
  service_pid=$(awk '{print $1; exit}' "$LAB_STATE/pids/service")
  for r in "${udp_relays[@]}" "$tcp_relay"; do
    [ -f "$LAB_STATE/public/profiles/$r.ovpn" ] && [ -n "$(relay_address "$r")" ] || fail "the lab has no relay $r"
  done
  route_before=$(route)
  resolv_before=$("$lab" exec -- cat /etc/resolv.conf)
}
lab_up none
route_back() { [ "$(route)" = "$route_before" ]; }
route_in_tunnel() { route | grep -q ' dev tun[0-9]'; }
has_line() { grep -q "$2" "$1" 2>/dev/null; }
# No tunnel device left: an engine still ending holds its device (and its routes) for a moment
# after the route is back, and a new engine started meanwhile would collide with it.
no_tunnel() { ! ip -n "$netns" -o link show | grep -q ': tun[0-9]'; }
settle() { poll 15 no_tunnel || fail "a tunnel device outlived its engine"; }

# Notes in $1 when the route to the Internet first goes through a tunnel: by the service's own
# rule the engine is ready then, seen from outside the app.
watch_route() {
  until route_in_tunnel; do sleep 0.01; done
  now_ms >"$1.part" && mv "$1.part" "$1"
}

# The step lines of one connect (file $1, started at $2 ms, "Connected" at $3, route ready at $4)
# as one line of "name=milliseconds" words.
record_steps() {
  awk -v start="$2" -v connected="$3" -v ready="$4" '
    $1 == "step" {
      sub(/begin_ms=/, "", $3); sub(/end_ms=/, "", $4)
      if (!($2 in begin)) { begin[$2] = $3; end[$2] = $4 }
      if (first == "" || $3 < first) first = $3
    }
    END {
      if (first == "") exit  # a build that does not print its steps
      # The checks run side by side: their wall time is from the first to the last of them.
      checks_end = end["reachability"]
      if (end["catalog"] > checks_end) checks_end = end["catalog"]
      if (end["address_before"] > checks_end) checks_end = end["address_before"]
      printf "startup=%d", first - start
      n = split("reachability catalog address_before recover profile engine_start vpn_address exit_country route_check", names, " ")
      for (i = 1; i <= n; i++) printf " %s=%d", names[i], end[names[i]] - begin[names[i]]
      printf " checks=%d start_to_ready=%d ready_to_noticed=%d noticed_to_connected=%d\n", checks_end - first,
        ready - begin["engine_start"], end["engine_wait"] - ready, connected - end["engine_wait"]
    }' "$1"
}
# One line "bench NAME runs=N KEY_median=… KEY_min=… KEY_max=…" per step from the lines of $2.
steps_line() {
  local name=$1 file=$2 key words=""
  [ -s "$file" ] || { echo "bench $name runs=0 reason=no_step_lines"; return; }
  for key in startup reachability catalog address_before checks recover profile engine_start start_to_ready \
             ready_to_noticed vpn_address exit_country route_check noticed_to_connected; do
    words+=" $(tr ' ' '\n' <"$file" | sed -n "s/^$key=//p" | stats "${key}_ms")"
  done
  echo "bench $name runs=$(wc -l <"$file")$words"
}

# One connect and disconnect of the command line to relay $1; appends to the result files whose
# names end in $2 (and records memory only for the plain ones). Further words go to connect.
app_cycle() {
  local out=$work/app.out start connected exited suffix=${2:-} relay=$1
  shift $(($# < 2 ? $# : 2))
  : >"$out"
  rm -f "$work/route_ready"
  settle
  watch_route "$work/route_ready" &
  watcher_pid=$!
  start=$(now_ms)
  "$lab" exec --user --env ORLUNE_TRACE_STEPS=1 -- "$installed" connect "$relay-$(relay_address "$relay")" "$@" \
    >"$out" 2>&1 &
  local runner=$!
  poll "$connect_limit_s" has_line "$out" '^Connected' || { cat "$out"; fail "the command line did not connect"; }
  connected=$(now_ms)
  poll 5 test -s "$work/route_ready" || fail "the route never went through the tunnel"
  wait "$watcher_pid" 2>/dev/null
  watcher_pid=""
  record_steps "$out" "$start" "$connected" "$(cat "$work/route_ready")" >>"$work/steps$suffix"
  grep -q "^Connected to $relay " "$out" || { cat "$out"; fail "the command line connected elsewhere than $relay"; }
  # The runner is `lab exec`, which ends in the app by exec; its newest descendant is the app.
  app_pid=$(pgrep -n -f "^$installed connect")
  [ -n "$app_pid" ] || fail "the command line's process is gone"
  [ -n "$suffix" ] || proc_kb "$app_pid" VmHWM >>"$work/cli_rss"
  echo $((connected - start)) >>"$work/app_connect$suffix"
  start=$(now_ms)
  kill -INT "$app_pid"
  poll "$disconnect_limit_s" eval '! kill -0 '"$runner"' 2>/dev/null' || fail "the command line did not exit after SIGINT"
  exited=$(now_ms)
  wait "$runner" || { cat "$out"; fail "the command line exited with an error after SIGINT"; }
  app_pid=""
  route_back || fail "the route was not restored after the command line's disconnect"
  [ "$("$lab" exec -- cat /etc/resolv.conf)" = "$resolv_before" ] || fail "DNS was not restored"
  echo $((exited - start)) >>"$work/app_disconnect$suffix"
}

# The raw engine by hand on relay $1's own profile, as root in the client host.
raw_cycle() {
  local log=$work/engine.log start ready answered stopped address relay_address profile
  relay_address=$(relay_address "$1")
  profile=$LAB_STATE/public/profiles/$1.ovpn
  : >"$log"
  settle
  start=$(now_ms)
  "$lab" exec -- openvpn --config "$profile" --log "$log" --writepid "$work/engine.pid" >/dev/null 2>&1 &
  engine_pid=$!
  poll "$connect_limit_s" has_line "$log" 'Initialization Sequence Completed' || { tail "$log"; fail "the raw engine did not connect"; }
  ready=$(now_ms)
  # The echo must go through the tunnel: should the engine report before the route is in place,
  # the wait for it counts too.
  poll 10 route_in_tunnel || { tail "$log"; fail "the raw engine's route never went through the tunnel"; }
  address=$("$lab" exec -- curl -fsS --max-time 10 --cacert "$ca" "$echo_url") || fail "no echo through the raw tunnel"
  answered=$(now_ms)
  [ "$address" = "$relay_address" ] || { tail "$log"; route; fail "the echo through the raw tunnel saw $address, not the relay's $relay_address"; }
  echo $((answered - start)) >>"$work/raw_connect"
  echo $((ready - start)) >>"$work/raw_ready"
  start=$(now_ms)
  kill -TERM "$(cat "$work/engine.pid")"
  poll "$disconnect_limit_s" route_back || fail "the route did not come back after the raw engine ended"
  stopped=$(now_ms)
  echo $((stopped - start)) >>"$work/raw_disconnect"
  poll 10 eval '! kill -0 '"$engine_pid"' 2>/dev/null' || fail "the raw engine did not end"
  wait "$engine_pid" 2>/dev/null
  engine_pid=""
}

ratio_line() { # name [label [target words]]
  local app_m raw_m
  app_m=$(median <"$work/app_$1")
  raw_m=$(median <"$work/raw_$1")
  printf 'bench %s runs=%d relays=udp %s %s ratio=%.2f overhead_ms=%d%s\n' "${2:-$1}" "$(wc -l <"$work/app_$1")" \
    "$(stats app_ms <"$work/app_$1")" "$(stats raw_ms <"$work/raw_$1")" \
    "$(awk -v a="$app_m" -v r="$raw_m" 'BEGIN {print a / r}')" "$(awk -v a="$app_m" -v r="$raw_m" 'BEGIN {printf "%d", a - r}')" \
    "${3:+ $3}"
}
# Alternate the two so that a busy machine slows both alike.
plain_connects() {
  for ((i = 0; i < runs; i++)); do
    relay=${udp_relays[i % ${#udp_relays[@]}]}
    app_cycle "$relay"
    raw_cycle "$relay"
  done
  ratio_line connect connect "target_overhead_ms=$target_overhead_ms"
  steps_line connect_steps "$work/steps"
  echo "bench connect_raw_parts runs=$runs $(stats engine_ready_ms <"$work/raw_ready")"
}

# The same connects over the lab's real distances, in a lab of their own.
real_connects() {
  "$lab" down >/dev/null 2>&1
  lab_up real
  rm -f "$work/app_connect" "$work/raw_connect" "$work/raw_ready" "$work/steps"
  for ((i = 0; i < real_runs; i++)); do
    relay=${udp_relays[i % ${#udp_relays[@]}]}
    app_cycle "$relay" _real
    raw_cycle "$relay"
  done
  mv "$work/app_connect_real" "$work/app_connect"
  ratio_line connect connect_real "target_overhead_ms=$target_real_overhead_ms target_ratio=$target_real_ratio"
  steps_line connect_real_steps "$work/steps_real"
  echo "bench connect_real_raw_parts runs=$real_runs $(stats engine_ready_ms <"$work/raw_ready")"
}
# The TCP relay frees its addresses at once, so both variants can take turns on it. Needs the
# plain connects first (their disconnects and memory are reported here).
block_and_disconnect() {
  for ((i = 0; i < runs; i++)); do
    app_cycle "$tcp_relay" _unblocked
    app_cycle "$tcp_relay" _blocked --fail-closed --block-ipv6
  done
  printf 'bench connect_block runs=%d relays=tcp %s %s difference_ms=%d\n' "$runs" \
    "$(stats off_ms <"$work/app_connect_unblocked")" "$(stats on_ms <"$work/app_connect_blocked")" \
    "$(awk -v on="$(median <"$work/app_connect_blocked")" -v off="$(median <"$work/app_connect_unblocked")" \
        'BEGIN { printf "%d", on - off }')"
  ratio_line disconnect
  echo "bench cli runs=$runs $(stats peak_rss_kb <"$work/cli_rss") target_peak_rss_kb=$target_cli_kb"
}

# A catalog of $window_relays relays built like the real one: the rows of the real capture (with
# their 12-13 KB profiles) repeated under new names and documentation addresses, or the lab's own
# rows where the capture is not beside the project. The window only lists them.
window_catalog() {
  local source=$capture
  [ -f "$source" ] || source=$LAB_STATE/www/catalog.csv
  awk -v want="$window_relays" 'NR <= 2 {print; next}
    /^\*/ {next}
    /^[^,]*,[^,]*,/ {rows[n++] = $0}
    END {for (i = 0; i < want; i++) {
           row = rows[i % n]; sub(/^[^,]*,[^,]*,/, "", row)
           printf "bench-relay-%d,198.51.100.%d,%s\n", i, 20 + i % 200, row}
         printf "*\r\n"}' "$source"
}
window_figures() {
  window_catalog >"$work/window.csv"
  [ "$(grep -c '^bench-relay-' "$work/window.csv")" -eq "$window_relays" ] || fail "could not build the window's catalog"
  "$lab" catalog serve "$work/window.csv" >/dev/null 2>&1 || fail "the lab would not serve the window's catalog"
  window_running() { pgrep -n -f "^$installed\$" >/dev/null; }
  for ((w = 1; w <= window_runs; w++)); do
    : >"$work/window.out"
    start_ns=$(date +%s%N)
    "$lab" exec --user --env QT_QPA_PLATFORM=offscreen --env ORLUNE_REPORT_FIRST_FRAME=1 -- "$installed" \
      >"$work/window.out" 2>&1 &
    runner=$!
    poll 30 has_line "$work/window.out" '^first_frame_epoch_ns=' || { cat "$work/window.out"; fail "the window drew no frame"; }
    frame_ns=$(sed -n 's/^first_frame_epoch_ns=//p' "$work/window.out" | head -n 1)
    echo $(((frame_ns - start_ns) / 1000000)) >>"$work/window_startup"
    app_pid=$(pgrep -n -f "^$installed\$")
    [ -n "$app_pid" ] || fail "the window's process is gone"
    # Idle with the catalog loaded: the start-up refresh and public-address lookup are over.
    sleep "$window_idle_seconds"
    window_running || { cat "$work/window.out"; fail "the window ended by itself"; }
    proc_kb "$app_pid" VmHWM >>"$work/window_rss"
    proc_kb "$app_pid" VmRSS >>"$work/window_idle_rss"
    kill -TERM "$app_pid"
    poll 10 eval '! kill -0 '"$app_pid"' 2>/dev/null' || fail "the window did not end on SIGTERM"
    wait "$runner" 2>/dev/null
    app_pid=""
  done
  "$lab" catalog generate >/dev/null 2>&1 || fail "the lab would not serve its own catalog again"
  echo "bench window runs=$window_runs relays=$window_relays idle_s=$window_idle_seconds $(stats startup_ms <"$work/window_startup") $(stats peak_rss_kb <"$work/window_rss") $(stats idle_rss_kb <"$work/window_idle_rss") target_idle_rss_kb=$target_window_kb"
}

service_figures() {
  service_peak=$(proc_kb "$service_pid" VmHWM)
  # Idle: no client, no engine; the service wakes once a second to supervise.
  windows=6
  window_s=$(((idle_seconds + windows - 1) / windows))
  for ((w = 1; w <= windows; w++)); do
    before=$(cpu_ns "$service_pid")
    sleep "$window_s"
    after=$(cpu_ns "$service_pid")
    awk -v d=$((after - before)) -v s="$window_s" 'BEGIN {printf "%.3f\n", d / 1e6 * 60 / s}' >>"$work/idle_cpu"
  done
  echo "bench service runs=$windows window_s=$window_s peak_rss_kb=$service_peak idle_rss_kb=$(proc_kb "$service_pid" VmRSS) $(stats idle_cpu_ms_per_min <"$work/idle_cpu") target_rss_kb=$target_service_kb"
}

# Failover: Japan's best relay stops answering, `connect JP` tries it first, its engine gives up,
# and the next relay's engine is started. Watched from outside, in the client host: from the end
# of the first engine to the start of the second (the time the app itself adds), beside the whole
# connect. Each run starts as a new user would (no preferences, no history), or the dead relay,
# hidden after the first run, would not be tried again.
failover_relay=public-vpn-101
engines() { # the engine processes in the client host, as "PID" lines
  local p
  for p in $(ip netns pids "$netns"); do
    [ "$(cat "/proc/$p/comm" 2>/dev/null)" = openvpn ] && echo "$p"
  done
}
# Notes "start PID MS" and "end PID MS" in $1 as engines come and go, until killed.
watch_engines() {
  local before="" now_pids p
  while :; do
    now_pids=$(engines)
    for p in $now_pids; do grep -qx "$p" <<<"$before" || echo "start $p $(now_ms)" >>"$1"; done
    for p in $before; do grep -qx "$p" <<<"$now_pids" || echo "end $p $(now_ms)" >>"$1"; done
    before=$now_pids
    sleep 0.01
  done
}
failover_figures() {
  local out=$work/failover.out events=$work/engines start connected gap
  "$lab" relay stop "$failover_relay" >/dev/null 2>&1 || fail "could not stop $failover_relay"
  for ((i = 0; i < runs; i++)); do
    settle
    "$lab" exec --user -- sh -c 'rm -f "$HOME/.config/Orlune/Orlune VPN.conf" "$HOME/.local/share/orlune-vpn/relay-history.json"'
    : >"$out"
    : >"$events"
    watch_engines "$events" &
    watcher_pid=$!
    start=$(now_ms)
    "$lab" exec --user --env ORLUNE_TRACE_STEPS=1 -- "$installed" connect JP >"$out" 2>&1 &
    local runner=$!
    poll "$connect_limit_s" has_line "$out" '^Connected' || { cat "$out"; fail "the command line did not connect after failing over"; }
    connected=$(now_ms)
    kill -KILL "$watcher_pid" 2>/dev/null
    wait "$watcher_pid" 2>/dev/null
    watcher_pid=""
    grep -q "trying $failover_relay · server 1 of" "$out" || { cat "$out"; fail "the dead relay was not tried first"; }
    grep -q '^Connected' "$out" && ! grep -q "^Connected to $failover_relay " "$out" || fail "connected to the dead relay"
    # The first engine's end and the second engine's start.
    gap=$(awk '$1 == "start" {n++; if (n == 2) second = $3; if (n == 1) first = $2}
               $1 == "end" && $2 == first && !ended {ended = $3}
               END {if (ended && second) print second - ended}' "$events")
    [ -n "$gap" ] || { cat "$events"; fail "did not see the first engine end and the second start"; }
    echo "$gap" >>"$work/failover_gap"
    echo $((connected - start)) >>"$work/failover_connect"
    app_pid=$(pgrep -n -f "^$installed connect JP")
    kill -INT "$app_pid"
    poll "$disconnect_limit_s" eval '! kill -0 '"$runner"' 2>/dev/null' || fail "the command line did not exit after SIGINT"
    wait "$runner" 2>/dev/null
    app_pid=""
  done
  "$lab" relay start "$failover_relay" >/dev/null 2>&1 || fail "could not start $failover_relay again"
  echo "bench failover runs=$runs $(stats end_to_next_start_ms <"$work/failover_gap") $(stats connect_ms <"$work/failover_connect") target_end_to_next_start_ms=$target_failover_ms"
}

# The service answers only the program its manifest names: the status client takes the app's
# place in this lab, and the service is restarted to read the new manifest.
status_figures() {
  "$lab" install --app "$status_client" >/dev/null 2>&1 || fail "could not install the status client"
  "$lab" service restart >/dev/null 2>&1 || fail "the service did not restart"
  for ((r = 1; r <= status_rounds; r++)); do
    line=$("$lab" exec --user -- "$installed" "$status_requests") || fail "the status client failed: $line"
    for key in first_us p50_us p99_us; do
      sed -n "s/.* $key=\([0-9.]*\).*/\1/p" <<<"$line" >>"$work/status_$key"
    done
  done
  echo "bench status requests=$status_requests rounds=$status_rounds $(stats p50_us <"$work/status_p50_us") $(stats p99_us <"$work/status_p99_us") $(stats first_us <"$work/status_first_us") target_p99_us=$target_status_p99_us"
  # The same while a tunnel runs: then every "status" also looks up the route to 1.1.1.1.
  for ((r = 1; r <= status_rounds; r++)); do
    line=$("$lab" exec --user -- "$installed" "$tunnel_requests" "$LAB_STATE/public/profiles/$tcp_relay.ovpn" "$(relay_address "$tcp_relay")") ||
      fail "the status client failed with a tunnel: $line"
    [[ $line == *state=connected* ]] || fail "the status client's tunnel was not connected: $line"
    for key in p50_us p99_us; do
      sed -n "s/.* $key=\([0-9.]*\).*/\1/p" <<<"$line" >>"$work/tunnel_$key"
    done
  done
  echo "bench status_tunnel relays=tcp requests=$tunnel_requests rounds=$status_rounds $(stats p50_us <"$work/tunnel_p50_us") $(stats p99_us <"$work/tunnel_p99_us")"
}

case $only in
  "") plain_connects; block_and_disconnect; failover_figures; window_figures; service_figures; status_figures; real_connects ;;
  connect) plain_connects; real_connects ;;
  window) window_figures ;;
  service) runs=1; plain_connects; service_figures ;;
  failover) failover_figures ;;
esac
