#!/usr/bin/env bash
# Distances: the real profile's delay line as the client host meets it. Round trips, jitter and
# packet order to a relay and to the services, the catalog's fetch time, the bottleneck's rate, a
# tunnel through the line, and that the line goes with the lab. Timings are figures of the
# profile, so the checks allow a few per cent (a busy machine adds its own delays).
set -uo pipefail
. "$(dirname "$0")/testlib.sh"
skip_unless_lab_possible
export LAB_DELAY_LINE=${LAB_DELAY_LINE:-$(dirname "$LAB")/../../build/tests/lab/lab-delay-line}
[ -x "$LAB_DELAY_LINE" ] || { echo "skipped: no delay line at $LAB_DELAY_LINE (build the target lab-delay-line)"; exit 77; }
command -v ping >/dev/null || "$(dirname "$LAB")/../../scripts/bootstrap" lab >/dev/null

export LAB_ID LAB_QUIET=1
LAB_ID=$(new_lab_id)
S=/run/orlune-lab/$LAB_ID
WORK=$(mktemp -d)
trap '"$LAB" down >/dev/null 2>&1; rm -rf "$WORK"' EXIT

group "a profile with distances needs the delay line, and says so before building anything"
out=$(LAB_DELAY_LINE=/nonexistent "$LAB" up --wan real 2>&1 >/dev/null)
check_match "refused without the program" "needs the delay line /nonexistent" "$out"
check "... and nothing was made" test ! -e "$S"

if ! "$LAB" up --owner $$ --description "$(dirname "$LAB")/scenarios/distances.lab" >"$WORK/up.log" 2>&1; then
  echo "FAIL - lab up"; cat "$WORK/up.log"; exit 1
fi
in_client() { "$LAB" exec -- "$@"; }
CURL=(curl -sS --max-time 30 --cacert "$S/public/ca.crt")
# A setting of a class in the line's configuration.
setting() { sed -n "s/^class $1 .*[[:space:]]$2=\([0-9.]*\).*/\1/p" "$S/wan/classes.conf"; }
# Passes when |actual - expected| <= pct % of expected + slack.
near() { awk -v a="$2" -v e="$3" -v p="$4" -v s="${5:-0}" 'BEGIN { d = a - e; if (d < 0) d = -d; exit !(d <= e * p / 100 + s) }'; }
check_near() { # name actual expected pct [slack]
  if near "$1" "$2" "$3" "$4" "${5:-0}"; then ok "$1 ($2, profile $3)"; else not_ok "$1" "measured $2, profile $3 ± $4 %"; fi
}
rx_bytes() { in_client cat "/sys/class/net/$1/statistics/rx_bytes"; }
jp=198.51.100.11

group "round trips and jitter: a relay in Japan and the nearby services"
for target in "wan-jp-101 $jp" "services 192.0.2.41"; do
  read -r class addr <<< "$target"
  stats=$(in_client ping -q -n -c 25 -i 0.2 -W 2 "$addr" | tail -n 2)
  received=$(sed -n 's/.* \([0-9]*\) received.*/\1/p' <<< "$stats")
  IFS=/ read -r _ avg _ mdev <<< "$(sed -n 's/.* = \([0-9./]*\) ms.*/\1/p' <<< "$stats")"
  check_near "$class: average round trip" "$avg" "$(setting "$class" rtt)" 5 1
  jitter=$(setting "$class" jitter)
  check "$class: jitter ($mdev ms) between a third and twice the profile's $jitter ms" \
    awk -v m="$mdev" -v j="$jitter" 'BEGIN { exit !(m >= j / 3 && m <= 2 * j + 1) }'
  check "$class: at most one of 25 pings lost ($received received)" test "${received:-0}" -ge 24
done

group "packet order: a burst keeps its order through the jitter"
seqs=$(in_client ping -n -c 200 -i 0.001 -W 2 "$jp" | sed -n 's/.*icmp_seq=\([0-9]*\).*/\1/p' | tr '\n' ' ')
check_eq "replies arrive in the order sent" "$(tr ' ' '\n' <<< "$seqs" | sed '/^$/d' | sort -n | tr '\n' ' ')" "$seqs"

