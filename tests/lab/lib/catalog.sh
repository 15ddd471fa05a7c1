# Client profiles and the relay catalog, in the shape the public catalog has: CRLF lines, a banner,
# a header, one row per relay with its profile in Base64 (itself CRLF text), a closing "*" line.
# shellcheck shell=bash

CATALOG_HEADER='#HostName,IP,Score,Ping,Speed,CountryLong,CountryShort,NumVpnSessions,Uptime,TotalUsers,TotalTraffic,LogType,Operator,Message,OpenVPN_ConfigData_Base64'

pem_block() { # tag file
  printf '<%s>\n' "$1"
  cat "$2"
  printf '</%s>\n' "$1"
}

# A public relay's profile, of which the lab keeps one as its model.
VPNGATE_PROFILE=$LAB_HOME/../data/vpngate/vpn407900236_udp_2026-08-22.ovpn

write_profile() { # index -> $S/public/profiles/NAME.ovpn
  local i=$1 out
  out=$S/public/profiles/${R_NAME[i]}.ovpn
  mkdir -p "$S/public/profiles"
  if is_softether "$i"; then softether_profile "$i" | sed 's/$/\r/' > "$out"; chmod 644 "$out"; return; fi
  {
    printf '###############################################################################\n'
    printf '# OpenVPN client profile of lab relay %s (%s), %s\n' "${R_NAME[i]}" "$(relay_addr "$i")" "${R_COUNTRY[i]}"
    printf '###############################################################################\n\n'
    printf 'dev tun\n\nproto %s\n\nremote %s %s\n\n' "${R_PROTO[i]}" "$(relay_addr "$i")" "${R_PORT[i]}"
    printf ';http-proxy-retry\n;http-proxy [proxy server] [proxy port]\n\n'
    printf 'cipher AES-128-CBC\n'
    has_fault "$i" no-data-ciphers || printf 'data-ciphers AES-128-CBC\n'
    printf 'auth SHA1\n\n'
    printf 'resolv-retry infinite\nnobind\npersist-key\npersist-tun\nclient\nverb 3\n'
    # A relay staged as unsafe asks the client to run a program when the tunnel comes up.
    has_fault "$i" unsafe && printf 'up /etc/openvpn/update-resolv-conf\n'
    printf '\n'
    pem_block ca "$S/pki/ca.crt"; printf '\n'
    pem_block cert "$S/pki/client$i.crt"; printf '\n'
    pem_block key "$S/pki/client$i.key"; printf '\n'
  } | sed 's/$/\r/' > "$out"
  chmod 644 "$out"
}

# The public profile's text line for line, with this relay's transport, address, port and
# certificates: the server's own certificate as CA (another CA's when it is staged as untrusted)
# and the dummy client certificate. A relay staged without data-ciphers has the profile that
# older servers generate, which only names the cipher.
softether_profile() { # index
  local i=$1 ca=$S/relays/$1/server.crt
  has_fault "$i" untrusted && ca=$S/pki/ca.crt
  [ -r "$VPNGATE_PROFILE" ] || die "missing the model profile $VPNGATE_PROFILE"
  tr -d '\r' < "$VPNGATE_PROFILE" | awk -v proto="${R_PROTO[i]}" -v remote="$(relay_addr "$i") ${R_PORT[i]}" \
    -v nociphers="$(has_fault "$i" no-data-ciphers && echo 1)" -v unsafe="$(has_fault "$i" unsafe && echo 1)" \
    -v ca="$ca" -v cert="$S/pki/vpngate-client.crt" -v key="$S/pki/vpngate-client.key" '
    function pem(file,   line) { while ((getline line < file) > 0) if (line != "") print line; close(file) }
    /^<(ca|cert|key)>$/ { print; block = substr($0, 2, length($0) - 2); pem(block == "ca" ? ca : block == "cert" ? cert : key); next }
    /^<\/(ca|cert|key)>$/ { block = ""; print; next }
    block != "" { next }
    nociphers && /^# Note: To solve OpenVPN compatibility bug/ { skip = 1 }
    skip { if (/^# the "data-ciphers" line\./) skip = 0; next }
    nociphers && /^data-ciphers / { next }
    /^proto / { print "proto " proto; next }
    /^remote / { print "remote " remote; next }
    { print }
    unsafe && /^verb / { print "up /etc/openvpn/update-resolv-conf" }'
}

catalog_row() { # index
  local i=$1 ping=${R_PING[$1]} speed=${R_SPEED[$1]} score=0
  [[ $ping =~ ^[0-9]+$ && $speed =~ ^[0-9]+$ && $ping -gt 0 ]] && score=$((speed / ping / 40))
  # Sessions, uptime (milliseconds, as the public catalog counts it), users and traffic are
  # plausible values derived from the relay's number.
  printf '%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,2weeks,Orlune lab relay %s,,%s\r\n' \
    "${R_NAME[i]}" "$(relay_addr "$i")" "$score" "$ping" "$speed" "${R_COUNTRY[i]}" "${R_CODE[i]}" \
    "$((3 + 7 * i))" "$((3600000 + 86400000 * i))" "$((1000 * i))" "$((123456789 * i))" "$i" \
    "$(base64 -w0 < "$S/public/profiles/${R_NAME[i]}.ovpn")"
}

catalog_listed() { # index: not hidden now
  if [ -f "$S/catalog/listed" ]; then grep -qx "${R_NAME[$1]}" "$S/catalog/listed"
  else ! has_fault "$1" hidden; fi
}

# Rebuilds the served catalog from the relays that are listed now; replaces it atomically.
generate_catalog() {
  local i tmp=$S/www/catalog.csv.new
  {
    printf '*vpn_servers\r\n%s\r\n' "$CATALOG_HEADER"
    for ((i = 1; i <= R_COUNT; i++)); do
      catalog_listed "$i" && catalog_row "$i"
    done
    printf '*\r\n'
  } > "$tmp"
  chmod 644 "$tmp"
  mv -f "$tmp" "$S/www/catalog.csv"
  echo generated > "$S/catalog/source"
}

# Remembers which relays are listed, so `hide` and `show` survive later regenerations.
init_listing() {
  local i
  mkdir -p "$S/catalog"
  : > "$S/catalog/listed.new"
  for ((i = 1; i <= R_COUNT; i++)); do
    has_fault "$i" hidden || echo "${R_NAME[i]}" >> "$S/catalog/listed.new"
  done
  mv -f "$S/catalog/listed.new" "$S/catalog/listed"
}

set_listed() { # name 0|1
  local i
  i=$(relay_index "$1")
  grep -vx "$1" "$S/catalog/listed" > "$S/catalog/listed.new" || true
  [ "$2" = 0 ] || echo "$1" >> "$S/catalog/listed.new"
  mv -f "$S/catalog/listed.new" "$S/catalog/listed"
}

serve_catalog_file() { # file: served byte for byte instead of the generated catalog
  local tmp=$S/www/catalog.csv.new
  [ -f "$1" ] && [ -r "$1" ] || die "cannot read catalog file $1"
  cp -- "$1" "$tmp"
  chmod 644 "$tmp"
  mv -f "$tmp" "$S/www/catalog.csv"
  echo "file $1" > "$S/catalog/source"
}
