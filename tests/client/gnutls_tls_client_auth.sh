#!/usr/bin/env bash
# GnuTLS client authentication with the card's authentication key through the
# module, against a local gnutls-serv that trusts only the simulated cards'
# CA: TLS 1.2 succeeds and the server accepts the card's certificate. TLS 1.3
# needs RSA-PSS, which the card's keys do not offer: the client sends no
# certificate and the server's alert ends the connection without a hang.
# Usage: gnutls_tls_client_auth.sh <libbrelt-pkcs11-sim.so> <cardsim-ca.pem>
set -uo pipefail
module=$1 ca=$2
work=$(mktemp -d)
. "$(dirname "$0")/../../scripts/tls_server.sh"
trap 'stop_tls_server; rm -rf "$work"' EXIT
export CARDSIM_CARDS=DEF50 QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; cat "$work/client.log" "$work/server.log" 2>/dev/null; exit 1; }
connect() {  # connect PRIORITY
  echo "hello over TLS" | timeout 60 gnutls-cli --provider "$module" --priority "$1" \
    --x509cafile "$work/server.pem" --x509certfile "pkcs11:id=%02;type=cert" \
    --x509keyfile "pkcs11:id=%02;type=private?pin-value=1234" \
    --port "$tls_port" localhost >"$work/client.log" 2>&1
}

start_tls_server "$work" "$ca" || exit 1

connect NORMAL:-VERS-TLS1.3 || fail "TLS 1.2 handshake with the card's key (status $?)"
grep -qx "hello over TLS" "$work/client.log" || fail "no echo from the server"
grep -q "Status: The certificate is trusted" "$work/server.log" || fail "the server does not trust the card's certificate"
grep -q "Subject: .*CN=Emu Authentication" "$work/server.log" || fail "the server got another certificate"
grep -q "Version: TLS1.2" "$work/server.log" || fail "not TLS 1.2"
grep -q "Client Signature: RSA-SHA256" "$work/server.log" || fail "no PKCS #1 v1.5 client signature"
echo "TLS 1.2: the server accepted the card's certificate"

connect NORMAL; status=$?
[ "$status" -ne 124 ] || fail "TLS 1.3 attempt hangs"
[ "$status" -ne 0 ] || fail "TLS 1.3 client authentication unexpectedly succeeded"
grep -q "No certificate was sent to peer" "$work/client.log" || fail "TLS 1.3: the client did not leave out its certificate"
grep -q "Error in handshake: Certificate is required" "$work/server.log" || fail "TLS 1.3: no certificate-required alert"
echo "TLS 1.3: no client certificate, the server refused cleanly"
