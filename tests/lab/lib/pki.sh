# The lab PKI, made fresh at every `up`: EC P-256 keys (fast to make), certificates valid 30 days.
#   ca            signs the web server, every relay server and every relay's client certificate
#   rogue-ca      trusted only by a relay staged to refuse the client (its own certificate is from
#                 `ca`), and the issuer of the certificate of a relay staged as untrusted
#   vpngate-client  the dummy client certificate in every SoftEther relay's profile (SoftEther
#                 relays make their own server certificates)
# shellcheck shell=bash

pki_req() { # out-base subject extra-args...
  local base=$1 subject=$2; shift 2
  run openssl req -config "$S/pki/openssl.cnf" -x509 -new -newkey ec \
    -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 -subj "$subject" \
    -keyout "$base.key" -out "$base.crt" "$@"
}

pki_ca() { # name common-name
  pki_req "$S/pki/$1" "/O=Orlune lab $LAB_ID/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash"
}

pki_leaf() { # name common-name usage(serverAuth|clientAuth) [subjectAltName] [issuer]
  local issuer=${5:-ca}
  local args=(-CA "$S/pki/$issuer.crt" -CAkey "$S/pki/$issuer.key"
    -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature,keyAgreement"
    -addext "extendedKeyUsage=$3" -addext "authorityKeyIdentifier=keyid")
  [ -z "${4:-}" ] || args+=(-addext "subjectAltName=$4")
  pki_req "$S/pki/$1" "/O=Orlune lab $LAB_ID/CN=$2" "${args[@]}"
}

# The dummy client certificate of public relay profiles: self-signed, no extensions, an RSA key
# in the traditional PEM form. The relays take its common name as the user name.
pki_vpngate_client() {
  run openssl req -config "$S/pki/openssl.cnf" -x509 -new -newkey rsa:2048 -nodes -days 30 \
    -subj "/CN=VPNGateClientCert/C=JP" -keyout "$S/pki/vpngate-client.p8" -out "$S/pki/vpngate-client.crt"
  run openssl rsa -traditional -in "$S/pki/vpngate-client.p8" -out "$S/pki/vpngate-client.key"
  rm -f "$S/pki/vpngate-client.p8"
}

make_pki() {
  mkdir -p "$S/pki" "$S/public"
  chmod 700 "$S/pki"
  printf '[req]\ndistinguished_name = dn\nprompt = no\n[dn]\n' > "$S/pki/openssl.cnf"
  pki_ca ca "Orlune Lab CA"
  pki_ca rogue-ca "Orlune Lab Other CA"
  local sans="" name i
  for name in "${ENDPOINT_NAMES[@]}"; do sans+="${sans:+,}IP:${SERVICE_ADDR[$name]}"; done
  pki_leaf web "Orlune lab services" serverAuth "$sans"
  for ((i = 1; i <= R_COUNT; i++)); do
    is_softether "$i" && continue
    local issuer=ca
    has_fault "$i" untrusted && issuer=rogue-ca
    pki_leaf "relay$i" "${R_NAME[i]}" serverAuth "IP:$(relay_addr "$i")" "$issuer"
    pki_leaf "client$i" "client of ${R_NAME[i]}" clientAuth
  done
  for ((i = 1; i <= R_COUNT; i++)); do
    is_softether "$i" || continue
    pki_vpngate_client
    break
  done
  # The CA certificate is public: the app and curl in the client host read it.
  cp "$S/pki/ca.crt" "$S/public/ca.crt"
  chmod 644 "$S/public/ca.crt"
}
