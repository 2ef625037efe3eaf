#!/bin/bash
# Loads the simulator-backed module into pkcs11-tool once per personalisation
# (one simulated reader holding that card) and lists the slots: the module
# must initialise and answer, whatever the card.
# Usage: sim_module_every_card.sh <libbrelt-pkcs11-sim.so> <cardsim-vpcd program>
set -uo pipefail

module=$1
vpcd_program=$2
command -v pkcs11-tool >/dev/null || { echo "SKIP: pkcs11-tool not installed"; exit 77; }

failures=0
for card in $("$vpcd_program" --list); do
    output=$(CARDSIM_CARDS=$card timeout 120 pkcs11-tool --module "$module" --list-slots 2>&1)
    status=$?
    if [[ $status -ge 124 ]] || ! grep -q '^Available slots:' <<<"$output"; then
        echo "FAIL: $card (exit status $status)"
        echo "$output"
        failures=$((failures + 1))
    else
        echo "ok: $card"
    fi
done
[[ $failures -eq 0 ]]
