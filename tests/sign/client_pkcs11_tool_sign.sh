#!/bin/bash
# pkcs11-tool logs in, signs with the card's first key, hashes and draws
# random bytes through the module; openssl checks the signature with the
# public key of the card's own certificate and the hash with its own digest.
# Usage: client_pkcs11_tool_sign.sh <pkcs11-tool> <libbrelt-pkcs11-sim.so> <attrs-card-file>
set -euo pipefail
tool=$1 module=$2 cardfile=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; exit 1; }

printf 'data signed on a simulated card' >"$work/data"
for entry in DEF50:1234 DEF44:1234 DEF43B:123456 SIGG50:1234; do
    card=${entry%%:*} pin=${entry#*:}
    export CARDSIM_CARDS=$card
    timeout 60 "$tool" --module "$module" --login --pin "$pin" --sign -m RSA-PKCS --id 01 \
        --input-file "$work/data" --output-file "$work/sig" || fail "$card: --sign"
    "$cardfile" "$card" 3F0050154301 >"$work/cert.der"
    openssl x509 -inform DER -in "$work/cert.der" -noout -pubkey >"$work/pub.pem"
    openssl pkeyutl -verifyrecover -pubin -inkey "$work/pub.pem" -in "$work/sig" \
        -pkeyopt rsa_padding_mode:pkcs1 -out "$work/recovered" || fail "$card: openssl rejects the signature"
    cmp -s "$work/recovered" "$work/data" || fail "$card: the signature does not carry the data"

    timeout 60 "$tool" --module "$module" --hash -m SHA256 --input-file "$work/data" \
        --output-file "$work/hash" || fail "$card: --hash"
    openssl dgst -sha256 -binary "$work/data" >"$work/expected"
    cmp -s "$work/hash" "$work/expected" || fail "$card: SHA-256 differs from openssl's"

    timeout 60 "$tool" --module "$module" --generate-random 32 --output-file "$work/random" \
        || fail "$card: --generate-random"
    [[ $(stat -c %s "$work/random") -eq 32 ]] || fail "$card: random block is not 32 bytes"
    echo "$card: signature, hash and random numbers ok"
done
echo ok
