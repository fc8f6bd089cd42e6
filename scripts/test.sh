#!/usr/bin/env bash
# Installs what is missing, builds twice (warnings as errors; then with
# AddressSanitizer and UndefinedBehaviorSanitizer), starts private Xvfbs
# and runs every test in both builds, runs the fuzz targets a few seconds
# each, builds and tests the Debian packages, and installs and links
# against the plain build (tests/packaging).  Exits non-zero when anything
# failed.
#
# The GUI tests mostly wait (for a window, a file, a selection), so on a
# machine of two cores they run beside the work that computes, which runs
# at low priority so as not to slow them:
#   the packages the builds need; the rest install during the first build
#   the sanitizer build; once the rest is installed, beside it and at low
#   priority the work that needs no build tree of this run: the Debian
#   packages with their checks, and the fuzz targets' build
#   the sanitizer build's tests, and beside them the plain build
#   the plain build's tests, and beside them the fuzz targets' runs and the
#   checks of the plain build installed and linked against
# What needs no build tree thus starts as early as the packages allow, and
# no single long phase is left to run alone at the end.
# Each phase's output is printed whole when it ends, with its time; a
# summary of the times closes the run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# Background phases in process groups of their own, so that a run that
# stops early ends them whole.
set -m

run_start=$(date +%s)
logs=$(mktemp -d)
declare -A pid began
summary=()
status=0

