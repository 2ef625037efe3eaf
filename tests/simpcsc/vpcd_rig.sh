#!/bin/bash
# What a real PC/SC client (opensc-tool) sees of a simulated card served by
# cardsim-vpcd through pcscd: the card and its ATR, the answer to SELECT MF,
# removal and re-insertion, and the transcript.
# Usage: vpcd_rig.sh <cardsim-vpcd program> [personalisation]
set -euo pipefail

if [[ -z ${CARDSIM_VPCD_PID:-} ]]; then
    exec "$(dirname "$0")/with_pcscd_card.sh" "$1" "${2:-DEF50}" "$0"
fi

fail() {
    echo "FAIL: $*"
    exit 1
}
wait_for() {
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}
reader0() {
    opensc-tool --list-readers 2>&1 | grep -q "^0 *$1 .*Virtual PCD 00 00"
}
in_transcript() {
    grep -q "^> $1\$" "$CARDSIM_VPCD_OUT"
}

opensc-tool --list-readers
reader0 Yes || fail "the card is not shown present"
# The served ATR, as opensc-tool prints it: "3b:d2:18:...".
atr=$(sed -n 's/.*, ATR \([0-9A-F ]*\)$/\1/p' "$CARDSIM_VPCD_LOG" | tr 'A-F ' 'a-f:')
reported_atr=$(opensc-tool --reader 0 --atr 2>&1 || true)
echo "ATR: $reported_atr"
[[ -n $atr && $reported_atr == "$atr" ]] || fail "ATR $reported_atr, expected $atr"

# opensc-tool picks opensc's own CardOS driver for this ATR, which reads the
# card's APDU buffer size (GET DATA 01 8D) before the SELECT goes out.
answer=$(opensc-tool --reader 0 --send-apdu 00A4000C023F00 2>&1 || true)
echo "$answer"
grep -q 'SW1=0x90, SW2=0x00' <<<"$answer" || fail "SELECT MF not answered 90 00"

kill -USR2 "$CARDSIM_VPCD_PID"
wait_for reader0 No || fail "card not removed"
kill -USR2 "$CARDSIM_VPCD_PID"
wait_for reader0 Yes || fail "card not re-inserted"

kill -USR1 "$CARDSIM_VPCD_PID"
wait_for in_transcript '00 A4 00 0C 02 3F 00' || fail "SELECT MF missing from the transcript"
echo "PASS"
