#!/usr/bin/env bash
# Installs what building and testing Korvalinex needs on Debian 12. Safe to run again.
set -euo pipefail
packages=(build-essential cmake pkg-config qt6-base-dev qt6-translations-l10n fonts-dejavu-core
          libgtest-dev libgmock-dev
          libbenchmark-dev ccache libftdi1-dev libusb-1.0-0-dev
          dpkg-dev lintian desktop-file-utils poppler-utils
          xvfb dbus at-spi2-core python3-pyatspi)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
