#!/usr/bin/env bash
# The module users get logs where the README says when no log variable is
# set: /var/log/vandor/pkcs11.log, once an administrator made the folder.
# The folder is made inside a private mount namespace, so the machine's own
# /var/log is never touched; without namespaces only the built-in path is
# checked.
set -uo pipefail
tool="$1"; module="$2"
documented=/var/log/vandor/pkcs11.log
unset COPYRIGHT_BRELT_PKCS11_P COPYRIGHT_BRELT_PKCS11_L BRELT_PKCS11_LOG_PATH BRELT_PKCS11_LOG_LEVEL \
      COPYRIGHT_BRELT_PKCS11_T COPYRIGHT_BRELT_PKCS11_S COPYRIGHT_BRELT_PKCS11_D

grep -q -a -F "$documented" "$module" || { echo "the library does not hold $documented"; exit 1; }

if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "no mount namespace: checked the built-in path only"
  exit 0
fi
unshare --mount --propagation private bash -c '
  set -u
  mount -t tmpfs tmpfs /var/log && mkdir -m 0755 /var/log/vandor || exit 1
  "$1" --module "$2" --show-info >/dev/null 2>&1
  log=/var/log/vandor/pkcs11.log
  [ -f "$log" ] || { echo "no log at $log"; exit 1; }
  [ "$(stat -c %a "$log")" = 600 ] || { echo "log mode $(stat -c %a "$log")"; exit 1; }
  grep -q "START OF LOG" "$log" || { echo "no log banner"; exit 1; }
  grep -q "C_GetInfo" "$log" || { echo "no C_GetInfo record"; exit 1; }
  echo "the module logged to $log"
' check "$tool" "$module"
