#!/usr/bin/env python3
"""The fleet example deploy/ansible/velorix.yml, run for real with Debian's
ansible-core against this machine (connection local) in a temporary
directory: the first run reports changes, the second none, and the
directories hold exactly what direct unattended runs with the same answer
files leave.  After an answer changes, --check --diff names the setting and
changes nothing, and the real run then changes exactly what it predicted.
Exit status 77 (skipped) without ansible-playbook."""
import json
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
import harness  # noqa: E402

write = harness.write_file

TOOL = os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup"))
PLAYBOOK = os.path.join(harness.source_dir(), "deploy", "ansible", "velorix.yml")
SKIP = 77

failures = []


def check(name, got, expected):
    if got != expected:
        failures.append(f"{name}:\n  got      {got!r}\n  expected {expected!r}")


def snapshot(root, times=False):
    found = {}
    for top, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(top, name)
            info = os.lstat(path)
            content = b""
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    content = f.read()
            if times and not os.path.isdir(path):
                content = (content, info.st_ino, info.st_mtime_ns)
            found[os.path.relpath(path, root)] = (info.st_mode, content)
    return found


def predicted(output):
    """The files that the velorix_setup tasks of a verbose play say would
    change, by their paths, and the settings that its diffs name."""
    paths = set()
    decoder = json.JSONDecoder()
    for found in re.finditer(r"=> \{", output):
        item, _ = decoder.raw_decode(output, found.end() - 1)
        if "differences" not in item:
            continue
        for line in item["differences"]:
            name = line.split(": ", 1)[0]
            paths.add(os.path.normpath(os.path.join(item["path"], name)))
    settings = re.findall(r"^--- before: (.*)$", output, re.M)
    return paths, settings


