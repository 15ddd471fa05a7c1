#!/usr/bin/env bash
# Screenshots of the real app on a real desktop: in the lab's client host, as the lab's ordinary
# user, a virtual X screen with a window manager (openbox), a panel whose tray is a
# StatusNotifier host (xfce4-panel) and a notification server (dunst) on a private session bus.
# The app connects on launch; the shots show its window, its tray icon and the "Connected"
# notification, then its tray window opened by clicking the icon. Twice: light at the desktop's
# normal scale, dark at 1.5x.
# Usage: desktop_screenshots.sh APP SERVICE OUTPUT-FOLDER
# Without root (or password-less sudo), namespaces or the desktop's packages it says why and
# takes none (exit 0: the offscreen shots stand on their own; DESKTOP_SKIP_STATUS=77 for ctest).
# Any shot that cannot show what it should (no tunnel, no notification, no tray icon) fails it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
app=$(realpath "${1:?path of orlune-vpn}")
service=$(realpath "${2:?path of orlune-vpn-service}")
out=${3:?output folder}
mkdir -p "$out"
out=$(realpath "$out")

skip() { echo "desktop screenshots skipped: $*"; exit "${DESKTOP_SKIP_STATUS:-0}"; }
missing=()
for tool in Xvfb openbox xfce4-panel dunst dunstctl dbus-daemon dbus-send python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ ${#missing[@]} -eq 0 ] || skip "missing ${missing[*]} (scripts/bootstrap desktop installs them)"
if [ "$(id -u)" -ne 0 ]; then
  # The lab needs root; sudo is used only when it asks no password.
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n "$0" "$app" "$service" "$out" "owner=$(id -u):$(id -g)"
  fi
  skip "the lab needs root (run as root or with password-less sudo)"
fi
owner=${4:-}
owner=${owner#owner=}
# shellcheck source=../../lab/test/testlib.sh
. "$here/../../lab/test/testlib.sh"
probe="olabprobe-$$"
ip netns add "$probe" 2>/dev/null || skip "network namespaces are unavailable"
ip netns del "$probe"

export LAB_ID=${LAB_ID:-$(new_lab_id)}
work=$(mktemp -d)
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$work"' EXIT
if ! "$LAB" up --owner $$ --service "$service" --app "$app" >"$work/up.log" 2>&1; then
  cat "$work/up.log" >&2
  echo "desktop screenshots: the lab did not come up" >&2
  exit 1
fi
eval "$("$LAB" env)"
installed=$LAB_STATE/install/usr/bin/orlune-vpn
home=$LAB_STATE/home
bus=unix:path=$home/.runtime/bus
user() { "$LAB" exec --user --env "DBUS_SESSION_BUS_ADDRESS=$bus" --env "XDG_CONFIG_HOME=$home/.config" \
  --env NO_AT_BRIDGE=1 "$@"; }
# Polls COMMAND every 0.2 s until it succeeds or SECONDS have passed.
wait_for() { # seconds command...
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.2; done
}
fail() {
  echo "desktop screenshots: $*" >&2
  for log in "$work"/*.log; do sed "s|^|  $(basename "$log" .log): |" "$log" >&2; done
  exit 1
}
shots=$home/shots
user mkdir -p "$shots" "$home/.config/xfce4/xfconf/xfce-perchannel-xml" "$home/.config/Orlune"
install -o "$(id -u orlune-lab)" -m 644 "$here/desktop/xfce4-panel.xml" \
  "$home/.config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
install -o "$(id -u orlune-lab)" -m 755 "$here/x11_screen.py" "$home/x11_screen.py"
screen() { user "$home/x11_screen.py" "$@"; }

user Xvfb -displayfd 1 -screen 0 1920x1200x24 -nolisten tcp >"$work/display" 2>"$work/xvfb.log" &
wait_for 10 test -s "$work/display" || fail "the X server did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software
# The session bus lives only in the client host: its address is a socket in the user's runtime
# folder, and the services it starts on demand (the panel's settings store) stay there too.
user dbus-daemon --session --nofork --nopidfile --address="$bus" >"$work/dbus.log" 2>&1 &
wait_for 10 test -S "$home/.runtime/bus" || fail "the session bus did not start"
user openbox >"$work/openbox.log" 2>&1 &
user xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
user dunst >"$work/dunst.log" 2>&1 &
has_owner() { user dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'; }
wait_for 20 has_owner org.kde.StatusNotifierWatcher || fail "the panel's tray did not come up"
wait_for 10 has_owner org.freedesktop.Notifications || fail "the notification server did not start"
screen background 2f4f66  # after the window manager, which paints the desktop black
sleep 1  # the panel draws itself

service_connected() { timeout 10 "$LAB" exec --user -- "$installed" status --json | grep -q '"state":"connected"'; }
tray_items() {
  user dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems
}
service_stopped() { ! service_connected; }
notified() { [ "$(user dunstctl count displayed)" -gt 0 ]; }
# The icon's orange, looked for in the tray at the right of the panel along the top (the
# window list at its left shows the window's own icon).
tray_icon() { screen find f55c1f 1520 0 400 40; }

round() { # appearance scale
  local appearance=$1 scale=$2 name spot pid
  name=$(echo "$appearance" | tr '[:upper:]' '[:lower:]')$([ "$scale" = 1 ] || echo "-${scale}x")
  user sh -c 'printf "[General]\nappearance=%s\nconnectOnLaunch=true\nselectedCountryCode=JP\nnotificationsEnabled=true\n" \
    "$0" >"$HOME/.config/Orlune/Orlune VPN.conf"' "$appearance"
  user dunstctl close-all >/dev/null 2>&1 || true
  # The pointer rests on the bare desktop, not on the tray icon (its tooltip) or the window.
  screen move 1919 1199
  user --env "QT_SCALE_FACTOR=$scale" "$installed" >"$work/app-$name.log" 2>&1 &
  pid=$!
  wait_for 60 service_connected || fail "the app did not connect ($name)"
  wait_for 20 notified || fail "no notification was shown ($name)"
  tray_items | grep -q 'string "' || fail "the app's icon is not a StatusNotifier item ($name)"
  spot=$(tray_icon) || fail "the tray icon is not in the panel ($name)"
  sleep 1  # the notification's fade-in
  screen grab "$shots/desktop-connected-$name.png"
  # The notification has been seen; it would cover the tray window, which opens beside it.
  user dunstctl close-all
  # shellcheck disable=SC2086  # "X Y"
  screen click $spot
  sleep 1.5
  screen grab "$shots/desktop-tray-window-$name.png"
  kill -TERM $(pgrep -x -f "$installed") 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The service stops the tunnel once its owner is gone.
  wait_for 20 service_stopped || fail "the tunnel outlived the app ($name)"
}
round Light 1
round Dark 1.5

for shot in "$shots"/*.png; do
  install -m 644 ${owner:+-o "${owner%:*}" -g "${owner#*:}"} "$shot" "$out/"
  echo "$out/$(basename "$shot")"
done
