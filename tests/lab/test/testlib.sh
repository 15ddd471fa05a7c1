# Small assertion helpers for the lab's own tests (TAP-like output, failures counted).
# shellcheck shell=bash

# shellcheck disable=SC2034  # read by the tests that source this file
LAB=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/lab
FAILURES=0
CHECKS=0

ok() { CHECKS=$((CHECKS + 1)); echo "ok - $1"; }
not_ok() { CHECKS=$((CHECKS + 1)); FAILURES=$((FAILURES + 1)); echo "FAIL - $1${2:+: $2}"; }
check() { # name command... : passes when the command succeeds
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then ok "$name"; else not_ok "$name" "'$*' failed"; fi
}
check_eq() { # name expected actual
  if [ "$2" = "$3" ]; then ok "$1"; else not_ok "$1" "expected '$2', got '$3'"; fi
}
check_match() { # name regex actual
  if [[ $3 =~ $2 ]]; then ok "$1"; else not_ok "$1" "'$3' does not match /$2/"; fi
}
group() { echo "# $*"; }

# Exit 77 (ctest: skipped) where the lab cannot run at all.
skip_unless_lab_possible() {
  if [ "$(id -u)" -ne 0 ]; then echo "skipped: the lab needs root"; exit 77; fi
  local probe="olabprobe-$$"
  if ! ip netns add "$probe" 2>/dev/null; then echo "skipped: network namespaces are unavailable"; exit 77; fi
  ip netns del "$probe"
  if ! { exec 9<>/dev/net/tun; } 2>/dev/null; then echo "skipped: /dev/net/tun is unusable"; exit 77; fi
  exec 9>&-
}

new_lab_id() { echo "t$(head -c 3 /dev/urandom | od -An -tx1 | tr -d ' \n')"; }

finish() {
  echo "# $CHECKS checks, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}

# Links of the machine's own namespace, to prove the lab adds none.
root_links() { ip -o link show | awk -F': ' '{print $2}' | sed 's/@.*//' | sort; }

# Live (not zombie) processes among a list of pids.
live_among() {
  local p st
  for p in "$@"; do
    st=$(ps -o stat= -p "$p" 2>/dev/null | tr -d ' ') || continue
    [ -n "$st" ] && [[ $st != Z* ]] && echo "$p"
  done
  return 0
}

# Everything a lab leaves when it is gone: nothing at all.
check_lab_gone() { # id label
  local id=$1 label=$2
  check_eq "$label: no namespace of the lab" "" "$(ip netns list | awk '{print $1}' | grep -E "^olab-$id-" || true)"
  check_eq "$label: no link of the lab in this namespace" "" "$(root_links | grep -E -- "^(cl|br|r[0-9]+)-$id\$" || true)"
  check_eq "$label: no mount of the lab" "" "$(grep -E "orlune-lab/$id|olab-$id-" /proc/self/mountinfo || true)"
  check "$label: state directory removed" test ! -e "/run/orlune-lab/$id"
}
