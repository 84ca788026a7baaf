#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the run need.
# Safe to run again: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ca-certificates curl openssl
  libssl-dev libcurl4-openssl-dev libcjson-dev libhttp-parser-dev
  zlib1g-dev libminizip-dev
  qtbase5-dev libqt5xml5 libqt5printsupport5 qt5-qmake
  libpugixml-dev libqrencode-dev libsystemd-dev
  googletest libgtest-dev libgmock-dev
  fonts-noto-cjk fonts-liberation python3-fonttools locales
  cups cups-client cups-bsd printer-driver-cups-pdf libcups2-dev
  poppler-utils zbar-tools xvfb xauth trayer libxcb1-dev
  procps iproute2 python3 chromium libnss3-tools libarchive-dev libarchive-tools
  clang libclang-rt-14-dev
  systemd dbus polkitd libpam-systemd
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
