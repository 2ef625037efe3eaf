"""The production module on a real pcscd: the card's slot is there, goes when
the card is pulled and comes back under a new id when it is inserted again.

Usage: slot_follows_card.py <module>  (CARDSIM_VPCD_PID names the card server;
SIGUSR2 pulls or inserts its card)."""
import os
import signal
import sys
import time

import PyKCS11


def wait_for(condition, what, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    sys.exit("timed out waiting until " + what)


def main():
    lib = PyKCS11.PyKCS11Lib()
    lib.load(sys.argv[1])
    card_server = int(os.environ["CARDSIM_VPCD_PID"])

    slots = lib.getSlotList(tokenPresent=True)
    assert len(slots) == 1, slots
    first = slots[0]
    description = lib.getSlotInfo(first).slotDescription.strip()
    assert description.startswith("Virtual PCD 00 00; "), description
    assert lib.getTokenInfo(first).label.strip(), "token without a label"
    # A card present at initialisation raises no slot event.
    try:
        lib.waitForSlotEvent(PyKCS11.CKF_DONT_BLOCK)
        sys.exit("unexpected slot event at start")
    except PyKCS11.PyKCS11Error as error:
        assert error.value == PyKCS11.CKR_NO_EVENT, error

    os.kill(card_server, signal.SIGUSR2)
    wait_for(lambda: lib.getSlotList() == [], "the pulled card's slot is gone")
    os.kill(card_server, signal.SIGUSR2)
    wait_for(lambda: len(lib.getSlotList()) == 1, "the card is back")
    second = lib.getSlotList()[0]
    assert second > first, (first, second)
    assert lib.waitForSlotEvent(PyKCS11.CKF_DONT_BLOCK) == first
    assert lib.waitForSlotEvent(PyKCS11.CKF_DONT_BLOCK) == second
    print("slot", first, "went with the card; slot", second, "came with it")


if __name__ == "__main__":
    main()
