#!/bin/bash
# The service as a black box: the real binary runs as root in network, mount and process
# namespaces of its own, with tmpfs over /run/orlune-vpn and /var/lib/orlune-vpn, a bind-mounted
# resolv.conf and a scripted engine over /usr/sbin/openvpn; a test client plays the app as
# ordinary users. Nothing outside the namespaces is touched, and leaving them (the process
# namespace's first process is this script) ends every process and mount the test made.
#
# usage: service_blackbox.sh SERVICE_BINARY TEST_CLIENT FAKE_ENGINE PROFILE [SCENARIO...]
# Exit status: 0 all passed, 1 a scenario failed, 77 skipped (not root, or no namespaces).
set -u

service_binary=$1 client_binary=$2 fake_engine=$3 profile_source=$4
shift 4

if [ -z "${ORLUNE_BLACKBOX_SCRATCH:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: the service's black-box tests need root"; exit 77; }
  for tool in unshare setpriv ip mount sha256sum timeout; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
  done
  unshare --mount --net --pid --fork true 2>/dev/null || { echo "SKIP: no namespaces here"; exit 77; }
  scratch=$(mktemp -d /tmp/orlune-blackbox.XXXXXX)
  unshare --mount --net --pid --fork --mount-proc --propagation private \
    env ORLUNE_BLACKBOX_SCRATCH="$scratch" bash "$0" "$service_binary" "$client_binary" "$fake_engine" \
    "$profile_source" "$@"
  status=$?
  rm -rf "$scratch"
  exit $status
fi

# ---- inside the namespaces ----------------------------------------------------------------
S=$ORLUNE_BLACKBOX_SCRATCH
mount -t tmpfs -o mode=755 tmpfs "$S" || exit 1
mkdir -p "$S/bin" "$S/control" "$S/layers" "$S/work"

# Makes a missing directory exist inside these namespaces only: its parent gets an overlay
# whose writable layer lives in the scratch tmpfs.
ensure_directory() {
  local path=$1
  [ -d "$path" ] && return 0
  local parent
  parent=$(dirname "$path")
  ensure_directory "$parent"
  local layer
  layer="$S/layers/$(echo "$parent" | tr / _)"
  if ! mountpoint -q "$parent" || [ ! -d "$layer" ]; then
    mkdir -p "$layer/upper" "$layer/work"
    mount -t overlay overlay -o "lowerdir=$parent,upperdir=$layer/upper,workdir=$layer/work" "$parent" || return 1
  fi
  mkdir "$path"
}

# Puts `source` at `target`: a bind mount over an existing regular file, else a new file in an
# overlay of the target's directory.
place_file() {
  local source=$1 target=$2
  if [ -f "$target" ] && [ ! -L "$target" ]; then
    mount --bind "$source" "$target"
  else
    local parent
    parent=$(dirname "$target")
    local layer
    layer="$S/layers/$(echo "$parent" | tr / _)"
    mkdir -p "$layer/upper" "$layer/work"
    mount -t overlay overlay -o "lowerdir=$parent,upperdir=$layer/upper,workdir=$layer/work" "$parent" || return 1
    rm -f "$target"
    cp "$source" "$target"
  fi
}

ip link set lo up
ensure_directory /run/orlune-vpn && mount -t tmpfs -o mode=700 tmpfs /run/orlune-vpn || exit 1
ensure_directory /var/lib/orlune-vpn && mount -t tmpfs -o mode=755 tmpfs /var/lib/orlune-vpn || exit 1

printf '# written by the test\nsearch lab.test\nnameserver 203.0.113.1\noptions edns0 timeout:2\n' > "$S/resolv.conf"
cp "$S/resolv.conf" "$S/resolv.conf.before"
place_file "$S/resolv.conf" /etc/resolv.conf || exit 1

sed "s|@CONTROL@|$S/control|" "$fake_engine" > "$S/openvpn"
chmod 755 "$S/openvpn"
place_file "$S/openvpn" /usr/sbin/openvpn || exit 1

