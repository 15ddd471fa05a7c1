# The internet host's public services: Debian's nginx, our own instance and configuration, HTTPS
# with a lab-CA certificate for every service address. Faults are flag files (checked per request,
# so switching needs no reload) and nft sets of the internet host (for packet-level faults).
# shellcheck shell=bash

ECHO_MODULE=/usr/lib/nginx/modules/ngx_http_echo_module.so

# Everything one endpoint answers; nginx variables give the echo answers.
endpoint_locations() { # name
  case $1 in
    catalog|mirror1|mirror2) cat <<EOF
    location = /api/iphone/ {
      root $S/www;
      try_files /catalog.csv =404;
      add_header Cache-Control no-cache;
    }
EOF
      ;;
    connectivity) echo '    location = /generate_204 { return 204; }' ;;
    trace) cat <<'EOF'
    location = /cdn-cgi/trace {
      return 200 "fl=lab\nh=$host\nip=$remote_addr\nts=$msec\nvisit_scheme=$scheme\nuag=$http_user_agent\ncolo=LAB\nsliver=none\nhttp=$server_protocol\nloc=$lab_country\ntls=$ssl_protocol\nsni=off\nwarp=off\ngateway=off\nrbi=off\nkex=$ssl_curve\n";
    }
EOF
      ;;
    echo1|echo2) echo '    location = / { return 200 "$remote_addr\n"; }' ;;
    echo3) echo '    location = /ip { return 200 "$remote_addr\n"; }' ;;
    speedtest) cat <<EOF
    location = /__down {
      root $S/www;
      try_files /speedtest.bin =404;
      default_type application/octet-stream;
      add_header Cache-Control no-store;
    }
EOF
      ;;
    ipinfo) cat <<'EOF'
    location ~ "^/(?<lab_query>[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3})/country$" {
      if ($lab_query_country = "") { return 404 "Not Found\n"; }
      return 200 "$lab_query_country\n";
    }
EOF
      ;;
  esac
}

