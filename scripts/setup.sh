#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and quick when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev
  libbotan-2-dev
  libboost-dev libboost-thread-dev libboost-date-time-dev libboost-exception-dev
  libpcsclite-dev pcscd libp11-kit-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools libxcb1-dev
  opensc opensc-pkcs11 softhsm2 p11-kit gnutls-bin libnss3-tools python3-pykcs11 openssl
  libengine-pkcs11-openssl openssh-client
  vsmartcard-vpcd pcsc-tools xvfb xauth x11-apps x11-utils fonts-open-sans qt6-wayland
  clang libclang-rt-14-dev iproute2 util-linux
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
