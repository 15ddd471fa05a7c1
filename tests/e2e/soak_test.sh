#!/usr/bin/env bash
# Connect and disconnect through the command line, over and over, taking turns on one relay of
# each kind and transport: every cycle must hold (a relay has only five addresses, so one that
# is never told a client left soon refuses), and the service's memory and descriptors must stay
# flat. Prints one line per relay and one for the service:
#   soak relay=NAME cycles=N held=N connect_ms_median=… connect_ms_max=… disconnect_ms_median=… …
#   soak service rss_kb_first=… rss_kb_last=… rss_kb_max=… fds_first=… fds_last=… fds_max=…
# Usage: soak_test.sh APP SERVICE [CYCLES per relay, default SOAK_CYCLES or 3]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
cycles=${3:-${SOAK_CYCLES:-3}}
[[ $cycles =~ ^[1-9][0-9]{0,3}$ ]] || { echo "soak: CYCLES must be a whole number from 1 to 9999" >&2; exit 2; }
skip_unless_lab_possible
e2e_up "$here/soak.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"
relays=(se-udp-101 se-tcp-102 ov-udp-201 ov-tcp-202)
resolv_before=$(resolv)
route_before=$(route_to_1111)
service=$(service_pid)
relay_address() { awk -F'\t' -v r="$1" '$2 == r {print $3}' "$LAB_STATE/relays.tsv"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
sample_service() {
  awk '$1 == "VmRSS:" {print $2}' "/proc/$service/status" >>"$WORK/rss"
  find "/proc/$service/fd" -mindepth 1 -maxdepth 1 | wc -l >>"$WORK/fds"
}
stats() { sort -g | awk -v p="$1" '{v[NR] = $1} END {if (NR) printf "%s_median=%s %s_max=%s", p, v[int((NR + 1) / 2)], p, v[NR]}'; }

# One cycle on relay $1: connect until "Connected", Ctrl-C until the command line has ended with
# route and DNS as before. Returns non-zero when the cycle did not hold.
cycle() { # relay n
  local name=$1 out=$WORK/cycle.out start connected
  : >"$out"
  start=$(now_ms)
  "$LAB" exec --user -- "$APP" connect "$name-$(relay_address "$name")" >"$out" 2>&1 &
  RUNNER=$!
  if ! wait_for_line "$out" '^Connected' 60 "$RUNNER"; then
    kill -INT "$(app_pid)" 2>/dev/null; wait "$RUNNER"
    echo "# cycle $2 on $name did not connect:"; sed 's/^/#   /' "$out" | tail -n 5
    return 1
  fi
  connected=$(now_ms)
  echo $((connected - start)) >>"$WORK/connect-$name"
  kill -INT "$(app_pid)" 2>/dev/null
  wait "$RUNNER" || { echo "# cycle $2 on $name: the command line failed after Ctrl-C"; tail -n 3 "$out"; return 1; }
  echo $(($(now_ms) - connected)) >>"$WORK/disconnect-$name"
  if [ "$(route_to_1111)" != "$route_before" ] || ! resolv_is "$resolv_before"; then
    echo "# cycle $2 on $name: route or DNS not given back"; return 1
  fi
}

group "$cycles cycles on each of ${relays[*]}, taking turns"
sample_service
for ((n = 1; n <= cycles; n++)); do
  for name in "${relays[@]}"; do
    if cycle "$name" "$n"; then echo "$name" >>"$WORK/held"; fi
  done
  sample_service
  [ $((n % 10)) -ne 0 ] || echo "# after $n rounds: service rss $(tail -n 1 "$WORK/rss") kB, $(tail -n 1 "$WORK/fds") descriptors"
done
touch "$WORK/held"
for name in "${relays[@]}"; do
  held=$(grep -cx "$name" "$WORK/held")
  echo "soak relay=$name cycles=$cycles held=$held $(stats connect_ms <"$WORK/connect-$name" 2>/dev/null) $(stats disconnect_ms <"$WORK/disconnect-$name" 2>/dev/null)"
  check_eq "$name: every cycle held" "$cycles" "$held"
done
rss_first=$(head -n 1 "$WORK/rss") rss_last=$(tail -n 1 "$WORK/rss") fds_first=$(head -n 1 "$WORK/fds") fds_last=$(tail -n 1 "$WORK/fds")
echo "soak service rss_kb_first=$rss_first rss_kb_last=$rss_last rss_kb_max=$(sort -g "$WORK/rss" | tail -n 1) fds_first=$fds_first fds_last=$fds_last fds_max=$(sort -g "$WORK/fds" | tail -n 1)"
check_eq "the service holds as many descriptors as at the start" "$fds_first" "$fds_last"
# Memory settles after the first tunnels (allocator pools); it must not keep growing.
check "the service's memory stays flat (within 1 MB of its size after the first round)" \
  [ "$rss_last" -le $(($(sed -n 2p "$WORK/rss") + 1024)) ]
check "no engine is left" no_engine
e2e_finish cycle
