#!/usr/bin/python3
"""The peer of reference expansion: Python's configparser with
ExtendedInterpolation reading the same chain of five nested references
(E refers to D, ... A refers to KERNEL) from the same settings template.

Prints the processor time of one get of [Paths] E in nanoseconds as
"configparser_ns VALUE": the median of five timeit rounds, processor time,
as GetParam's figure is the median of its repetitions in processor time,
so that both are taken alike and other load on the machine does not tilt
the ratio.
"""
import configparser
import statistics
import sys
import time
import timeit

CHAIN = {
    "KERNEL": "/opt/velorix/",
    "A": "${Paths:KERNEL}a",
    "B": "${Paths:A}b",
    "C": "${Paths:B}c",
    "D": "${Paths:C}d",
    "E": "${Paths:D}e",
}
EXPECTED = "/opt/velorix/abcde"


def settings_text(template_path):
    """The template as the benchmark writes it, with the chain in [Paths]
    in configparser's reference syntax.  The template's own "$(" values
    are never read here, so their syntax does not matter."""
    lines = []
    with open(template_path) as template:
        for line in template.read().splitlines():
            if line == "KERNEL=":
                continue
            lines.append(line)
            if line == "[Paths]":
                lines.extend(f"{key}={value}" for key, value in CHAIN.items())
    return "\n".join(lines) + "\n"


def main():
    parser = configparser.ConfigParser(
        interpolation=configparser.ExtendedInterpolation(), strict=False,
        allow_no_value=True)
    if len(sys.argv) > 1:
        parser.read_string(settings_text(sys.argv[1]))
    else:
        parser.read_dict({"Paths": CHAIN})
    value = parser.get("Paths", "E")
    if value != EXPECTED:
        sys.exit(f"configparser read {value!r}, expected {EXPECTED!r}")
    timer = timeit.Timer(lambda: parser.get("Paths", "E"), timer=time.process_time)
    number, _ = timer.autorange()
    median = statistics.median(timer.repeat(repeat=5, number=number)) / number
    print(f"configparser_ns {median * 1e9:.1f}")


if __name__ == "__main__":
    main()
