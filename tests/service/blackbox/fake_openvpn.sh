#!/bin/bash
# A scripted engine for the service's black-box tests, bind-mounted over the real engine inside
# the test's namespaces. What it does is read from the file "engine-mode" in the control directory
# that the test writes into this copy (the service passes no environment through). It records
# its arguments, environment and descriptors, so the tests can check how it was started.
set -u
control=@CONTROL@
if [ "${1:-}" = "--version" ]; then
  echo "OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL]"
  echo "library versions: OpenSSL 3.0.17, LZO 2.10"
  exit 0
fi
mode=$(cat "$control/engine-mode" 2>/dev/null || echo tunnel)
printf '%s\n' "$@" > "$control/engine-arguments"
env > "$control/engine-environment"
ls /proc/$$/fd > "$control/engine-descriptors"
grep '^Cap' /proc/$$/status > "$control/engine-capabilities"
echo "$$" > "$control/engine-started"

sleeper=
finish() {
  echo "SIGTERM[hard,] received, process exiting"
  [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null
  ip link del tun0 2>/dev/null
  exit 0
}
trap finish TERM

case "$mode" in
  tunnel|host-routes)
    echo "OpenVPN 2.6.14 x86_64-pc-linux-gnu"
    ip tuntap add dev tun0 mode tun && ip link set tun0 up && ip addr add 10.8.0.2/24 dev tun0
    if [ "$mode" = tunnel ]; then
      ip route add 0.0.0.0/1 dev tun0 && ip route add 128.0.0.0/1 dev tun0
    else
      # What a relay pushing host routes only would leave: the default route stays outside.
      ip route add 1.1.1.1/32 dev tun0 && ip route add 8.8.8.8/32 dev tun0
    fi
    echo "TUN/TAP device tun0 opened"
    echo "echo:TUN/TAP device tun9 opened"
    echo "Initialization Sequence Completed"
    ;;
  waiting)
    echo "TCP/UDP: Preserving recently used remote address"
    ;;
  auth-failed)
    sleep 0.3
    echo "AUTH: Received control message: AUTH_FAILED"
    exit 1
    ;;
  auth-failed-long-ago)
    echo "AUTH: Received control message: AUTH_FAILED"
    head -c 70000 /dev/zero | tr '\0' '.'
    echo
    sleep 0.3
    echo "Connection reset, restarting"
    exit 1
    ;;
esac
while :; do
  sleep 1000 &
  sleeper=$!
  wait "$sleeper"
done
