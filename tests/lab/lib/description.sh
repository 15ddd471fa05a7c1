# Reads a lab description (see default.lab) into arrays indexed by relay number (1-based).
# shellcheck shell=bash

RELAY_FAULTS_KNOWN=(down refuse untrusted unsafe hidden push-routes push-noise no-data-ciphers)
# The server a relay runs: Debian's OpenVPN, or SoftEther VPN as the public relays run it.
RELAY_KINDS=(openvpn softether)

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; s=${s%"${s##*[![:space:]]}"}; printf '%s' "$s"; }

parse_description() { # file
  local file=$1 line n=0 kind f1 f2 f3 f4 f5 f6 f7 f8 extra fault known relay_kind=openvpn
  [ -r "$file" ] || die "cannot read lab description $file"
  R_COUNT=0
  declare -gA R_INDEX=() IPINFO=() EP_FAULT=()
  WAN_PROFILE=none
  local wan_seen=""
  declare -ga R_NAME=() R_COUNTRY=() R_CODE=() R_PING=() R_SPEED=() R_PROTO=() R_PORT=() \
    R_EXIT=() R_FAULTS=() R_KIND=()
  while IFS= read -r line || [ -n "$line" ]; do
    n=$((n + 1))
    line=${line%$'\r'}
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    IFS='|' read -r kind f1 f2 f3 f4 f5 f6 f7 f8 extra <<< "$line"
    kind=$(trim "$kind"); f1=$(trim "$f1"); f2=$(trim "$f2"); f3=$(trim "$f3"); f4=$(trim "$f4")
    f5=$(trim "$f5"); f6=$(trim "$f6"); f7=$(trim "$f7"); f8=$(trim "$f8")
    local where="$file:$n"
    case $kind in
      relay)
        [ -z "$(trim "$extra")" ] || die "$where: too many fields"
        [[ $f1 =~ ^[A-Za-z0-9._-]{1,40}$ ]] || die "$where: relay name '$f1' (letters, digits, . _ -)"
        [ -z "${R_INDEX[$f1]:-}" ] || die "$where: relay '$f1' listed twice"
        [[ -n $f2 && ! $f2 =~ [,\"|] ]] || die "$where: country '$f2' (no commas or quotes)"
        [[ $f3 =~ ^[A-Za-z]{2}$ ]] || die "$where: country code '$f3' (two letters)"
        [[ $f4 =~ ^(-|-?[0-9]{1,18})$ ]] || die "$where: ping '$f4' (a whole number or -)"
        [[ $f5 =~ ^(-|-?[0-9]{1,18})$ ]] || die "$where: speed '$f5' (a whole number or -)"
        [[ $f6 =~ ^(udp|tcp)(/([0-9]{1,5}))?$ ]] || die "$where: transport '$f6' (udp or tcp, optionally /PORT)"
        local proto=${BASH_REMATCH[1]} port=${BASH_REMATCH[3]}
        [ -n "$port" ] || { [ "$proto" = udp ] && port=1194 || port=443; }
        [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "$where: port $port"
        [[ -z $f7 || $f7 =~ ^[A-Za-z]{1,8}$ ]] || die "$where: exit country '$f7' (letters)"
        for fault in $f8; do
          # rate-KBIT: the relay's line sends at most KBIT kbit/s (towards its clients too).
          [[ $fault =~ ^rate-[0-9]{2,7}$ ]] && continue
          known=0
          for k in "${RELAY_FAULTS_KNOWN[@]}"; do [ "$fault" = "$k" ] && known=1; done
          [ $known = 1 ] || die "$where: unknown relay fault '$fault' (${RELAY_FAULTS_KNOWN[*]})"
        done
        R_COUNT=$((R_COUNT + 1))
        [ $R_COUNT -le $MAX_RELAYS ] || die "$where: at most $MAX_RELAYS relays"
        R_INDEX[$f1]=$R_COUNT
        R_NAME[R_COUNT]=$f1; R_COUNTRY[R_COUNT]=$f2; R_CODE[R_COUNT]=$f3; R_PING[R_COUNT]=$f4
        R_SPEED[R_COUNT]=$f5; R_PROTO[R_COUNT]=$proto; R_PORT[R_COUNT]=$port
        R_EXIT[R_COUNT]=${f7:-$f3}; R_FAULTS[R_COUNT]=" $f8 "; R_KIND[R_COUNT]=$relay_kind
        ;;
      kind)
        [[ " ${RELAY_KINDS[*]} " == *" $f1 "* && -z $f2 ]] || die "$where: relay kind '$f1' (${RELAY_KINDS[*]})"
        relay_kind=$f1
        ;;
      country)
        [[ $f1 =~ ^(192\.0\.2|198\.51\.100|203\.0\.113)\.[0-9]{1,3}$ ]] || die "$where: address '$f1' is not a lab address"
        [[ $f2 =~ ^[A-Za-z]{1,8}$ ]] || die "$where: country '$f2' (letters)"
        IPINFO[$f1]=$f2
        ;;
      endpoint)
        [ -n "${SERVICE_ADDR[$f1]:-}" ] || die "$where: unknown endpoint '$f1' (${ENDPOINT_NAMES[*]})"
        valid_endpoint_fault "$f2" || die "$where: unknown endpoint fault '$f2' (${ENDPOINT_FAULTS[*]})"
        # shellcheck disable=SC2034  # read by the lab command after the description is loaded
        EP_FAULT[$f1]=$f2
        ;;
      wan)
        [ -z "$wan_seen" ] || die "$where: a second wan line (the first is at $wan_seen)"
        valid_wan_profile "$f1" || die "$where: unknown wan profile '$f1' (${WAN_PROFILES[*]})"
        [ -z "$f2$f3$f4$f5$f6$f7$f8$(trim "$extra")" ] || die "$where: a wan line names only its profile"
        # shellcheck disable=SC2034  # read by the lab command after the description is loaded
        WAN_PROFILE=$f1; wan_seen=$where
        ;;
      *) die "$where: unknown line kind '$kind' (kind, relay, country, endpoint, wan)" ;;
    esac
  done < "$file"
  [ $R_COUNT -ge 1 ] || die "$file: no relay"
  local i
  for ((i = 1; i <= R_COUNT; i++)); do
    [ -n "${IPINFO[$(relay_addr $i)]:-}" ] || IPINFO[$(relay_addr $i)]=${R_EXIT[i]}
  done
}

