#!/usr/bin/env bash
# Benchmark of the production module on a simulated card behind the
# project's private pcscd: APDUs counted at the card and host time per call,
# side by side with another module. A second run measures the same module
# code on simulated readers inside the process (libbrelt-pkcs11-sim.so):
# the module's own host time, without the PC/SC service's round trips.
#
#   scripts/bench.sh [personalisation] [compare-module]
#
# personalisation: the simulated card (default DEF50).
# compare-module:  "softhsm" (default: SoftHSM2 with a fresh token holding an
#                  RSA-2048 key, when softhsm2 is installed), "generic" (the
#                  generic smart-card module of Debian's opensc-pkcs11, on the
#                  same card through pcscd only), "none", or the path of any
#                  PKCS#11 module that can use the same card.
# Needs root (private namespaces for the pcscd rig), like the client tests.
set -euo pipefail
cd "$(dirname "$0")/.."
personalisation=${1:-DEF50}
compare=${2:-softhsm}

scripts/setup.sh >/dev/null
scripts/build.sh release brelt-pkcs11 brelt-pkcs11-sim cardsim-vpcd brelt-bench >/dev/null

build=$PWD/build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

compare_args=()
case "$compare" in
  none) ;;
  softhsm)
    softhsm=/usr/lib/softhsm/libsofthsm2.so
    if [[ -e $softhsm ]] && command -v softhsm2-util >/dev/null && command -v pkcs11-tool >/dev/null; then
      mkdir -p "$work/tokens"
      printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
        "$work/tokens" >"$work/softhsm2.conf"
      export SOFTHSM2_CONF=$work/softhsm2.conf
      softhsm2-util --init-token --free --label bench --pin 1234 --so-pin 12345678 >/dev/null
      pkcs11-tool --module "$softhsm" --login --pin 1234 --keypairgen --key-type rsa:2048 \
        --id 01 --label "bench key" >/dev/null
      compare_args=(--compare "$softhsm" --compare-label "SoftHSM2 (same calls, no card)")
    else
      echo "bench: softhsm2 not installed; running without a second module" >&2
    fi
    ;;
  generic)
    generic=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so
    if [[ -e $generic ]]; then
      compare_args=(--compare "$generic" --compare-label "opensc-pkcs11.so (generic module, same card)")
    else
      echo "bench: opensc-pkcs11 not installed; running without a second module" >&2
    fi
    ;;
  *) compare_args=(--compare "$compare") ;;
esac
# The generic module cannot see the readers simulated inside the process.
in_process_compare_args=("${compare_args[@]}")
[[ $compare == generic ]] && in_process_compare_args=()

# The rig names the file in which the card counts its APDUs.
tests/simpcsc/with_pcscd_card.sh "$build/sim/vpcd/cardsim-vpcd" "$personalisation" \
  bash -c 'exec "$@" --apdu-count-file "$CARDSIM_VPCD_COUNT"' bench \
  "$build/tools/brelt-bench" --module "$build/libbrelt-pkcs11.so" --pcsc-reader "Virtual PCD 00 00" \
  --label "libbrelt-pkcs11.so on $personalisation through pcscd" "${compare_args[@]}"

echo
CARDSIM_CARDS=$personalisation "$build/tools/brelt-bench" --module "$build/libbrelt-pkcs11-sim.so" \
  --label "libbrelt-pkcs11-sim.so on $personalisation, simulated readers in the process (no PC/SC service)" \
  "${in_process_compare_args[@]}"