cleanup() {
  local p
  for p in "${pid[@]}"; do
    kill -- "-$p" 2>/dev/null
  done
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# start [-low] NAME COMMAND...: runs COMMAND (a shell function too) in the
# background, its output kept until finish NAME; with -low, at low
# priority.
start() {
  local low=
  if [ "$1" = -low ]; then
    low=1
    shift
  fi
  local name=$1
  shift
  began[$name]=$(date +%s)
  (
    [ -z "$low" ] || renice -n 10 -p "$BASHPID" >/dev/null
    "$@"
    rc=$?
    date +%s >"$logs/$name.end"
    exit $rc
  ) </dev/null >"$logs/$name.log" 2>&1 &
  pid[$name]=$!
}

# finish NAME: waits for the phase, prints its output and time; returns its
# exit status.
finish() {
  local name=$1 rc end
  wait "${pid[$name]}"
  rc=$?
  unset "pid[$name]"
  end=$(cat "$logs/$name.end" 2>/dev/null || date +%s)
  echo "=== $name ==="
  cat "$logs/$name.log"
  local line
  line=$(printf '%-40s %4d s  (%d-%d s into the run)' "$name:" $((end - began[$name])) \
    $((began[$name] - run_start)) $((end - run_start)))
  [ "$rc" -eq 0 ] || line="$line  FAILED (exit $rc)"
  echo "$line"
  summary+=("$line")
  return "$rc"
}

# run [-low] NAME COMMAND...: a phase in the foreground.
run() {
  local name=$1
  [ "$name" != -low ] || name=$2
  start "$@"
  finish "$name"
}

finish_all() {
  echo "=== times ==="
  printf '%s\n' "${summary[@]}"
  echo "whole run: $(($(date +%s) - run_start)) s"
}

# Tests must never touch the settings file of the real home directory.
home=$(getent passwd "$(id -u)" | cut -d: -f6)
before=$(md5sum "$home/.velorixrc" 2>/dev/null || echo none)

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Where the system allows it, the tests run in a private mount namespace in
# which the home directory, /etc/ncbi and the host's site defaults are
# empty, so that not even a faulty test can reach the user's settings
# file, and no test starts from the host's own defaults.
isolated() {
  if [ "${root#"$home"/}" != "$root" ] || ! unshare -m true 2>/dev/null; then
    "$@"
    return
  fi
  unshare -m --propagation private bash -c '
    mount -t tmpfs tmpfs "$0" || exit 1
    if [ -d /etc/ncbi ]; then mount -t tmpfs tmpfs /etc/ncbi || exit 1; fi
    if [ -d /etc/velorix-setup ]; then mount -t tmpfs tmpfs /etc/velorix-setup || exit 1; fi
    exec "$@"' "$home" "$@"
}

# ctest in build tree $1, on a private X server of its own (-displayfd
# picks a free display), its screenshots in artifacts/$1.
tests_in() {
  local tree=$1 fifo display server rc
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # No auto-repeat: a stalled typing client would type a key twice.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -r 3>"$fifo" >/dev/null 2>&1 &
  server=$!
  if ! read -r -t 20 display <"$fifo"; then
    echo "Xvfb did not start"
    kill "$server"
    rm -f "$fifo"
    return 1
  fi
  rm -f "$fifo"
  mkdir -p "$root/artifacts/$tree"
  # A scratch space of each tree's own: what one tree's tests leave or
  # sweep there is never another's.  Open to all, as /tmp is, for the
  # tests that run the tool as another user.
  local scratch
  scratch=$(mktemp -d "/tmp/vx-tests-$tree.XXXXXX") && chmod 1777 "$scratch" || return 1
  (cd "$root/$tree" && DISPLAY=":$display" VX_ARTIFACTS="$root/artifacts/$tree" \
    TMPDIR="$scratch" isolated ctest --output-on-failure -j 2)
  rc=$?
  kill "$server"
  wait "$server" 2>/dev/null
  rm -rf "$scratch"
  return $rc
}

# Each fuzz target a few seconds from its seed corpus (built already by
# the phase before); a crash fails the run.
fuzz() {
  echo "fuzz targets (libFuzzer), ${FUZZ_SECONDS:-5} s each"
  isolated "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" || return 1
  # The fuzz targets hold the code that needs no display: no GUI library
  # may come in with it.
  if ldd "$root"/build-fuzz/fuzz_* | grep -E "libX|libvibrant|libXm"; then
    echo "FAILED: a fuzz target links a GUI library"
    return 1
  fi
}

# The Debian packages built with dpkg-buildpackage (in build/package),
# checked with lintian and their own tests (autopkgtest).
debian_packages() {
  isolated /usr/bin/python3 "$root/tests/packaging/test_packaging.py" --debian "$root/build/package"
}

# Installed and linked from outside the tree, from the plain build.
installation() {
  isolated /usr/bin/python3 "$root/tests/packaging/test_packaging.py" --installed "$root/build"
}

run "packages for the builds" "$root/scripts/install-deps.sh" build || exit 1
# apt holds its lock until this ends: nothing else installs meanwhile.
start "packages for the tests" "$root/scripts/install-deps.sh" all
start "sanitizer build" "$root/scripts/build.sh" build-asan -DVX_SANITIZE=ON
finish "packages for the tests" || exit 1
start -low "Debian packages" debian_packages
start "fuzz targets' build" "$root/scripts/fuzz.sh" 0
finish "sanitizer build" || { echo "sanitizer build failed"; exit 1; }

start "tests under AddressSanitizer and UBSan" tests_in build-asan
if run -low "build" "$root/scripts/build.sh" build; then
  start "tests" tests_in build
  start -low "installation" installation
else
  echo "build failed"
  status=1
fi
# fuzz.sh itself fuzzes at low priority, as low as the checks beside it:
# no lower, so that the targets get their share of the time.
if finish "fuzz targets' build"; then
  start "fuzz targets" fuzz
else
  status=1
fi

finish "tests under AddressSanitizer and UBSan" || status=1
if [ -n "${pid["fuzz targets"]:-}" ]; then
  finish "fuzz targets" || status=1
fi
finish "Debian packages" || status=1
if [ -n "${pid[installation]:-}" ]; then
  finish "installation" || status=1
fi
if [ -n "${pid[tests]:-}" ]; then
  finish "tests" || status=1
fi

after=$(md5sum "$home/.velorixrc" 2>/dev/null || echo none)
if [ "$before" != "$after" ]; then
  echo "FAILED: a test changed $home/.velorixrc"
  status=1
fi
finish_all
exit $status
