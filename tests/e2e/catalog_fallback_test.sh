#!/usr/bin/env bash
# A catalog server that is blocked or down, against the real programs in the lab, as the lab's
# ordinary user. For each way the catalog endpoint fails (refused, hanging, an HTML page, the
# empty placeholder, 429):
#  1. the catalog comes from the first working mirror (mirror1 refused, mirror2 answers);
#  2. with every mirror down too, the kept last good catalog is used, its age and the live
#     failure said, and a connect still ends with a verified tunnel (the profile from it too);
# then, with the direct path to the catalog and its mirrors blocked and no kept catalog, a proxy
# on the internet host (tinyproxy) carries the catalog and profile downloads.
# Prints the time each fault takes to fall back ("# fallback ...").
# The hanging endpoint, which waits out the app's time-outs, runs beside the other faults in a
# lab of its own.
# Usage: catalog_fallback_test.sh APP SERVICE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2elib.sh"
skip_unless_lab_possible
command -v tinyproxy >/dev/null || { echo "skipped: tinyproxy is not installed (scripts/bootstrap lab)"; exit 77; }
: "${1:?path of orlune-vpn}" "${2:?path of orlune-vpn-service}"

# This process starts both parts and shows what they said.
if [ -z "${FALLBACK_PART:-}" ]; then
  parts=$(mktemp -d)
  trap 'rm -rf "$parts"' EXIT
  declare -A PART
  for part in hang others; do
    ( start=$EPOCHREALTIME; FALLBACK_PART=$part bash "$0" "$@"; status=$?
      awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "# the part took %.0f s\n", b - a }'; exit $status
    ) >"$parts/$part.log" 2>&1 &
    PART[$part]=$!
  done
  for part in hang others; do
    wait "${PART[$part]}"; status=$?
    cat "$parts/$part.log"
    if [ "$status" -eq 0 ]; then ok "the $part part"; else not_ok "the $part part (above)" "exit status $status"; fi
  done
  finish
  exit
fi

e2e_up "$here/../lab/default.lab" "$1" "$2" --mirrors
KEPT=$LAB_STATE/home/.cache/orlune-vpn/catalog.csv
resolv_before=$(resolv)

faults() { "$LAB" fault catalog "$1"; "$LAB" fault mirror1 "$2"; "$LAB" fault mirror2 "$3"; }
# `servers --json` as the lab user: stdout to NAME.out, stderr to NAME.err, seconds taken to NAME.s.
servers() { # name
  local start=$EPOCHREALTIME
  "$LAB" exec --user -- "$APP" servers --json >"$WORK/$1.out" 2>"$WORK/$1.err"
  local status=$?
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }' >"$WORK/$1.s"
  return $status
}
lists_relays() { grep -q '"id":"public-vpn-101-198.51.100.11"' "$WORK/$1.out"; }

group "the live catalog is kept"
faults ok ok ok
check "servers lists the relays" servers live
check "the answer is kept in the user's cache" cmp -s "$KEPT" "$LAB_STATE/www/catalog.csv"
check_eq "nothing is said about a kept catalog" "" "$(cat "$WORK/live.err")"

declare -A expected=(
  [refused]='primary 192\.0\.2\.10: Connection refused'
  [hang]='primary 192\.0\.2\.10: The request timed out\.'
  [html]='primary 192\.0\.2\.10: the catalog service did not return a valid VPN Gate relay list;'
  [empty]='primary 192\.0\.2\.10: the catalog service did not return a valid VPN Gate relay list;'
  [429]='primary 192\.0\.2\.10: the catalog service did not return a valid VPN Gate relay list \(HTTP 429\)'
)
# Countries in turn, so that no relay runs out of tunnel addresses held by ended clients.
declare -A country=([refused]=JP [hang]=KR [html]=US [empty]=JP [429]=KR)
kinds=(refused html empty 429)
[ "$FALLBACK_PART" = others ] || kinds=(hang)
for kind in "${kinds[@]}"; do
  group "catalog endpoint $kind: the first working mirror, then the kept catalog"
  faults "$kind" refused ok
  check "servers lists the relays from mirror2" servers "$kind-mirror"
  check "(its list)" lists_relays "$kind-mirror"
  check_eq "nothing is said about a kept catalog" 0 "$(grep -c 'Catalog from' "$WORK/$kind-mirror.err")"

  faults "$kind" refused "$kind"
  check "servers lists the relays of the kept catalog" servers "$kind-kept"
  check "(its list)" lists_relays "$kind-kept"
  check_match "its age and the live failure are said" \
    "^Catalog from (just now|[0-9]+ minutes? ago) — the live catalog could not be loaded: ${expected[$kind]}.*mirror 192\.0\.2\.11: Connection refused" \
    "$(cat "$WORK/$kind-kept.err")"
  echo "# fallback $kind: to mirror2 $(cat "$WORK/$kind-mirror.s") s, to the kept catalog $(cat "$WORK/$kind-kept.s") s (servers, whole command)"

  start_connect "$kind" "${country[$kind]}"
  if wait_for_line "$WORK/$kind.out" '^Connected' 150 "$RUNNER"; then
    ok "connect ${country[$kind]} ends with a verified tunnel"
    check_match "the connect says it uses the kept catalog" "Using the catalog from .* — the live catalog could not be loaded\." \
      "$(cat "$WORK/$kind.out")"
    check_match "and takes the profile from it" "Using the profile from the catalog kept .* — the live catalog could not be loaded: " \
      "$(cat "$WORK/$kind.out")"
  else
    not_ok "connect ${country[$kind]} ends with a verified tunnel" "$(tail -n 3 "$WORK/$kind.err")"
  fi
  kill -INT "$(app_pid)" 2>/dev/null
  wait "$RUNNER"
  check_eq "resolv.conf is as before" "$resolv_before" "$(resolv)"
done

[ "$FALLBACK_PART" = others ] || { e2e_finish live hang; exit; }

group "blocked direct path, no kept catalog: the proxy carries the downloads"
faults blocked blocked blocked
rm -f "$KEPT"
"$LAB" proxy start >/dev/null
"$LAB" exec --user -- sh -c 'mkdir -p "$HOME/.config/Orlune" && printf "[General]\ncatalogProxyMode=http\ncatalogProxyHost=203.0.113.1\ncatalogProxyPort=8888\n" >> "$HOME/.config/Orlune/Orlune VPN.conf"'
check "servers lists the relays" servers proxy
check "(its list)" lists_relays proxy
check_eq "live, not kept" 0 "$(grep -c 'Catalog from' "$WORK/proxy.err")"
check_match "the proxy carried it" 'CONNECT.*192\.0\.2\.10:443' "$(cat "$LAB_STATE/logs/tinyproxy.log")"
echo "# catalog through the proxy: $(cat "$WORK/proxy.s") s (servers, whole command)"
start_connect proxy US
if wait_for_line "$WORK/proxy.out" '^Connected' 90 "$RUNNER"; then
  ok "connect US through the proxy ends with a verified tunnel"
  check_eq "no kept catalog was needed" "" "$(grep 'kept' "$WORK/proxy.out")"
else
  not_ok "connect US through the proxy ends with a verified tunnel" "$(tail -n 3 "$WORK/proxy.err")"
fi
kill -INT "$(app_pid)" 2>/dev/null
wait "$RUNNER"
check_eq "resolv.conf is as before" "$resolv_before" "$(resolv)"

e2e_finish live proxy refused hang html empty 429
