#!/bin/bash
# pkcs11-tool lists the objects of simulated cards and reads a certificate,
# which must be the card's own certificate, byte for byte: the whole file of
# the plain cards, and of the cards whose certificate files are filled past
# the certificate the same certificate without the fill.
# Usage: client_pkcs11_tool_objects.sh <pkcs11-tool> <libbrelt-pkcs11-sim.so> <attrs-card-file>
set -euo pipefail
tool=$1 module=$2 cardfile=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; exit 1; }

for card in DEF50 DEF44 DEF50-PADDED DEF50-PADDED-FF DEF44-PADDED DEF44-PADDED-FF; do
    listing=$(CARDSIM_CARDS=$card timeout 60 "$tool" --module "$module" --list-objects 2>&1)
    echo "$listing"
    [[ $(grep -c '^Certificate Object; type = X.509 cert' <<<"$listing") -eq 2 ]] || fail "$card: two certificates"
    [[ $(grep -c '^Public Key Object; RSA 2048 bits' <<<"$listing") -eq 2 ]] || fail "$card: two public keys"
    grep -q 'label: *Signature certificate' <<<"$listing" || fail "$card: certificate label"
    grep -q 'subject: *DN: CN=Emu Signature' <<<"$listing" || fail "$card: certificate subject"
    grep -q 'Private Key Object' <<<"$listing" && fail "$card: private keys listed before login"

    CARDSIM_CARDS=$card timeout 60 "$tool" --module "$module" --read-object --type cert --id 01 \
        --output-file "$work/read.der" >/dev/null 2>&1 || fail "$card: --read-object"
    "$cardfile" "${card%%-PADDED*}" 3F0050154301 >"$work/card.der"
    cmp "$work/read.der" "$work/card.der" || fail "$card: certificate differs from the card's certificate"
    if [[ $card == *-PADDED* ]]; then
        # The filled file holds the certificate and 300 bytes of fill after it.
        "$cardfile" "$card" 3F0050154301 >"$work/file.bin"
        [[ $(stat -c %s "$work/file.bin") -eq $(($(stat -c %s "$work/card.der") + 300)) ]] || fail "$card: not filled"
        cmp -n "$(stat -c %s "$work/card.der")" "$work/file.bin" "$work/card.der" || fail "$card: filled file"
    fi
    openssl x509 -inform DER -in "$work/read.der" -outform DER -out "$work/again.der" || fail "$card: not DER"
    cmp "$work/read.der" "$work/again.der" || fail "$card: the DER round trip changes the certificate"
    subject=$(openssl x509 -inform DER -in "$work/read.der" -noout -subject)
    expected=$(openssl x509 -inform DER -in "$work/card.der" -noout -subject)
    [[ "$subject" == "$expected" && "$subject" == *"Emu Signature"* ]] || fail "$card: subject $subject"
done
echo ok
