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
fi
