#!/usr/bin/env python3
"""The memory a run needs does not grow with what it is given.

Each case runs the tool as a child and reads its peak resident memory
(and that of its own children, diff among them) from wait4: an answer line
far longer than any field takes, through a pipe and typed on a terminal
(a pseudo-terminal, so that libedit reads it), and --check, --check --diff
and --dry-run --diff over a directory whose compile script and settings
file are far larger than anything the tool writes (sparse, so that they
cost no disk); --verify, --remove and --check over such a listed file and
over a record that is a link to /dev/zero; an installation that keeps such
a settings file as its backup.  Every run stays under 64 MiB; in a sanitizer build, whose
runtime alone takes much of that, it grows no more than that over the same
run with small input.
"""
import os
import pty
import select
import subprocess
import sys
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

TOOL = os.path.abspath(os.path.join(harness.build_dir(), harness.PROGRAM_NAME))
LIMIT_KIB = 64 * 1024
# The longest a run may take, under a sanitizer on a loaded machine too.
RUN_TIMEOUT = harness.TIMEOUT * 4
# Far longer than the longest answer (16386 characters).
PIPED_LINE = 100 * 1024 * 1024
TYPED_LINE = 4 * 1024 * 1024
# Far larger than any file the tool writes.
LARGE_FILE = 500 * 1024 * 1024
# A settings file an installation replaces, and keeps.
HUGE_SETTINGS = 1024 * 1024 * 1024


def sanitized():
    """Whether the build under test has the sanitizers in."""
    try:
        with open(os.path.join(harness.build_dir(), "CMakeCache.txt")) as f:
            return "VX_SANITIZE:BOOL=ON" in f.read()
    except OSError:
        return False


def peak_kib(argv, cwd, env, feed=()):
    """Runs argv with the pieces of feed (bytes) on its standard input; its
    exit status, output, error output and peak resident memory in KiB.
    The pieces are made as they are written: a child begins as a copy of
    this process, whose memory it would otherwise count as its own."""
    proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    got = {}

    def read(name, stream):
        with stream:
            got[name] = stream.read()

    def write():
        try:
            for piece in feed:
                proc.stdin.write(piece)
            proc.stdin.close()
        except BrokenPipeError:
            pass

    # The pipes are served while it runs, so that it never waits on them.
    threads = [threading.Thread(target=read, args=("out", proc.stdout)),
               threading.Thread(target=read, args=("err", proc.stderr)),
               threading.Thread(target=write)]
    for thread in threads:
        thread.start()
    # A run that never ends is ended, and fails the test.
    watchdog = threading.Timer(RUN_TIMEOUT, proc.kill)
    watchdog.start()
    try:
        # Reaped here, for its resource usage, rather than by Popen.
        _, status, usage = os.wait4(proc.pid, 0)
    finally:
        watchdog.cancel()
    proc.returncode = os.waitstatus_to_exitcode(status)
    for thread in threads:
        thread.join()
    return proc.returncode, got["out"], got["err"], usage.ru_maxrss


