#!/usr/bin/env bash
# Builds the Debian packages velorix-setup and velorix-support-dev with
# CPack: scripts/package.sh [BUILD_DIR]
#
# BUILD_DIR (default build-package, relative to the top of the repository
# unless absolute) is configured without the tests when it is new; a tree
# that is already configured, such as the build tree of scripts/test.sh, is
# built as it is and packaged.  Prints the path of the velorix-support-dev
# package, then that of velorix-setup on the last line.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" package || exit 1
build=${1:-build-package}
[ "${build#/}" != "$build" ] || build="$root/$build"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF >"$log" 2>&1 ||
    { cat "$log" >&2; echo "package.sh: configure failed" >&2; exit 1; }
fi
if grep -q "^VX_SANITIZE:BOOL=ON" "$build/CMakeCache.txt"; then
  echo "package.sh: $build is a sanitizer build; package a plain one" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" >"$log" 2>&1 ||
  { cat "$log" >&2; echo "package.sh: build failed" >&2; exit 1; }
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake) >"$log" 2>&1 ||
  { cat "$log" >&2; echo "package.sh: cpack failed" >&2; exit 1; }
dev=$(ls "$build"/packages/velorix-support-dev_*.deb 2>/dev/null)
setup=$(ls "$build"/packages/velorix-setup_*.deb 2>/dev/null)
if [ -z "$dev" ] || [ -z "$setup" ]; then
  cat "$log" >&2
  echo "package.sh: cpack made no velorix-setup or velorix-support-dev package" >&2
  exit 1
fi
echo "$dev"
echo "$setup"
