#!/usr/bin/env bash
# Builds the tool and runs the fault-injection suite once, printing its
# figures: fill levels and kill points tried, and the false successes,
# user files lost and re-runs that differ from a clean run (all must be 0).
# Needs root: it mounts a small tmpfs, in a private mount namespace.
#   scripts/faults.sh [--quick]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" || exit 1
"$root/scripts/build.sh" build || { echo "build failed"; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "faults.sh: run it as root (it mounts a tmpfs to fill)"
  exit 1
fi
VX_BUILD="$root/build" exec unshare -m --propagation private \
  /usr/bin/python3 "$root/tests/faults/faults.py" "$@"
