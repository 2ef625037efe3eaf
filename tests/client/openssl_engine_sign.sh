#!/usr/bin/env bash
# OpenSSL 3 signs a file through Debian's PKCS#11 engine (libp11) with each of
# the card's keys; openssl verifies the signatures with the public keys of the
# card's certificates, and the certificates with the simulated cards' CA.
# Usage: openssl_engine_sign.sh <libbrelt-pkcs11-sim.so> <cardsim-ca.pem> <pkcs11-tool>
set -uo pipefail
module=$1 ca=$2 tool=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CARDSIM_CARDS=DEF50 QT_QPA_PLATFORM=offscreen PKCS11_MODULE_PATH=$module

fail() { echo "FAIL: $*"; exit 1; }

printf 'a file signed through the OpenSSL engine' >"$work/data"
for id in 01 02; do
  timeout 60 "$tool" --module "$module" --read-object --type cert --id "$id" \
    --output-file "$work/cert.der" >/dev/null 2>&1 || fail "key $id: certificate not read"
  openssl x509 -inform DER -in "$work/cert.der" -out "$work/cert.pem" || fail "key $id: certificate"
  openssl verify -CAfile "$ca" "$work/cert.pem" || fail "key $id: certificate not issued by the CA"
  openssl x509 -in "$work/cert.pem" -noout -pubkey >"$work/public.pem"

  for digest in sha256 sha512; do
    timeout 60 openssl dgst -"$digest" -engine pkcs11 -keyform engine \
      -sign "pkcs11:id=%$id;type=private;pin-value=1234" -out "$work/sig" "$work/data" \
      || fail "key $id, $digest: the engine did not sign"
    openssl dgst -"$digest" -verify "$work/public.pem" -signature "$work/sig" "$work/data" \
      || fail "key $id, $digest: the signature does not verify"
  done
done
echo ok
