#!/usr/bin/env bash
# The lab's life cycle: two labs at once, clean-up after a failed up, after a killed up and after
# the owner of a lab died, and refusal of bad descriptions before anything is made.
set -uo pipefail
. "$(dirname "$0")/testlib.sh"
skip_unless_lab_possible

export LAB_QUIET=1
WORK=$(mktemp -d)
IDS=()
cleanup() {
  local id
  for id in "${IDS[@]}"; do LAB_ID=$id "$LAB" down >/dev/null 2>&1; done
  rm -rf "$WORK"
}
trap cleanup EXIT
new_id() { local id; id=$(new_lab_id); IDS+=("$id"); echo "$id"; }

cat > "$WORK/small.lab" <<'EOF'
relay | small-1 | Japan | JP | 10 | 50000000 | udp | |
EOF
echo_of() { LAB_ID=$1 "$LAB" exec -- curl -sS --max-time 5 --cacert "/run/orlune-lab/$1/public/ca.crt" https://192.0.2.41/ 2>/dev/null; }

group "two labs at once"
A=$(new_id); B=$(new_id)
links_before=$(root_links)
LAB_ID=$A "$LAB" up --description "$WORK/small.lab" >/dev/null 2>"$WORK/a.err" & pa=$!
LAB_ID=$B "$LAB" up --description "$WORK/small.lab" >/dev/null 2>"$WORK/b.err" & pb=$!
wait $pa; ra=$?; wait $pb; rb=$?
check_eq "both come up side by side" "0 0" "$ra $rb"
[ "$ra $rb" = "0 0" ] || cat "$WORK/a.err" "$WORK/b.err"
check_eq "each client host reaches its own services" "203.0.113.10 203.0.113.10" "$(echo_of "$A") $(echo_of "$B")"
check_eq "both are listed" "2" "$("$LAB" list | grep -cE "^($A|$B)\$")"
check "a command without LAB_ID is refused when several labs exist" sh -c "! LAB_ID= '$LAB' status"
check "... with a message naming them" sh -c "LAB_ID= '$LAB' status 2>&1 | grep -q 'set LAB_ID'"
LAB_ID=$A "$LAB" down >/dev/null 2>&1
check_lab_gone "$A" "first lab down"
check_eq "the second lab still works" "203.0.113.10" "$(echo_of "$B")"
LAB_ID=$B "$LAB" down >/dev/null 2>&1
check_lab_gone "$B" "second lab down"
check_eq "the machine's links are as before" "$links_before" "$(root_links)"

group "a failed up removes what it made"
C=$(new_id)
mkdir "$WORK/not-a-file"
LAB_ID=$C "$LAB" up --description "$WORK/small.lab" --catalog "$WORK/not-a-file" >/dev/null 2>"$WORK/c.err"
check_eq "up fails" "1" "$?"
check "... saying why" grep -q "cannot read catalog file" "$WORK/c.err"
check_lab_gone "$C" "after the failed up"
LAB_KEEP_FAILED=1 LAB_ID=$C "$LAB" up --description "$WORK/small.lab" --catalog "$WORK/not-a-file" >/dev/null 2>&1
check "a failed up can keep its lab for a look" test -d "/run/orlune-lab/$C"
LAB_ID=$C "$LAB" down >/dev/null 2>&1
check_lab_gone "$C" "down after a kept failed up"

group "down after a killed up"
D=$(new_id)
LAB_ID=$D "$LAB" up --description "$WORK/small.lab" >/dev/null 2>&1 & pd=$!
# Kill it once the client host is being made: namespaces exist, processes run.
for _ in $(seq 200); do
  [ -f "/run/orlune-lab/$D/pids/client-holder" ] && break
  sleep 0.02
done
kill -KILL $pd 2>/dev/null; wait $pd 2>/dev/null
check "the killed up had made namespaces" test -s "/run/orlune-lab/$D/namespaces"
holder=$(awk '{print $1}' "/run/orlune-lab/$D/pids/client-holder" 2>/dev/null)
sleep 0.3   # let the killed script's last child finish
LAB_ID=$D "$LAB" down >/dev/null 2>&1
check_eq "down succeeds" "0" "$?"
check_lab_gone "$D" "after the killed up"
check_eq "the client host's holder process is gone" "" "$(live_among $holder)"

group "a lab whose owner died is collected"
E=$(new_id)
sleep 300 & owner=$!
LAB_ID=$E "$LAB" up --owner $owner --description "$WORK/small.lab" >/dev/null 2>&1
check "up with an owner" test -d "/run/orlune-lab/$E"
"$LAB" gc >/dev/null 2>&1
check "gc keeps a lab whose owner lives" test -d "/run/orlune-lab/$E"
kill $owner; wait $owner 2>/dev/null
"$LAB" gc >/dev/null 2>&1
check_lab_gone "$E" "gc after the owner died"

group "a machine whose resolv.conf is a link (systemd-resolved)"
# Played in a private mount namespace whose /etc holds such a link; the lab lives and dies there.
G=$(new_id)
mkdir -p "$WORK/etc-upper" "$WORK/etc-work" "$WORK/resolve"
echo "nameserver 127.0.0.53" > "$WORK/resolve/stub-resolv.conf"
linked=$(LAB_ID=$G WORK=$WORK LAB=$LAB unshare --mount --propagation private -- bash -c '
  mount -t overlay olab-test -o "lowerdir=/etc,upperdir=$WORK/etc-upper,workdir=$WORK/etc-work" /etc || exit 3
  rm -f /etc/resolv.conf && ln -s "$WORK/resolve/stub-resolv.conf" /etc/resolv.conf
  "$LAB" up --description "$WORK/small.lab" >/dev/null 2>&1 || exit 4
  "$LAB" exec -- sh -c "test -L /etc/resolv.conf && echo link || echo file; grep ^nameserver /etc/resolv.conf"
  echo nameserver 192.0.2.99 | "$LAB" exec -- sh -c "cat > /etc/resolv.conf"
  cat "$WORK/resolve/stub-resolv.conf"
  "$LAB" down >/dev/null 2>&1 || exit 5
' 2>&1 | tr '\n' ' ')
check_eq "the client host gets a plain resolv.conf of its own, the machine's stays untouched" \
  "file nameserver 203.0.113.1 nameserver 127.0.0.53 " "$linked"
check_lab_gone "$G" "after the linked-resolv.conf lab"

group "bad descriptions are refused before anything is made"
F=$(new_id)
while IFS='#' read -r line message; do
  printf '%s\n' "$line" > "$WORK/bad.lab"
  out=$(LAB_ID=$F "$LAB" up --description "$WORK/bad.lab" 2>&1 >/dev/null)
  check_match "refused: $message" "bad.lab:1: " "$out"
done <<'EOF'
relay | r1 | Japan | JPN | 10 | 5 | udp | | # a three-letter code
relay | r1 | Ja,pan | JP | 10 | 5 | udp | | # a comma in the country
relay | r1 | Japan | JP | fast | 5 | udp | | # a ping that is no number
relay | r1 | Japan | JP | 10 | 5 | icmp | | # an unknown transport
relay | r1 | Japan | JP | 10 | 5 | udp/70000 | | # a port out of range
relay | r1 | Japan | JP | 10 | 5 | udp | | broken # an unknown fault
country | 10.0.0.1 | US # an address outside the lab
endpoint | echo9 | hang # an unknown endpoint
endpoint | echo1 | sluggish # an unknown endpoint fault
router | x # an unknown line kind
wan | fast # an unknown wan profile
EOF
check_lab_gone "$F" "after refused descriptions"

finish
