#!/usr/bin/env python3
"""Every run converges, and --check says beforehand what a run would change;
all through the command line, with a stand-in compiler that logs its calls.

- changed compiler options compile the object again, the same ones do not;
- a failed compile leaves no object (not even the one from before) and is a
  fixed point: the next run changes nothing and --check exits 0;
- a second run with the same answers leaves every file's time as it was;
- --changed-files=keep leaves a file changed by hand as it is, the new one
  beside it, and is a fixed point that --check agrees with;
- --check exits 0, 1 or 2 as diff(1) does, and --diff names the setting;
- --diff tells a file that is not there yet in one line, unless =full;
- an answer file keeps the shell detected as auto, detected anew on replay;
- an answer file's faults are all told, in line order;
- a file named autodif.o that is no object (empty, garbage, a piece of
  one) is compiled again by a Full run and is no object to a User one.
"""
import os
import signal
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

write = harness.write_file
read = harness.read_file


def files(root):
    """Every regular file below root: (mode, bytes, inode, time in ns)."""
    found = {}
    for top, _, names in os.walk(root):
        for name in names:
            path = os.path.join(top, name)
            info = os.lstat(path)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = (stat.S_IMODE(info.st_mode), f.read(),
                                                      info.st_ino, info.st_mtime_ns)
    return found


def directory_times(root):
    """Every directory below root, root too: its time in ns."""
    return {os.path.relpath(top, root): os.lstat(top).st_mtime_ns for top, _, _ in os.walk(root)}


