#!/usr/bin/env bash
# The main job: a real PKCS#11 client (OpenSC's pkcs11-tool) uses the module.
# The module built against the simulated readers needs no card, reader or
# pcscd; CARDSIM_CARDS chooses the simulated cards (see README).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh release client-deps >/dev/null
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

module=build/release/libbrelt-pkcs11.so
if [ -f build/release/libbrelt-pkcs11-sim.so ]; then
  module=build/release/libbrelt-pkcs11-sim.so
fi
run() { echo; echo "\$ $*"; "$@"; }
run pkcs11-tool --module "$module" --show-info
run pkcs11-tool --module "$module" --list-slots --list-mechanisms
