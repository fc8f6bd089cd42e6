#!/usr/bin/env bash
# Installs what building and running the tool needs when it is missing,
# builds velorix-setup alone (no tests, benchmarks or fuzz targets) in
# build-run, and starts it in the current directory with the arguments
# given: the Setup window, or --unattended ... without a display.
# The build says its phases and its percentage on standard error (see
# progress.sh); its own output shows only when it fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/progress.sh"
"$root/scripts/install-deps.sh" run
build="$root/build-run"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
configure=(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF)
compile=(cmake --build "$build" -j "$(nproc)" --target velorix-setup)
if [ -x "$build/velorix-setup" ]; then
  # Built before: brought up to date without a word (a moment), unless it fails.
  if ! { "${configure[@]}" && "${compile[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: building velorix-setup failed (the log is above)" >&2
    exit 1
  fi
elif ! progress_run run.sh "$log" "configuring the build in $build" "${configure[@]}" ||
  ! progress_run run.sh "$log" "building velorix-setup" "${compile[@]}"; then
  cat "$log" >&2
  echo "run.sh: building velorix-setup failed (the log is above)" >&2
  exit 1
fi
rm -f "$log"
trap - EXIT
exec "$build/velorix-setup" "$@"
