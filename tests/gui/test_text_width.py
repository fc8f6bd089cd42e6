#!/usr/bin/env python3
"""FileLineMaxWidth, measured in a real Vibrant program under a private Xvfb.

The probe program (tests/tools/width_probe.cc) prints, for each argument,
either FileLineMaxWidth of a file or the toolkit's own width of a text, so
each file's result is compared with the width of the line that should be
the widest, measured directly.  Lines longer than the 998 characters read
at once must still be measured whole.
"""
import os
import subprocess
import sys

import harness

PROBE = os.path.join(harness.build_dir(), "width_probe")
PROBE_TIMEOUT = 60
INT16_MAX = 32767

failures = []


def check(name, got, expected):
    if got != expected:
        failures.append(f"{name}: got {got}, expected {expected}")


def probe(display, args):
    env = dict(os.environ, DISPLAY=display)
    result = subprocess.run([PROBE] + args, env=env, capture_output=True, text=True,
                            timeout=PROBE_TIMEOUT, cwd=os.path.dirname(args[0]) or ".")
    if result.returncode != 0:
        raise RuntimeError(f"probe exited {result.returncode}: {result.stderr}")
    widths = []
    for line in result.stdout.splitlines():
        widths.append(int(line.rsplit("\t", 1)[1]))
    if len(widths) != len(args):
        raise RuntimeError(f"probe printed {len(widths)} results for {len(args)} arguments")
    return widths


def text_arg(text):
    return "text:" + text.replace("\n", "\\n")


def main():
    if not os.access(PROBE, os.X_OK):
        print(f"{PROBE} is missing: build the width_probe target", file=sys.stderr)
        return 1
    with harness.scratch_dir("width") as work:
        mixed = "iW.m" * 625  # 2500 characters of unequal widths
        files = {
            "widest.txt": ("a\nwwww\n\nww\n", "wwww\n"),
            "unterminated.txt": ("ab\nwwwwww", "wwwwww\n"),
            "long.txt": ("short\n" + mixed + "\nx\n", mixed + "\n"),
            "piece.txt": ("W" * 998 + "\n", "W" * 998 + "\n"),
            "pieceplus.txt": ("W" * 999 + "\n", "W" * 999 + "\n"),
        }
        zero = {"empty-lines.txt": "\n\n\n\n", "empty.txt": ""}
        for name, (text, _) in files.items():
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        for name, text in zero.items():
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        huge = "W" * 6000  # wider than a 16-bit width can say
        with open(os.path.join(work, "huge.txt"), "w") as f:
            f.write(huge + "\n")

        names = list(files) + list(zero) + ["missing.txt", "huge.txt"]
        args = [os.path.join(work, n) for n in names]
        args += [text_arg(widest) for _, widest in files.values()]
        with harness.XServer() as server:
            widths = probe(server.display, args)
        measured = dict(zip(names, widths[:len(names)]))
        direct = widths[len(names):]

        for (name, _), expected in zip(files.items(), direct):
            if expected <= 0:
                failures.append(f"{name}: the direct width {expected} is not positive")
            check(name, measured[name], expected)
        for name in zero:
            check(name, measured[name], 0)
        check("missing.txt", measured["missing.txt"], 0)
        check("huge.txt", measured["huge.txt"], INT16_MAX)

    return harness.report(failures, "text width: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
