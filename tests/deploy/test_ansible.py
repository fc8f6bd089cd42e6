#!/usr/bin/env python3
"""The fleet example deploy/ansible/velorix.yml, run for real with Debian's
ansible-core against this machine (connection local) by the commands of its
README, taken from the README as they stand, in a copy of its directory
with an inventory directory in it: without the product directory on the
controller the play stops at once, naming its variable; with the example
product directory copied there as the README says, the first run
reports changes, the second none, a host's own values win over its
group's, and the directories hold exactly what direct unattended runs with
the same values leave.  After a host value changes, --check --diff names
the setting and changes nothing, and the real run then changes exactly
what it predicted; velorix_state=absent removes, in check mode nothing.
The README's run for this machine alone and its task of the module run
too, their places moved into the temporary directory.

The module velorix_setup alone: state present and absent, each in check
mode and for real, its options winning over an answer file, a file
changed by hand kept by absent and named, every path it returns
absolute; and its documentation through Ansible's module validator
(validate-modules, run as ansible-test runs it on a collection; the GPLv3
header it asks of every module is left out: the module carries the tool's
own licence).

Exit status 77 (skipped) without ansible-playbook."""
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import textwrap

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
import harness  # noqa: E402

write = harness.write_file

TOOL = os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup"))
ANSIBLE = os.path.join(harness.source_dir(), "deploy", "ansible")
LIBRARY = os.path.join(ANSIBLE, "library")
# Where the velorix-setup package puts the examples the README copies.
EXAMPLES = "/usr/share/doc/velorix-setup/examples"
VALIDATOR = ("/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/"
             "validate-modules")
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


def setting(directory, key):
    path = os.path.join(directory, ".velorixrc")
    if not os.path.exists(path):
        return None
    for line in harness.read_file(path).splitlines():
        if line.startswith(key + "="):
            return line[len(key) + 1:]
    return None


def readme_commands():
    """The commands of the README's examples (an indented line and the
    lines it continues with a backslash): the ansible-playbook runs, and
    the copy of the example product."""
    with open(os.path.join(ANSIBLE, "README.md")) as f:
        text = f.read().replace("\\\n", " ")
    lines = [line.strip() for line in text.splitlines() if line.startswith("    ")]
    return [line for line in lines
            if line.startswith("ansible-playbook ") or " " + EXAMPLES + "/" in line]


def readme_task():
    """The README's example of a task of the module: its indented block
    that begins with "- name:"."""
    with open(os.path.join(ANSIBLE, "README.md")) as f:
        blocks = re.findall(r"(?:^    .*\n)+", f.read(), re.M)
    tasks = [textwrap.dedent(b) for b in blocks if b.startswith("    - name:")]
    return tasks[0] if len(tasks) == 1 else None


