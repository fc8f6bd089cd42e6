#!/usr/bin/env bash
# Builds the benchmarks in build-bench and prints every figure of one run
# beside its floor or peer, with the ratio and its target:
#   - GetParam of five nested references against the six raw lookups it
#     needs and against Python's configparser reading the same chain;
#   - the description reader against a raw fgets loop over 10 MiB;
#   - the Setup window's start-up against a bare Vibrant window with the
#     same controls, under a private Xvfb;
#   - the settings-file rewrites of a Full installation against the count
#     its procedure implies.
# BENCH_STARTUP_RUNS (default 21) sets the start-ups timed of each window.
# Exits 1 when a target is missed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" || exit 1
build="$root/build-bench"
cmake -S "$root" -B "$build" -DVX_BUILD_BENCH=ON -DVX_BUILD_TESTS=OFF >/dev/null || { echo "configure failed"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target velorix-bench bench_bare_window bench_startup_timer \
  bench_install_writes bench_write_template velorix-setup >/dev/null || { echo "build failed"; exit 1; }

out=$(mktemp -d)
fifo="$out/display"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$out"' EXIT
read -r -t 20 display <"$fifo" || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$display"

"$build/bench_write_template" >"$out/template" || exit 1
# The peer runs before and after the benchmarks, so that its figure covers
# the same stretch of time as GetParam's.
/usr/bin/python3 "$root/bench/peer_configparser.py" "$out/template" >"$out/peer" || exit 1

echo "=== Google Benchmark (processor time, median of 25 interleaved repetitions) ==="
# Many short repetitions, interleaved, after a warm-up, so that a burst of
# load on the machine (Xvfb starting, another job) touches every figure
# alike instead of one whole benchmark or a few of its repetitions.
"$build/velorix-bench" --benchmark_out="$out/bench.json" --benchmark_out_format=json \
  --benchmark_repetitions=25 --benchmark_min_time=0.05 --benchmark_enable_random_interleaving=true \
  --benchmark_min_warmup_time=0.2 --benchmark_report_aggregates_only=true || exit 1

/usr/bin/python3 "$root/bench/peer_configparser.py" "$out/template" >>"$out/peer" || exit 1

# The two windows alternate, so that a change in the machine's load
# touches both alike.
runs=${BENCH_STARTUP_RUNS:-21}
: >"$out/startup"
for ((i = 0; i < runs; i++)); do
  for kind in bare setup; do
    if [ $kind = bare ]; then
      program=("$build/bench_bare_window") title="velorix bare window"
    else
      program=("$build/velorix-setup") title="velorix 1.5 setup"
    fi
    ms=$(SHELL=/bin/sh "$build/bench_startup_timer" 1 "$title" "${program[@]}" | sed -n 's/^median_ms //p')
    [ -n "$ms" ] || { echo "start-up of the $kind window not measured"; exit 1; }
    echo "$kind $ms" >>"$out/startup"
  done
done

"$build/bench_install_writes" "$build/velorix-setup" >"$out/install"

/usr/bin/python3 "$root/bench/report.py" "$out/bench.json" "$out/peer" "$out/startup" "$out/install"
