#!/usr/bin/env bash
# pkcs11-tool --show-info must report the module's identity.
set -euo pipefail
tool="$1"; module="$2"
out="$("$tool" --module "$module" --show-info)"
echo "$out"
grep -q "Cryptoki version 2.20" <<<"$out"
grep -q "Manufacturer *Brelt Merivalto, s.r.o." <<<"$out"
grep -q "Library *PKCS#11 for CardOS v4.x, V5.x (ver 2.30)" <<<"$out"
