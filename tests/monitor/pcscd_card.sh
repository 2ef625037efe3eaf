#!/usr/bin/env bash
# Runs inside the pcscd rig (a simulated card in reader "Virtual PCD 00 00"):
# the production module lists the card's slot to pkcs11-tool, two processes
# share the card, three and then two processes sign on it in a loop (each
# must make progress; the rounds each made are printed), and one process
# follows the card out and in again.
# Usage: pcscd_card.sh <pkcs11-tool> <module> <shared-card program> <slot script>
set -euo pipefail
tool=$1 module=$2 shared_card=$3 slot_script=$4

out=$("$tool" --module "$module" --list-slots 2>&1)
echo "$out"
grep -q 'Virtual PCD 00 00; ' <<<"$out" || { echo "no slot for the card"; exit 1; }
grep -q 'token label' <<<"$out" || { echo "the slot shows no token"; exit 1; }

"$shared_card" reads 15
"$shared_card" signs 3 10 1234
"$shared_card" signs 2 10 1234
/usr/bin/python3 "$slot_script" "$module"
