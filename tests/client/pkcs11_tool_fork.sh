#!/usr/bin/env bash
# A process that forks after C_Initialize: the child initialises the module
# again and both ends finish. The simulated card has signed and issued its
# certificates in the parent before the fork, so nothing it leaves behind
# (a library's worker threads, say) may keep the child from exiting.
set -uo pipefail
tool="$1"; module="$2"
for run in 1 2 3 4 5 6; do
  out="$(timeout 60 "$tool" --module "$module" --test-fork 2>&1)"; rc=$?
  echo "\$ pkcs11-tool --test-fork (run $run)"; echo "$out"
  if [ "$rc" -eq 124 ]; then echo "hung"; exit 1; fi
  if [ "$rc" -ne 0 ]; then echo "pkcs11-tool ended with status $rc"; exit 1; fi
done