group "the catalog host is as far and as slow as the public one"
head -c 975000 /dev/urandom | base64 -w 76 > "$WORK/catalog.csv"   # 1.3 MB, as the public catalog
"$LAB" catalog serve "$WORK/catalog.csv"
times=$(for _ in 1 2 3; do in_client "${CURL[@]}" -o /dev/null -w '%{time_total}\n' "https://192.0.2.10/api/iphone/"; done | sort -n)
echo "# fetch times of the 1.3 MB catalog: $(tr '\n' ' ' <<< "$times")s"
check_near "the 1.3 MB catalog's median fetch time (s)" "$(sed -n 2p <<< "$times")" 1.6 10

group "the bottleneck's rate: the catalog host's line, saturated by two downloads"
head -c 7500000 /dev/urandom | base64 -w 76 > "$WORK/big.csv"
"$LAB" catalog serve "$WORK/big.csv"
# Measured in the middle of the downloads, when TCP has left slow start; two flows keep the queue
# from running dry while one of them recovers from a drop.
measure_rate() { # interface start-seconds seconds -> kbit/s
  local a b t0
  sleep "$2"; a=$(rx_bytes "$1"); t0=$EPOCHREALTIME
  sleep "$3"; b=$(rx_bytes "$1")
  awk -v a="$a" -v b="$b" -v t="$t0" -v n="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 8 / (n - t) / 1000 }'
}
for _ in 1 2; do in_client "${CURL[@]}" -o /dev/null "https://192.0.2.10/api/iphone/" & done
rate=$(measure_rate eth0 2.5 3)
wait
# The link counts Ethernet frames: 1514 bytes carry the line's 1500.
check_near "IP rate at the client (kbit/s)" "$((rate * 1500 / 1514))" "$(setting catalog rate)" 4

group "a tunnel through the line: the engine by hand, over UDP to the relay in Japan"
"$LAB" catalog generate
t0=$EPOCHREALTIME
in_client openvpn --config "$S/public/profiles/wan-jp-101.ovpn" --daemon olab-wan-test --writepid "$WORK/engine.pid" \
  --log "$WORK/engine.log" --data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305:AES-128-CBC \
  --data-ciphers-fallback AES-128-CBC >/dev/null 2>&1
for _ in $(seq 300); do grep -q "Initialization Sequence Completed" "$WORK/engine.log" 2>/dev/null && break; sleep 0.05; done
if grep -q "Initialization Sequence Completed" "$WORK/engine.log"; then
  ok "the tunnel comes up through the line"
  echo "# engine handshake through the line: $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') s"
  "$LAB" catalog serve "$WORK/big.csv"
  in_client "${CURL[@]}" -o /dev/null -w '%{speed_download}\n' "https://192.0.2.10/api/iphone/" > "$WORK/speed" &
  rate=$(measure_rate tun0 2.5 3)
  wait
  echo "# through the relay: $rate kbit/s steady, $(awk '{ printf "%d", $1 * 8 / 1000 }' "$WORK/speed") kbit/s over the whole 10 MB download"
  # A tunnel carries about 92 % of its relay's line (the profile's relay rates count on that).
  check_near "steady throughput through the relay (kbit/s)" "$rate" "$(awk -v r="$(setting wan-jp-101 rate)" 'BEGIN { print r * 0.92 }')" 10
else
  not_ok "the tunnel comes up through the line" "$(tail -n 5 "$WORK/engine.log")"
fi
kill -TERM "$(cat "$WORK/engine.pid" 2>/dev/null)" 2>/dev/null

group "the line goes with the lab"
line=$(cut -d' ' -f1 "$S/pids/wan")
cpu=$(awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$line/stat")
echo "# the delay line's CPU time over the test: $cpu s, resident $(awk '/VmHWM/ { print $2, $3 }' "/proc/$line/status") at most"
check "the line runs as nobody" test "$(stat -c %u "/proc/$line")" = 65534
"$LAB" down >/dev/null 2>&1
check_eq "no delay line left" "" "$(live_among "$line")"
check_lab_gone "$LAB_ID" "after down"

finish
