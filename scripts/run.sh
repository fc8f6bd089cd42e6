#!/usr/bin/env bash
# Installs what building and running the tool needs when it is missing,
# builds velorix-setup alone (no tests, benchmarks or fuzz targets) in
# build-run, and starts it in the current directory with the arguments
# given: the Setup window, or --unattended ... without a display.
# The build prints nothing unless it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" run
build="$root/build-run"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF &&
  cmake --build "$build" -j "$(nproc)" --target velorix-setup; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: building velorix-setup failed (the log is above)" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec "$build/velorix-setup" "$@"
