#!/usr/bin/env bash
# Installs the Debian packages that a group of tasks needs, when any of
# them is missing.  Run as root (or with sudo).
#
#   install-deps.sh run      building velorix-setup and running it (scripts/run.sh)
#   install-deps.sh package  that and debhelper for the Debian packages
#                            (scripts/package.sh)
#   install-deps.sh build    what building the tree with its tests needs
#                            (scripts/build.sh); scripts/test.sh installs
#                            the rest meanwhile
#   install-deps.sh [all]    all of that and what the tests, the package
#                            checks, benchmarks and fuzz targets need
#                            (scripts/test.sh)
set -euo pipefail

group=${1:-all}

run_packages=(
  build-essential cmake
  libncbi6-dev libvibrant6-dev libmotif-dev libx11-dev libxt-dev
  libinih-dev  # answer files
  libedit-dev  # line editing of the questions in a terminal (--text)
  nettle-dev  # SHA-256 of the installation record
)
# dpkg-buildpackage with debhelper (debian/).
package_packages=(dpkg-dev debhelper)
# The tree's own tests: GoogleTest, Python for the scripted tests, git
# for the version of a checkout, pkg-config; XFIXES for the probe of the
# cursor the GUI tests read (tests/tools/cursor_probe.c), built with them.
build_packages=(pkg-config git python3 libgtest-dev libgmock-dev libxfixes-dev)
test_packages=(
  libbenchmark-dev
  xvfb xdotool x11-utils imagemagick xsel
  tcsh ksh strace
  clang libclang-rt-14-dev  # fuzz targets: clang's libFuzzer and sanitizers
  lintian desktop-file-utils groff-base  # checks of the packages, desktop entry and manual page
  autopkgtest  # the packages' own tests (debian/tests)
  appstream appstream-compose  # the AppStream file, and the tool as software centres list it
  ansible-core  # the fleet example under deploy/ansible
  python3-voluptuous  # Ansible's module validator (validate-modules) on its module
  tmux  # a real terminal for the tests of --text
  fonts-dejavu-core  # the terminal's font in the pictures of scripts/pictures.py
  iproute2  # ss: whether the window of scripts/pictures.py has read all its events
)

case $group in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  build) packages=("${run_packages[@]}" "${build_packages[@]}") ;;
  all)
    packages=("${run_packages[@]}" "${build_packages[@]}" "${package_packages[@]}"
              "${test_packages[@]}")
    ;;
  *)
    echo "usage: install-deps.sh [run|package|build|all]" >&2
    exit 2
    ;;
esac

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
