#!/usr/bin/env bash
# pkcs11-tool --show-info must report the module's identity. Without readers
# pkcs11-tool ends with "No slots." and status 1 after printing it.
set -uo pipefail
tool="$1"; module="$2"
out="$("$tool" --module "$module" --show-info 2>&1)"; rc=$?
echo "$out"
[ "$rc" -le 1 ] || { echo "pkcs11-tool ended with status $rc"; exit 1; }
if grep -qi "error\|failed" <<<"$out"; then echo "unexpected error output"; exit 1; fi
grep -q "Cryptoki version 2.20" <<<"$out" &&
grep -q "Manufacturer *Brelt Merivalto, s.r.o." <<<"$out" &&
grep -q "Library *PKCS#11 for CardOS v4.x, V5.x (ver 2.30)" <<<"$out"