write_nginx_config() {
  local name addr f conf=$S/nginx/nginx.conf
  mkdir -p "$S/nginx/tmp" "$S/www/faults"
  chmod 755 "$S/www" "$S/www/faults"
  truncate -s "$SPEEDTEST_BYTES" "$S/www/speedtest.bin"
  chmod 644 "$S/www/speedtest.bin"
  {
    [ -f "$ECHO_MODULE" ] && echo "load_module $ECHO_MODULE;"
    cat <<EOF
# nginx of lab $LAB_ID: the internet host's public services.
daemon on;
master_process on;
worker_processes 1;
user nobody $(getent group nogroup >/dev/null && echo nogroup || echo nobody);
pid $S/nginx/nginx.pid;
error_log $S/logs/nginx-error.log warn;
events { worker_connections 512; }
http {
  access_log $S/logs/nginx-access.log;
  client_body_temp_path $S/nginx/tmp/body;
  proxy_temp_path $S/nginx/tmp/proxy;
  fastcgi_temp_path $S/nginx/tmp/fastcgi;
  uwsgi_temp_path $S/nginx/tmp/uwsgi;
  scgi_temp_path $S/nginx/tmp/scgi;
  default_type text/plain;
  server_tokens off;
  keepalive_timeout 30s;
  ssl_certificate $S/pki/web.crt;
  ssl_certificate_key $S/pki/web.key;
  ssl_protocols TLSv1.2 TLSv1.3;

  # The IP-information table: the country of each lab address.
  map \$remote_addr \$lab_country {
    default "";
EOF
    for addr in "${!IPINFO[@]}"; do printf '    %s %s;\n' "$addr" "${IPINFO[$addr]}"; done
    cat <<EOF
  }
  map \$lab_query \$lab_query_country {
    default "";
EOF
    for addr in "${!IPINFO[@]}"; do printf '    %s %s;\n' "$addr" "${IPINFO[$addr]}"; done
    echo '  }'
    for name in "${ENDPOINT_NAMES[@]}"; do
      f=$S/www/faults/$name
      cat <<EOF

  server {
    listen ${SERVICE_ADDR[$name]}:443 ssl;
    server_name _;
    if (-f $f.hang) { rewrite ^ /.lab-fault/hang last; }
    # slow: the usual answer, a few seconds late (the request comes back marked as served).
    set \$lab_slow "";
    if (-f $f.slow) { set \$lab_slow \$uri; }
    if (\$arg_lab_slept) { set \$lab_slow ""; }
    if (\$lab_slow) { rewrite ^ /.lab-fault/slow last; }
    if (-f $f.429) { rewrite ^ /.lab-fault/429 last; }
    if (-f $f.html) { rewrite ^ /.lab-fault/html last; }
    if (-f $f.empty) { rewrite ^ /.lab-fault/empty last; }
EOF
      endpoint_locations "$name"
      cat <<'EOF'
    location = /.lab-fault/hang { internal; echo_sleep 86400; }
    location = /.lab-fault/slow { internal; echo_sleep 3; echo_exec $lab_slow lab_slept=1; }
    location = /.lab-fault/429 { internal; return 429 "Too Many Requests\n"; }
    location = /.lab-fault/empty { internal; return 200 ""; }
    location = /.lab-fault/html {
      internal;
      default_type text/html;
      return 200 "<!DOCTYPE html>\n<html><head><title>503 Service Temporarily Unavailable</title></head>\n<body><h1>Service Temporarily Unavailable</h1><p>Please try again later.</p></body></html>\n";
    }
    location / { return 404 "Not Found\n"; }
  }
EOF
    done
    echo '}'
  } > "$conf"
}

# Packet-level faults live in the internet host's own nft table.
web_nft() {
  cat <<EOF
table ip olab_web {
  set silent { type ipv4_addr; }
  set refused { type ipv4_addr; }
  set blocked { type ipv4_addr; }
  chain input {
    type filter hook input priority filter; policy accept;
    ip daddr @silent tcp dport 443 drop
    ip daddr @refused tcp dport 443 reject with tcp reset
    iifname != "lo" ip daddr @blocked tcp dport 443 reject with tcp reset
  }
}
EOF
}

start_web() {
  local ns
  ns=$(ns_name inet)
  write_nginx_config
  web_nft | run in_ns "$ns" nft -f -
  run in_ns "$ns" nginx -t -q -p "$S/nginx" -c "$S/nginx/nginx.conf" -e "$S/logs/nginx-error.log"
  run_daemon "$S/logs/nginx-error.log" in_ns "$ns" nginx -p "$S/nginx" -c "$S/nginx/nginx.conf" -e "$S/logs/nginx-error.log"
  wait_for 5 test -s "$S/nginx/nginx.pid" || die "nginx wrote no pid file (see $S/logs/nginx-error.log)"
  adopt_pidfile nginx "$S/nginx/nginx.pid" || die "nginx did not start (see $S/logs/nginx-error.log)"
}

set_endpoint_fault() { # endpoint fault
  local name=$1 fault=$2 ns addr k
  [ -n "${SERVICE_ADDR[$name]:-}" ] || die "unknown endpoint '$name' (${ENDPOINT_NAMES[*]})"
  valid_endpoint_fault "$fault" || die "unknown endpoint fault '$fault' (${ENDPOINT_FAULTS[*]})"
  ns=$(ns_name inet); addr=${SERVICE_ADDR[$name]}
  case $fault in hang|slow) [ -f "$ECHO_MODULE" ] || die "the $fault fault needs nginx's echo module ($ECHO_MODULE)" ;; esac
  for k in hang slow 429 html empty; do rm -f "$S/www/faults/$name.$k"; done
  for k in silent refused blocked; do in_ns "$ns" nft delete element ip olab_web "$k" "{ $addr }" 2>/dev/null || true; done
  case $fault in
    ok) ;;
    hang|slow|429|html|empty) : > "$S/www/faults/$name.$fault" ;;
    silent|refused|blocked) run in_ns "$ns" nft add element ip olab_web "$fault" "{ $addr }" ;;
  esac
  echo "$fault" > "$S/www/faults/$name"
}

