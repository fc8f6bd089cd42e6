#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each in turn, starting
# from its seed corpus in fuzz/corpus/<target> (and with the dictionary
# fuzz/dict/<target>.dict where there is one).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 600, or FUZZ_SECONDS); all targets when none
# is named.  With SECONDS 0 it only builds them (libFuzzer itself would
# take 0 for no limit).  The build and the targets run at low priority,
# one target at a time.  Inputs found to add coverage are kept in
# build-fuzz/corpus/<target>, never in the committed seeds; a crash leaves
# build-fuzz/crashes/<target>-crash-* and makes the script exit 1.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-${FUZZ_SECONDS:-600}}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_settings fuzz_strings fuzz_descriptor fuzz_shell_list fuzz_permissions)
build="$root/build-fuzz"

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" >/dev/null || { echo "fuzz configure failed"; exit 1; }
fi
nice cmake --build "$build" -j "$(nproc)" >/dev/null || { echo "fuzz build failed"; cmake --build "$build" 2>&1 | tail -20; exit 1; }
[ "$seconds" != 0 ] || exit 0

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  log="$build/$target.log"
  dict=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
  # Absolute paths: each target enters a private directory at start.
  nice "$build/$target" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 ${dict[@]+"${dict[@]}"} \
    -artifact_prefix="$build/crashes/$target-" "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{s+=$1} END {print s+0}')
  if [ $rc -eq 0 ]; then
    echo "$target: $runs executions in ${seconds}s, no crash (corpus $(ls "$work" | wc -l) inputs)"
  else
    echo "$target: FAILED after $runs executions (exit $rc); see $log and $build/crashes/"
    grep -E "ERROR|runtime error|SUMMARY" "$log" | head -5
    status=1
  fi
done
exit $status
