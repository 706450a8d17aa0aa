#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev libqt5serialport5-dev libqt5svg5-dev
    qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-tools-dev
    libudev-dev
    libfreexl-dev libgsf-1-dev libsqlite3-dev libzip-dev zlib1g-dev
    fonts-dejavu-core
    xvfb xauth
    python3 python3-xlrd python3-openpyxl poppler-utils sqlite3
    libmosquitto-dev mosquitto mosquitto-clients
    openssl
    dpkg-dev lintian appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The spreadsheet suites that read the exported files in the tests; any
# installed flavour will do (the -nogui ones conflict with the desktop ones).
command -v soffice >/dev/null || missing+=(libreoffice-calc-nogui)
command -v ssconvert >/dev/null || missing+=(gnumeric)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
