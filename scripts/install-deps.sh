#!/usr/bin/env bash
# Installs what building, running and testing Vellumcast needs on Debian 12.
# The one list of packages; README's commands and .ci/run both use it.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  clang libclang-rt-14-dev time
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-qpa-plugins
  libgmime-3.0-dev libglib2.0-dev
  libqt6sql6-sqlite zlib1g-dev libzstd-dev libxlsxwriter-dev libpoppler-qt6-dev
  python3-openpyxl qpdf
  qtkeychain-qt6-dev gnome-keyring dbus-daemon
  dovecot-imapd openssl iputils-ping
  xvfb xauth python3
  fonts-liberation
  help2man dpkg-dev file appstream desktop-file-utils librsvg2-bin
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  # Keep the distribution's own Dovecot service from starting; the tests run their own.
  if [ ! -e /usr/sbin/policy-rc.d ] && [ -z "$SUDO" ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d; chmod +x /usr/sbin/policy-rc.d; trap 'rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
