#!/usr/bin/env bash
# Installs what is missing, builds, and opens the Setup window in the
# current directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build
exec "$root/build/velorix-setup" "$@"
