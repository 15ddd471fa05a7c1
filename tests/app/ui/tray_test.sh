#!/usr/bin/env bash
# Runs the tray test under a virtual X server with a tray host; skipped (77) without them.
# Usage: tray_test.sh TEST-PROGRAM
set -uo pipefail
program=${1:?path of the tray test}
command -v xvfb-run >/dev/null && command -v trayer >/dev/null || { echo "skipped: xvfb-run or trayer missing"; exit 77; }
runtime=$(mktemp -d) && chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
# No session bus: the icon goes to the X tray host, not to a desktop's notifier watcher.
exec env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x900x24" sh -c 'trayer --edge top --align right >/dev/null 2>&1 & "$0" --gtest_color=no' "$program"