def write_vars(path, values):
    """A vars file of the inventory (JSON is YAML)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    write(path, json.dumps(values, indent=2) + "\n")


def module(env, args, *extra):
    """The module alone, as an ad-hoc task: its result."""
    result = subprocess.run(
        ["ansible", "localhost", "-i", "localhost,", "-c", "local", "-M", LIBRARY,
         "-m", "velorix_setup", "-a", json.dumps(args)] + list(extra),
        env=env, capture_output=True, text=True, timeout=300)
    found = re.search(r"^localhost \| [A-Z]+!? => \{", result.stdout, re.M)
    try:
        item = json.JSONDecoder().raw_decode(result.stdout, found.end() - 1)[0]
        # Its warnings are told beside the result.
        item["told"] = " ".join((result.stdout + result.stderr).split())
        return item
    except (AttributeError, ValueError) as error:
        failures.append(f"module {args}: no result ({error!r}):\n{result.stdout[-2000:]}"
                        f"{result.stderr[-2000:]}")
        return {}


def the_module_alone(root, env, product):
    solo = os.path.join(root, "solo")
    os.makedirs(solo)
    answers = os.path.join(root, "solo.ini")
    subprocess.run([TOOL, "--dry-run", "--user", "--kernel", product, "--printer", "lpr %s",
                    "--save-answers", answers], cwd=root, env=env, capture_output=True,
                   timeout=120)
    present = {"path": solo, "executable": TOOL, "answers": answers, "printer": "lp -d solo %s"}
    result = module(env, present, "--check", "--diff")
    check("module present, check mode: changed, nothing written",
          (result.get("changed"), os.listdir(solo)), (True, []))
    result = module(env, present)
    check("module present: changed", result.get("changed"), True)
    check("module present: its option wins over the answer file",
          setting(solo, "HCPRINTER"), "lp -d solo %s")
    result = module(env, present)
    check("module present again: not changed", result.get("changed"), False)

    palette = os.path.join(solo, "palette.vpf")
    with open(palette, "a") as f:
        f.write("1 2 3\n")
    result = module(env, dict(present, changed_files="keep"))
    check("module present, changed files kept: the user's stays, the new one beside it",
          (result.get("changed"), harness.read_file(palette).endswith("1 2 3\n"),
           os.path.exists(palette + ".velorix-new")), (True, True, True))
    os.remove(palette + ".velorix-new")
    installed = snapshot(solo)
    absent = {"path": solo, "executable": TOOL, "state": "absent"}
    result = module(env, absent, "--check", "--diff")
    palette = os.path.join(solo, "palette.vpf")
    check("module absent, check mode: changed, keeps the changed file",
          (result.get("changed"), result.get("kept")), (True, [palette]))
    # Ansible wraps a warning at its width, a long path at a hyphen too.
    check("module absent, check mode: names what stays, and why",
          "".join(f"[WARNING]: kept: {palette} (changed since".split())
          in "".join(result.get("told", "").split()), True)
    check("module absent, check mode: nothing removed", snapshot(solo), installed)
    result = module(env, absent)
    check("module absent: what it removed and kept",
          (result.get("changed"), sorted(result.get("removed", [])), result.get("kept")),
          (True, [os.path.join(solo, n) for n in (".velorix-setup.sha256", ".velorixrc",
                                                   "filenums.vpf")], [palette]))
    check("module absent: the changed file stays", os.listdir(solo), ["palette.vpf"])
    result = module(env, absent)
    check("module absent again: not changed", result.get("changed"), False)

    missing = os.path.join(root, "no-such-tool")
    result = module(env, {"path": solo, "executable": missing})
    check("module without the tool: fails, saying so",
          result.get("msg", "").startswith(f"{missing} is not installed on this host"), True)


def site_defaults_by_the_role(root, env, playbook, product, work):
    """velorix_site_defaults: true writes the hosts' site defaults from the
    Full installation's values, and the working directory, whose form now
    starts from them, takes their compiler; the next run changes nothing.
    In a private mount namespace over a copy-on-write /etc, so that the
    real /etc is never touched."""
    prefix = harness.site_defaults_prefix(root, None)
    if prefix is None:
        print("test_ansible: no private mount namespace over /etc here; site defaults not run")
        return
    script = ('ansible-playbook "$@" && echo ===== && ansible-playbook "$@" && echo ===== && '
              'cat /etc/velorix-setup/defaults')
    result = subprocess.run(prefix + ["sh", "-c", script, "sh"] + playbook
                            + ["-e", "velorix_site_defaults=true"],
                            env=env, capture_output=True, text=True, timeout=600)
    parts = result.stdout.split("=====\n")
    check("site defaults: status and three parts", (result.returncode, len(parts)), (0, 3))
    if len(parts) != 3:
        print(result.stdout[-3000:], result.stderr[-2000:])
        return
    check("site defaults: the first run changes them and the working directory, the second "
          "nothing", (changed(parts[0]), changed(parts[1])), (2, 0))
    check("site defaults: the working directory takes their compiler",
          setting(work, "CPPNAME"), "false")
    check("site defaults: the product directory and the compiler",
          all(line in parts[2] for line in ('kernel = "%s"\n' % product, 'cpp-name = "false"\n')),
          True)


def validate_module(root):
    """Ansible's module validator on the module, in a collection of its
    own; what it finds, but for the GPLv3 header it asks of every module."""
    if not os.path.isdir(VALIDATOR):
        print("test_ansible: the module validator of ansible-test is not installed; not run")
        return
    collection = os.path.join(root, "collections", "ansible_collections", "velorix", "setup")
    modules = os.path.join(collection, "plugins", "modules")
    os.makedirs(modules)
    shutil.copy(os.path.join(LIBRARY, "velorix_setup.py"), modules)
    write(os.path.join(collection, "galaxy.yml"),
          "namespace: velorix\nname: setup\nversion: 1.5.0\nreadme: README.md\n"
          "authors: [Velorix developers]\n")
    program = ("import sys\nfrom validate_modules.main import main\n"
               "sys.argv[0] = 'validate-modules'\nmain()\n")
    result = subprocess.run(
        ["/usr/bin/python3", "-c", program, "--arg-spec", "--format", "plain",
         "--collection", "ansible_collections/velorix/setup", "--collection-version", "1.5.0",
         "plugins/modules/velorix_setup.py"],
        cwd=collection, capture_output=True, text=True, timeout=300,
        env=dict(os.environ, PYTHONPATH=VALIDATOR,
                 ANSIBLE_COLLECTIONS_PATH=os.path.join(root, "collections")))
    if "No module named 'voluptuous'" in result.stderr:
        print("test_ansible: the module validator needs python3-voluptuous; not run")
        return
    found = [line for line in (result.stdout + result.stderr).splitlines()
             if line.strip() and "missing-gplv3-license" not in line]
    check("validate-modules finds nothing in the module", found, [])


def main():
    if shutil.which("ansible-playbook") is None:
        print("test_ansible: ansible-playbook is not installed; skipped")
        return SKIP
    lines = readme_commands()
    commands = [shlex.split(line) for line in lines]
    by_use = {"run": ["ansible-playbook", "-i", "inventory", "velorix.yml"],
              "check": ["ansible-playbook", "-i", "inventory", "velorix.yml", "--check", "--diff"]}
    for use, command in by_use.items():
        check(f"the README shows the {use} command", command in commands, True)
    local = [c for c in commands if c[:3] == ["ansible-playbook", "-i", "localhost,"]]
    copy = [line for line in lines if not line.startswith("ansible-playbook")]
    check("the README shows a run for this machine alone and the example's copy",
          (len(local), len(copy)), (1, 1))
    if failures:
        print("\n".join("FAILED " + f for f in failures))
        return 1
    with harness.scratch_dir("vx_ansible_") as root:
        env = environment(root)
        # A fresh controller: the playbook's directory as the package has
        # it, without the product directory.
        controller = os.path.join(root, "controller")
        shutil.copytree(ANSIBLE, controller, ignore=shutil.ignore_patterns("__pycache__"))
        package = os.path.join(controller, "files", "velorix")
        product = os.path.join(root, "opt", "velorix")
        work = os.path.join(root, "home", "ann", "velorix")

        # The fleet's values for the group, and this host's own; the tool
        # is this build's, so no package is installed.
        inventory = os.path.join(controller, "inventory")
        os.makedirs(inventory)
        write(os.path.join(inventory, "hosts"),
              "[velorix_hosts]\nlocalhost ansible_connection=local\n")
        write_vars(os.path.join(inventory, "group_vars", "velorix_hosts.yml"), {
            "velorix_setup": TOOL, "velorix_setup_package": "",
            "velorix_product_dir": product, "velorix_user_dirs": [work],
            "velorix_full": {"printer": "lpr -P fleet %s", "shell_style": "ksh"},
            "velorix_user": {"printer": "lpr -P fleet %s"}})
        host_vars = os.path.join(inventory, "host_vars", "localhost.yml")
        full = {"printer": "lp -d here %s", "shell_style": "ksh"}
        write_vars(host_vars, {"velorix_full": full})

        def play(*extra, use="run"):
            return subprocess.run(by_use[use] + list(extra), cwd=controller,
                                  env=env, capture_output=True, text=True, timeout=600)

        missing = play()
        check("no product directory on the controller: the play stops at once, naming its "
              "variable", (missing.returncode != 0, "velorix_package_dir:" in missing.stdout,
                           os.path.exists(product)), (True, True, False))
        # The README's copy of the example, from this source tree.
        examples = os.path.join(harness.source_dir(), "examples")
        result = subprocess.run(["bash", "-c", copy[0].replace(EXAMPLES, examples)],
                                cwd=controller, capture_output=True, text=True, timeout=60)
        check("the README's copy of the example", (result.returncode, result.stderr), (0, ""))

        first = play()
        check("first run: status", first.returncode, 0)
        check("first run: something changed", (changed(first.stdout) or 0) > 0, True)
        check("first run: the host's value wins over the group's",
              (setting(product, "HCPRINTER"), setting(work, "HCPRINTER")),
              ("lp -d here %s", "lpr -P fleet %s"))
        second = play()
        check("second run: status", second.returncode, 0)
        check("second run: nothing changed", changed(second.stdout), 0)
        if failures:
            print(first.stdout[-3000:], first.stderr[-2000:], second.stdout[-3000:])
        by_ansible = (snapshot(product), snapshot(work))
        check("set up: the settings files are there",
              (".velorixrc" in by_ansible[0], ".velorixrc" in by_ansible[1]), (True, True))

        # Another printer for this host: the check names the setting and
        # changes nothing, not even a time; the run then changes exactly
        # the files it named.
        write_vars(host_vars, {"velorix_full": dict(full, printer="lp -d office %s")})
        before = {product: snapshot(product, True), work: snapshot(work, True)}
        preview = play("-v", use="check")
        check("--check --diff: status", preview.returncode, 0)
        check("--check --diff: shows the setting's change",
              all(text in preview.stdout for text in ("[Visual] HCPRINTER", "-lp -d here %s",
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
        write_vars(host_vars, {"velorix_full": dict(full, cpp_name="false")})
        degraded = play()
        check("failing compile: status and changed", (degraded.returncode, changed(degraded.stdout)),
              (0, 2))
        check("failing compile: no object", os.path.exists(os.path.join(product, "autodif.o")),
              False)
        again = play()
        check("failing compile, again: nothing changed", changed(again.stdout), 0)
        site_defaults_by_the_role(root, env, ["-i", inventory, os.path.join(controller, "velorix.yml")],
                                  product, work)

        # Removed: in check mode nothing goes; then the installations'
        # files go, the product's own stay; the second time nothing changes.
        installed = (snapshot(product), snapshot(work))
        preview = play("-e", "velorix_state=absent", use="check")
        check("absent, --check: status and changed", (preview.returncode, changed(preview.stdout)),
              (0, 2))
        check("absent, --check: nothing removed", (snapshot(product), snapshot(work)), installed)
        removed = play("-e", "velorix_state=absent")
        check("absent: status and changed", (removed.returncode, changed(removed.stdout)), (0, 2))
        kept = [sorted(n for n in os.listdir(d) if not n.startswith(".velorixrc.bak"))
                for d in (product, work)]
        check("absent: what stays, besides the settings backups", kept,
              [sorted(os.listdir(package)), []])
        again = play("-e", "velorix_state=absent")
        check("absent, again: nothing changed", changed(again.stdout), 0)

        # The same by hand: the package directory as the playbook puts it,
        # then one unattended run in each directory.
        shutil.rmtree(product)
        shutil.rmtree(work)
        shutil.copytree(package, product)
        os.makedirs(work)
        for directory, options in (
                (product, ["--full", "--printer", "lp -d here %s", "--shell-style", "ksh"]),
                (work, ["--user", "--kernel", product, "--printer", "lpr -P fleet %s"])):
            result = subprocess.run([TOOL, "--unattended"] + options, cwd=directory, env=env,
                                    capture_output=True, text=True, timeout=120)
            check(f"direct run in {directory}: status", result.returncode, 0)
        direct = (snapshot(product), snapshot(work))
        for name, a, b in (("product", by_ansible[0], direct[0]), ("work", by_ansible[1], direct[1])):
            differing = sorted(n for n in set(a) | set(b) if a.get(n) != b.get(n))
            check(f"{name} directory: as a direct unattended run", differing, [])

        # The README's run for this machine alone, as it stands but for
        # the places (extra values given last win) and the tool.
        places = os.path.join(root, "local.json")
        alone = (os.path.join(root, "local", "velorix"), os.path.join(root, "local", "ann"))
        write_vars(places, {"velorix_setup": TOOL, "velorix_setup_package": "",
                            "velorix_product_dir": alone[0], "velorix_user_dirs": [alone[1]]})
        result = subprocess.run(local[0] + ["-e", "@" + places], cwd=controller, env=env,
                                capture_output=True, text=True, timeout=600)
        check("the README's run for this machine alone: status and settings files",
              (result.returncode, [os.path.exists(os.path.join(d, ".velorixrc")) for d in alone]),
              (0, [True, True]))
        if result.returncode != 0:
            print(result.stdout[-3000:], result.stderr[-2000:])

        # The README's task of the module, in a play of its own beside the
        # library, with its places here and velorix-setup on the PATH.
        task = readme_task()
        check("the README shows a task of the module", task is not None, True)
        if task:
            directory = os.path.join(root, "task", "ann")
            os.makedirs(directory)
            task = task.replace("/home/ann/velorix", directory).replace("/opt/velorix", product)
            write(os.path.join(controller, "task.yml"),
                  "- hosts: localhost\n  gather_facts: false\n  tasks:\n"
                  + textwrap.indent(task, "    "))
            bindir = os.path.join(root, "bin")
            os.makedirs(bindir)
            os.symlink(TOOL, os.path.join(bindir, "velorix-setup"))
            result = subprocess.run(
                ["ansible-playbook", "-i", "localhost,", "-c", "local", "task.yml"],
                cwd=controller, capture_output=True, text=True, timeout=600,
                env=dict(env, PATH=bindir + os.pathsep + env["PATH"]))
            check("the README's task: status, changed, and its printer",
                  (result.returncode, changed(result.stdout), setting(directory, "HCPRINTER")),
                  (0, 1, "lp -d lab7 %s"))

        the_module_alone(root, env, product)
        validate_module(root)
    for f in failures:
        print("FAILED", f)
    print(f"{len(failures)} failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