class Converge(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_converge_")
        self.product = os.path.join(self.root, "product")
        self.work = os.path.join(self.root, "work")
        tools = os.path.join(self.root, "bin")
        for path in (self.product, self.work, tools):
            os.makedirs(path)
        write(os.path.join(self.product, "velorix"), "#!/bin/sh\n", 0o755)
        write(os.path.join(self.product, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
        write(os.path.join(self.product, "autodif.cc"), "int autodif() { return 7; }\n")
        # Leaves an object at the file after -o and logs its options;
        # fails when VX_CXX_FAILS is set.
        self.cxx = os.path.join(tools, "vx-cxx")
        harness.write_stand_in_compiler(tools, log=self.cxx + ".log")
        self.env = harness.unattended_env()

    def tearDown(self):
        harness.remove_scratch_dir(self.root)

    def run_tool(self, args, cwd=None, **env):
        return harness.run_tool(args, cwd or self.product, dict(self.env, **env))

    def full(self, *options, **env):
        """A Full installation with the stand-in compiler; must end 0."""
        result = self.run_tool(["--unattended", "--full", "--cpp-name", self.cxx,
                                "--shell-style", "ksh"] + list(options), **env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def check(self, *options, **env):
        return self.run_tool(["--check", "--full", "--cpp-name", self.cxx,
                              "--shell-style", "ksh"] + list(options), **env)

    def compiles(self):
        log = self.cxx + ".log"
        return read(log).splitlines() if os.path.exists(log) else []

    def settings(self):
        return read(os.path.join(self.product, ".velorixrc")).splitlines()

    def test_changed_options_compile_again_and_the_same_ones_do_not(self):
        self.full()
        self.assertEqual(len(self.compiles()), 1)
        self.full()
        self.assertEqual(len(self.compiles()), 1)
        result = self.check("--cpp-options", " -O0 -DCHANGED")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("autodif.o: compiled with another command\n", result.stdout)
        self.assertEqual(len(self.compiles()), 2)  # the check's, into its scratch directory
        self.full("--cpp-options", " -O0 -DCHANGED")
        self.assertEqual(len(self.compiles()), 3)
        self.assertTrue(self.compiles()[-1].endswith("autodif.cc -O0 -DCHANGED"))
        self.assertEqual(read(os.path.join(self.product, ".autodif.o.cmd")),
                         f"cmd_autodif.o := {self.cxx} -c -o autodif.o autodif.cc  -O0 -DCHANGED\n")
        self.full("--cpp-options", " -O0 -DCHANGED")
        self.assertEqual(len(self.compiles()), 3)

    def test_a_failed_compile_leaves_no_object_and_is_a_fixed_point(self):
        self.full()
        result = self.full("--cpp-options", " -O0", VX_CXX_FAILS="1")
        self.assertIn("Cannot compile autodif.cc.", result.stderr)
        for name in ("autodif.o", ".autodif.o.cmd"):
            self.assertFalse(os.path.exists(os.path.join(self.product, name)), name)
        self.assertIn("AUTODIFOPT=-", self.settings())
        degraded = files(self.product)
        self.full("--cpp-options", " -O0", VX_CXX_FAILS="1")
        self.assertEqual(files(self.product), degraded)
        result = self.check("--cpp-options", " -O0", VX_CXX_FAILS="1")
        self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)
        # The check compiled as the run would, and changed nothing.
        self.assertEqual(len(self.compiles()), 4)
        self.assertEqual(files(self.product), degraded)
        # With a compiler that works again, the check says what the run does.
        result = self.check("--cpp-options", " -O0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("autodif.o: missing\n", result.stdout)
        self.assertIn('[Libraries] AUTODIFOPT', result.stdout)

    def test_a_second_run_leaves_every_time_as_it_was(self):
        self.full()
        self.assertEqual(self.run_tool(["--unattended", "--kernel", self.product],
                                       self.work).returncode, 0)
        before, directories = files(self.root), directory_times(self.root)
        self.full()
        result = self.run_tool(["--unattended", "--kernel", self.product], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        after = files(self.root)
        changed = sorted(name for name in after if after[name] != before.get(name))
        self.assertEqual((changed, sorted(after)), ([], sorted(before)))
        # Nothing made and removed in them either: a lock, a scratch
        # directory or a temporary file would change their times.
        self.assertEqual(directory_times(self.root), directories)

    def test_changed_files_kept_stay_and_the_run_is_a_fixed_point(self):
        self.full()
        script = os.path.join(self.product, "CompRhs")
        with open(script, "a") as f:
            f.write("echo mine\n")
        mine = read(script)
        result = self.run_tool(["--dry-run", "--full", "--cpp-name", self.cxx, "--shell-style",
                                "ksh", "--changed-files", "keep"])
        self.assertIn(f"leave {script} as it is (changed since the last installation), and "
                      f"write the new one to {script}.velorix-new\n", result.stdout)
        result = self.full("--changed-files=keep")
        self.assertIn(f"changed since the last installation: {script}, left as it is; the new "
                      f"one is {script}.velorix-new", result.stdout)
        self.assertEqual(read(script), mine)
        self.assertNotIn("echo mine", read(script + ".velorix-new"))
        kept = files(self.product)
        result = self.full("--changed-files=keep")
        self.assertIn("files written: 0", result.stdout)
        self.assertEqual(files(self.product), kept)
        self.assertEqual(self.check("--changed-files=keep").returncode, 0)
        # By default the new one takes its place, as it always has.
        self.assertEqual(self.check().returncode, 1)
        result = self.run_tool(["--unattended", "--changed-files", "mine"])
        self.assertEqual(result.returncode, 2)
        self.assertIn("--changed-files takes take or keep, not 'mine'", result.stderr)

    def test_the_dry_run_says_unchanged_where_the_check_and_the_run_find_nothing_to_do(self):
        self.full()
        dry = ["--dry-run", "--full", "--cpp-name", self.cxx, "--shell-style", "ksh"]

        def told(result, verb):
            return sorted(line.split(" ")[1].rstrip(",") for line in result.stdout.splitlines()
                          if line.startswith(verb + " "))
        result = self.run_tool(dry)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(told(result, "write"), [])
        every = told(result, "unchanged")
        for name in (".velorixrc", "init.vpf", "CompRhs", "palette.vpf", ".velorix-setup.sha256"):
            self.assertIn(os.path.join(self.product, name), every)
        self.assertEqual(self.check().returncode, 0)
        self.assertIn("files written: 0", self.full().stdout)
        # One setting changed: the settings file and the record change, no
        # other file; the check names the same, and the backup kept.
        result = self.run_tool(dry + ["--printer", "lp -d office %s"])
        changed = told(result, "write")
        self.assertEqual(changed, sorted(os.path.join(self.product, name)
                                         for name in (".velorixrc", ".velorix-setup.sha256")))
        check = self.check("--printer", "lp -d office %s")
        self.assertEqual(sorted(line.split(":")[0] for line in check.stdout.splitlines()
                                if line.startswith("/")),
                         sorted(changed + [os.path.join(self.product, ".velorixrc.bak")]))
        self.full("--printer", "lp -d office %s")
        self.assertEqual(self.check("--printer", "lp -d office %s").returncode, 0)

    def test_a_stopped_run_leaves_every_file_as_it_was(self):
        self.full()
        # Changed options change the compile script, the object and the
        # settings; a directory in the way of the palette, the last file
        # written, stops the run after all the others were written.
        palette = os.path.join(self.product, "palette.vpf")
        os.unlink(palette)
        os.mkdir(palette)
        before, directories = files(self.product), directory_times(self.product)
        result = self.run_tool(["--unattended", "--full", "--cpp-name", self.cxx,
                                "--shell-style", "csh", "--cpp-options", " -O1"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Cannot open file './palette.vpf'", result.stderr)
        self.assertEqual(len(self.compiles()), 2)
        self.assertEqual(files(self.product), before)
        # Planned whole before anything is staged: nothing was made there.
        self.assertEqual(directory_times(self.product), directories)
        self.assertEqual(sorted(os.listdir(self.product)), sorted(list(before) + ["palette.vpf"]))

    def test_a_run_ended_by_sigterm_during_the_compile_leaves_every_file_as_it_was(self):
        self.full()
        started = os.path.join(self.root, "started")
        cxx = os.path.join(self.root, "bin", "waiting-cxx")
        write(cxx, f'#!/bin/sh\n: >"{started}"\nexec sleep 60\n', 0o755)
        before = files(self.product)
        names = sorted(os.listdir(self.product))
        tool = os.path.join(harness.build_dir(), harness.PROGRAM_NAME)
        proc = subprocess.Popen([tool, "--unattended", "--full", "--cpp-name", cxx,
                                 "--shell-style", "csh"], cwd=self.product, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            harness.wait_for(lambda: os.path.exists(started) or proc.poll() is not None,
                             "the compile starts")
            proc.terminate()
            self.assertEqual(proc.wait(timeout=30), -signal.SIGTERM)
        finally:
            proc.kill()
            proc.wait()
        self.assertEqual(files(self.product), before)
        self.assertEqual(sorted(os.listdir(self.product)), names)

    def test_a_fault_while_staging_or_placing_leaves_the_directory_as_it_was(self):
        self.full()
        # The interface strings changed by hand: the run keeps them as
        # init.vpf.velorix-old and puts its own in their place, first.
        strings = os.path.join(self.product, "init.vpf")
        os.chmod(strings, 0o644)
        with open(strings, "a") as f:
            f.write("mine\n")
        before = files(self.product)

        # A compiler that puts a directory where the compile script goes:
        # found when the plan's files are staged, before any is placed.
        script = os.path.join(self.product, "CompRhs")
        cxx = os.path.join(self.root, "bin", "in-the-way-cxx")
        write(cxx, "#!/bin/sh\n"
                   'while [ $# -gt 0 ]; do [ "$1" = -o ] && out=$2; shift; done\n'
                   f'mv "{script}" "{script}.aside" && mkdir "{script}"\n'
                   f'cp "{self.cxx}.o" "$out"\n', 0o755)
        result = self.run_tool(["--unattended", "--full", "--cpp-name", cxx,
                                "--shell-style", "csh"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("CompRhs'", result.stderr)
        os.rmdir(script)
        os.rename(script + ".aside", script)
        self.assertEqual(files(self.product), before)
        self.assertEqual([n for n in os.listdir(self.product) if ".vx-" in n], [])

        # A fault of the system while the files go into place (the third
        # second name a placing makes, after the kept copy and the
        # interface strings): what was placed is put back.
        tool = os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup"))
        result = subprocess.run(
            ["strace", "-qq", "-o", "/dev/null", "-e", "trace=linkat",
             "-e", "inject=linkat:error=EIO:when=3+", tool, "--unattended", "--full",
             "--cpp-name", self.cxx, "--shell-style", "csh"],
            cwd=self.product, env=self.env, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("has been put back: the directory is as it was", result.stderr)
        self.assertEqual(files(self.product), before)
        self.assertEqual([n for n in os.listdir(self.product) if ".vx-" in n], [])

    def test_check_statuses_and_the_diff_of_a_setting(self):
        self.full()
        self.assertEqual(self.check().returncode, 0)
        before = files(self.product)
        result = self.check("--diff", "--printer", "lp -d office %s", "--cpp-options", " -O1")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('\n[Visual] HCPRINTER: "lpr %s" -> "lp -d office %s"\n', result.stdout)
        self.assertIn(f"+++ {self.product}/CompRhs (new)\n", result.stdout)
        self.assertIn("+cmd_autodif.o := ", result.stdout)
        result = self.run_tool(["--dry-run", "--diff", "--full", "--cpp-name", self.cxx,
                                "--shell-style", "ksh", "--printer", "lp -d office %s"])
        self.assertIn('\n[Visual] HCPRINTER: "lpr %s" -> "lp -d office %s"\n', result.stdout)
        self.assertEqual(files(self.product), before)
        # Could not check: no scratch space, a run that would stop, a bad
        # answer file.
        result = self.check(TMPDIR=os.path.join(self.root, "nowhere"))
        self.assertEqual((result.returncode, result.stdout), (2, ""))
        self.assertIn("scratch directory", result.stderr)
        classes = os.path.join(self.product, "classes.vel")
        os.rename(classes, classes + ".away")
        self.assertEqual(self.check().returncode, 2)
        os.rename(classes + ".away", classes)
        bad = os.path.join(self.root, "bad.ini")
        write(bad, "[form]\nkind = sideways\n")
        self.assertEqual(self.run_tool(["--check", "--answers", bad]).returncode, 2)
        self.assertEqual(self.run_tool(["--unattended", "--diff"]).returncode, 2)
        self.assertEqual(files(self.product), before)

    def test_a_file_that_is_no_object_is_compiled_again_and_never_trusted(self):
        self.full()
        obj = os.path.join(self.product, "autodif.o")
        good = harness.relocatable_object()
        for content in (b"", b"object\n", good[:100]):
            with open(obj, "wb") as f:
                f.write(content)  # newer than its sources, same command
            result = self.check()
            self.assertEqual(result.returncode, 1, (content, result.stderr))
            self.assertIn("autodif.o: not an object file\n", result.stdout)
            compiled = len(self.compiles())
            self.full()
            self.assertEqual(len(self.compiles()), compiled + 1, content)
            with open(obj, "rb") as f:
                self.assertEqual(f.read(), good)
            self.assertEqual(self.check().returncode, 0)
        # A compiler that says it succeeded and leaves no object has failed.
        liar = os.path.join(self.root, "bin", "liar")
        write(liar, '#!/bin/sh\nwhile [ $# -gt 0 ]; do [ "$1" = -o ] && echo object >"$2"; '
                    'shift; done\n', 0o755)
        result = self.run_tool(["--unattended", "--full", "--cpp-name", liar, "--shell-style",
                                "ksh"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Cannot compile autodif.cc.", result.stderr)
        self.assertFalse(os.path.exists(obj))
        self.assertIn("AUTODIFOPT=-", self.settings())
        # To a User installation, a product's object that is none is missing.
        write(obj, "object\n")
        result = self.run_tool(["--unattended", "--kernel", self.product], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Could not run C++ compiler during the full installation.\nSymbolical "
                      f"differentiation feature will be disabled.\n  path: {obj}, option: --kernel\n",
                      result.stderr)
        self.assertIn("AUTODIFOPT=-", read(os.path.join(self.work, ".velorixrc")).splitlines())

    def test_a_first_run_is_told_in_a_line_per_new_file(self):
        before = files(self.product)
        result = self.check("--diff")
        self.assertEqual(result.returncode, 1, result.stderr)
        palette = os.path.join(self.product, "palette.vpf")
        settings = os.path.join(self.product, ".velorixrc")
        # Each file by its absolute path, and what is not there yet in one
        # line that counts its lines, the settings file too.
        self.assertIn(f"{palette}: missing\n{palette}: new file, 26 lines\n", result.stdout)
        # The names file holds "-" without a line end: one line all the same.
        self.assertIn(f"{self.product}/filenums.vpf: new file, 1 line\n", result.stdout)
        self.assertIn(f"{settings}: missing\n{settings}: new file, ", result.stdout)
        self.assertNotIn("\n--- ", result.stdout)
        self.assertNotIn("(none) ->", result.stdout)
        self.assertTrue(all(line.startswith(self.product + "/")
                            for line in result.stdout.splitlines()), result.stdout)
        dry = self.run_tool(["--dry-run", "--diff", "--full", "--cpp-name", self.cxx])
        self.assertIn(f"write {palette} (rw-r--r--) from the palette template\n"
                      f"{palette}: new file, 26 lines\n", dry.stdout)
        self.assertIn(f"\n{settings}: new file, ", dry.stdout)
        # Every line of it with --diff=full, under headers that name it as
        # the lines above do.
        whole = self.check("--diff=full")
        self.assertEqual(whole.returncode, 1, whole.stderr)
        self.assertIn(f"{palette}: missing\n--- {palette}\n+++ {palette} (new)\n", whole.stdout)
        self.assertIn('[Currents] CLASSCUR: (none) -> "A"\n', whole.stdout)
        refused = self.check("--diff=some")
        self.assertEqual((refused.returncode, refused.stdout), (2, ""))
        self.assertEqual(refused.stderr, "velorix-setup: option --diff takes no value or =full, "
                         "not 'some' (try --help)\n")
        self.assertEqual(files(self.product), before)

    def test_a_detected_shell_is_saved_as_auto_and_detected_on_replay(self):
        answers = os.path.join(self.root, "full.ini")
        result = self.run_tool(["--dry-run", "--full", "--save-answers", answers],
                               SHELL="/bin/sh")
        self.assertEqual(result.returncode, 0, result.stderr)
        text = read(answers)
        self.assertIn("\nshell-style = auto\nshell-path = auto\n", text)
        result = self.run_tool(["--unattended", "--answers", answers, "--cpp-name", self.cxx],
                               SHELL="/bin/tcsh")
        self.assertEqual(result.returncode, 0, result.stderr)
        script = read(os.path.join(self.product, "CompRhs"))
        self.assertEqual(script.splitlines()[0], "#! /bin/tcsh -f")
        # A style the user gave is kept; its path is still the host's.
        self.run_tool(["--dry-run", "--full", "--shell-style", "ksh", "--save-answers", answers])
        self.assertIn("\nshell-style = ksh\nshell-path = auto\n", read(answers))

    def test_every_fault_of_an_answer_file_is_told_in_line_order(self):
        answers = os.path.join(self.root, "bad.ini")
        write(answers, "[form]\nkind = sideways\ncolour = red\nnotify = yes\n")
        result = self.run_tool(["--unattended", "--answers", answers], self.work)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr.splitlines(), [
            f"velorix-setup: {answers}:2: bad value of kind: 'sideways' (full or user)",
            f"velorix-setup: {answers}:3: unknown key 'colour' (try --help)"])
        self.assertEqual(os.listdir(self.work), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
