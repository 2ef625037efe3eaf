#!/usr/bin/env bash
# NSS loads the module (it first offers initialisation arguments that forbid
# module threads) and lists the simulated card's certificates.
set -euo pipefail
module="$1"
db="$(mktemp -d)"
trap 'rm -rf "$db"' EXIT
export CARDSIM_CARDS=DEF50
certutil -N -d "sql:$db" --empty-password
modutil -dbdir "sql:$db" -add brelt -libfile "$module" -force >/dev/null
modutil -dbdir "sql:$db" -list brelt | tee "$db/modules.txt"
grep -q "Token Name: Emu Default 5.0" "$db/modules.txt"
certutil -L -h all -d "sql:$db" </dev/null 2>/dev/null | tee "$db/certs.txt"
grep -q "Emu Default 5.0:Signature certificate" "$db/certs.txt"
grep -q "Emu Default 5.0:Authentication certificate" "$db/certs.txt"
