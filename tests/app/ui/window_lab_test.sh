#!/usr/bin/env bash
# The window with the real model in the lab, as the lab's ordinary user, rendered offscreen:
# it starts, loads its views without a single QML warning, and is still running 8 s later.
# Usage: window_lab_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../lab/test/testlib.sh"
app=${1:?path of orlune-vpn}
service=${2:?path of orlune-vpn-service}
skip_unless_lab_possible

export LAB_ID=$(new_lab_id)
work=$(mktemp -d)
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$work"' EXIT

if ! "$LAB" up --owner $$ --service "$service" --app "$app" >"$work/up.log" 2>&1; then
  cat "$work/up.log"; echo "FAIL - the lab did not come up"; exit 1
fi
eval "$("$LAB" env)"
installed_app="$LAB_STATE/install/usr/bin/orlune-vpn"

group "the window starts offscreen and keeps running"
"$LAB" exec --user -- sh -c 'rt=$(mktemp -d) && chmod 700 "$rt" &&
  XDG_RUNTIME_DIR=$rt QT_QPA_PLATFORM=offscreen timeout -s TERM 8 "$0"; status=$?; rm -rf "$rt"; exit $status' \
  "$installed_app" >"$work/out" 2>"$work/err"
status=$?
check_eq "still running when stopped after 8 s" 124 "$status"
# The offscreen platform's note that it cannot raise a window is not the views' fault.
warnings=$(grep -v 'This plugin does not support raise()' "$work/err" || true)
check_eq "no warnings on standard error" "" "$warnings"
finish