install -m 755 -o root -g root "$client_binary" "$S/bin/orlune-vpn"
install -m 755 -o root -g root "$client_binary" "$S/bin/unlisted-client"
install -m 644 "$profile_source" "$S/relay.ovpn"
{ cat "$profile_source"; echo "up /tmp/evil.sh"; } > "$S/unsafe.ovpn"
chmod 644 "$S/unsafe.ovpn"
app="$S/bin/orlune-vpn"
write_manifest() {
  printf '{"identifier":"%s","cdhash":"%s","written":"by the test"}\n' "$app" \
    "$(sha256sum "$app" | cut -d' ' -f1)" > /var/lib/orlune-vpn/client.json
}
write_manifest

user_a=1500 user_b=1501
state=/var/lib/orlune-vpn/state
service_pid=

# ---- helpers ------------------------------------------------------------------------------
failures=0
scenario=
fail() { echo "  FAIL [$scenario]: $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  "$@" || fail "$what"
}

# Runs the client as an ordinary user with a clean environment; extra "NAME=value" words
# before the user id go into that environment.
as_user() {
  local environment=(PATH=/usr/bin:/bin)
  while [[ "$1" == *=* ]]; do environment+=("$1"); shift; done
  local uid=$1; shift
  env -i "${environment[@]}" setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"
}
client() { local uid=$1; shift; as_user "$uid" "$app" "$@"; }
field() { sed -n "s/^$1=//p" <<<"$2"; }
expect_field() { # expect_field NAME VALUE REPLY
  local got
  got=$(field "$1" "$3")
  [ "$got" = "$2" ] || fail "$1 is '$got', expected '$2' (reply: $(tr '\n' ' ' <<<"$3"))"
}
status_of() { client $user_a request status; }
state_is() { grep -q "^state=$1\$" <<<"$(status_of)"; }

start_service() {
  "$service_binary" > "$S/service.out" 2> "$S/service.err" &
  service_pid=$!
  # Ready once it answers: a socket file left by a killed instance may still be there.
  for _ in $(seq 200); do
    grep -q '^state=' <(status_of 2>/dev/null) && return 0
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.025
  done
  fail "the service did not start: $(cat "$S/service.err")"
  return 1
}
stop_service() {
  [ -n "$service_pid" ] || return 0
  kill -TERM "$service_pid" 2>/dev/null
  wait "$service_pid" 2>/dev/null
  service_pid=
}
resolv_untouched() { cmp -s /etc/resolv.conf "$S/resolv.conf.before"; }
resolv_switched() { grep -q '^nameserver 1.1.1.1$' /etc/resolv.conf; }
engine_pid() { cat "$state/engine.pid" 2>/dev/null; }
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null && ! grep -qs '^State:.*zombie' "/proc/$1/status"; }
gone() { ! alive "$1"; }
wait_until() { # wait_until SECONDS COMMAND...
  local deadline=$(( $(date +%s%N) + $1 * 1000000000 )); shift
  until "$@"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.02
  done
}
milliseconds_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
set_engine() { echo "$1" > "$S/control/engine-mode"; }
connect_as() { client "$1" request connect "$S/relay.ovpn" 198.51.100.11; }
# Starts an owner that connects and then stays alive; prints the client's own pid.
hold_connect() {
  rm -f "$S/hold.out"
  client "$1" hold connect "$S/relay.ovpn" 198.51.100.11 > "$S/hold.out" &
  wait_until 5 grep -q '^pid=' "$S/hold.out"
  field pid "$(cat "$S/hold.out")"
}
# Ends a holding client and waits until it is gone.
release() {
  kill "$1" 2>/dev/null
  wait_until 5 gone "$1"
}
disconnect_all() {
  for uid in $user_a $user_b; do client "$uid" request disconnect >/dev/null; done
  jobs -p | while read -r job; do [ "$job" = "$service_pid" ] || kill "$job" 2>/dev/null; done
}
descriptors() { ls "/proc/$service_pid/fd" | wc -l; }