def environment(root):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(SHELL="/bin/sh", HOME=os.path.join(root, "home"), ANSIBLE_NOCOLOR="1",
               ANSIBLE_LOCAL_TEMP=os.path.join(root, "ansible-tmp"),
               ANSIBLE_REMOTE_TEMP=os.path.join(root, "ansible-tmp"),
               ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3", ANSIBLE_RETRY_FILES_ENABLED="0")
    os.makedirs(env["HOME"], exist_ok=True)
    return env


def changed(output):
    """The changed count of the play recap's one host."""
    found = re.search(r"localhost\s*:\s*ok=\d+\s+changed=(\d+)\s+unreachable=0\s+failed=0",
                      output)
    return int(found.group(1)) if found else None


def main():
    if shutil.which("ansible-playbook") is None:
        print("test_ansible: ansible-playbook is not installed; skipped")
        return SKIP
    with harness.scratch_dir("vx_ansible_") as root:
        env = environment(root)
        package = os.path.join(root, "package")
        os.makedirs(package)
        write(os.path.join(package, "velorix"), "#!/bin/sh\n", 0o755)
        write(os.path.join(package, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
        write(os.path.join(package, "autodif.cc"), "int autodif_marker() { return 7; }\n")
        product = os.path.join(root, "opt", "velorix")
        work = os.path.join(root, "home", "ann", "velorix")

        # The answer files, saved by the tool itself.
        answers = {}
        for kind in ("full", "user"):
            answers[kind] = os.path.join(root, kind + ".ini")
            result = subprocess.run(
                [TOOL, "--dry-run", "--" + kind, "--kernel", product, "--shell-style", "ksh",
                 "--save-answers", answers[kind]],
                cwd=root, env=env, capture_output=True, text=True, timeout=120)
            check(f"answers for {kind} saved", os.path.exists(answers[kind]), True)

        def play(*extra):
            return subprocess.run(
                ["ansible-playbook", "-i", "localhost,", "-c", "local", PLAYBOOK,
                 "-e", "velorix_hosts=localhost", "-e", f"velorix_setup={TOOL}",
                 "-e", f"velorix_package_dir={package}", "-e", f"velorix_product_dir={product}",
                 "-e", f"velorix_answers={answers['full']}",
                 "-e", f"velorix_user_answers={answers['user']}",
                 "-e", '{"velorix_user_dirs": ["%s"]}' % work] + list(extra),
                env=env, capture_output=True, text=True, timeout=600)

        first = play()
        check("first run: status", first.returncode, 0)
        check("first run: something changed", (changed(first.stdout) or 0) > 0, True)
        second = play()
        check("second run: status", second.returncode, 0)
        check("second run: nothing changed", changed(second.stdout), 0)
        if failures:
            print(first.stdout[-3000:], first.stderr[-2000:], second.stdout[-3000:])
        by_ansible = (snapshot(product), snapshot(work))
        check("set up: the settings files are there",
              (".velorixrc" in by_ansible[0], ".velorixrc" in by_ansible[1]), (True, True))

        # Another printer in the Full answers: the check names the setting
        # and changes nothing, not even a time; the run then changes
        # exactly the files it named.
        subprocess.run([TOOL, "--dry-run", "--full", "--kernel", product, "--shell-style", "ksh",
                        "--printer", "lp -d office %s", "--save-answers", answers["full"]],
                       cwd=root, env=env, capture_output=True, text=True, timeout=120)
        before = {product: snapshot(product, True), work: snapshot(work, True)}
        preview = play("--check", "--diff", "-v")
        check("--check --diff: status", preview.returncode, 0)
        check("--check --diff: shows the setting's change",
              all(text in preview.stdout for text in ("[Visual] HCPRINTER", "-lpr %s",
                                                      "+lp -d office %s")), True)
        check("--check --diff: nothing changed",
              {product: snapshot(product, True), work: snapshot(work, True)}, before)
        try:
            paths, settings = predicted(preview.stdout)
        except (ValueError, KeyError) as error:
            paths, settings = set(), []
            failures.append(f"--check --diff: no result to read ({error!r}):\n"
                            f"{preview.stdout[-3000:]}{preview.stderr[-2000:]}")
        check("--check --diff: names the setting", settings,
              [os.path.join(product, ".velorixrc") + " [Visual] HCPRINTER"])
        third = play()
        check("run after the change: status", third.returncode, 0)
        check("run after the change: changed", changed(third.stdout), 1)
        done = set()
        for directory, old in before.items():
            new = snapshot(directory, True)
            done |= {os.path.join(directory, n) for n in set(old) | set(new)
                     if old.get(n) != new.get(n) and not os.path.isdir(os.path.join(directory, n))}
        check("run after the change: changed what was predicted", sorted(done), sorted(paths))

        # A compiler that fails on this host: one run converges, with the
        # object gone (so the working directory turns symbolic
        # differentiation off as well), and the next changes nothing.
        subprocess.run([TOOL, "--dry-run", "--full", "--kernel", product, "--shell-style", "ksh",
                        "--cpp-name", "false", "--save-answers", answers["full"]],
                       cwd=root, env=env, capture_output=True, text=True, timeout=120)
        degraded = play()
        check("failing compile: status and changed", (degraded.returncode, changed(degraded.stdout)),
              (0, 2))
        check("failing compile: no object", os.path.exists(os.path.join(product, "autodif.o")),
              False)
        again = play()
        check("failing compile, again: nothing changed", changed(again.stdout), 0)

        subprocess.run([TOOL, "--dry-run", "--full", "--kernel", product, "--shell-style", "ksh",
                        "--save-answers", answers["full"]],
                       cwd=root, env=env, capture_output=True, text=True, timeout=120)

        # The same by hand: the package directory as the playbook puts it,
        # then one unattended run in each directory.
        shutil.rmtree(product)
        shutil.rmtree(work)
        shutil.copytree(package, product)
        os.makedirs(work)
        for directory, kind in ((product, "full"), (work, "user")):
            result = subprocess.run([TOOL, "--unattended", "--answers", answers[kind]],
                                    cwd=directory, env=env, capture_output=True, text=True,
                                    timeout=120)
            check(f"direct run in {directory}: status", result.returncode, 0)
        direct = (snapshot(product), snapshot(work))
        for name, a, b in (("product", by_ansible[0], direct[0]), ("work", by_ansible[1], direct[1])):
            differing = sorted(n for n in set(a) | set(b) if a.get(n) != b.get(n))
            check(f"{name} directory: as a direct unattended run", differing, [])
    for f in failures:
        print("FAILED", f)
    print(f"{len(failures)} failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
