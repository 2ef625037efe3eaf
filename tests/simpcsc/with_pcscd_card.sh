#!/bin/bash
# Runs a command while a simulated card sits in reader "Virtual PCD 00 00" of
# a private pcscd: pcscd and cardsim-vpcd run in their own mount and network
# namespaces (private /run/pcscd, private vpcd port), so a pcscd already
# running on the machine is neither seen nor disturbed. Both are stopped by
# their process ids when the command ends; its exit status is returned.
#
# Usage: with_pcscd_card.sh <cardsim-vpcd program> <personalisation> <command> [args...]
# The command sees:
#   CARDSIM_VPCD_PID  process id of cardsim-vpcd (SIGUSR2 removes or re-inserts
#                     the card, SIGUSR1 appends the transcript to ...OUT)
#   CARDSIM_VPCD_OUT  file with the transcripts printed so far
#   CARDSIM_VPCD_LOG  file with cardsim-vpcd's messages (the first names the ATR)
#   CARDSIM_VPCD_COUNT file holding the number of APDUs the card has served
# Exit status 77 (skip) when the machine cannot run the rig.
set -euo pipefail

if [[ $# -lt 3 ]]; then
    sed -n '2,15p' "$0" >&2
    exit 2
fi
skip=77

if [[ -z ${CARDSIM_RIG_NAMESPACE:-} ]]; then
    for tool in unshare pcscd opensc-tool ip; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit $skip; }
    done
    [[ -e /usr/lib/pcsc/drivers/serial/libifdvpcd.so ]] ||
        { echo "SKIP: vsmartcard-vpcd not installed"; exit $skip; }
    [[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root for private namespaces"; exit $skip; }
    exec unshare --mount --net --fork env CARDSIM_RIG_NAMESPACE=1 "$0" "$@"
fi

vpcd_program=$1
personalisation=$2
shift 2

workdir=$(mktemp -d)
pcscd_pid=
vpcd_pid=
stop() {
    local pid=$1
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
}
cleanup() {
    stop "$vpcd_pid"
    stop "$pcscd_pid"
    rm -rf "$workdir"
}
trap cleanup EXIT

mkdir -p /run/pcscd
mount -t tmpfs tmpfs /run/pcscd
ip link set lo up

pcscd --foreground >"$workdir/pcscd.log" 2>&1 &
pcscd_pid=$!
"$vpcd_program" --count-file "$workdir/apdus" "$personalisation" </dev/null >"$workdir/vpcd.out" 2>"$workdir/vpcd.log" &
vpcd_pid=$!

card_present() {
    opensc-tool --list-readers 2>/dev/null | grep -q '^0 *Yes .*Virtual PCD 00 00'
}
for _ in $(seq 100); do
    card_present && break
    kill -0 "$vpcd_pid" 2>/dev/null || break
    sleep 0.2
done
if ! card_present; then
    echo "with_pcscd_card: the card did not appear in reader 0"
    cat "$workdir/vpcd.log"
    tail -n 20 "$workdir/pcscd.log"
    exit 1
fi

status=0
CARDSIM_VPCD_PID=$vpcd_pid CARDSIM_VPCD_OUT=$workdir/vpcd.out CARDSIM_VPCD_LOG=$workdir/vpcd.log \
    CARDSIM_VPCD_COUNT=$workdir/apdus \
    "$@" || status=$?
if [[ $status -ne 0 ]]; then
    echo "--- cardsim-vpcd:"; cat "$workdir/vpcd.log"
    echo "--- pcscd (last lines):"; tail -n 20 "$workdir/pcscd.log"
fi
exit $status
