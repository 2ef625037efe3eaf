#!/usr/bin/python3
"""PyKCS11 against the module with no reader: the slot list is empty and
calls naming a slot that does not exist fail with CKR_SLOT_ID_INVALID."""
import sys

import PyKCS11

lib = PyKCS11.PyKCS11Lib()
lib.load(sys.argv[1])
info = lib.getInfo()
assert info.manufacturerID.strip() == "Brelt Merivalto, s.r.o.", info.manufacturerID
assert lib.getSlotList() == [], lib.getSlotList()
for call in (lambda: lib.getMechanismList(7), lambda: lib.getSlotInfo(7), lambda: lib.getTokenInfo(7)):
    try:
        call()
    except PyKCS11.PyKCS11Error as error:
        assert error.value == PyKCS11.CKR_SLOT_ID_INVALID, error
    else:
        raise AssertionError("a call on slot 7 succeeded")
try:
    lib.openSession(7)
except PyKCS11.PyKCS11Error as error:
    assert error.value == PyKCS11.CKR_SLOT_ID_INVALID, error
else:
    raise AssertionError("openSession(7) succeeded")
print("ok")