has_fault() { [[ ${R_FAULTS[$1]} == *" $2 "* ]]; }
# The rate limit a description gave a relay (kbit/s), or nothing.
relay_rate() { [[ ${R_FAULTS[$1]} =~ \ rate-([0-9]+)\  ]] && echo "${BASH_REMATCH[1]}"; }
valid_endpoint_fault() { local f; for f in "${ENDPOINT_FAULTS[@]}"; do [ "$1" = "$f" ] && return 0; done; return 1; }

# The relay table every later command reads (tab-separated, one relay a line).
write_relay_table() {
  local i
  {
    printf '# index\tname\taddress\tproto\tport\tcountry\tcode\tping\tspeed\texit\tkind\tfaults\n'
    for ((i = 1; i <= R_COUNT; i++)); do
      printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$i" "${R_NAME[i]}" "$(relay_addr $i)" \
        "${R_PROTO[i]}" "${R_PORT[i]}" "${R_COUNTRY[i]}" "${R_CODE[i]}" "${R_PING[i]}" \
        "${R_SPEED[i]}" "${R_EXIT[i]}" "${R_KIND[i]}" "$(trim "${R_FAULTS[i]}")"
    done
  } > "$S/relays.tsv"
}

load_relay_table() {
  local i name proto port country code ping speed exit faults kind
  [ -f "$S/relays.tsv" ] || die "lab $LAB_ID has no relay table (was it started?)"
  R_COUNT=0
  declare -gA R_INDEX=()
  declare -ga R_NAME=() R_COUNTRY=() R_CODE=() R_PING=() R_SPEED=() R_PROTO=() R_PORT=() \
    R_EXIT=() R_FAULTS=() R_KIND=()
  while IFS=$'\t' read -r i name _ proto port country code ping speed exit kind faults; do
    [[ $i == \#* ]] && continue
    R_COUNT=$i; R_INDEX[$name]=$i; R_NAME[i]=$name; R_PROTO[i]=$proto; R_PORT[i]=$port
    R_COUNTRY[i]=$country; R_CODE[i]=$code; R_PING[i]=$ping; R_SPEED[i]=$speed; R_EXIT[i]=$exit
    R_FAULTS[i]=" $faults "; R_KIND[i]=${kind:-openvpn}
  done < "$S/relays.tsv"
}

relay_index() { # name
  local i=${R_INDEX[$1]:-}
  [ -n "$i" ] || die "no relay '$1' in lab $LAB_ID (relays: ${R_NAME[*]})"
  echo "$i"
}
