#!/usr/bin/env python3
"""Answer files, the log and the check, as a user meets them: through the
real Setup window (under a private Xvfb) and the command line.

- answers saved by the window when "Setup" is pressed, and by the command
  line, replay unattended to byte-identical files in another directory;
  the window opened with --answers shows the answers' values;
- a faulty answer file is refused with its name and line, and nothing is
  written;
- the log of a Full installation names every file of the procedure, and a
  failing compile's log holds the compiler's own error text;
- --check is 0 right after an installation and 1, naming the file, after
  a generated file is edited, a mode changed or a source made newer.
"""
import os
import stat
import time
import unittest

import harness

CLASS_FILE = "&classes\nZ z\n&hierarchy\nA b\n"


write = harness.write_file
read = harness.read_file
environment = harness.unattended_env
run = harness.run_tool


def make_product(path):
    os.makedirs(path)
    write(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    write(os.path.join(path, "classes.vel"), CLASS_FILE)
    write(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")


def files(root):
    """Every regular file below root: its mode and bytes."""
    found = {}
    for top, _, names in os.walk(root):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = (stat.S_IMODE(os.lstat(path).st_mode),
                                                      f.read())
    return found


class Answers(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_answers_")
        self.product = os.path.join(self.root, "product")
        make_product(self.product)

    def tearDown(self):
        harness.remove_scratch_dir(self.root)

    def workdir(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def test_answers_from_the_window_and_the_command_line_replay_alike(self):
        # The object of a Full installation, which User installations look for.
        with open(os.path.join(self.product, "autodif.o"), "wb") as f:
            f.write(harness.relocatable_object())
        saved = os.path.join(self.root, "window.ini")
        with harness.Session() as s:
            s.start_setup(env={"SHELL": "/bin/sh"}, args=["--save-answers", saved])
            w = s.setup_window()
            s.type_into(w.kernel, self.product)
            s.wait_until(lambda: s.read_text(w.kernel) == self.product, "the directory is typed")
            s.click(w.setup)
            s.assert_clean_exit()
            by_window = files(s.workdir)
            # The same summary as a run without the window.
            self.assertIn(f"User installation in {s.workdir} (product directory {self.product})"
                          ": done.\n  settings file: " + os.path.join(s.workdir, ".velorixrc"),
                          s.app_output())
        self.assertIn(f'kernel = "{self.product}"', read(saved))

        # The same answers replayed elsewhere, and answers saved by the
        # command line (with --dry-run: nothing installed) replayed too.
        replay = self.workdir("replay")
        result = run(["--unattended", "--answers", saved], replay)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("User installation in " + replay, result.stdout)
        from_cli = os.path.join(self.root, "cli.ini")
        result = run(["--dry-run", "--kernel", self.product, "--save-answers", from_cli],
                     self.workdir("planned"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.listdir(os.path.join(self.root, "planned")), [])
        replay2 = self.workdir("replay2")
        result = run(["--unattended", "--answers", from_cli], replay2)
        self.assertEqual(result.returncode, 0, result.stderr)

        # The window's directory held an empty settings file of the
        # harness: nothing to keep, so no backup.
        self.assertNotIn(".velorixrc.bak", by_window)
        self.assertEqual(files(replay), by_window)
        self.assertEqual(files(replay2), by_window)

    def test_the_window_opened_with_answers_shows_them(self):
        answers = os.path.join(self.root, "full.ini")
        result = run(["--dry-run", "--full", "--kernel", self.product, "--libs", "-lm -lX",
                      "--cpp-options", " -O3 ", "--printer", "lp -d office %s",
                      "--shell-style", "ksh", "--shell-path", "/bin/dash ",
                      "--save-answers", answers], self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        with harness.Session() as s:
            # An option given as well wins over the file.
            s.start_setup(env={"SHELL": "/bin/tcsh"},
                          args=["--answers", answers, "--cpp-name", "g++"])
            w = s.setup_window()
            s.wait_until(lambda: s.mapped(w.shell_path), "the Full controls are shown")
            self.assertEqual(s.read_text(w.kernel), self.product)
            self.assertEqual(s.read_text(w.lib), "-lm -lX")
            self.assertEqual(s.read_text(w.cpp_name), "g++")
            self.assertEqual(s.read_text(w.cpp_options), " -O3 ")
            self.assertEqual(s.read_text(w.tuning[0]), "lp -d office %s")
            self.assertEqual(s.read_text(w.shell_path), "/bin/dash ")
            s.screenshot(w.top.id, "setup_window_from_answers.png")
            s.click(w.cancel)
            s.assert_clean_exit(expected=1)

    def test_a_faulty_answer_file_is_refused_with_its_line_and_nothing_is_written(self):
        work = self.workdir("work")
        cases = (
            ("[form]\nkind = user\ncolour = red\n", ":3: unknown key 'colour'"),
            ("[form]\nkind = sideways\n", ":2: bad value of kind: 'sideways' (full or user)"),
            ("[form]\ncpp-options = \"" + "o" * 150 + "\"\n    \"" + "o" * 150 + "\"\n",
             ":2: the value of cpp-options is too long for the settings file"),
            ("[form]\nkernel = \"/opt/my velorix\"\n",
             ":2: the value of kernel must not contain blanks"),
            ("[form]\nkind = user\njust some words\n", ":3: not a line of an answer file"),
        )
        for text, problem in cases:
            answers = os.path.join(self.root, "bad.ini")
            write(answers, text)
            for mode in (["--unattended"], ["--check"], ["--dry-run"]):
                result = run(mode + ["--answers", answers, "--kernel", self.product], work)
                self.assertEqual(result.returncode, 2, (mode, text))
                self.assertTrue(result.stderr.startswith(f"velorix-setup: {answers}{problem}"),
                                result.stderr)
                self.assertEqual(os.listdir(work), [], (mode, text))

    def test_the_log_names_every_file_and_a_compilers_own_error(self):
        log = os.path.join(self.root, "setup.log")
        result = run(["--unattended", "--full", "--log", log], self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        text = read(log)
        kernel = self.product + "/"
        # The header names the version, the whole command line and the
        # directories; every path is absolute.
        self.assertRegex(text.splitlines()[0], r"^=== .* velorix-setup 1\.5( \(git .*\))?, "
                         r"unattended: Full installation$")
        for line in ("\n  working directory: " + self.product + "\n",
                     "\n  product directory: " + self.product + "\n",
                     "\n  command line: %s --unattended --full --log %s\n"
                     % (os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup")), log),
                     "\n  answer file: none\n",
                     "created " + kernel + "filenums.vpf (1 bytes, rw-r--r--)",
                     "written " + kernel + "init.vpf (", "written " + kernel + "CompRhs (",
                     "written " + kernel + "vel_sys.h (", "compiled " + kernel + "autodif.o (",
                     "written " + kernel + "palette.vpf (",
                     "settings file in place: " + kernel + ".velorixrc (", "outcome: installed"):
            self.assertIn(line, text)
        self.assertIn("Full installation in " + self.product, result.stdout)

        # A compiler that fails: its own words are in the log.
        os.unlink(os.path.join(self.product, "autodif.o"))
        broken = os.path.join(self.root, "brokencc")
        write(broken, "#!/bin/sh\necho 'autodif.cc:3:1: error: expected a declaration' >&2\n"
                      "exit 1\n", 0o755)
        result = run(["--unattended", "--full", "--cpp-name", broken, "--log", log],
                     self.product)
        self.assertEqual(result.returncode, 0, result.stderr)  # reported, feature turned off
        self.assertIn("autodif.cc:3:1: error: expected a declaration", result.stderr)
        second = read(log)[len(text):]
        self.assertIn(": exit status 1\n  its error output:\n"
                      "  | autodif.cc:3:1: error: expected a declaration", second)
        self.assertIn("message:\n  | Cannot compile autodif.cc.", second)

    def test_check_after_an_installation_and_after_each_change(self):
        answers = os.path.join(self.root, "full.ini")
        result = run(["--unattended", "--full", "--save-answers", answers], self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        check = ["--check", "--answers", answers]
        result = run(check, self.product)
        self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)
        installed = files(self.product)

        # A second installation with the same answers, right after: the
        # same bytes.
        result = run(["--unattended", "--answers", answers], self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(files(self.product), installed)

        palette = os.path.join(self.product, "palette.vpf")
        with open(palette, "a") as f:
            f.write("1 2 3\n")
        result = run(check, self.product)
        self.assertEqual((result.returncode, result.stdout),
                         (1, "{0}/palette.vpf: changed since the last installation (the "
                             "installation keeps it as {0}/palette.vpf.velorix-old)\n"
                             "{0}/palette.vpf.velorix-old: missing (the installation keeps the "
                             "changed {0}/palette.vpf there)\n".format(self.product)))
        self.assertEqual(files(self.product)["palette.vpf"][1].decode().splitlines()[-1],
                         "1 2 3")
        run(["--unattended", "--answers", answers], self.product)

        # More open than the installation leaves it (a narrower mode is the
        # owner's to keep).
        os.chmod(os.path.join(self.product, "CompRhs"), 0o777)
        result = run(check, self.product)
        self.assertEqual((result.returncode, result.stdout),
                         (1, self.product + "/CompRhs: mode 0777, the installation gives it "
                             "0755\n"))
        run(["--unattended", "--answers", answers], self.product)

        later = time.time() + 10
        os.utime(os.path.join(self.product, "autodif.cc"), (later, later))
        result = run(check, self.product)
        self.assertEqual((result.returncode, result.stdout),
                         (1, self.product + "/autodif.o: older than its sources\n"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
