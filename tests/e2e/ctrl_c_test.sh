#!/usr/bin/env bash
# Ctrl-C on `orlune-vpn connect` as a terminal delivers it together with a script's own stop
# (`make run`): the whole process group gets SIGINT as soon as the tunnel is shown, and a second
# SIGINT follows at once, while another program reads through the tunnel. Repeated in one lab: each
# time the app must exit 0 after "Disconnected.", with no engine left and DNS as before.
# Usage: ctrl_c_test.sh APP SERVICE [ROUNDS]   (14: a one-in-five fault shows in 19 runs of 20)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
rounds=${3:-14}
e2e_up "$here/../lab/default.lab" "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"
resolv_before=$(resolv)
echo_url=$(sed -n 's/.*"plainEchoes": *\[ *"\([^"]*\)".*/\1/p' "$ORLUNE_ENDPOINTS")
restored() { no_engine && resolv_is "$resolv_before"; }

group "Ctrl-C with a second stop at once, $rounds times"
crashes=0 unclean=0
for round in $(seq 1 "$rounds"); do
  out=$WORK/round$round
  # Its own process group, as a terminal's foreground job.
  setsid "$LAB" exec --user -- "$APP" connect JP >"$out.out" 2>"$out.err" &
  group_id=$!
  if ! wait_for_line "$out.out" '^Connected' 90 "$group_id"; then
    not_ok "round $round: connected"; cat "$out.out" "$out.err"; break
  fi
  app=$(app_pid)
  "$LAB" exec --user -- curl -fsS --max-time 5 --cacert "$LAB_STATE/public/ca.crt" "$echo_url" >/dev/null 2>&1 &
  # Both before the app's event loop runs again: it reads the two together.
  kill -INT -- -"$group_id"
  kill -INT "$app"
  wait "$group_id"; status=$?
  wait
  if [ "$status" -ne 0 ] || ! grep -q '^Disconnected\.' "$out.out"; then
    crashes=$((crashes + 1))
    echo "# round $round: exit $status"; sed 's/^/#   /' "$out.out" "$out.err"
  fi
  time_until 10 restored >/dev/null || unclean=$((unclean + 1))
done
check_eq "every round exited 0 after \"Disconnected.\"" 0 "$crashes"
check_eq "every round left no engine and DNS as before" 0 "$unclean"
e2e_finish
