#!/usr/bin/python3
"""Prints every benchmark figure of one scripts/bench.sh run beside its
floor or peer, with the ratio and the target it is held to.

  report.py BENCH_JSON PEER_FILE STARTUP_FILE INSTALL_FILE

BENCH_JSON is Google Benchmark's JSON output; PEER_FILE holds lines
"configparser_ns N", of which the median is taken; STARTUP_FILE lines
"bare MS" and "setup MS", one per run; INSTALL_FILE the output of
bench_install_writes.  Figures of Google
Benchmark are processor time, as is the peer's.  Exit status 1 when a
target is missed.
"""
import json
import re
import statistics
import sys


def main():
    bench_json, peer_file, startup_file, install_file = sys.argv[1:5]
    with open(bench_json) as f:
        runs = {}
        for b in json.load(f)["benchmarks"]:
            # With repetitions, each figure is the median of them.
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") != "median":
                    continue
                runs[b["run_name"]] = b
            else:
                runs.setdefault(b["name"], b)
    missed = []

    def ns(name):
        b = runs[name]
        if b.get("error_occurred"):
            sys.exit(f"{name}: {b.get('error_message')}")
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
        return b["cpu_time"] * scale

    def verdict(ok, target):
        if not ok:
            missed.append(target)
        return f"target {target}: {'met' if ok else 'MISSED'}"

    print("\n=== Settings expansion: GetParam of a value with five nested references ===")
    get = ns("BM_GetParamFiveReferences")
    raw = ns("BM_SixRawLookups")
    raw_bare = ns("BM_SixRawLookupsNoDefault")
    walk = ns("BM_BareChainWalk")
    print(f"GetParam                     {get:10.1f} ns")
    print(f"six raw Nlm_GetAppParam      {raw:10.1f} ns   GetParam / raw = {get / raw:.2f}x   "
          + verdict(get / raw <= 1.25, "<= 1.25x"))
    print(f"  the same without a default {raw_bare:10.1f} ns   GetParam / these = {get / raw_bare:.2f}x "
          f"(GetParam makes its lookups so)")
    print(f"bare walk (no checks)        {walk:10.1f} ns   GetParam / bare = {get / walk:.2f}x")
    with open(peer_file) as f:
        peer = statistics.median(float(entry.split()[1]) for entry in f if entry.strip())
    print(f"configparser (Python {sys.version.split()[0]}) {peer:10.1f} ns   "
          f"GetParam is {peer / get:.1f}x faster   " + verdict(peer / get >= 50, ">= 50x faster"))

    print("\n=== Description reader: 10 MiB of ordinary lines ===")
    line = runs["BM_GetLineTenMiB"]["bytes_per_second"]
    fgets = runs["BM_FgetsTenMiB"]["bytes_per_second"]
    print(f"GetLine                      {line / 2**20:10.1f} MiB/s")
    print(f"raw fgets loop               {fgets / 2**20:10.1f} MiB/s   GetLine / fgets = {line / fgets:.2f}x   "
          + verdict(line / fgets >= 0.75, ">= 0.75x"))

    print("\n=== The record of an installation: parsed at 1,250 to 20,000 entries ===")
    per_line = {}
    for name, b in runs.items():
        if name.startswith("BM_ParseRecord/"):
            per_line[int(name.split("/")[1])] = ns(name) / int(name.split("/")[1])
    small, large = min(per_line), max(per_line)
    for size in sorted(per_line):
        print(f"{size:6d} entries              {per_line[size]:10.1f} ns per entry")
    print(f"per entry at {large} / at {small} = {per_line[large] / per_line[small]:.2f}x   "
          + verdict(per_line[large] / per_line[small] <= 4.0,
                    "<= 4x (one sort: about 1.4x; a sort at each line: 16x)"))

    print("\n=== Start-up: exec to the mapped window, under Xvfb ===")
    times = {"bare": [], "setup": []}
    with open(startup_file) as f:
        for entry in f:
            kind, ms = entry.split()
            times[kind].append(float(ms))
    setup = statistics.median(times["setup"])
    window = statistics.median(times["bare"])
    notice = ns("BM_NoticePreviewCommands") / 1e6
    notice_wall = runs["BM_NoticePreviewCommands"]["real_time"]
    print(f"Setup window (median of {len(times['setup'])}) {setup:8.1f} ms")
    print(f"bare Vibrant window (median of {len(times['bare'])}) {window:8.1f} ms   Setup / bare = "
          f"{setup / window:.2f}x   " + verdict(setup / window <= 1.2, "<= 1.2x"))
    print(f"notice preview commands alone {notice_wall:7.1f} ms wall ({notice:.2f} ms in this process; "
          f"the rest is in the shell, which runs while the window is built); difference of the windows "
          f"{setup - window:.1f} ms")

    print("\n=== Installation: rewrites of the settings file by a Full installation ===")
    with open(install_file) as f:
        text = f.read()
    print(text.rstrip())
    measured = re.search(r"measured: (\d+)", text)
    implied = re.search(r"implied: +(\d+)", text)
    ok = measured is not None and implied is not None and measured.group(1) == implied.group(1)
    print("measured = implied: " + verdict(ok, "no more writes than the procedure implies"))
    writes = int(measured.group(1)) if measured else 0
    print(f"settings-file writes {writes}: " + verdict(0 < writes <= 13, "<= 13"))
    install_ms = float(re.search(r"install_ms ([0-9.]+)", text).group(1))
    compile_ms = float(re.search(r"compile_ms ([0-9.]+)", text).group(1))
    print(f"Full installation {install_ms:.1f} ms, its compile alone {compile_ms:.1f} ms: "
          f"{install_ms / compile_ms:.2f}x   " + verdict(install_ms <= 1.5 * compile_ms, "<= 1.5x"))

    print()
    if missed:
        print("Targets missed: " + "; ".join(missed))
        return 1
    print("Every target met.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
