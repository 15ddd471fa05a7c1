# Installs a build of the app and the service into the client host as the package would: root-owned
# copies that no group or other user can change, a client manifest naming the app and its SHA-256,
# and the service started as root. The lab's own paths stand in for /usr (nothing goes into the
# machine's /usr); the service's fixed paths are the client host's private tmpfs.
# shellcheck shell=bash

INSTALL_SUBDIR=install
SERVICE_SOCKET=/run/orlune-vpn/control.sock
MANIFEST=/var/lib/orlune-vpn/client.json

installed_app() { echo "$S/$INSTALL_SUBDIR/usr/bin/orlune-vpn"; }
installed_service() { echo "$S/$INSTALL_SUBDIR/usr/libexec/orlune-vpn/orlune-vpn-service"; }
# The app loads its window from this module, found from its own path (bin/../lib/orlune-vpn).
WINDOW_MODULE=lib/orlune-vpn/orlune-vpn-window.so

# The manifest's content; its keys are the service's to decide, so they live only here.
manifest_json() { # app-path hash
  printf '{"identifier": %s, "cdhash": %s}\n' "$(json_str "$1")" "$(json_str "$2")"
}

install_file() { # source destination
  [ -f "$1" ] || die "no file to install at $1"
  mkdir -p "$(dirname "$2")"
  # Every directory on the way is root's and closed to writers, as /usr would be.
  local d=$2
  while d=$(dirname "$d"); [ "$d" != "$S" ] && [ "$d" != / ]; do chown root:root "$d"; chmod 755 "$d"; done
  install -o root -g root -m 755 -- "$1" "$2.new"
  mv -f "$2.new" "$2"
}

write_manifest() { # recorded-app-path file-to-hash
  local hash
  hash=$(sha256sum -- "$2" | awk '{print $1}')
  manifest_json "$1" "$hash" > "$S/client/client.json.new"
  # Written inside the client host, where /var/lib/orlune-vpn is the lab's tmpfs.
  client_root install -o root -g root -m 644 "$S/client/client.json.new" "$MANIFEST" ||
    die "could not write the client manifest"
  rm -f "$S/client/client.json.new"
}

service_pid() { live_pid service; }

start_service() {
  local svc pid
  svc=$(installed_service)
  [ -x "$svc" ] || die "no service installed in lab $LAB_ID (lab install --service PATH)"
  ! service_pid >/dev/null || die "the service of lab $LAB_ID runs already (pid $(service_pid))"
  mkdir -p "$S/logs"
  # A killed service leaves its socket behind; the new one is ready only once it made its own.
  client_root rm -f "$SERVICE_SOCKET"
  # The environment and session a system service manager gives: nothing of the caller's, and no
  # terminal, so a Ctrl-C meant for the app never reaches the service.
  # LAB_SERVICE_CAPS (for example "net_admin,sys_ptrace") confines the service to those
  # capabilities and no new privileges, as the unit does: its bounding and ambient sets, and
  # root's programs gaining nothing at exec (noroot, locked).
  local confine=()
  if [ -n "${LAB_SERVICE_CAPS:-}" ]; then
    local caps="-all,+${LAB_SERVICE_CAPS//,/,+}"
    confine=(setpriv --bounding-set "$caps" --inh-caps "$caps" --ambient-caps "$caps"
             --securebits "+noroot,+noroot_locked" --no-new-privs --)
  fi
  setsid nsenter -t "$(client_holder)" -n -m -- "${confine[@]}" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 HOME=/root "$svc" </dev/null >>"$S/logs/service.log" 2>&1 &
  pid=$!
  record_pid service "$pid"
  if ! wait_for "${LAB_SERVICE_WAIT:-10}" service_socket_ready "$pid"; then
    if kill -0 "$pid" 2>/dev/null; then
      note "the service runs (pid $pid) but made no $SERVICE_SOCKET yet"
    else
      tail -n 20 "$S/logs/service.log" | sed 's/^/  | /' >&2
      die "the service ended at start (log: $S/logs/service.log)"
    fi
  fi
}

service_socket_ready() { kill -0 "$1" && client_root test -e "$SERVICE_SOCKET"; }

# Stops the service gracefully (it stops the engine and restores DNS), then kills it after 10 s.
stop_service() {
  local pid
  pid=$(service_pid) || return 0
  kill -TERM "$pid" 2>/dev/null || true
  if ! wait_for 10 sh -c "! kill -0 $pid"; then
    note "the service did not stop within 10 s; killing it"
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$S/pids/service"
}

lab_install() { # options...
  local service="" app="" manifest_path="" start=1
  while [ $# -gt 0 ]; do
    case $1 in
      --service) service=${2:?--service needs a path}; shift 2 ;;
      --app) app=${2:?--app needs a path}; shift 2 ;;
      --manifest-app-path) manifest_path=${2:?--manifest-app-path needs a path}; shift 2 ;;
      --no-start) start=0; shift ;;
      *) die "install: unknown option '$1'" ;;
    esac
  done
  [ -n "$service" ] || [ -n "$app" ] || die "install: give --service PATH and/or --app PATH"
  client_holder >/dev/null
  if [ -n "$app" ]; then
    install_file "$app" "$(installed_app)"
    local module
    module=$(dirname "$app")/../$WINDOW_MODULE
    if [ -f "$module" ]; then install_file "$module" "$S/$INSTALL_SUBDIR/usr/$WINDOW_MODULE"; fi
    write_manifest "${manifest_path:-$(installed_app)}" "$(installed_app)"
    note "app installed at $(installed_app), manifest $MANIFEST in the client host"
  fi
  if [ -n "$service" ]; then
    stop_service
    install_file "$service" "$(installed_service)"
    note "service installed at $(installed_service)"
    if [ $start = 1 ]; then
      start_service
      note "service started in the client host (pid $(service_pid)); log $S/logs/service.log"
    fi
  fi
}