def make_product(path):
    os.makedirs(path)
    harness.write_file(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    harness.write_file(os.path.join(path, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
    harness.write_file(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")


class Memory(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_memory_")
        self.product = os.path.join(self.root, "product")
        make_product(self.product)
        self.env = harness.unattended_env()

    def tearDown(self):
        harness.remove_scratch_dir(self.root)

    def assert_small(self, peak, baseline, what):
        if sanitized():
            self.assertLess(peak - baseline, LIMIT_KIB, f"{what}: {peak} KiB, {baseline} without")
        else:
            self.assertLess(peak, LIMIT_KIB, f"{what}: {peak} KiB")

    def piped(self, length):
        """--text for a User installation, answered through a pipe with a
        line of length characters for the product directory and then the
        real one."""
        work = os.path.join(self.root, "work")
        os.makedirs(work, exist_ok=True)
        piece = 1024 * 1024

        def answers():
            yield b"\n"
            for at in range(0, length, piece):
                yield b"x" * min(piece, length - at)
            yield b"\n" + self.product.encode() + b"\n" + b"\n" * 4 + b"y\n"

        return peak_kib([TOOL, "--text"], work, self.env, feed=answers())

    def test_an_overlong_piped_answer_is_dropped_as_it_is_read(self):
        status, _, err, baseline = self.piped(8)
        self.assertEqual(status, 0, err)
        status, _, err, peak = self.piped(PIPED_LINE)
        self.assert_small(peak, baseline, "a piped answer of %d bytes" % PIPED_LINE)
        self.assertEqual(status, 0, err)
        self.assertIn(b"velorix-setup: The answer is longer than 16386 characters, which no "
                      b"answer is.\nIt has not been taken; please answer again.\n", err)

    def typed(self, line):
        """--text on a terminal: line typed as the product directory, then
        end of input once it is asked again.  The exit status and the
        peak."""
        fd, terminal = pty.openpty()
        # Spawned, not forked: a forked child would begin with this
        # process's memory and count it as its own.
        pid = os.posix_spawn(TOOL, [TOOL, "--text"], dict(self.env, TERM="xterm"), setsid=True,
                             file_actions=[(os.POSIX_SPAWN_DUP2, terminal, 0),
                                           (os.POSIX_SPAWN_DUP2, terminal, 1),
                                           (os.POSIX_SPAWN_DUP2, terminal, 2)])
        # Never blocked in a write: a tool that reads slowly ends the wait.
        os.set_blocking(fd, False)
        screen = bytearray()
        pending = b""
        reaped = []

        def ended():
            pid_, status_, usage_ = os.wait4(pid, os.WNOHANG)
            if pid_ == pid:
                reaped.append((status_, usage_))
            return reaped

        def pump(until, since=0):
            """Reads the terminal, typing what is pending, until until
            shows after since."""
            nonlocal pending
            deadline = time.monotonic() + RUN_TIMEOUT
            while until not in screen[since:]:
                if time.monotonic() > deadline or ended():
                    raise AssertionError("the terminal never showed %r: %r"
                                         % (until, bytes(screen[-300:])))
                readable, writable, _ = select.select([fd], [fd] if pending else [], [], 0.1)
                if readable:
                    try:
                        screen.extend(os.read(fd, 65536))
                    except (BlockingIOError, OSError):
                        pass
                if writable:
                    try:
                        pending = pending[os.write(fd, pending[:4096]):]
                    except BlockingIOError:
                        pass

        def answer(text):
            """Types text once libedit reads the terminal character by
            character: it shows the prompt before it leaves the line mode,
            which would take a Ctrl-D typed meanwhile for an empty line's
            end and lose it."""
            nonlocal pending
            harness.wait_for(lambda: not termios.tcgetattr(terminal)[3] & termios.ICANON,
                             "the tool reads the terminal", timeout=RUN_TIMEOUT)
            pending = text

        try:
            pump(b"[User]: ")
            answer(b"\r")
            pump(b"VELORIX directory: ")
            asked = len(screen)
            answer(line + b"\r")
            # The line ends with the message that refuses it; libedit may
            # draw the prompt again while the line is typed.
            pump(b"velorix-setup: ", since=asked)
            pump(b"VELORIX directory: ", since=screen.index(b"velorix-setup: ", asked))
            answer(b"\x04")
            os.write(fd, pending)
            harness.wait_for(ended, "the tool ends at end of input", timeout=RUN_TIMEOUT)
            status, usage = reaped[0]
        finally:
            if not reaped:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
            os.close(fd)
            os.close(terminal)
        return os.waitstatus_to_exitcode(status), usage.ru_maxrss

    def test_an_overlong_typed_answer_is_dropped_as_it_is_read(self):
        status, baseline = self.typed(b"/nowhere")
        self.assertEqual(status, 1)
        status, peak = self.typed(b"x" * TYPED_LINE)
        self.assertEqual(status, 1)
        self.assert_small(peak, baseline, "a typed answer of %d bytes" % TYPED_LINE)

    def test_a_check_never_reads_a_huge_file_whole(self):
        run = [TOOL, "--unattended", "--full"]
        status, _, err, _ = peak_kib(run, self.product, self.env)
        self.assertEqual(status, 0, err)
        baselines = {}
        modes = (["--check"], ["--check", "--diff"], ["--dry-run", "--diff"])
        for mode in modes:
            status, _, err, baselines[tuple(mode)] = peak_kib(
                [TOOL, "--full", "--printer", "lp %s"] + mode, self.product, self.env)
            self.assertEqual(status, 1 if mode[0] == "--check" else 0, err)
        for name in ("CompRhs", ".velorixrc"):
            with open(os.path.join(self.product, name), "r+b") as f:
                f.truncate(LARGE_FILE)
        for mode in modes:
            status, out, err, peak = peak_kib([TOOL, "--full", "--printer", "lp %s"] + mode,
                                              self.product, self.env)
            self.assertEqual(status, 1 if mode[0] == "--check" else 0, err)
            if "--diff" in mode:
                self.assertEqual(out.count(b": holds %d bytes, far more than the installation "
                                           b"writes; its lines are not shown\n" % LARGE_FILE), 2)
            self.assert_small(peak, baselines[tuple(mode)], " ".join(mode))
        self.assertIn(f"{self.product}/CompRhs: holds".encode(), out)
        self.assertIn(f"{self.product}/.velorixrc: holds".encode(), out)

    def test_the_record_and_its_files_are_read_a_piece_at_a_time(self):
        status, _, err, _ = peak_kib([TOOL, "--unattended", "--full"], self.product, self.env)
        self.assertEqual(status, 0, err)
        runs = {("--verify",): 0, ("--remove", "--dry-run"): 0, ("--check", "--full"): 0}
        baselines = {}
        for run, status in runs.items():
            got, _, err, baselines[run] = peak_kib([TOOL, *run], self.product, self.env)
            self.assertEqual(got, status, err)
        with open(os.path.join(self.product, "CompRhs"), "r+b") as f:
            f.truncate(LARGE_FILE)
        for run in runs:
            status, _, err, peak = peak_kib([TOOL, *run], self.product, self.env)
            self.assertEqual(status, 1, err)
            self.assert_small(peak, baselines[run], " ".join(run) + " over a huge listed file")
        record = os.path.join(self.product, ".velorix-setup.sha256")
        os.remove(record)
        os.symlink("/dev/zero", record)
        for run, status in {("--verify",): 2, ("--remove", "--dry-run"): 2, ("--check", "--full"): 1,
                            ("--remove",): 2}.items():
            got, _, err, peak = peak_kib([TOOL, *run], self.product, self.env)
            self.assertEqual(got, status, err)
            self.assert_small(peak, baselines.get(run, baselines[("--verify",)]),
                              " ".join(run) + " over a record linked to /dev/zero")

    def test_a_huge_settings_file_is_kept_a_piece_at_a_time(self):
        run = [TOOL, "--unattended", "--full", "--printer", "lp %s"]
        status, _, err, baseline = peak_kib(run, self.product, self.env)
        self.assertEqual(status, 0, err)
        settings = os.path.join(self.product, ".velorixrc")
        with open(settings, "r+b") as f:
            f.truncate(HUGE_SETTINGS)
        status, _, err, peak = peak_kib(run, self.product, self.env)
        self.assertEqual(status, 0, err)
        self.assert_small(peak, baseline, "a run over %d bytes of settings" % HUGE_SETTINGS)
        backup = os.stat(settings + ".bak")
        self.assertEqual(backup.st_size, HUGE_SETTINGS)
        # Kept sparse, as it was: its zeros cost no disk.
        self.assertLess(backup.st_blocks * 512, LARGE_FILE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
