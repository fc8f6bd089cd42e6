#!/usr/bin/env python3
"""Fault injection: velorix-setup --unattended --full under a full disk, a
device that refuses writes, kills at every write, two runs at once, and the
inputs that once broke it.

Each case asserts: no hang, no exit status 0 over a result that differs
from a clean run, no file of the user's lost, a run that stops (exit status
1) leaves every file as it was, and a re-run (with the fault gone) that
leaves exactly what a clean run leaves, byte for byte and mode for mode.

Needs root for the small tmpfs that fills up (it runs in a private mount
namespace: scripts/test.sh gives it one, scripts/faults.sh makes its own)
and strace for the kills.  Prints the figures of the run; exit status 1 when
any case failed, 77 when it cannot run here.

  faults.py [--quick]     --quick: every fourth kill point and fill level
"""
import hashlib
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
import harness  # noqa: E402

write = harness.write_file

TOOL = os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup"))
RUN_TIMEOUT = 60          # seconds; a run that takes longer has hung
SKIP = 77                 # CTest's skip status for this test
PAGE = 4096               # tmpfs counts whole pages
# The syscalls that change files: the kill sweep stops the run at each of
# their invocations in turn.
MUTATIONS = ("write", "pwrite64", "writev", "rename", "renameat", "renameat2", "link",
             "linkat", "unlink", "unlinkat", "fsync", "fchmod", "chmod", "ftruncate",
             "mkdir", "rmdir", "flock")

USER_SETTINGS = "[Mine]\nKEY=the user's own\n"
# A compile that fails is reported and turns symbolic differentiation off;
# the rest of the installation stands (exit status 0).
COMPILE_FAILED = "Cannot compile autodif.cc."
USER_NAMES = "alpha\nbeta\n"
SLOW_COMPILE = 2          # seconds the slow compiler takes

figures = {"fill levels tried": 0, "kill points tried": 0, "false successes": 0,
           "user files lost": 0, "stops that changed a file": 0, "re-runs that differ from a clean run": 0, "hangs": 0,
           "cases": 0, "files written after the run": 0, "stops": 0, "stops reached": 0}
failures = []


def fail(case, what):
    failures.append(f"{case}: {what}")


# ---- the product directory and the tool -----------------------------------

