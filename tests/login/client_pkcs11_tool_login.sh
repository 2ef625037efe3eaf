#!/bin/bash
# pkcs11-tool logs in with the user PIN of simulated cards and lists the
# objects, private keys included; a wrong PIN is refused; the PIN is changed.
# Usage: client_pkcs11_tool_login.sh <pkcs11-tool> <libbrelt-pkcs11-sim.so>
set -euo pipefail
tool=$1 module=$2
export QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; exit 1; }

for card in DEF50 DEF44 DEF43B; do
    pin=1234
    [[ $card == DEF43B ]] && pin=123456
    listing=$(CARDSIM_CARDS=$card timeout 60 "$tool" --module "$module" --login --pin "$pin" --list-objects 2>&1) ||
        fail "$card: login and listing: $listing"
    echo "$listing"
    [[ $(grep -c '^Private Key Object; RSA' <<<"$listing") -eq 2 ]] || fail "$card: two private keys after login"
    [[ $(grep -c '^Certificate Object; type = X.509 cert' <<<"$listing") -eq 2 ]] || fail "$card: two certificates"

    if out=$(CARDSIM_CARDS=$card timeout 60 "$tool" --module "$module" --login --pin 9999 --list-objects 2>&1); then
        fail "$card: a wrong PIN logged in"
    fi
    grep -q 'CKR_PIN_INCORRECT' <<<"$out" || fail "$card: wrong PIN answer: $out"
done

out=$(CARDSIM_CARDS=DEF50 timeout 60 "$tool" --module "$module" --change-pin --pin 9999 --new-pin 5678 2>&1) &&
    fail "change with a wrong old PIN: $out"
grep -q 'CKR_PIN_INCORRECT' <<<"$out" || fail "change with a wrong old PIN: $out"
out=$(CARDSIM_CARDS=DEF50 timeout 60 "$tool" --module "$module" --change-pin --pin 1234 --new-pin 5678 2>&1) ||
    fail "change with the right old PIN: $out"
grep -q 'PIN successfully changed' <<<"$out" || fail "change: $out"
echo ok
