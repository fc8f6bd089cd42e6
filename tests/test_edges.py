#!/usr/bin/env python3
"""The command line at the edges a careful user or an operator reaches:
values that would not read back as typed, references that do not resolve,
a former names file that is not a file, input files that are not files or
are too large, a log or saved answers that cannot take what they are
given, a NUL byte in a value or in a file compared, and a run as root in a
user's directory: the files it makes are the user's, and the links the
user planted there give it no more reach than the user has.  Every case ends with a message naming what is wrong and
where, and never with status 0 over a changed value or with the
directory's settings replaced.
"""
import fcntl
import os
import signal
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

MINE = "[Mine]\nKEY=the user's own\n"


def make_product(path):
    os.makedirs(path)
    harness.write_file(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    harness.write_file(os.path.join(path, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
    harness.write_file(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")
    # The user's own settings, private: every stop must leave them as they are.
    harness.write_file(os.path.join(path, ".velorixrc"), MINE, 0o600)


def settings_as_they_were(test, product):
    path = os.path.join(product, ".velorixrc")
    test.assertEqual(harness.read_file(path), MINE)
    test.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)


class Edges(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_edges_")
        self.product = os.path.join(self.root, "product")
        make_product(self.product)

    def tearDown(self):
        harness.remove_scratch_dir(self.root)

    def run_tool(self, args):
        return harness.run_tool(args, self.product)

    def test_marks_in_a_field_are_refused_by_every_mode_with_the_option(self):
        for option, value, mark in (("--previewer", "~/bin/gv %s", "'~'"),
                                    ("--printer", "lpr `x` %s", "'`'"),
                                    ("--cpp-options", " -O2 -DA=~", "'~'")):
            for mode in (["--unattended"], ["--dry-run"], ["--check"]):
                result = self.run_tool(mode + ["--full", option, value])
                self.assertEqual(result.returncode, 2, (mode, option, result.stderr))
                self.assertIn(f"must not contain {mark}", result.stderr)
                self.assertTrue(result.stderr.endswith(f"  option: {option}\n"), result.stderr)
        settings_as_they_were(self, self.product)

    def test_a_reference_must_resolve_and_one_that_does_is_kept(self):
        answers = os.path.join(self.root, "answers.ini")
        harness.write_file(answers, '[form]\nkind = full\n\ninclude = "-I$(X.Y)"\n')
        for mode in (["--unattended"], ["--dry-run"]):
            for given in (["--include", "-I$(X.Y)"], ["--answers", answers]):
                result = self.run_tool(mode + ["--full"] + given)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("The text of the field 'C compiler: Include' holds a reference that "
                              "the settings cannot resolve:\n$(X.Y)\n", result.stderr)
                self.assertIn("option: --include", result.stderr)
                self.assertNotIn("'TMP'", result.stderr)
                # Named by its line where an answer file gave it.
                self.assertEqual(f"  {answers}:4: the value of include\n" in result.stderr,
                                 given[0] == "--answers", result.stderr)
        settings_as_they_were(self, self.product)
        self.assertEqual(sorted(os.listdir(self.product)),
                         [".velorixrc", "autodif.cc", "classes.vel", "velorix"])
        result = self.run_tool(["--unattended", "--full", "--include", "-I$(Paths.KERNEL)inc"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("INCLUDE=-I$(Paths.KERNEL)inc -I" + self.product + "/\n",
                      harness.read_file(os.path.join(self.product, ".velorixrc")))

    def test_a_former_names_file_that_is_no_file_stops_the_run(self):
        former = os.path.join(self.product, "filenums.vel")
        for make, what in ((os.mkdir, "a directory"),
                           (lambda p: os.symlink("/nowhere/at/all", p), "a link to nothing"),
                           (lambda p: os.symlink("/dev/null", p), "not a regular file")):
            make(former)
            result = self.run_tool(["--unattended", "--full"])
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn(f"The names file of an earlier version, './filenums.vel', is {what}.",
                          result.stderr)
            self.assertFalse(os.path.lexists(os.path.join(self.product, "filenums.vpf")))
            self.assertTrue(os.path.lexists(former))
            settings_as_they_were(self, self.product)
            if os.path.isdir(former) and not os.path.islink(former):
                os.rmdir(former)
            else:
                os.unlink(former)

    def test_input_files_that_are_no_files_are_refused_at_once(self):
        fifo = os.path.join(self.root, "answers.fifo")
        os.mkfifo(fifo)
        big = os.path.join(self.root, "big.ini")
        with open(big, "w") as f:
            f.write("; " + "x" * (1 << 20) + "\n")
        for answers in ("/dev/zero", fifo, self.root, big):
            result = harness.run_tool(["--unattended", "--answers", answers], self.product,
                                      timeout=20)
            self.assertEqual(result.returncode, 2, answers)
            self.assertIn(f"velorix-setup: {answers}: cannot be read (it ", result.stderr)
        os.mkdir(os.path.join(self.product, "shells.vel"))
        result = self.run_tool(["--dry-run", "--full"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("The shell list file shells.vel is not a regular file; it was not read.",
                      result.stderr)
        settings_as_they_were(self, self.product)

    def test_description_files_that_are_no_files_are_not_read(self):
        classes = os.path.join(self.product, "classes.vel")
        # An include of a device is skipped with a message; the rest is read.
        harness.write_file(classes, "&classes\nZ z\n&&/dev/zero\n&hierarchy\nA b\n")
        result = harness.run_tool(["--unattended", "--full"], self.product, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("The included description file '/dev/zero' is not a regular file; it was "
                      "skipped.", result.stderr)
        self.assertIn("CLASSCUR=A\n", harness.read_file(os.path.join(self.product, ".velorixrc")))
        # A class description file that is a pipe stops the run at once.
        os.unlink(classes)
        os.mkfifo(classes)
        result = harness.run_tool(["--unattended", "--full"], self.product, timeout=30)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Cannot open class description file\n" + classes, result.stderr)

    def test_a_log_that_takes_nothing_stops_before_anything_is_done(self):
        for log in ("/dev/full", self.root):
            result = self.run_tool(["--unattended", "--full", "--log", log])
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(f"the log file '{log}'", result.stderr)
            settings_as_they_were(self, self.product)

    def test_a_generated_line_too_long_is_refused_before_anything_is_written(self):
        # A line of the compile script must fit the settings buffer while
        # it is expanded, with its references still to expand, though it
        # may end shorter: lengths around the edge, by the product
        # directory and by the include options.
        script = "#!/bin/sh\necho the user's own script\n"
        log = os.path.join(self.root, "setup.log")
        ended = refused = 0
        cases = [(os.path.join(self.root, "k" * (length - len(self.root) - 1)), [], "VELORIX directory")
                 for length in range(180, 231, 3)]
        options = " -O2 -fPIC -D" + "o" * 215
        short = os.path.join(self.root, "short")
        # Within the settings line that stores the include options with the
        # product directory's after them, whatever the scratch path's length.
        room = 255 - len("INCLUDE=") - len("-I/opt/ -I/") - len(short)
        cases += [(short, ["--include", "-I/opt/" + "i" * length, "--cpp-options", options],
                   "C++ compiler: Options") for length in range(100, min(201, room + 1), 5)]
        for product, extra, field in cases:
            make_product(product)
            harness.write_file(os.path.join(product, "CompRhs"), script, 0o755)
            before = harness.snapshot(product)
            result = harness.run_tool(["--unattended", "--full", "--log", log] + extra, product)
            what = (len(product), extra[1:2], result.stderr)
            if result.returncode == 0:
                ended += 1
                lines = harness.read_file(os.path.join(product, "CompRhs")).splitlines()
                self.assertTrue(lines[9].startswith("  c++  -o tmp_der "), what)
            else:
                refused += 1
                self.assertEqual(result.returncode, 2, what)
                self.assertIn("Line 10 of the compile script would be longer than 499 characters "
                              f"with the values of the form.\nPlease shorten the field '{field}'.",
                              result.stderr)
                self.assertEqual(harness.snapshot(product), before, what)
                self.assertIn(": refused.\n  settings file: not changed\n  files written: 0\n",
                              result.stdout)
                self.assertTrue(harness.read_file(log).endswith("outcome: refused, nothing written\n"))
                for mode in ("--check", "--dry-run"):
                    result = harness.run_tool([mode, "--full"] + extra, product)
                    self.assertEqual((result.returncode, result.stdout), (2, ""), what)
            harness.remove_scratch_dir(product)
        self.assertGreater(ended, 0)
        self.assertGreater(refused, 0)
        self.assertNotIn("NOT ", harness.read_file(log))

    def test_saved_answers_go_to_a_file_and_nowhere_else(self):
        fifo = os.path.join(self.root, "answers.fifo")
        os.mkfifo(fifo)
        link = os.path.join(self.root, "answers.link")
        os.symlink(fifo, link)
        for target in (fifo, link):
            for mode in (["--dry-run"], ["--unattended"]):
                # A pipe nobody reads would hold the run in open() for ever.
                result = harness.run_tool(mode + ["--full", "--save-answers", target],
                                          self.product, timeout=20)
                self.assertEqual((result.returncode, result.stdout), (2, ""), result.stderr)
                self.assertIn(f"Cannot write the answer file '{target}' (it is not a regular "
                              "file)", result.stderr)
        settings_as_they_were(self, self.product)
        self.assertEqual(sorted(os.listdir(self.product)),
                         [".velorixrc", "autodif.cc", "classes.vel", "velorix"])

    def test_a_nul_byte_in_a_value_is_refused_not_cut(self):
        refused = "must not contain a NUL byte: the text would be cut there."
        for name, line in (("bare.ini", b"printer = lpr\0evil %s\n"),
                           ("quoted.ini", b'printer = "lpr\\x00evil %s"\n')):
            answers = os.path.join(self.root, name)
            with open(answers, "wb") as f:
                f.write(b"[form]\n" + line)
            for mode in (["--unattended"], ["--check"]):
                result = self.run_tool(mode + ["--full", "--answers", answers])
                self.assertEqual(result.returncode, 2, (name, mode, result.stderr))
                self.assertIn(f"{answers}:2: the value of printer {refused}", result.stderr)
        settings_as_they_were(self, self.product)
        # Typed through a pipe: refused and asked again, as a refused
        # character is.
        work = os.path.join(self.root, "work")
        os.mkdir(work)
        # The kind, the directory, the printer twice, the previewer, the
        # differentiator, the notice; then yes.
        answers = b"\n" + self.product.encode() + b"\nlpr\0evil %s\nlp %s\n\n\n\ny\n"
        result = subprocess.run([os.path.join(harness.build_dir(), harness.PROGRAM_NAME),
                                 "--text"], cwd=work, env=harness.unattended_env(),
                                input=answers, capture_output=True, timeout=harness.TIMEOUT)
        stderr = result.stderr.decode(errors="replace")
        self.assertEqual(result.returncode, 0, stderr)
        self.assertIn("The text of the field 'Printer command' must not contain a NUL byte:\n"
                      "the text would be cut there.", stderr)
        settings = harness.read_file(os.path.join(work, ".velorixrc"))
        self.assertIn("\nHCPRINTER=lp %s\n", settings)
        self.assertIn("\nHCVIEWER=ghostview -a5 -magstep 0 %s\n", settings)

    def test_diff_shows_bytes_that_are_not_text_and_every_change(self):
        result = self.run_tool(["--unattended", "--full"])
        self.assertEqual(result.returncode, 0, result.stderr)
        settings = os.path.join(self.product, ".velorixrc")
        with open(settings, "rb") as f:
            text = f.read()
        # A NUL in the first value, and an escape sequence in a later one.
        first = text.index(b"KERNEL=") + len(b"KERNEL=")
        text = text[:first] + b"\0" + text[first:]
        text = text.replace(b"HCVIEWER=ghostview", b"HCVIEWER=\x1b[2Jghostview")
        with open(settings, "wb") as f:
            f.write(text)
        script = os.path.join(self.product, "CompRhs")
        with open(script, "ab") as f:
            f.write(b"exit\0\n")
        result = subprocess.run([os.path.join(harness.build_dir(), harness.PROGRAM_NAME),
                                 "--check", "--diff", "--full", "--printer", "lp %s"],
                                cwd=self.product, env=harness.unattended_env(),
                                capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = result.stdout.decode().splitlines()
        self.assertIn(f'[Paths] KERNEL: "\\x00{self.product}/" -> "{self.product}/"', lines)
        self.assertIn('[Visual] HCPRINTER: "lpr %s" -> "lp %s"', lines)
        self.assertIn('[Visual] HCVIEWER: "\\x1b[2Jghostview -a5 -magstep 0 %s" -> '
                      '"ghostview -a5 -magstep 0 %s"', lines)
        self.assertIn("-exit\\x00", lines)
        self.assertNotIn(b"\0", result.stdout)
        self.assertNotIn(b"\x1b", result.stdout)

    def test_check_and_plan_foresee_a_stop_that_needs_no_writing(self):
        # A directory the runner cannot write: for root, one that belongs
        # to nobody, who runs the tool.
        prefix = []
        if os.geteuid() == 0:
            os.chmod(self.root, 0o755)
            for top, dirs, names in os.walk(self.product):
                for name in dirs + names + [""]:
                    os.chown(os.path.join(top, name), 65534, 65534)
            prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        os.chmod(self.product, 0o555)
        tool = os.path.join(harness.build_dir(), harness.PROGRAM_NAME)
        # Told as the settings file that cannot be made there, not as the
        # lock.
        stops = ("Cannot open file './.velorixrc'", "Cannot open settings file './.velorixrc'")
        try:
            for mode, status in (("--check", 2), ("--dry-run", 1), ("--unattended", 1)):
                result = subprocess.run(prefix + [tool, mode, "--full"], cwd=self.product,
                                        env=harness.unattended_env(), capture_output=True,
                                        text=True, timeout=120)
                self.assertEqual(result.returncode, status, (mode, result.stderr))
                told = [result.stderr.find(stop) for stop in stops]
                self.assertTrue(-1 < told[0] < told[1], (mode, result.stderr))
                self.assertNotIn("lock file", result.stderr, mode)
        finally:
            os.chmod(self.product, 0o755)
        settings_as_they_were(self, self.product)
        # A file in the way of one the run writes: the run goes on and ends
        # as stopped, which the plan and the check now say too.
        os.mkdir(os.path.join(self.product, "init.vpf"))
        for mode, status in (("--check", 2), ("--dry-run", 1), ("--unattended", 1)):
            result = self.run_tool([mode, "--full"])
            self.assertEqual(result.returncode, status, (mode, result.stderr))
            init = os.path.join(self.product, "init.vpf")
            self.assertIn(f"velorix-setup: Cannot open file '{init}'\n  path: {init}\n",
                          result.stderr)

    def test_what_killed_checks_leave_in_tmpdir_goes_with_the_next_run(self):
        tmp = os.path.join(self.root, "tmp")
        os.mkdir(tmp)
        started = os.path.join(self.root, "started")
        go = os.path.join(self.root, "go")
        # A compiler that says it has started and then waits for the word.
        cxx = os.path.join(self.root, "waiting-cxx")
        harness.write_file(cxx, '#!/bin/sh\n: >"%s"\nwhile [ ! -e "%s" ]; do sleep 0.05; done\n'
                           % (started, go), 0o755)
        env = harness.unattended_env(TMPDIR=tmp)
        tool = os.path.join(harness.build_dir(), harness.PROGRAM_NAME)

        def compiling_check(cwd):
            if os.path.exists(started):
                os.unlink(started)
            check = subprocess.Popen([tool, "--check", "--full", "--cpp-name", cxx], cwd=cwd,
                                     env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
            harness.wait_for(lambda: os.path.exists(started), "the check compiles")
            return check

        def unlocked(path):
            """Whether nobody holds the lock of the directory at path."""
            fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return True
            except BlockingIOError:
                return False
            finally:
                os.close(fd)

        for _ in range(3):
            check = compiling_check(self.product)
            os.kill(check.pid, signal.SIGKILL)
            check.wait()
            for name in os.listdir(tmp):
                # The compile's guardian ends right after the tool.
                harness.wait_for(lambda: unlocked(os.path.join(tmp, name)),
                                 "the killed run is gone")
        # Each check removed what the one before it left; the last one's
        # is there.
        left = os.listdir(tmp)
        self.assertEqual(len(left), 1, left)
        # One that runs meanwhile, in another directory, keeps its own.
        other = os.path.join(self.root, "other")
        make_product(other)
        running = compiling_check(other)
        try:
            own = sorted(set(os.listdir(tmp)) - set(left))
            self.assertEqual(len(own), 1)
            result = harness.run_tool(["--dry-run", "--full"], self.product, env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(sorted(os.listdir(tmp)), own)
        finally:
            harness.write_file(go, "")
            running.wait(timeout=harness.TIMEOUT)
        self.assertEqual(os.listdir(tmp), [])

    @unittest.skipUnless(os.geteuid() == 0, "only root can give a file to another user")
    def test_a_full_installation_from_another_directory_says_where_it_writes(self):
        work = os.path.join(self.root, "work")
        os.makedirs(work)
        words = ("velorix-setup: This Full installation is run from %s,\nnot from its VELORIX "
                 "directory %s/:\n" % (work, self.product))
        missing = "  missing: %s/autodif.cc (" % work
        full = ["--full", "--kernel", self.product]
        for mode in (["--dry-run"], ["--check"]):
            result = harness.run_tool(mode + full, work)
            self.assertIn(words, result.stderr, mode)
            self.assertIn(missing, result.stderr, mode)
            self.assertIn("run velorix-setup there;\nto set up this directory alone, choose a "
                          "User installation.\n", result.stderr)
        # --text says it at its summary, before the yes.
        result = subprocess.run([os.path.join(harness.build_dir(), "velorix-setup"), "--text"]
                                + full, cwd=work, env=harness.unattended_env(),
                                input="\n" * 12 + "n\n", capture_output=True, text=True,
                                timeout=harness.TIMEOUT)
        self.assertIn(words[len("velorix-setup: "):], result.stdout)
        self.assertLess(result.stdout.index(missing), result.stdout.index("Set up now?"))
        self.assertEqual(os.listdir(work), [])
        # As the system does: the installation-wide files to the product
        # directory, the compile here, which fails, and status 0.
        result = harness.run_tool(["--unattended"] + full, work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stderr.startswith(words), result.stderr)
        self.assertIn(missing, result.stderr)
        self.assertIn("Cannot compile autodif.cc.\n", result.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.product, "init.vpf")))
        self.assertIn("AUTODIFOPT=-\n", harness.read_file(os.path.join(work, ".velorixrc")))
        # From the product directory itself nothing of it is said.
        result = harness.run_tool(["--dry-run", "--full"], self.product)
        self.assertNotIn("This Full installation is run from", result.stderr)
        self.assertNotIn("missing:", result.stderr)

    def test_a_run_as_root_leaves_the_users_files_theirs(self):
        user = 1234
        settings = os.path.join(self.product, ".velorixrc")
        script = os.path.join(self.product, "CompRhs")
        harness.write_file(script, "#!/bin/sh\n", 0o750)
        for path in (self.product, settings, script):
            os.chown(path, user, user)
        result = self.run_tool(["--unattended", "--full", "--printer", "lp %s"])
        self.assertEqual(result.returncode, 0, result.stderr)
        for name, mode in ((".velorixrc", 0o600), (".velorixrc.bak", 0o600), ("CompRhs", 0o750)):
            info = os.stat(os.path.join(self.product, name))
            self.assertEqual((info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)),
                             (user, user, mode), name)
        self.assertEqual(harness.read_file(settings + ".bak"), MINE)
        # A file the run makes anew is the directory owner's, as if they had made it.
        info = os.stat(os.path.join(self.product, "init.vpf"))
        self.assertEqual((info.st_uid, info.st_gid), (user, user))


USER = 65534


def tree(path):
    """Every name under path with what lstat says of it and, for a file,
    what it holds."""
    found = {}
    for top, dirs, names in os.walk(path):
        for name in dirs + names:
            full = os.path.join(top, name)
            info = os.lstat(full)
            held = harness.read_file(full) if stat.S_ISREG(info.st_mode) else None
            found[os.path.relpath(full, path)] = (info.st_mode, info.st_uid, info.st_mtime_ns,
                                                  held)
    return found


@unittest.skipUnless(os.geteuid() == 0, "needs root, to run in another user's directory")
class RootInAUsersDirectory(unittest.TestCase):
    """Root runs the tool in a directory of the user nobody, who planted
    links there towards root's files."""

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_links_")
        os.chmod(self.root, 0o755)
        self.product = os.path.join(self.root, "product")
        # The user's directory.
        os.mkdir(self.product)
        os.chown(self.product, USER, USER)
        for name, text, mode in (("velorix", "#!/bin/sh\n", 0o755),
                                 ("classes.vel", "&classes\nZ z\n&hierarchy\nA b\n", 0o644),
                                 ("autodif.cc", "int autodif_marker() { return 7; }\n", 0o644)):
            path = os.path.join(self.product, name)
            harness.write_file(path, text, mode)
            os.chown(path, USER, USER)
        # Root's own files elsewhere.
        self.roots = os.path.join(self.root, "roots")
        os.mkdir(self.roots)
        self.secret = os.path.join(self.roots, "secret")
        harness.write_file(self.secret, "root's own\n", 0o644)

    def tearDown(self):
        harness.remove_scratch_dir(self.root)

    def plant(self, name, target):
        """A link at name in the user's directory, the user's."""
        link = os.path.join(self.product, name)
        os.symlink(target, link)
        os.lchown(link, USER, USER)
        return link

    def run_tool(self, *mode):
        return harness.run_tool(list(mode or ["--unattended"]) + ["--full", "--printer", "lp %s"],
                                self.product)

    def test_links_planted_by_the_user_give_root_no_reach(self):
        before = tree(self.roots)
        for name, target, why in (
                (".velorixrc", self.secret, "belongs to 'root'"),
                ("palette.vpf", self.secret, "belongs to 'root'"),
                ("init.vpf", self.secret, "belongs to 'root'"),
                ("autodif.o", self.secret, "belongs to 'root'"),
                ("palette.vpf", os.path.join(self.roots, "new"), "does not exist"),
                (".velorix-setup.lock", os.path.join(self.roots, "new"), "is a link")):
            link = self.plant(name, target)
            planted = tree(self.product)
            for mode, status in (("--unattended", 2), ("--check", 2)):
                result = self.run_tool(mode)
                self.assertEqual(result.returncode, status, (name, mode, result.stderr))
                self.assertIn(f"'{link}'", result.stderr, name)
                self.assertIn(why, result.stderr, name)
                self.assertIn("Nothing has been written.", result.stderr, name)
                self.assertEqual(tree(self.product), planted, (name, mode))
                self.assertEqual(tree(self.roots), before, (name, mode))
            os.unlink(link)
        # Files made anew replace their name and never follow what is there:
        # the record over a link, a backup over a pipe.
        self.plant(".velorix-setup.sha256", self.secret)
        os.mkfifo(os.path.join(self.product, ".velorixrc.bak"))
        harness.write_file(os.path.join(self.product, ".velorixrc"), "[Mine]\nKEY=mine\n")
        os.chown(os.path.join(self.product, ".velorixrc"), USER, USER)
        result = self.run_tool()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(tree(self.roots), before)
        for name in (".velorix-setup.sha256", ".velorixrc.bak"):
            info = os.lstat(os.path.join(self.product, name))
            self.assertTrue(stat.S_ISREG(info.st_mode), name)
        self.assertEqual(harness.read_file(os.path.join(self.product, ".velorixrc.bak")),
                         "[Mine]\nKEY=mine\n")

    def test_what_root_makes_in_a_users_directory_is_theirs(self):
        result = self.run_tool()
        self.assertEqual(result.returncode, 0, result.stderr)
        # The record says whose the new files are at once: the same answers
        # again change nothing, the record and the directory's time included.
        record = os.path.join(self.product, ".velorix-setup.sha256")
        times = (os.lstat(record).st_mtime_ns, os.lstat(self.product).st_mtime_ns)
        self.assertEqual(self.run_tool().returncode, 0)
        self.assertEqual((os.lstat(record).st_mtime_ns, os.lstat(self.product).st_mtime_ns), times)
        made = tree(self.product)
        for name in (".velorixrc", "filenums.vpf", ".velorix-setup.sha256", "palette.vpf",
                     "init.vpf", "CompRhs", "vel_sys.h", "autodif.o", ".autodif.o.cmd"):
            self.assertIn(name, made)
        # Changed by the user, and set up again with other answers: the
        # copies kept and the backup are theirs too.
        script = os.path.join(self.product, "CompRhs")
        subprocess.run(["setpriv", f"--reuid={USER}", f"--regid={USER}", "--clear-groups",
                        "sh", "-c", f"echo mine >>{script}"], check=True)
        result = harness.run_tool(["--unattended", "--full", "--printer", "lpr %s"], self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        made = tree(self.product)
        for name in (".velorixrc.bak", "CompRhs.velorix-old"):
            self.assertIn(name, made)
        for name, (_, uid, _, _) in made.items():
            info = os.lstat(os.path.join(self.product, name))
            self.assertEqual((info.st_uid, info.st_gid), (USER, USER), name)

    def test_a_link_whose_owner_owns_its_target_is_followed(self):
        # The user's link to the user's own file, and root's link to root's.
        mine = os.path.join(self.root, "mine")
        os.mkdir(mine)
        os.chown(mine, USER, USER)
        palette = os.path.join(mine, "palette")
        harness.write_file(palette, "old\n")
        os.chown(palette, USER, USER)
        self.plant("palette.vpf", palette)
        os.symlink(self.secret, os.path.join(self.product, "filenums.vpf"))
        result = self.run_tool()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.islink(os.path.join(self.product, "palette.vpf")))
        self.assertNotEqual(harness.read_file(palette), "old\n")
        self.assertEqual(os.stat(palette).st_uid, USER)
        # An existing names file is left as it is.
        self.assertEqual(harness.read_file(self.secret), "root's own\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
