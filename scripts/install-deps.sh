#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# when any of them is missing.  Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libncbi6-dev libvibrant6-dev libmotif-dev libx11-dev libxt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-utils imagemagick xsel
  tcsh ksh python3 strace
  clang libclang-rt-14-dev  # fuzz targets: clang's libFuzzer and sanitizers
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