# ---- scenarios ----------------------------------------------------------------------------
scenario_startup() {
  local reply
  reply=$(status_of)
  expect_field state stopped "$reply"
  expect_field engineVersion 2.6.14 "$reply"
  check "socket mode 0666" [ "$(stat -c %a /run/orlune-vpn/control.sock)" = 666 ]
  check "socket directory mode 0755" [ "$(stat -c %a /run/orlune-vpn)" = 755 ]
  check "state directory mode 0700" [ "$(stat -c %a $state)" = 700 ]
}

scenario_authorization() {
  local holder reply
  set_engine waiting
  holder=$(hold_connect $user_a)
  expect_field state connecting "$(cat "$S/hold.out")"
  local engine
  engine=$(engine_pid)
  local before
  before=$(sha256sum /etc/resolv.conf)

  reply=$("$app" request disconnect)
  expect_field message "Unauthorized local client." "$reply"
  reply=$(client 999 request disconnect)
  expect_field message "Unauthorized local client." "$reply"
  reply=$(as_user $user_a "$S/bin/unlisted-client" request disconnect)
  expect_field message "This app version does not match the installed VPN service. Run its installer to update both together." "$reply"
  reply=$(as_user LD_PRELOAD=/nonexistent/inject.so $user_a "$app" request disconnect 2>/dev/null)
  expect_field message "The local client signature is invalid." "$reply"
  reply=$(client $user_a traced disconnect)
  expect_field message "The local client signature is invalid." "$reply"
  # A connection inherited across exec into the app, and a library the user could have written.
  reply=$(client $user_a inherit disconnect)
  expect_field message "The local client signature is invalid." "$reply"
  mkdir -p "$S/userlib" && cp /usr/lib/x86_64-linux-gnu/libutil.so.1 "$S/userlib/" && chown -R $user_a "$S/userlib"
  reply=$(as_user ORLUNE_TEST_LOAD="$S/userlib/libutil.so.1" $user_a "$app" request disconnect)
  expect_field message "The local client signature is invalid." "$reply"
  reply=$(as_user ORLUNE_TEST_LOAD=/usr/lib/x86_64-linux-gnu/libutil.so.1 $user_a "$app" request status)
  expect_field state connecting "$reply"
  chmod 775 "$app"
  reply=$(client $user_a request disconnect)
  expect_field message "The local client signature is invalid." "$reply"
  chmod 755 "$app"

  check "engine untouched by refused clients" alive "$engine"
  check "DNS untouched by refused clients" [ "$(sha256sum /etc/resolv.conf)" = "$before" ]
  reply=$(client $user_a request status)
  expect_field state connecting "$reply"
  expect_field ownerPID "$holder" "$reply"
  release "$holder"
  disconnect_all

  # The listed program changes on disk (nothing may run it meanwhile): the next request is refused.
  cp "$app" "$S/app.saved"
  printf 'patched' >> "$app"
  reply=$(client $user_a request connect "$S/relay.ovpn" 198.51.100.11)
  expect_field message "This app version does not match the installed VPN service. Run its installer to update both together." "$reply"
  check "no engine for a changed program" [ ! -e $state/engine.pid ]
  cp "$S/app.saved" "$app"
  expect_field state stopped "$(client $user_a request status)"
}

scenario_framing() {
  local reply
  reply=$(client $user_a raw 00000000)
  expect_field message "The local VPN service returned an invalid or incomplete response." "$reply"
  reply=$(client $user_a raw 00040001)
  expect_field message "The local VPN service returned an invalid or incomplete response." "$reply"
  reply=$(client $user_a raw 00000005 '{oops')
  expect_field state failed "$reply"
  expect_field ok false "$reply"
  reply=$(client $user_a raw 00000016 '{"operation":"Status"}')
  expect_field message "Unsupported local VPN operation." "$reply"

  # A silent client holds the single-threaded service for the receive time-out only.
  client $user_a silent 5 &
  local silent=$!
  sleep 0.2
  local started
  started=$(date +%s%N)
  reply=$(status_of)
  local waited
  waited=$(milliseconds_since "$started")
  expect_field state stopped "$reply"
  check "next client served within about 2 s (took ${waited} ms)" [ "$waited" -lt 2600 ]
  kill "$silent" 2>/dev/null
  wait "$silent" 2>/dev/null
}

