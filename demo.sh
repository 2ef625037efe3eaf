#!/usr/bin/env bash
# The main job: a real PKCS#11 client (OpenSC's pkcs11-tool) uses the module.
# The module built against the simulated readers needs no card, reader or
# pcscd; CARDSIM_CARDS chooses the simulated cards (see README).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh release client-deps >/dev/null
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

module=build/release/libbrelt-pkcs11.so
if [ -f build/release/libbrelt-pkcs11-sim.so ]; then
  module=build/release/libbrelt-pkcs11-sim.so
fi
run() { echo; echo "\$ $*"; "$@"; }
run pkcs11-tool --module "$module" --show-info
run pkcs11-tool --module "$module" --list-slots --list-mechanisms

# The card's objects, and its signature certificate read through the module
# and compared with the certificate file of the simulated card.
if [ "$module" = build/release/libbrelt-pkcs11-sim.so ]; then
  export CARDSIM_CARDS="${CARDSIM_CARDS:-DEF50}"
  card="${CARDSIM_CARDS%%[@,]*}"
  run pkcs11-tool --module "$module" --list-objects
  read_cert=$(mktemp) card_cert=$(mktemp)
  trap 'rm -f "$read_cert" "$card_cert"' EXIT
  run pkcs11-tool --module "$module" --read-object --type cert --id 01 --output-file "$read_cert"
  run openssl x509 -inform DER -in "$read_cert" -noout -subject -issuer -serial -dates
  build/release/tests/attrs/attrs-card-file "$card" 3F0050154301 >"$card_cert"
  if cmp -s "$read_cert" "$card_cert"; then
    echo "The certificate read through the module is the card's certificate."
  else
    echo "The certificate read through the module differs from the card's certificate." >&2
    exit 1
  fi

  # Log in, sign with the card's first key and check the signature with the
  # certificate's public key; hash and draw random numbers through the module.
  pin=1234
  [ "$card" = DEF43B ] && pin=123456
  data=$(mktemp) signature=$(mktemp) public_key=$(mktemp) recovered=$(mktemp) digest=$(mktemp) random=$(mktemp)
  trap 'rm -f "$read_cert" "$card_cert" "$data" "$signature" "$public_key" "$recovered" "$digest" "$random"' EXIT
  printf 'Signed by the simulated card %s' "$card" >"$data"
  run pkcs11-tool --module "$module" --login --pin "$pin" --sign -m RSA-PKCS --id 01 \
    --input-file "$data" --output-file "$signature"
  openssl x509 -inform DER -in "$card_cert" -noout -pubkey >"$public_key"
  run openssl pkeyutl -verifyrecover -pubin -inkey "$public_key" -in "$signature" \
    -pkeyopt rsa_padding_mode:pkcs1 -out "$recovered"
  if cmp -s "$recovered" "$data"; then
    echo "openssl verifies the card's signature with the certificate's public key."
  else
    echo "The card's signature does not verify." >&2
    exit 1
  fi
  run pkcs11-tool --module "$module" --hash -m SHA256 --input-file "$data" --output-file "$digest"
  echo "SHA-256 through the module: $(od -An -tx1 "$digest" | tr -d ' \n')"
  echo "SHA-256 by openssl:         $(openssl dgst -sha256 -r "$data" | cut -d' ' -f1)"
  run pkcs11-tool --module "$module" --generate-random 32 --output-file "$random"
  echo "32 random bytes from the card: $(od -An -tx1 "$random" | tr -d ' \n')"

  # TLS 1.2 client authentication on this machine: gnutls-serv trusts only the
  # simulated cards' CA and requires a client certificate; gnutls-cli signs
  # the handshake with the card's authentication key (id 02) through the
  # module. TLS 1.3 would need RSA-PSS, which the card does not offer.
  . scripts/tls_server.sh
  tls=$(mktemp -d)
  trap 'stop_tls_server; rm -rf "$tls"; rm -f "$read_cert" "$card_cert" "$data" "$signature" "$public_key" "$recovered" "$digest" "$random"' EXIT
  start_tls_server "$tls" build/release/cardsim-ca.pem
  echo
  echo "gnutls-serv (port $tls_port) requires a client certificate issued by the simulated cards' CA,"
  echo "build/release/cardsim-ca.pem: $(openssl x509 -in build/release/cardsim-ca.pem -noout -subject -nameopt oneline)"
  client=(gnutls-cli --provider "$PWD/$module" --priority NORMAL:-VERS-TLS1.3
    --x509cafile "$tls/server.pem" --x509certfile 'pkcs11:id=%02;type=cert'
    --x509keyfile "pkcs11:id=%02;type=private?pin-value=$pin" --port "$tls_port" localhost)
  echo "\$ echo 'Hello from the card' |$(printf ' %q' "${client[@]}")"
  echo "Hello from the card" | timeout 60 "${client[@]}" >"$tls/client.log" 2>&1 \
    || { cat "$tls/client.log" "$tls/server.log" >&2; exit 1; }
  grep -E "^- (Description|Successfully sent)|^Hello from the card" "$tls/client.log"
  echo "What the server saw:"
  grep -E "^- Status|^\s+(Subject|Issuer):|^- (Version|Client Signature):|received cmd" "$tls/server.log"
  if grep -q "Status: The certificate is trusted" "$tls/server.log"; then
    echo "The TLS server accepted the card's certificate."
  else
    echo "The TLS server did not accept the card's certificate." >&2
    exit 1
  fi
fi