def make_product(path, bin_dir, user_files):
    """A product directory.  With user_files it also holds what a user may
    have there already: settings of their own, a names file, and files
    named like the notice's scratch files."""
    os.makedirs(path)
    write(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    write(os.path.join(path, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
    write(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")
    if user_files:
        write(os.path.join(path, ".velorixrc"), USER_SETTINGS, 0o600)
        write(os.path.join(path, "filenums.vpf"), USER_NAMES)
        for name in ("del1", "del2", "del3"):
            write(os.path.join(path, name), f"the user's {name}\n")


def make_bin(path):
    """A stand-in compiler that writes a 40 KiB object in pieces (so that a
    kill can fall inside it), and a mail command that reads the notice."""
    os.makedirs(path)
    # A real object, whose section table at its end only the last piece
    # brings: a piece of it is no object.
    with open(os.path.join(path, "fakecc.o"), "wb") as f:
        f.write(harness.relocatable_object(10 * 4096))
    write(os.path.join(path, "fakecc"),
          "#!/bin/sh\n"
          "out=\n"
          "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
          "i=0\n"
          "while [ $i -lt 10 ]; do\n"
          "  dd if=\"$0.o\" bs=4096 skip=$i count=1 status=none >>\"$out\" || exit 1\n"
          "  i=$((i+1))\n"
          # Told to, it dies half-way with its whole process group.
          "  if [ $i = 5 ] && [ -e \"$0.kill\" ]; then kill -KILL 0; fi\n"
          "done\n",
          0o755)
    write(os.path.join(path, "mail"), "#!/bin/sh\ncat >/dev/null\n", 0o755)
    # A slow compiler: says it has started (with its process id), and
    # writes its object (and a file of its own beside it) only after a
    # while.
    write(os.path.join(path, "slowcc"),
          "#!/bin/sh\n"
          "out=\n"
          "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
          "echo $$ >\"$0.starting\" && mv \"$0.starting\" \"$0.started\"\n"
          f"sleep {SLOW_COMPILE}\n"
          "echo late >\"$out\"; echo late >late-from-the-compiler\n",
          0o755)


def environment(bin_dir):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["SHELL"] = "/bin/sh"
    env["PATH"] = bin_dir + ":" + env.get("PATH", "/usr/bin:/bin")
    return env


def tool_args(bin_dir):
    return ["--unattended", "--full", "--shell-style", "ksh", "--shell-path", "/bin/sh ",
            "--cpp-name", os.path.join(bin_dir, "fakecc")]


def run(args, cwd, env, prefix=()):
    """Runs the tool in a process group of its own, ends whatever is left
    of that group afterwards, and returns (status, stderr); status None
    when it hung."""
    proc = subprocess.Popen(list(prefix) + [TOOL] + args, cwd=cwd, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    try:
        _, err = proc.communicate(timeout=RUN_TIMEOUT)
        status = proc.returncode
    except subprocess.TimeoutExpired:
        status, err = None, ""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()
    return status, err


# ---- what is on disk ------------------------------------------------------

def snapshot(root):
    """Every entry below root: a regular file as (mode, bytes), a link as
    ("link", target), a directory as ("dir", mode)."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            st = os.lstat(path)
            if stat.S_ISLNK(st.st_mode):
                found[rel] = ("link", os.readlink(path))
            elif stat.S_ISDIR(st.st_mode):
                found[rel] = ("dir", stat.S_IMODE(st.st_mode))
            else:
                with open(path, "rb") as f:
                    found[rel] = (stat.S_IMODE(st.st_mode), f.read())
    return found


def snapshot_exact(root):
    """snapshot(), each regular file with its owner and time as well."""
    found = snapshot(root)
    for rel, entry in found.items():
        if entry[0] not in ("link", "dir"):
            st = os.lstat(os.path.join(root, rel))
            found[rel] = entry + (st.st_uid, st.st_gid, st.st_mtime_ns)
    return found


def differences(got, expected):
    names = sorted(set(got) | set(expected))
    return [n for n in names if got.get(n) != expected.get(n)]


def user_files_lost(before, after):
    """The user's files of before that are gone from after; their settings
    may have moved to a backup."""
    lost = []
    for name, entry in before.items():
        if name in ("velorix", "classes.vel", "autodif.cc"):
            continue
        if name == ".velorixrc":
            kept = [n for n, e in after.items()
                    if n.startswith(".velorixrc") and e[1:] == entry[1:]]
            if not kept:
                lost.append(name)
        elif after.get(name) != entry:
            lost.append(name)
    return lost


def half_written(after, clean, before):
    """Files under a final name that hold neither what a clean run writes
    there nor what was there before the run."""
    broken = []
    for name, entry in after.items():
        if name in clean and entry != clean[name] and entry != before.get(name):
            if entry[0] == "dir":
                continue
            # The settings file kept as a backup holds the user's own.
            broken.append(name)
    return broken


# ---- one faulted run and its re-run --------------------------------------

class Scene:
    """One starting state, made afresh at a fixed place for every case, and
    what a clean run leaves there (the paths written into the files depend
    on the place)."""

    def __init__(self, root, bin_dir, user_files):
        self.root, self.bin_dir, self.user_files = root, bin_dir, user_files
        self.env = environment(bin_dir)
        self.args = tool_args(bin_dir)
        self.clean = {}

    def fresh(self, base=None):
        path = os.path.join(base or self.root, "product")
        shutil.rmtree(path, ignore_errors=True)
        make_product(path, self.bin_dir, self.user_files)
        if path not in self.clean:
            status, err = run(self.args, path, self.env)
            if status != 0:
                raise SystemExit(f"the clean run failed ({status}):\n{err}")
            self.clean[path] = snapshot(path)
            shutil.rmtree(path)
            make_product(path, self.bin_dir, self.user_files)
        return path

    def judge(self, case, product, status, err, repair=None):
        """Checks a faulted run, repairs the fault, re-runs and checks that."""
        figures["cases"] += 1
        clean = self.clean[product]
        before = snapshot_of_start(self)
        after = snapshot(product)
        degraded = COMPILE_FAILED in err and degraded_only(after, clean)
        if status is None:
            figures["hangs"] += 1
            fail(case, "hung")
        elif status == 0 and differences(after, clean) and not degraded:
            figures["false successes"] += 1
            fail(case, f"status 0, but differs from a clean run in {differences(after, clean)}")
        lost = user_files_lost(before, after)
        if lost:
            figures["user files lost"] += 1
            fail(case, f"user files lost: {lost}")
        broken = [] if degraded else half_written(after, clean, before)
        if broken:
            fail(case, f"half-written files under their final names: {broken}")
        # A run that stops puts nothing of itself in place.
        if status == 1 and differences(after, before):
            figures["stops that changed a file"] += 1
            fail(case, f"stopped, but changed {differences(after, before)}")
        if status == 1 and not err.strip():
            fail(case, "status 1 without a message")
        if repair:
            repair()
        status2, err2 = run(self.args, product, self.env)
        again = snapshot(product)
        # A re-run after a reported, degraded installation keeps the
        # settings that one left, as it keeps any it replaces: as the
        # newest backup, the older ones one name further on.
        if degraded and ".velorixrc" in after:
            again = without_newest_backup(again, after[".velorixrc"])
        if status2 != 0 or differences(again, clean):
            figures["re-runs that differ from a clean run"] += 1
            fail(case, f"re-run: status {status2}, differs in {differences(again, clean)}"
                       f"\n{err2}")
        shutil.rmtree(product, ignore_errors=True)


RECORD = ".velorix-setup.sha256"


def record_holds(files):
    """Whether the record of the installation among files lists each file
    with the digest of what it holds."""
    if RECORD not in files:
        return False
    for line in files[RECORD][1].decode().splitlines():
        if line.startswith("#"):
            continue
        digest, name = line.split("  ", 1)
        name = os.path.normpath(name)
        if name not in files or hashlib.sha256(files[name][1]).hexdigest() != digest:
            return False
    return True


def without_newest_backup(files, settings):
    """files as they were before a run kept settings as the newest backup
    of the settings file: that backup gone, and each older one back under
    the name before its own."""
    newest = ".velorixrc.bak"
    if files.get(newest) != settings:
        return files
    kept = {n: e for n, e in files.items() if not n.startswith(newest)}
    older = sorted(int(n[len(newest) + 1:]) for n in files if n.startswith(newest + "."))
    for number in older:
        kept[newest if number == 1 else f"{newest}.{number - 1}"] = files[f"{newest}.{number}"]
    return kept


def degraded_only(after, clean):
    """Whether after is the clean result but for a compile that failed and
    was reported: no object (nor the record of its command), and symbolic
    differentiation turned off; the record of the installation says so."""
    diff = differences(after, clean)
    if not set(diff) <= {"autodif.o", ".autodif.o.cmd", ".velorixrc", RECORD} \
            or "autodif.o" in after or ".autodif.o.cmd" in after:
        return False
    if RECORD in diff and not record_holds(after):
        return False
    if ".velorixrc" not in diff:
        return True
    if ".velorixrc" not in after:
        return False
    got = after[".velorixrc"][1].decode().splitlines()
    want = clean[".velorixrc"][1].decode().splitlines()
    changed = [(g, w) for g, w in zip(got, want) if g != w]
    return len(got) == len(want) and all(g == "AUTODIFOPT=-" for g, _ in changed)


_starts = {}


def snapshot_of_start(scene):
    key = scene.user_files
    if key not in _starts:
        path = os.path.join(scene.root, "start")
        make_product(path, scene.bin_dir, scene.user_files)
        _starts[key] = snapshot(path)
        shutil.rmtree(path)
    return _starts[key]


# ---- the cases ------------------------------------------------------------

def disk_full(scene, step):
    """A tmpfs filled up to a free-space level, from none to enough."""
    mount = os.path.join(scene.root, "tmpfs")
    os.makedirs(mount, exist_ok=True)
    scene.clean.pop(os.path.join(mount, "product"), None)
    size = 2 * 1024 * 1024
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=755", "tmpfs", mount],
                   check=True)
    try:
        # The most a run needs at once, measured on an empty tmpfs.
        product = scene.fresh(mount)
        free_before = shutil.disk_usage(mount).free
        run(scene.args, product, scene.env)
        needed = free_before - shutil.disk_usage(mount).free
        shutil.rmtree(product)
        levels = range(0, needed + 16 * PAGE, PAGE * step)
        for free in levels:
            figures["fill levels tried"] += 1
            product = scene.fresh(mount)
            filler = os.path.join(mount, "filler")
            room = shutil.disk_usage(mount).free - free
            with open(filler, "wb") as f:
                f.write(b"\0" * max(room, 0))
            status, err = run(scene.args, product, scene.env)
            scene.judge(f"disk full, {free // 1024} KiB free ({scene_name(scene)})", product,
                        status, err, repair=lambda: os.unlink(filler))
    finally:
        subprocess.run(["umount", "-l", mount])


def kills(scene, step):
    """Kills the tool at each invocation of each syscall that changes a
    file, and then its whole process group (the compiler among it)."""
    product = scene.fresh()
    log = os.path.join(scene.root, "trace")
    # Traced without -f: the counts are the tool's own, as the injection's
    # are.
    run(scene.args, product, scene.env,
        prefix=["strace", "-qq", "-o", log, "-e", "trace=" + ",".join(MUTATIONS)])
    counts = {}
    with open(log) as f:
        for line in f:
            name = line.split("(", 1)[0].strip()
            if name in MUTATIONS:
                counts[name] = counts.get(name, 0) + 1
    shutil.rmtree(product)
    for name, count in sorted(counts.items()):
        for n in range(1, count + 1, step):
            figures["kill points tried"] += 1
            product = scene.fresh()
            status, err = run(scene.args, product, scene.env,
                              prefix=["strace", "-qq", "-o", "/dev/null", "-e",
                                      f"inject={name}:signal=SIGKILL:when={n}"])
            scene.judge(f"killed at {name} #{n} ({scene_name(scene)})", product,
                        None if status is None else (status if status >= 0 else 137), err)


def killed_compiler(scene):
    """The compiler writes half an object and kills the whole group: no
    object may be left that a later run trusts."""
    signal_file = os.path.join(scene.bin_dir, "fakecc.kill")
    product = scene.fresh()
    write(signal_file, "")
    try:
        status, err = run(scene.args, product, scene.env)
    finally:
        os.unlink(signal_file)
    scene.judge(f"compiler killed half-way ({scene_name(scene)})", product,
                None if status is None else (status if status >= 0 else 137), err)


def running(pid):
    """Whether process pid is there and not yet a zombie."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return False
    return state != "Z"


def killed_during_slow_compile(scene):
    """The tool alone is killed while a slow compiler runs, and run again at
    once: nothing the old compiler writes may land in the directory."""
    product = scene.fresh()
    started = os.path.join(scene.bin_dir, "slowcc.started")
    if os.path.exists(started):
        os.unlink(started)
    args = [a if a != os.path.join(scene.bin_dir, "fakecc") else os.path.join(scene.bin_dir, "slowcc")
            for a in scene.args]
    proc = subprocess.Popen([TOOL] + args, cwd=product, env=scene.env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    case = f"tool killed during a slow compile, run again at once ({scene_name(scene)})"
    try:
        harness.wait_for(lambda: os.path.exists(started) or proc.poll() is not None,
                         "the slow compiler starts", timeout=RUN_TIMEOUT)
        proc.kill()
        proc.wait()
        status, err = run(scene.args, product, scene.env)
        ended = snapshot(product)
        # Whatever the old compiler writes, it has written once it has
        # ended: at once if the tool's death ended it too, after its
        # SLOW_COMPILE seconds if not.
        if os.path.exists(started):
            with open(started) as f:
                compiler = int(f.read())
            harness.wait_for(lambda: not running(compiler),
                             "the slow compiler of the killed run ends", timeout=RUN_TIMEOUT)
        later = snapshot(product)
    finally:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    figures["cases"] += 1
    if later != ended:
        figures["files written after the run"] += 1
        fail(case, f"written after the run ended: {differences(later, ended)}")
    if status != 0 or differences(later, scene.clean[product]):
        figures["re-runs that differ from a clean run"] += 1
        fail(case, f"re-run: status {status}, differs in {differences(later, scene.clean[product])}"
                   f"\n{err}")
    shutil.rmtree(product, ignore_errors=True)


def full_device(scene):
    """Outputs that are links to /dev/full: refused at once, never a hang."""
    for name in (".velorixrc", "palette.vpf", "CompRhs"):
        product = scene.fresh()
        if os.path.lexists(os.path.join(product, name)):
            shutil.rmtree(product)
            continue  # the user's own file: not to be replaced by a link here
        os.symlink("/dev/full", os.path.join(product, name))
        start = time.monotonic()
        status, err = run(scene.args, product, scene.env)
        case = f"{name} a link to /dev/full ({scene_name(scene)})"
        if status is not None and time.monotonic() - start > RUN_TIMEOUT / 2:
            fail(case, "took too long")
        if status == 0:
            figures["false successes"] += 1
            fail(case, "status 0")
        figures["cases"] += 1
        os.unlink(os.path.join(product, name))
        scene.judge(case, product, 1 if status == 0 else status, err)


def concurrent_pairs(scene, pairs=4):
    for i in range(pairs):
        product = scene.fresh()
        procs = [subprocess.Popen([TOOL] + scene.args, cwd=product, env=scene.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                 for _ in range(2)]
        results = []
        for p in procs:
            try:
                _, err = p.communicate(timeout=RUN_TIMEOUT)
                results.append((p.returncode, err))
            except subprocess.TimeoutExpired:
                p.kill()
                results.append((None, ""))
        case = f"two runs at once #{i + 1} ({scene_name(scene)})"
        figures["cases"] += 1
        after = snapshot(product)
        clean = scene.clean[product]
        if any(s is None for s, _ in results):
            figures["hangs"] += 1
            fail(case, "hung")
        if any(s == 0 for s, _ in results) and differences(after, clean):
            figures["false successes"] += 1
            fail(case, f"differs from a clean run in {differences(after, clean)}")
        for s, err in results:
            if s not in (0, None) and "Another installation is running" not in err:
                fail(case, f"status {s}: {err}")
        shutil.rmtree(product)


def inputs_that_once_broke_it(root, bin_dir):
    """A product directory with shell text, an overlong SHELL, an overlong
    product directory, settings reached through a link, and the user's
    files named like the notice's scratch files."""
    env = environment(bin_dir)

    def case(name, ok):
        figures["cases"] += 1
        if not ok:
            fail(name, "failed")

    shell_text = os.path.join(root, "a;touch INJECTED;b")
    make_product(shell_text, bin_dir, False)
    before = snapshot(shell_text)
    status, _ = run(tool_args(bin_dir) + ["--kernel", shell_text], shell_text, env)
    case("shell text in the product directory: refused",
         status not in (0, None) and snapshot(shell_text) == before
         and not os.path.exists(os.path.join(root, "INJECTED")))

    product = os.path.join(root, "longshell")
    make_product(product, bin_dir, False)
    args = [a for a in tool_args(bin_dir) if a not in ("--shell-path", "/bin/sh ")]
    status, err = run(args, product, dict(env, SHELL="/bin/" + "s" * 1000))
    compile_script = os.path.join(product, "CompRhs")
    case("SHELL of 1,000 characters: not installed as if all were well",
         status not in (0, None) and not os.path.exists(compile_script))

    # About 230 characters: short enough for its settings line, too long
    # for the compile line once expanded, wherever the scratch space lies.
    product = os.path.join(root, "p" * max(1, 230 - len(root) - 1))
    make_product(product, bin_dir, False)
    before = snapshot(product)
    status, err = run(tool_args(bin_dir), product, env)
    case("product directory too long for the compile line: refused, nothing written",
         status not in (0, None) and snapshot(product) == before and "shorten" in err)

    product = os.path.join(root, "linked")
    make_product(product, bin_dir, False)
    private = os.path.join(root, "private-settings")
    write(private, USER_SETTINGS, 0o600)
    os.symlink(private, os.path.join(product, ".velorixrc"))
    status, _ = run(tool_args(bin_dir), product, env)
    case("settings through a link: installed, the link kept, the file still private",
         status == 0 and os.path.islink(os.path.join(product, ".velorixrc"))
         and stat.S_IMODE(os.stat(private).st_mode) == 0o600)

    product = os.path.join(root, "scratchnames")
    make_product(product, bin_dir, True)
    status, _ = run(tool_args(bin_dir) + ["--notify"], product, env)
    case("the user's del1, del2, del3: untouched by the notice",
         status == 0 and all(open(os.path.join(product, n)).read() == f"the user's {n}\n"
                             for n in ("del1", "del2", "del3")))


def stops(root, bin_dir):
    """Every way the procedure stops, each reached with the user's own
    settings in the directory: the message is shown, the status is not 0,
    and every file of the directory is left as it was: bytes, mode, owner
    and time."""
    env = environment(bin_dir)
    args = tool_args(bin_dir)

    def obstacle(name, make, *gone):
        def prepare(product):
            for other in (name,) + gone:
                if os.path.exists(os.path.join(product, other)):
                    os.unlink(os.path.join(product, other))
            if make is not None:
                make(os.path.join(product, name))
        return prepare

    def hold_lock(product):
        import fcntl
        held = open(os.path.join(product, ".velorix-setup.lock"), "w")
        fcntl.flock(held, fcntl.LOCK_EX)
        return held

    def immutable(product):
        # Even root cannot write in it; the lock file of an earlier
        # version is there already, as a run of it left it.
        write(os.path.join(product, ".velorix-setup.lock"), "")
        subprocess.run(["chattr", "+i", product], check=True)
        return lambda: subprocess.run(["chattr", "-i", product])

    def given(option, value):
        """The run's options with option set to value."""
        changed = list(args)
        if option in changed:
            changed[changed.index(option) + 1] = value
        else:
            changed += [option, value]
        return changed

    cases = [
        ("no product directory", ["--unattended", "--user"], None,
         "Specify full path to the VELORIX's home directory"),
        ("no executable in it", args + ["--kernel", os.path.join(root, "nowhere")], None,
         "does not contain VELORIX executable"),
        ("a field refused", given("--previewer", "~/bin/gv"), None, "must not contain '~'"),
        ("a compile command too long",
         given("--cpp-name", "c" * 240) + ["--cpp-options", " -O2" + " -g" * 78], None,
         "The C++ compiler name and options are too long"),
        ("no C++ compiler", given("--cpp-name", " "), None, "' is empty:"),
        ("no shell path", given("--shell-path", " "), None, "' is empty:"),
        ("a reference that does not resolve", given("--libs", "$(No.WHERE)"), None,
         "holds a reference that the settings cannot resolve"),
        ("another run holds the lock", args, hold_lock, "Another installation is running"),
        ("the lock file cannot be made", args, obstacle(".velorix-setup.lock", os.mkdir),
         "Cannot create the lock file"),
        ("a directory nobody can write", args, immutable,
         "Cannot open settings file './.velorixrc'"),
        ("a former names file that is no file", args,
         obstacle("filenums.vel", os.mkdir, "filenums.vpf"),
         "The names file of an earlier version"),
        ("the names file cannot be made", args, obstacle("filenums.vpf", os.mkdir),
         "Cannot open file './filenums.vpf'"),
        ("the interface strings cannot be written", args, obstacle("init.vpf", os.mkdir),
         "Cannot open file"),
        ("the compile script cannot be opened", args, obstacle("CompRhs", os.mkdir),
         "Cannot open batch file for compiler"),
        ("the system header cannot be written", args, obstacle("vel_sys.h", os.mkdir),
         "Cannot open file"),
        ("the object cannot be put in place", args, obstacle("autodif.o", os.mkdir),
         "Cannot open file 'autodif.o'"),
        ("the visuals file stays", args,
         obstacle("visuals.vpf", lambda p: (os.mkdir(p), write(os.path.join(p, "x"), ""))),
         "Cannot remove file"),
        ("the palette cannot be written", args, obstacle("palette.vpf", os.mkdir),
         "Cannot open file"),
        ("no class description file", args,
         obstacle("classes.vel", None), "Cannot open class description file"),
    ]
    for name, run_args, prepare, message in cases:
        figures["stops"] += 1
        product = os.path.join(root, "stop")
        shutil.rmtree(product, ignore_errors=True)
        make_product(product, bin_dir, True)
        undo = prepare(product) if prepare else None
        before = snapshot_exact(product)
        try:
            status, err = run(run_args, product, env)
        finally:
            if callable(undo):
                undo()
            elif undo is not None:
                undo.close()
        case = f"stop: {name}"
        figures["cases"] += 1
        after = snapshot_exact(product)
        if status in (0, None):
            fail(case, f"status {status}")
        elif message not in err:
            fail(case, f"not told {message!r}:\n{err}")
        else:
            figures["stops reached"] += 1
        if after != before:
            figures["stops that changed a file"] += 1
            fail(case, f"changed what the directory had: {differences(after, before)}")
        shutil.rmtree(product, ignore_errors=True)


def scene_name(scene):
    return "with the user's files" if scene.user_files else "fresh directory"


def main():
    quick = "--quick" in sys.argv[1:]
    if os.geteuid() != 0:
        print("faults: needs root (a tmpfs to fill); skipped")
        return SKIP
    if shutil.which("strace") is None:
        print("faults: needs strace; skipped")
        return SKIP
    step = 4 if quick else 1
    with harness.scratch_dir("vx_faults_") as root:
        # The tool's scratch files and ours stay on this file system.
        bin_dir = os.path.join(root, "bin")
        make_bin(bin_dir)
        for user_files in (False, True):
            scene = Scene(root, bin_dir, user_files)
            disk_full(scene, step)
            kills(scene, step)
            killed_compiler(scene)
            killed_during_slow_compile(scene)
            full_device(scene)
            concurrent_pairs(scene)
        inputs_that_once_broke_it(root, bin_dir)
        stops(root, bin_dir)
    for name in ("fill levels tried", "kill points tried", "cases", "false successes",
                 "user files lost", "stops that changed a file", "re-runs that differ from a clean run", "hangs",
                 "files written after the run", "stops", "stops reached"):
        print(f"{name}: {figures[name]}")
    for f in failures[:40]:
        print("FAILED", f)
    if len(failures) > 40:
        print(f"... and {len(failures) - 40} more")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
