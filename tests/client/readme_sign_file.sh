#!/usr/bin/env bash
# The PyKCS11 example of README.md ("Signing a file"), run as written: it signs
# a file's SHA-256 DigestInfo with CKM_RSA_PKCS, and openssl verifies the
# result as an ordinary sha256WithRSAEncryption signature with the card's
# certificate.
# Usage: readme_sign_file.sh <README.md> <libbrelt-pkcs11-sim.so> <attrs-card-file>
set -uo pipefail
readme=$1 module=$2 cardfile=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CARDSIM_CARDS=DEF50 QT_QPA_PLATFORM=offscreen

fail() { echo "FAIL: $*"; exit 1; }

awk '/^```python$/ { inside = 1; next } /^```$/ { inside = 0 } inside' "$readme" >"$work/sign_file.py"
grep -q "CKM_RSA_PKCS" "$work/sign_file.py" || fail "no PyKCS11 example in $readme"
printf 'a file signed as the README shows' >"$work/document"
timeout 60 /usr/bin/python3 "$work/sign_file.py" "$module" 1234 "$work/document" || fail "the example failed"
"$cardfile" DEF50 3F0050154301 >"$work/cert.der"
openssl x509 -inform DER -in "$work/cert.der" -noout -pubkey >"$work/public.pem"
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/document.sig" "$work/document" \
  || fail "the example's signature does not verify"

# The README's other statements on signing and verifying: no hash-and-sign
# mechanism, verification only with a public key created in the session, no
# CKA_LOCAL on the card's public keys.
timeout 60 /usr/bin/python3 - "$module" "$work/document" <<'PY' || fail "the module does not behave as the README says"
import hashlib
import sys
import PyKCS11

module, document = sys.argv[1:3]
lib = PyKCS11.PyKCS11Lib()
lib.load(module)
session = lib.openSession(lib.getSlotList(tokenPresent=True)[0])
session.login("1234")
key = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY), (PyKCS11.CKA_ID, bytes([1]))])[0]


def refused(expected, call):
    try:
        call()
    except PyKCS11.PyKCS11Error as error:
        assert error.value == expected, error
        return
    raise AssertionError("no error, expected %s" % PyKCS11.CKR[expected])


rsa = PyKCS11.Mechanism(PyKCS11.CKM_RSA_PKCS)
refused(PyKCS11.CKR_MECHANISM_INVALID,
        lambda: session.sign(key, b"data", PyKCS11.Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS)))

with open(document, "rb") as data:
    info = bytes.fromhex("3031300d060960864801650304020105000420") + hashlib.sha256(data.read()).digest()
with open(document + ".sig", "rb") as sig:
    signature = sig.read()
card_key = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY), (PyKCS11.CKA_ID, bytes([1]))])[0]
refused(PyKCS11.CKR_KEY_HANDLE_INVALID, lambda: session.verify(card_key, info, signature, rsa))
# PyKCS11 answers None for an attribute the module calls invalid.
assert session.getAttributeValue(card_key, [PyKCS11.CKA_LOCAL]) == [None], "CKA_LOCAL is offered"
modulus, exponent = session.getAttributeValue(card_key, [PyKCS11.CKA_MODULUS, PyKCS11.CKA_PUBLIC_EXPONENT])
own_key = session.createObject([
    (PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY), (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_RSA),
    (PyKCS11.CKA_TOKEN, False), (PyKCS11.CKA_VERIFY, True),
    (PyKCS11.CKA_MODULUS, bytes(modulus)), (PyKCS11.CKA_PUBLIC_EXPONENT, bytes(exponent))])
assert session.verify(own_key, info, signature, rsa), "a good signature does not verify"
assert not session.verify(own_key, info[:-1] + bytes([info[-1] ^ 1]), signature, rsa), "a wrong hash verifies"
PY
echo ok
