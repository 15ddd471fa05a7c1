# The scenario "sleep" of system_test.sh (sourced there, after the package is installed): the
# whole machine is frozen, as a suspend would stop it, while the relay drops the session, and the
# user's command line must show the loss at once and a verified tunnel again soon after the wake.
# Then the same without logind's wake signal, only measured.
# shellcheck shell=bash
# shellcheck disable=SC2154  # work, RUNNER and the helpers are system_test.sh's

SLEEP_SECONDS=${ORLUNE_SLEEP_SECONDS:-90}

# The machine's cgroup (everything nspawn started: init, logind, the bus, the service and its
# engine). The user's command line runs beside it (nsenter), so it is stopped on its own.
payload_cgroup() {
  local base own
  base=/sys/fs/cgroup/unified
  [ -d "$base" ] || base=/sys/fs/cgroup
  own=$(awk -F: '$1 == 0 {print $3}' /proc/self/cgroup)
  echo "$base${own%/}/payload"
}

freeze_machine() { # 1|0
  echo "$1" > "$(payload_cgroup)/cgroup.freeze" || return 1
  local want=$1
  for _ in $(seq 1 100); do
    grep -qx "frozen $want" "$(payload_cgroup)/cgroup.events" && return 0
    sleep 0.05
  done
  return 1
}

# logind's signal, from the owner of logind's name as the app requires: logind itself cannot be
# made to send it in a container, so a stand-in (tests/system/logind_signal.cpp) takes the name
# while logind is stopped.
prepare_for_sleep() { # true|false
  local target=/proc/$MACHINE_PID/root/usr/local/bin/logind-signal
  [ -x "$target" ] || install -m 755 "$build/tests/system/logind-signal" "$target" || return 1
  in_machine systemctl stop systemd-logind.service || return 1
  in_machine /usr/local/bin/logind-signal "$1"
  local status=$?
  in_machine systemctl start systemd-logind.service
  return $status
}

# `orlune-vpn connect JP --json [OPTIONS]` as the user; each state line is stamped with the time
# it was written, into NAME.states.
connect_json() { # name [options]
  local name=$1; shift
  : > "$work/$name.out"
  as_user /usr/bin/orlune-vpn connect JP --json "$@" >"$work/$name.out" 2>"$work/$name.err" &
  RUNNER=$!
  tail -n +1 -F "$work/$name.out" 2>/dev/null | while IFS= read -r line; do
    printf '%s %s\n' "$EPOCHREALTIME" "$line"
  done > "$work/$name.states" &
  STAMPER=$!
  for _ in $(seq 1 240); do
    grep -q '"state":"connected"' "$work/$name.out" && return 0
    kill -0 "$RUNNER" 2>/dev/null || break
    sleep 0.25
  done
  return 1
}

stop_stamper() { pkill -P "$STAMPER" 2>/dev/null; kill "$STAMPER" 2>/dev/null; wait "$STAMPER" 2>/dev/null; }

# The time of the first state line after SINCE whose state is (or, with !, is not) STATE.
state_time() { # name since [!]state
  awk -v since="$2" -v want="$3" '
    { match($0, /"state":"[a-z]+"/); state = substr($0, RSTART + 9, RLENGTH - 10) }
    $1 > since && ((substr(want, 1, 1) == "!") ? state != substr(want, 2) : state == want) { print $1; exit }
  ' "$work/$1.states"
}

connected_relay() { # name: the relay of its last Connected line
  grep '"state":"connected"' "$work/$1.out" | tail -1 | sed -n 's/.*"name":"\([^"]*\)".*/\1/p'
}

# Freezes the machine and the command line for SLEEP_SECONDS while the relay drops the session
# (its server killed and started again, so it knows nothing of the tunnel any more).
sleep_machine() { # name relay
  local t0=$SECONDS
  pause_app STOP
  freeze_machine 1 || { not_ok "the machine freezes"; pause_app CONT; return 1; }
  if ! { "$LAB" relay kill "$2" && "$LAB" relay start "$2"; } >/dev/null 2>&1; then
    not_ok "the relay $2 restarts during the sleep"
  fi
  local left=$((SLEEP_SECONDS - (SECONDS - t0)))
  [ "$left" -le 0 ] || sleep "$left"
  freeze_machine 0 || not_ok "the machine thaws"
  pause_app CONT
}

# Seconds from WAKE to the first state other than Connected written after SLEPT (the loss; it
# may show before the wake signal, from a check that fell due while frozen) and to the next
# Connected (the tunnel verified again): "LOSS VERIFIED", or nothing within LIMIT seconds.
recovery_after() { # name slept wake limit
  local loss verified
  for _ in $(seq 1 $(($4 * 10))); do
    loss=$(state_time "$1" "$2" '!connected')
    verified=${loss:+$(state_time "$1" "$loss" connected)}
    if [ -n "$verified" ]; then
      awk -v w="$3" -v l="$loss" -v v="$verified" 'BEGIN { printf "%.1f %.1f\n", l - w, v - w }'
      return 0
    fi
    sleep 0.1
  done
  return 1
}

group "sleep and wake: the machine frozen ${SLEEP_SECONDS} s while the relay drops the session; logind's wake signal"
if connect_json wake --fail-closed; then ok "connected (traffic outside the VPN blocked)"; else not_ok "connected"; fi
relay=$(connected_relay wake)
check "logind's PrepareForSleep(true) is sent" prepare_for_sleep true
sleep 0.5
slept=$EPOCHREALTIME
sleep_machine wake "$relay"
wake=$EPOCHREALTIME
check "logind's PrepareForSleep(false) is sent" prepare_for_sleep false
# While the tunnel is rebuilt, the block stays: every status the user asks for says so.
unblocked=0 samples=0
for _ in $(seq 1 40); do
  [ -n "$(state_time wake "$wake" connected)" ] && break
  status=$(as_user timeout 5 /usr/bin/orlune-vpn status --json 2>/dev/null) || continue
  samples=$((samples + 1))
  [[ $status == *'"blockingTraffic":true'* ]] || unblocked=$((unblocked + 1))
  sleep 0.25
done
figures=$(recovery_after wake "$slept" "$wake" 30)
stop_stamper
read -r loss verified <<<"${figures:-- -}"
figure "after the wake signal: loss shown at ${loss} s, tunnel verified again at ${verified} s"
check "the loss is shown within 2 s of the wake (${loss} s)" awk -v t="$loss" 'BEGIN { exit !(t != "-" && t <= 2) }'
check "the tunnel is verified again within 10 s of the wake (${verified} s)" \
  awk -v t="$verified" 'BEGIN { exit !(t != "-" && t <= 10) }'
check_eq "traffic stays blocked while the tunnel is rebuilt ($samples statuses)" 0 "$unblocked"
check_match "the service counted the owner's silence afresh after the freeze" 'did not run for [0-9]+ s' \
  "$(in_machine journalctl -u orlune-vpn.service --no-pager -o cat 2>/dev/null | grep 'did not run' | tail -1)"
end_session wake

group "the same without the wake signal (some systems do not send it): measured only"
if connect_json nosignal; then ok "connected"; else not_ok "connected"; fi
relay=$(connected_relay nosignal)
slept=$EPOCHREALTIME
sleep_machine nosignal "$relay"
thaw=$EPOCHREALTIME
figures=$(recovery_after nosignal "$slept" "$thaw" 120)
stop_stamper
read -r loss verified <<<"${figures:-- -}"
figure "without the wake signal: loss shown at ${loss} s, tunnel verified again at ${verified} s after the thaw"
check "the tunnel is verified again without the signal (${verified} s)" test "$verified" != "-"
end_session nosignal