endpoint_fault() { cat "$S/www/faults/$1" 2>/dev/null || echo ok; }

endpoint_url() { # name
  local a=${SERVICE_ADDR[$1]}
  case $1 in
    catalog|mirror1|mirror2) echo "https://$a/api/iphone/" ;;
    connectivity) echo "https://$a/generate_204" ;;
    trace) echo "https://$a/cdn-cgi/trace" ;;
    echo1|echo2) echo "https://$a/" ;;
    echo3) echo "https://$a/ip" ;;
    ipinfo) echo "https://$a/" ;;
    speedtest) echo "https://$a/__down" ;;
  esac
}

# The app's endpoint override (ORLUNE_ENDPOINTS), pointing at this lab only.
write_endpoints_file() {
  {
    printf '{\n  "catalog": %s,\n' "$(json_str "$(endpoint_url catalog)")"
    printf '  "connectivityCheck": %s,\n' "$(json_str "$(endpoint_url connectivity)")"
    printf '  "traceEcho": %s,\n' "$(json_str "$(endpoint_url trace)")"
    printf '  "plainEchoes": [%s, %s, %s],\n' "$(json_str "$(endpoint_url echo1)")" \
      "$(json_str "$(endpoint_url echo2)")" "$(json_str "$(endpoint_url echo3)")"
    printf '  "ipInformation": %s,\n' "$(json_str "$(endpoint_url ipinfo)")"
    printf '  "speedTest": %s,\n' "$(json_str "$(endpoint_url speedtest)")"
    # Mirrors only when asked (`up --mirrors`): without them a catalog fault stays a failure.
    [ ! -f "$S/mirrors" ] ||
      printf '  "catalogMirrors": [%s, %s],\n' "$(json_str "$(endpoint_url mirror1)")" "$(json_str "$(endpoint_url mirror2)")"
    printf '  "caCertificates": %s\n}\n' "$(json_str "$S/public/ca.crt")"
  } > "$S/public/endpoints.json"
  chmod 644 "$S/public/endpoints.json"
}

# The catalog proxy: Debian's tinyproxy on the internet host, for the client host only. It reaches
# the services over the internet host's loopback, which the `blocked` fault leaves open.
start_proxy() {
  local ns conf=$S/proxy/tinyproxy.conf
  command -v tinyproxy >/dev/null || die "tinyproxy is not installed (scripts/bootstrap lab)"
  [ ! -f "$S/proxy/tinyproxy.pid" ] || ! kill -0 "$(cat "$S/proxy/tinyproxy.pid")" 2>/dev/null || return 0
  ns=$(ns_name inet)
  mkdir -p "$S/proxy"
  cat > "$conf" <<EOF
Port $PROXY_PORT
Listen $INET_CLIENT_ADDR
Timeout 60
LogFile "$S/logs/tinyproxy.log"
LogLevel Info
PidFile "$S/proxy/tinyproxy.pid"
MaxClients 20
Allow ${CLIENT_ADDR%.*}.0/24
ConnectPort 443
DisableViaHeader Yes
EOF
  : > "$S/logs/tinyproxy.log"
  run_daemon "$S/logs/tinyproxy.log" in_ns "$ns" tinyproxy -c "$conf"
  wait_for 5 test -s "$S/proxy/tinyproxy.pid" || die "tinyproxy wrote no pid file (see $S/logs/tinyproxy.log)"
  adopt_pidfile tinyproxy "$S/proxy/tinyproxy.pid" || die "tinyproxy did not start (see $S/logs/tinyproxy.log)"
}

stop_proxy() {
  local pid
  pid=$(tr -dc 0-9 < "$S/proxy/tinyproxy.pid" 2>/dev/null) || return 0
  [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
  rm -f "$S/proxy/tinyproxy.pid"
}
