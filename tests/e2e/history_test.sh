#!/usr/bin/env bash
# Measured figures and the relay history, through the command line in the lab: three relays
# whose lines send at 2, 6 and 16 Mbps are measured through their tunnels in that order, a
# refusing relay is recorded as failed, the history outlives each process and survives several
# processes writing it at once, and a relay that left the list connects, on request only, with
# the profile it worked with.
# Usage: history_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
e2e_up "$here/history.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"

relay_id() { awk -F'\t' -v n="$1" '$2 == n {print $2 "-" $3}' "$LAB_STATE/relays.tsv"; }
history_json() { "$LAB" exec --user -- "$APP" history --json 2>"$WORK/history.err"; }
# A field of one relay's entry in `history --json`.
history_field() { # json relay-id field
  python3 -c 'import json,sys; e=[r for r in json.loads(sys.argv[1]) if r["relay"]["id"]==sys.argv[2]]; print(e[0].get(sys.argv[3], "") if e else "")' "$@"
}

# The download is a setting, off by default; the lab user turns it on.
"$LAB" exec --user -- sh -c 'mkdir -p "$HOME/.config/Orlune" &&
  printf "[General]\nmeasureThroughput=true\n" > "$HOME/.config/Orlune/Orlune VPN.conf"'

group "each relay is measured through its own tunnel after Connected"
declare -A mbits
for name in vpn-slow-301 vpn-mid-302 vpn-fast-303; do
  id=$(relay_id "$name")
  start_connect "$name" "$id"
  if wait_for_line "$WORK/$name.out" '^Measured: ' 60 "$RUNNER"; then
    line=$(grep '^Measured: ' "$WORK/$name.out")
    ok "$name: $line"
    # "Connected" comes first: the measurement never holds it back.
    check "$name: Connected before Measured" awk '/^Connected/ {c=NR} /^Measured/ {exit !(c && c < NR)}' "$WORK/$name.out"
    mbits[$name]=$(sed -n 's/.*, \([0-9.]*\) Mbps — provider.*/\1/p' <<< "$line")
  else
    not_ok "$name: a Measured line" "$(tail -n 3 "$WORK/$name.out")"
  fi
  pid=$(app_pid); [ -z "$pid" ] || kill -INT "$pid"
  wait "$RUNNER"
done
echo "# measured: slow ${mbits[vpn-slow-301]:-?}, mid ${mbits[vpn-mid-302]:-?}, fast ${mbits[vpn-fast-303]:-?} Mbps (shaped 2, 6, 16)"
check "the measured rates follow the shaped ones" awk -v a="${mbits[vpn-slow-301]:-0}" -v b="${mbits[vpn-mid-302]:-0}" \
  -v c="${mbits[vpn-fast-303]:-0}" 'BEGIN { exit !(a > 0 && a < b && b < c && a <= 2.1 && b <= 6.3 && c <= 16.8) }'

group "a refusing relay is recorded as failed"
start_connect refuse KR
wait "$RUNNER"
check_match "the connect failed" 'vpn-refuse-401' "$(cat "$WORK/refuse.err")"

group "the history outlives each process"
json=$(history_json)
for name in vpn-slow-301 vpn-mid-302 vpn-fast-303; do
  check_eq "$name worked once" 1 "$(history_field "$json" "$(relay_id "$name")" worked)"
  check_match "$name keeps its measured rate" '^[0-9]+$' "$(history_field "$json" "$(relay_id "$name")" throughputBitsPerSecond)"
done
refused=$(relay_id vpn-refuse-401)
check_eq "the refusing relay failed once" 1 "$(history_field "$json" "$refused" failed)"
check_eq "... and never worked" 0 "$(history_field "$json" "$refused" worked)"
check_match "servers --json carries the history" '"history":\{[^}]*"worked":1' \
  "$("$LAB" exec --user -- "$APP" servers JP --json 2>/dev/null)"

group "several processes writing at once lose nothing"
# Each listing marks the recorded relays as seen in the catalog, and so writes the history.
for n in 1 2 3 4; do "$LAB" exec --user -- "$APP" servers --json >"$WORK/servers$n.out" 2>&1 & done
wait
after=$(history_json)
for name in vpn-slow-301 vpn-mid-302 vpn-fast-303; do
  check_eq "$name still worked once" 1 "$(history_field "$after" "$(relay_id "$name")" worked)"
  check_match "$name was seen listed" '^20' "$(history_field "$after" "$(relay_id "$name")" lastSeen)"
done
check_eq "no history was set aside" "" "$(cat "$WORK/history.err")"
check_eq "nothing set aside on disk" "" "$(find "$LAB_STATE/home/.local/share/orlune-vpn" -name '*unreadable*')"
"$LAB" exec --user -- "$APP" history >"$WORK/history.out" 2>&1
sed 's/^/#   /' "$WORK/history.out"

group "a relay that worked and left the list connects on request with its kept profile"
"$LAB" catalog hide vpn-fast-303 >/dev/null
fast=$(relay_id vpn-fast-303)
check_eq "history keeps its profile" True "$(history_field "$(history_json)" "$fast" profileKept)"
"$LAB" exec --user -- "$APP" connect "$fast" >"$WORK/gone.out" 2>"$WORK/gone.err"
check_eq "without asking it is not used (exit 3)" 3 "$?"
check_match "... and the user is told how" 'recently-worked' "$(cat "$WORK/gone.err")"
"$LAB" exec --user -- "$APP" connect "$fast" --recently-worked >"$WORK/kept.out" 2>"$WORK/kept.err" &
RUNNER=$!
if wait_for_line "$WORK/kept.out" '^Connected' 60 "$RUNNER"; then
  ok "connected through the relay that left the list"
  check_match "with the profile it worked with" 'profile this relay worked with before' "$(cat "$WORK/kept.out")"
else
  not_ok "connected through the relay that left the list" "$(tail -n 3 "$WORK/kept.out" "$WORK/kept.err")"
fi
pid=$(app_pid); [ -z "$pid" ] || kill -INT "$pid"
wait "$RUNNER"
"$LAB" catalog show vpn-fast-303 >/dev/null

e2e_finish vpn-slow-301 vpn-mid-302 vpn-fast-303 refuse gone kept
