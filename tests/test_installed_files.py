#!/usr/bin/env python3
"""What an installation leaves in its directories, compared byte for byte
and mode for mode with the golden copies in tests/golden/CASE/.

Each case installs unattended into fresh directories, with a stand-in C++
compiler on PATH, and then compares every file below the product and the
working directory (their paths written as @PRODUCT@ and @WORK@) with
tests/golden/CASE/: the files themselves, and MANIFEST, one line per file
with its mode.  A file that appears, goes or changes fails the case.  In
the record of the installation, each digest and size that holds for the
file installed is written as that of the file with its marks (so the
golden record holds those of the golden files), and the owner, whoever
runs the test, as @OWNER@.

    VX_GOLDEN_UPDATE=1 python3 tests/test_installed_files.py

writes the golden copies anew from the build under test; review the
difference before committing it.
"""
import hashlib
import os
import re
import shutil
import stat
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

GOLDEN = os.path.join(harness.source_dir(), "tests", "golden")
UPDATE = bool(os.environ.get("VX_GOLDEN_UPDATE"))

FORM = ["--cpp-name", "vx-cxx"]
CSH = ["--shell-style", "csh", "--shell-path", "/bin/csh -f"]
KSH = ["--shell-style", "ksh", "--shell-path", "/bin/sh "]

# name: (runs, each (directory, options, environment), with the object in
# the product directory before the first run or not)
CASES = {
    "full-csh": ([("product", ["--full"] + CSH, {})], False),
    "full-ksh": ([("product", ["--full"] + KSH, {})], False),
    "full-compile-fails": ([("product", ["--full"] + KSH, {"VX_CXX_FAILS": "1"})], False),
    "full-elsewhere": ([("work", ["--full", "--kernel", "@PRODUCT@"] + CSH, {})], False),
    "full-fields": ([("product", ["--full"] + KSH + [
        "--include", "-I/usr/local/include -DPCT=5%",
        "--libs", "-lm  -lc",
        "--cpp-options", " -O0 -g",
        "--printer", "  lpr -P office %s  ",
        "--previewer", "   ",
        "--differentiator", "ext-diff --fast"], {})], False),
    "full-again-changed": ([
        ("product", ["--full"] + CSH, {}),
        ("product", ["--full"] + CSH + ["--printer", "lp -d office %s"], {}),
    ], False),
    # Other options, and their compile fails: the first run's object goes.
    "full-again-compile-fails": ([
        ("product", ["--full"] + KSH, {}),
        ("product", ["--full"] + KSH + ["--cpp-options", " -O0"], {"VX_CXX_FAILS": "1"}),
    ], False),
    "user": ([("work", ["--user", "--kernel", "@PRODUCT@"], {})], True),
    "user-no-object": ([("work", ["--user", "--kernel", "@PRODUCT@/"], {})], False),
}


def make_tree(root, with_object):
    product = os.path.join(root, "product")
    work = os.path.join(root, "work")
    tools = os.path.join(root, "bin")
    for path in (product, work, tools):
        os.makedirs(path)
    harness.write_file(os.path.join(product, "velorix"), "#!/bin/sh\n", 0o755)
    harness.write_file(os.path.join(product, "classes.vel"),
                       "&classes\nZ z\n&hierarchy\nA b\n", 0o644)
    harness.write_file(os.path.join(product, "autodif.cc"), "int autodif() { return 7; }\n", 0o644)
    if with_object:
        with open(os.path.join(product, "autodif.o"), "wb") as f:
            f.write(harness.relocatable_object())
        os.chmod(os.path.join(product, "autodif.o"), 0o644)
    # The stand-in compiler: leaves a fixed object at the file after -o,
    # or fails when VX_CXX_FAILS is set.
    harness.write_stand_in_compiler(tools)
    return product, work, tools


RECORD = ".velorix-setup.sha256"
OWNER = f"{os.getuid()}:{os.getgid()}"


def marked(data, places):
    for mark, place in places:
        data = data.replace(place.encode(), mark.encode())
    return data


def marked_record(text, directory, places):
    """The record's text with each file's digest and size, where they
    hold for the file installed, as those of the file with its marks."""
    lines = text.decode().split("\n")
    for i, line in enumerate(lines):
        entry = re.fullmatch(r"([0-9a-f]{64})  (.*)", line)
        described = re.fullmatch(r"# (\d{4}) (\d+:\d+) (\d+)( data)?", lines[i - 1]) if i else None
        if not entry:
            continue
        path = os.path.join(directory, entry.group(2))
        with open(path, "rb") as f:
            data = f.read()
        if hashlib.sha256(data).hexdigest() != entry.group(1):
            continue  # the golden record then differs: the record is wrong
        golden = marked(data, places)
        lines[i] = hashlib.sha256(golden).hexdigest() + "  " + entry.group(2)
        if described and int(described.group(3)) == len(data):
            owner = "@OWNER@" if described.group(2) == OWNER else described.group(2)
            lines[i - 1] = f"# {described.group(1)} {owner} {len(golden)}{described.group(4) or ''}"
    return marked("\n".join(lines).encode(), places)


def contents(root, places):
    """Every file below root: relative path -> (mode, bytes with the
    directories' paths, and the owner in the record, put back as their
    marks)."""
    found = {}
    for top, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if os.path.relpath(path, root).startswith("bin/"):
                continue
            with open(path, "rb") as f:
                data = f.read()
            if name == RECORD:
                data = marked_record(data, top, places)
            else:
                data = marked(data, places)
            found[os.path.relpath(path, root)] = (stat.S_IMODE(os.lstat(path).st_mode), data)
    return found


def manifest(files):
    return "".join("%s %04o\n" % (name, mode) for name, (mode, _) in sorted(files.items()))


def run_case(name, runs, with_object, failures):
    with harness.scratch_dir("vx-golden-") as root:
        product, work, tools = make_tree(root, with_object)
        places = [("@PRODUCT@", product), ("@WORK@", work)]
        for directory, options, extra in runs:
            env = harness.unattended_env(PATH=tools + ":" + os.environ.get("PATH", ""), **extra)
            args = ["--unattended"] + FORM + [a.replace("@PRODUCT@", product) for a in options]
            result = harness.run_tool(args, cwd=os.path.join(root, directory), env=env)
            if result.returncode != 0:
                failures.append(f"{name}: velorix-setup {' '.join(options)} ended with "
                                f"{result.returncode}:\n{result.stderr}")
                return
        files = contents(root, places)
        golden = os.path.join(GOLDEN, name)
        if UPDATE:
            shutil.rmtree(golden, ignore_errors=True)
            for relative, (_, data) in files.items():
                os.makedirs(os.path.dirname(os.path.join(golden, relative)), exist_ok=True)
                with open(os.path.join(golden, relative), "wb") as f:
                    f.write(data)
            with open(os.path.join(golden, "MANIFEST"), "w") as f:
                f.write(manifest(files))
            return
        with open(os.path.join(golden, "MANIFEST")) as f:
            expected = f.read()
        if manifest(files) != expected:
            failures.append(f"{name}: files or modes differ:\n  got\n{manifest(files)}"
                            f"  expected\n{expected}")
        for relative, (_, data) in files.items():
            path = os.path.join(golden, relative)
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                if f.read() != data:
                    failures.append(f"{name}: {relative} differs from {path}")


def main():
    failures = []
    for name, (runs, with_object) in CASES.items():
        run_case(name, runs, with_object, failures)
    return harness.report(failures, "passed: %d installations as their golden copies" % len(CASES))


if __name__ == "__main__":
    sys.exit(main())
