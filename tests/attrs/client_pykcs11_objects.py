#!/usr/bin/python3
"""PyKCS11 against the module with the simulated default card: token
information, object search, attributes, and a session key created, read,
changed and destroyed."""
import os
import subprocess
import sys

import PyKCS11

module, card_file = sys.argv[1], sys.argv[2]
os.environ["CARDSIM_CARDS"] = "DEF50"
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

lib = PyKCS11.PyKCS11Lib()
lib.load(module)
slots = lib.getSlotList(tokenPresent=True)
assert len(slots) == 1, slots
info = lib.getTokenInfo(slots[0])
assert info.serialNumber.strip() == "123456789ABCDEF0", info.serialNumber
assert info.model.strip() == "V50;;2k", info.model
assert info.manufacturerID.strip() == "Rada IT Solutions and Services", info.manufacturerID
for flag in (PyKCS11.CKF_RNG, PyKCS11.CKF_LOGIN_REQUIRED, PyKCS11.CKF_USER_PIN_INITIALIZED,
             PyKCS11.CKF_TOKEN_INITIALIZED):
    assert info.flags & flag, (hex(info.flags), flag)

session = lib.openSession(slots[0], PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
certificates = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_CERTIFICATE)])
assert len(certificates) == 2, certificates
value, label, ident = session.getAttributeValue(
    certificates[0], [PyKCS11.CKA_VALUE, PyKCS11.CKA_LABEL, PyKCS11.CKA_ID])
on_card = subprocess.run([card_file, "DEF50", "3F0050154301"], check=True, capture_output=True).stdout
assert bytes(value) == on_card, "certificate differs from the card's file"
assert label == "Signature certificate", label
assert bytes(ident) == b"\x01", ident

by_id = session.findObjects([(PyKCS11.CKA_ID, b"\x01")])
assert len(by_id) == 2, by_id  # the public key and the certificate; the private key needs a login
assert session.findObjects([(PyKCS11.CKA_ID, b"")]) == []
assert session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_DATA)]) == []
public_keys = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY),
                                   (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_RSA)])
assert len(public_keys) == 2, public_keys
modulus, exponent, bits = session.getAttributeValue(
    public_keys[0], [PyKCS11.CKA_MODULUS, PyKCS11.CKA_PUBLIC_EXPONENT, PyKCS11.CKA_MODULUS_BITS])
assert bits == 2048 and len(modulus) == 256, (bits, len(modulus))

created = session.createObject([
    (PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY), (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_RSA),
    (PyKCS11.CKA_TOKEN, False), (PyKCS11.CKA_VERIFY, True), (PyKCS11.CKA_LABEL, "Mine"),
    (PyKCS11.CKA_MODULUS, bytes(modulus)), (PyKCS11.CKA_PUBLIC_EXPONENT, bytes(exponent))])
handle = created.value()
assert handle == 0x80040000, hex(handle)
assert session.getAttributeValue(created, [PyKCS11.CKA_LABEL]) == ["Mine"]
session.setAttributeValue(created, [(PyKCS11.CKA_LABEL, "Renamed")])
assert session.getAttributeValue(created, [PyKCS11.CKA_LABEL]) == ["Renamed"]
assert [o.value() for o in session.findObjects([(PyKCS11.CKA_TOKEN, False)])] == [handle]
session.destroyObject(created)
try:
    session.getAttributeValue(created, [PyKCS11.CKA_LABEL])
except PyKCS11.PyKCS11Error as error:
    assert error.value == PyKCS11.CKR_OBJECT_HANDLE_INVALID, error
else:
    raise AssertionError("a destroyed object still answers")
try:
    session.createObject([(PyKCS11.CKA_CLASS, PyKCS11.CKO_CERTIFICATE)])
except PyKCS11.PyKCS11Error as error:
    assert error.value == PyKCS11.CKR_ATTRIBUTE_VALUE_INVALID, error
else:
    raise AssertionError("a certificate was created")
session.closeSession()
print("ok")
