# Sourced by demo.sh and the TLS client tests: a GnuTLS echo server on this
# machine that requires a client certificate issued by a given CA.
#
# start_tls_server DIR CA_FILE
#   writes DIR/server.pem (the server's own certificate, for the client to
#   trust) and DIR/server.log (what the server saw), and sets tls_port and
#   tls_server_pid. The port is a free one chosen at run time.
# stop_tls_server

start_tls_server() {
  local dir=$1 ca=$2 attempt wait
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 \
    -keyout "$dir/server.key" -out "$dir/server.pem" 2>/dev/null || return 1
  for attempt in 1 2 3 4 5; do
    tls_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    gnutls-serv --echo --port "$tls_port" --require-client-cert --verify-client-cert \
      --x509certfile "$dir/server.pem" --x509keyfile "$dir/server.key" --x509cafile "$ca" \
      >"$dir/server.log" 2>&1 </dev/null &
    tls_server_pid=$!
    # It reports each bind and keeps running even when the port was taken.
    for wait in $(seq 50); do
      grep -q "listening on IPv4 .*\.\.\.done" "$dir/server.log" && return 0
      grep -q "listening on IPv4 .*failed" "$dir/server.log" && break
      kill -0 "$tls_server_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_tls_server
  done
  echo "gnutls-serv did not start" >&2
  return 1
}

stop_tls_server() {
  if [ -n "${tls_server_pid:-}" ]; then
    kill "$tls_server_pid" 2>/dev/null || true
    wait "$tls_server_pid" 2>/dev/null || true
    tls_server_pid=
  fi
  return 0
}
