#!/usr/bin/env bash
# Installs what is missing, builds twice (warnings as errors; then with
# AddressSanitizer and UndefinedBehaviorSanitizer), starts a private Xvfb
# and runs every test in both builds, then installs and links against the
# plain build and builds and tests the Debian packages (tests/packaging).
# Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" all || exit 1

"$root/scripts/build.sh" build-asan -DVX_SANITIZE=ON || { echo "sanitizer build failed"; exit 1; }
"$root/scripts/build.sh" build || { echo "build failed"; exit 1; }

# A private X server for the GUI tests; -displayfd picks a free display.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$fifo"' EXIT
read -r -t 20 display <"$fifo" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"

# Tests must never touch the settings file of the real home directory.
home=$(getent passwd "$(id -u)" | cut -d: -f6)
before=$(md5sum "$home/.velorixrc" 2>/dev/null || echo none)

mkdir -p "$root/artifacts"
export VX_ARTIFACTS="$root/artifacts"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Where the system allows it, the tests run in a private mount namespace in
# which the home directory and /etc/ncbi are empty, so that not even a
# faulty test can reach the user's settings file.
isolated() {
  if [ "${root#"$home"/}" != "$root" ] || ! unshare -m true 2>/dev/null; then
    "$@"
    return
  fi
  unshare -m --propagation private bash -c '
    mount -t tmpfs tmpfs "$0" || exit 1
    if [ -d /etc/ncbi ]; then mount -t tmpfs tmpfs /etc/ncbi || exit 1; fi
    exec "$@"' "$home" "$@"
}

status=0
# Each fuzz target a few seconds from its seed corpus; a crash fails the run.
echo "=== fuzz targets (libFuzzer), ${FUZZ_SECONDS:-5} s each ==="
isolated "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" || status=1
# The fuzz targets hold the code that needs no display: no GUI library may
# come in with it.
if ldd "$root"/build-fuzz/fuzz_* | grep -E "libX|libvibrant|libXm"; then
  echo "FAILED: a fuzz target links a GUI library"
  status=1
fi

echo "=== tests under AddressSanitizer and UndefinedBehaviorSanitizer ==="
(cd build-asan && isolated ctest --output-on-failure -j 2) || status=1

# Installed and linked from outside the tree, from the plain build; the
# Debian packages built with dpkg-buildpackage, checked with lintian and
# their own tests (autopkgtest).
echo "=== installation and Debian packages ==="
started=$SECONDS
isolated /usr/bin/python3 "$root/tests/packaging/test_packaging.py" "$root/build" || status=1
echo "installation and Debian packages: $((SECONDS - started)) s"

echo "=== tests ==="
(cd build && isolated ctest --output-on-failure -j 2) || status=1

after=$(md5sum "$home/.velorixrc" 2>/dev/null || echo none)
if [ "$before" != "$after" ]; then
  echo "FAILED: a test changed $home/.velorixrc"
  status=1
fi
exit $status
