#!/usr/bin/env bash
# Times `lab up` and `lab down` for the default and the fault description (not a ctest test:
# speed is measured here, never asserted). Usage: up_benchmark.sh [RUNS]   (as root)
set -euo pipefail
LAB=$(cd "$(dirname "$0")/.." && pwd)/lab
runs=${1:-5}
export LAB_QUIET=1
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
for description in default.lab scenarios/faults.lab; do
  ups=() downs=()
  for ((r = 1; r <= runs; r++)); do
    export LAB_ID=bench$r
    t0=$EPOCHREALTIME
    "$LAB" up --description "$(dirname "$LAB")/$description" >/dev/null
    t1=$EPOCHREALTIME
    "$LAB" down >/dev/null
    t2=$EPOCHREALTIME
    ups+=("$(seconds "$t0" "$t1")"); downs+=("$(seconds "$t1" "$t2")")
  done
  relays=$(grep -c '^relay' "$(dirname "$LAB")/$description")
  printf '%-22s %2d relays  up: %s s (median of %d: %s s)  down: median %s s\n' "$description" "$relays" \
    "${ups[*]}" "$runs" "$(printf '%s\n' "${ups[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
    "$(printf '%s\n' "${downs[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
done