scenario_ownership() {
  local holder reply
  set_engine waiting
  holder=$(hold_connect $user_a)
  reply=$(client $user_b request status)
  expect_field message "Another user owns the active VPN connection." "$reply"
  reply=$(client $user_b request connect "$S/relay.ovpn" 198.51.100.11)
  expect_field message "Another user owns the active VPN connection." "$reply"
  # Another process of the same user is answered, and names the owner.
  reply=$(client $user_a request status)
  expect_field state connecting "$reply"
  expect_field ownerPID "$holder" "$reply"
  reply=$(client $user_a request connect "$S/unsafe.ovpn" 198.51.100.11)
  expect_field message "Unsafe or unsupported VPN profile directive." "$reply"
  expect_field ownerPID "$holder" "$(client $user_a request status)"

  reply=$(client $user_a request disconnect)
  expect_field state stopped "$reply"
  check "DNS restored by disconnect" resolv_untouched
  reply=$(connect_as $user_b)
  expect_field state connecting "$reply"
  expect_field ok true "$reply"
  release "$holder"
  disconnect_all
}

scenario_connected() {
  local holder reply
  if ! { exec 9<>/dev/net/tun; } 2>/dev/null; then
    echo "  (no usable /dev/net/tun: the scripted engine cannot open tun0; scenario left out)"
    return 0
  fi
  exec 9>&-
  set_engine tunnel
  holder=$(hold_connect $user_a)
  check "DNS switched while the tunnel runs" resolv_switched
  check "search and options lines kept" grep -q '^options edns0 timeout:2$' /etc/resolv.conf
  wait_until 5 state_is connected
  reply=$(client $user_a request status)
  expect_field state connected "$reply"
  expect_field interface tun0 "$reply"
  expect_field ownerPID "$holder" "$reply"
  check "engine arguments" [ "$(tr '\n' ' ' < "$S/control/engine-arguments")" = "--config $state/session.ovpn " ]
  check "engine environment is PATH, LANG and HOME only" [ "$(sort "$S/control/engine-environment" | grep -v '^_=\|^PWD=\|^SHLVL=' | tr '\n' ' ')" = "HOME=/root LANG=C PATH=/usr/bin:/bin:/usr/sbin:/sbin " ]
  # 255 is the shell's own descriptor of the engine script.
  check "engine holds only the standard streams" grep -qx '0 1 2 \(255 \)\?' <<<"$(sort -n "$S/control/engine-descriptors" | tr '\n' ' ')"
  # CAP_NET_ADMIN (bit 12) alone, though the engine runs as root.
  local caps
  caps=$(tr -s '\t\n' ' ' < "$S/control/engine-capabilities")
  check "engine capabilities: $caps" [ "$caps" = "CapInh: 0000000000001000 CapPrm: 0000000000001000 CapEff: 0000000000001000 CapBnd: 0000000000001000 CapAmb: 0000000000001000 " ]
  check "configuration file mode 0600" [ "$(stat -c %a $state/session.ovpn)" = 600 ]
  check "log file mode 0600" [ "$(stat -c %a $state/engine.log)" = 600 ]
  reply=$(client $user_a request disconnect)
  expect_field state stopped "$reply"
  check "route to 1.1.1.1 gone with the tunnel" bash -c '! ip -4 route get 1.1.1.1 >/dev/null 2>&1'
  check "DNS restored byte for byte" resolv_untouched
  check "pid file removed" [ ! -e $state/engine.pid ]
  check "configuration file removed" [ ! -e $state/session.ovpn ]
  release "$holder"

  # Host routes through the tunnel, the default route outside it: never "connected".
  ip route add default dev lo 2>/dev/null
  set_engine host-routes
  holder=$(hold_connect $user_a)
  wait_until 5 grep -q '^Initialization' $state/engine.log
  sleep 0.3
  expect_field state connecting "$(client $user_a request status)"
  client $user_a request disconnect >/dev/null
  ip route del default dev lo 2>/dev/null
  release "$holder"
}

