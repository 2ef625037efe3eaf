#!/usr/bin/env bash
# With no reader, slot listing succeeds with an empty list: pkcs11-tool
# reports "No slots." (its status 1) without any failed PKCS#11 call; asking
# for the mechanisms of a slot that does not exist ends the same clean way.
set -uo pipefail
tool="$1"; module="$2"
check() {
  local out rc
  out="$("$tool" --module "$module" "$@" 2>&1)"; rc=$?
  echo "\$ pkcs11-tool $*"; echo "$out"
  [ "$rc" -le 1 ] || { echo "pkcs11-tool ended with status $rc"; return 1; }
  if grep -qi "error\|failed" <<<"$out"; then echo "unexpected error output"; return 1; fi
  grep -q "No slots." <<<"$out"
}
check --list-slots &&
check --list-token-slots &&
check --list-mechanisms --slot 7
