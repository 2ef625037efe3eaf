#!/bin/bash
# GnuTLS p11tool lists the certificates of the simulated card.
# Usage: client_p11tool_certs.sh <p11tool> <libbrelt-pkcs11-sim.so>
set -uo pipefail
tool=$1 module=$2
export QT_QPA_PLATFORM=offscreen

output=$(CARDSIM_CARDS=DEF50 timeout 60 "$tool" --provider "$module" --list-all-certs 2>&1)
status=$?
echo "$output"
# p11-kit initialises modules with CKF_LIBRARY_CANT_CREATE_OS_THREADS: the
# module must accept that and run without threads of its own.
if grep -q 'Thread locking error' <<<"$output"; then
    echo "FAIL: the module refused initialisation without its own threads"; exit 1
fi
[[ $status -eq 0 ]] || { echo "FAIL: exit status $status"; exit 1; }
[[ $(grep -c 'Type: X.509 Certificate' <<<"$output") -eq 2 ]] || { echo "FAIL: two certificates"; exit 1; }
grep -q 'Label: Signature certificate' <<<"$output" || { echo "FAIL: signature certificate"; exit 1; }
grep -q 'Label: Authentication certificate' <<<"$output" || { echo "FAIL: authentication certificate"; exit 1; }
echo ok