# Another account loops 30 connections against the socket and a client trickles its request:
# the owner is still served at once, the tunnel stays, the trickled request is cut off.
scenario_flood() {
  local holder engine figures trickler flooder
  set_engine waiting
  holder=$(hold_connect $user_a)
  engine=$(engine_pid)
  as_user 1 "$app" flood 30 6 &
  flooder=$!
  client $user_b trickle 300 > "$S/trickle.out" &
  trickler=$!
  sleep 0.3
  figures=$(client $user_a latency 300)
  echo "  owner's status under the flood (ms): $(tr '\n' ' ' <<<"$figures")"
  expect_field failed 0 "$figures"
  wait "$trickler"
  expect_field message "The local VPN service returned an invalid or incomplete response." "$(cat "$S/trickle.out")"
  wait "$flooder"
  check "engine never stopped" alive "$engine"
  expect_field state connecting "$(client $user_a request status)"
  release "$holder"
  disconnect_all
}

scenario_owner_exits() {
  local holder engine reply
  set_engine waiting
  holder=$(hold_connect $user_a)
  engine=$(engine_pid)
  check "engine running" alive "$engine"
  local started
  started=$(date +%s%N)
  release "$holder"
  wait_until 4 gone "$engine"
  wait_until 4 resolv_untouched
  local waited
  waited=$(milliseconds_since "$started")
  check "engine stopped and DNS restored within about 2 s of the owner's exit (took ${waited} ms)" [ "$waited" -lt 2500 ]
  check "DNS restored" resolv_untouched
  reply=$(client $user_b request status)
  expect_field state stopped "$reply"
  expect_field message "" "$reply"
}

scenario_engine_dies() {
  local holder reply
  set_engine auth-failed
  holder=$(hold_connect $user_a)
  wait_until 5 state_is failed
  reply=$(client $user_a request status)
  expect_field state failed "$reply"
  expect_field ok true "$reply"
  expect_field message "The relay rejected VPN authentication (AUTH_FAILED)." "$reply"
  check "DNS restored after the engine ended" resolv_untouched
  release "$holder"

  set_engine auth-failed-long-ago
  holder=$(hold_connect $user_a)
  # Until the engine's later output has pushed it out of the tail, the old line still counts.
  disconnect_reported() { grep -q '^message=The VPN relay disconnected or timed out\.$' <<<"$(status_of)"; }
  wait_until 5 disconnect_reported
  reply=$(client $user_a request status)
  expect_field ok true "$reply"
  expect_field message "The VPN relay disconnected or timed out." "$reply"
  reply=$(client $user_a request disconnect)
  expect_field state stopped "$reply"
  expect_field state stopped "$(client $user_a request status)"
  release "$holder"
}

scenario_crash_recovery() {
  local holder engine
  set_engine waiting
  holder=$(hold_connect $user_a)
  engine=$(engine_pid)
  check "DNS switched before the crash" resolv_switched
  kill -KILL "$service_pid"
  wait "$service_pid" 2>/dev/null
  service_pid=
  check "engine outlives the killed service" alive "$engine"
  start_service
  check "leftover engine ended at start-up" gone "$engine"
  check "resolv.conf restored byte for byte" resolv_untouched
  check "pid file removed" [ ! -e $state/engine.pid ]
  check "configuration removed" [ ! -e $state/session.ovpn ]
  check "DNS record removed" [ ! -e $state/dns.json ]
  check "log kept" grep -q "Preserving recently used remote address" $state/engine.log
  release "$holder"

  # A pid file naming somebody else's process leaves that process alone.
  stop_service
  sleep 300 &
  local bystander=$!
  printf ' %s\n' "$bystander" > $state/engine.pid
  start_service
  check "unrelated process left alone" alive "$bystander"
  check "stale pid file removed" [ ! -e $state/engine.pid ]
  kill "$bystander"; wait "$bystander" 2>/dev/null
}

scenario_shutdown() {
  local holder engine
  set_engine waiting
  holder=$(hold_connect $user_a)
  engine=$(engine_pid)
  sleep 0.3
  local started
  started=$(date +%s%N)
  kill -TERM "$service_pid"
  wait "$service_pid" 2>/dev/null
  local waited
  waited=$(milliseconds_since "$started")
  service_pid=
  check "SIGTERM ends the service within about 1.5 s (took ${waited} ms)" [ "$waited" -lt 1500 ]
  check "socket file removed" [ ! -e /run/orlune-vpn/control.sock ]
  check "engine stopped" gone "$engine"
  check "DNS restored" resolv_untouched
  release "$holder"

  # Idle: SIGTERM during the wait for a connection.
  start_service
  sleep 0.4
  started=$(date +%s%N)
  kill -TERM "$service_pid"
  wait "$service_pid" 2>/dev/null
  waited=$(milliseconds_since "$started")
  service_pid=
  check "idle SIGTERM ends the service within about 1.5 s (took ${waited} ms)" [ "$waited" -lt 1500 ]
  check "socket file removed" [ ! -e /run/orlune-vpn/control.sock ]
  check "nothing printed on shutdown" [ ! -s "$S/service.err" ]
  start_service
}

scenario_no_leaks() {
  local first
  first=$(descriptors)
  for _ in 1 2 3; do
    status_of >/dev/null
    client $user_a raw 00000000 >/dev/null
    "$app" request status >/dev/null
  done
  set_engine waiting
  connect_as $user_a >/dev/null
  client $user_a request disconnect >/dev/null
  check "no descriptor left behind ($first before, $(descriptors) after)" [ "$(descriptors)" -eq "$first" ]
}

scenario_manifest_required() {
  stop_service
  local output status
  mv /var/lib/orlune-vpn/client.json "$S/client.json.saved"
  output=$(timeout 10 "$service_binary" 2>&1); status=$?
  check "no manifest: exit status 1 (got $status)" [ "$status" -eq 1 ]
  check "no manifest: reason on standard error ($output)" grep -q "^Orlune VPN service: .*client.json" <<<"$output"
  echo '{"identifier":"/usr/bin/orlune-vpn"}' > /var/lib/orlune-vpn/client.json
  output=$(timeout 10 "$service_binary" 2>&1); status=$?
  check "manifest without cdhash: exit status 1 (got $status)" [ "$status" -eq 1 ]
  check "manifest without cdhash: reason ($output)" grep -q 'cdhash' <<<"$output"
  check "no socket left by a refused start" [ ! -e /run/orlune-vpn/control.sock ]
  mv "$S/client.json.saved" /var/lib/orlune-vpn/client.json
  start_service
}

all=(startup authorization framing ownership connected flood owner_exits engine_dies crash_recovery shutdown
     no_leaks manifest_required)
[ $# -gt 0 ] && all=("$@")
start_service || exit 1
for name in "${all[@]}"; do
  scenario=$name
  before=$failures
  started=$(date +%s%N)
  "scenario_$name"
  check "resolv.conf byte-identical after the scenario" resolv_untouched
  if [ $failures -eq $before ]; then
    echo "PASS $name ($(milliseconds_since "$started") ms)"
  else
    echo "FAIL $name"
  fi
done
stop_service
scenario=end
check "resolv.conf byte-identical at the end" resolv_untouched
none_running() { ! pgrep "$@" >/dev/null; }
check "no engine left running" none_running -f '^/bin/bash /usr/sbin/openvpn'
check "no service left running" none_running -x "$(basename "$service_binary" | cut -c1-15)"
check "no tunnel device left" bash -c '! ip link show tun0 >/dev/null 2>&1'

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all scenarios passed"
