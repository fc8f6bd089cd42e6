#!/usr/bin/env python3
"""Site defaults: /etc/velorix-setup/defaults gives the form's texts their
starting values in every frontend (--unattended, --text, the window), while
answer files and options win over it and the kind, the shell style and the
notice stay each user's choice; --save-site-defaults writes it from a Full
installation, for root alone.  A lab user's installation is then: start,
press Setup.

Every run that reads or writes the file runs in a private mount namespace
over a copy-on-write /etc (harness.site_defaults_prefix): the real /etc is
never touched.  Without one (not root, no overlay) the tests are skipped.
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

SITE_FILE = "/etc/velorix-setup/defaults"
TOOL = os.path.abspath(os.path.join(harness.build_dir(), harness.PROGRAM_NAME))


def make_product(path):
    os.makedirs(path)
    harness.write_file(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    harness.write_file(os.path.join(path, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
    harness.write_file(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")


def settings(directory):
    """The settings file of directory as a dict of KEY: value."""
    values = {}
    for line in harness.read_file(os.path.join(directory, ".velorixrc")).splitlines():
        key, sep, value = line.partition("=")
        if sep and key not in values:
            values[key] = value
    return values


class SiteDefaults(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_site_")
        self.addCleanup(harness.remove_scratch_dir, self.root)
        self.product = os.path.join(self.root, "opt", "velorix")
        make_product(self.product)
        self.work = os.path.join(self.root, "work")
        os.makedirs(self.work)
        self.stand_in = harness.write_stand_in_compiler(self.root)

    def within(self, text):
        prefix = harness.site_defaults_prefix(self.root, text)
        if prefix is None:
            self.skipTest("no private mount namespace with an overlay over /etc here")
        return prefix

    def run_tool(self, prefix, args, cwd=None, stdin=None, env=None):
        return subprocess.run(prefix + [TOOL] + list(args), cwd=cwd or self.work,
                              env=env or harness.unattended_env(), input=stdin,
                              capture_output=True, text=True, timeout=120)

    def test_every_frontend_starts_from_them_and_what_is_given_wins(self):
        site = ('[form]\nkernel = "%s"\nkind = full\ncpp-name = "g++-site"\n'
                'printer = "lp -dsite %%s"\nnotify = yes\nshell-style = csh\n' % self.product)
        prefix = self.within(site)
        # The Full installation that the users' User ones link against.
        result = self.run_tool([], ["--unattended", "--full", "--cpp-name", self.stand_in],
                               cwd=self.product)
        self.assertEqual(result.returncode, 0, result.stderr)

        # Unattended, nothing given: a User installation (the kind is
        # each user's), with the site's texts; each choosing key warned of
        # by its line.
        log = os.path.join(self.root, "setup.log")
        result = self.run_tool(prefix, ["--unattended", "--log", log])
        self.assertEqual(result.returncode, 0, result.stderr)
        for line, key in ((3, "kind"), (6, "notify"), (7, "shell-style")):
            self.assertIn("%s:%d: %s is each user's choice, which site defaults cannot make; "
                          "ignored" % (SITE_FILE, line, key), result.stderr)
        self.assertIn("User installation in %s (product directory %s): done."
                      % (self.work, self.product), result.stdout)
        values = settings(self.work)
        self.assertEqual(values["KERNEL"], self.product + "/")
        self.assertEqual(values["CPPNAME"], "g++-site")
        self.assertEqual(values["HCPRINTER"], "lp -dsite %s")
        self.assertIn("  site defaults: %s\n" % SITE_FILE, harness.read_file(log))

        # An answer file and an option win over them.
        answers = os.path.join(self.root, "answers.ini")
        harness.write_file(answers, '[form]\nprinter = "lp -danswers %s"\ncpp-name = "c++"\n')
        result = self.run_tool(prefix, ["--unattended", "--answers", answers,
                                        "--previewer", "gv %s"])
        self.assertEqual(result.returncode, 0, result.stderr)
        values = settings(self.work)
        self.assertEqual(values["HCPRINTER"], "lp -danswers %s")
        self.assertEqual(values["CPPNAME"], "c++")
        self.assertEqual(values["HCVIEWER"], "gv %s")
        self.assertEqual(values["KERNEL"], self.product + "/")

        # --check names the file; a Full installation still takes the
        # current directory as its product directory.
        result = self.run_tool(prefix, ["--check"])
        self.assertIn("The form starts from the site defaults %s" % SITE_FILE, result.stderr)
        result = self.run_tool(prefix, ["--dry-run", "--full"], cwd=self.product)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("store [Paths] KERNEL=%s/\n" % self.product, result.stdout)
        self.assertIn("store [Compiler] CPPNAME=g++-site\n", result.stdout)

        # --text offers them as its defaults: Enter takes each.
        result = self.run_tool(prefix, ["--text"], stdin="\n" * 6 + "y\n")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("VELORIX directory [%s]: " % self.product, result.stdout)
        self.assertIn("Printer command [lp -dsite %s]: ", result.stdout)
        self.assertEqual(settings(self.work)["HCPRINTER"], "lp -dsite %s")

    def test_root_saves_them_from_a_full_installation_and_a_user_just_installs(self):
        prefix = self.within(None)
        script = ('"$0" --check --full --cpp-name "$1" --save-site-defaults\n'
                  '[ $? = 1 ] || exit 9\n'
                  '"$0" --unattended --full --cpp-name "$1" --save-site-defaults || exit 10\n'
                  'stat -c %a /etc/velorix-setup/defaults || exit 11\n'
                  'cat /etc/velorix-setup/defaults\n'
                  '"$0" --unattended --full --cpp-name "$1" --save-site-defaults || exit 12\n'
                  'cd "$2" && "$0" --unattended')
        result = subprocess.run(prefix + ["sh", "-c", script, TOOL, self.stand_in, self.work],
                                cwd=self.product, env=harness.unattended_env(),
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("%s: missing\n" % SITE_FILE, result.stdout)
        self.assertIn("Site defaults written: %s\n644\n" % SITE_FILE, result.stdout)
        self.assertIn("Site defaults unchanged: %s\n" % SITE_FILE, result.stdout)
        self.assertIn('\n[form]\nkernel = "%s"\ninclude = ""\nlibs = "-lc -lm"\ncpp-name = "%s"\n'
                      'cpp-options = " -O2 -fPIC -lc -lm"\n' % (self.product, self.stand_in),
                      result.stdout)
        self.assertIn("User installation in %s (product directory %s): done."
                      % (self.work, self.product), result.stdout)
        self.assertEqual(settings(self.work)["KERNEL"], self.product + "/")
        self.assertNotIn("AUTODIFOPT=-", harness.read_file(os.path.join(self.work, ".velorixrc")))

        # Not for another user, nor from a User installation: refused
        # before anything is done.
        os.chmod(self.root, 0o755)
        before = harness.snapshot(self.root)
        result = subprocess.run(prefix + ["setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups", TOOL, "--unattended", "--full",
                                          "--save-site-defaults"],
                                cwd=self.product, env=harness.unattended_env(),
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("--save-site-defaults writes %s, for every user of this host: only root "
                      "may" % SITE_FILE, result.stderr)
        result = self.run_tool(prefix, ["--unattended", "--user", "--kernel", self.product,
                                        "--save-site-defaults"])
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn("--save-site-defaults saves the values of a Full installation: it goes "
                      "with --full", result.stderr)
        self.assertEqual(harness.snapshot(self.root), before)


class SiteDefaultsInTheWindow(unittest.TestCase):

    def test_the_field_starts_from_them_and_the_status_line_names_the_directory(self):
        with harness.Session() as s:
            product = os.path.join(s.workdir, "product")
            make_product(product)
            with open(os.path.join(product, "autodif.o"), "wb") as f:
                f.write(harness.relocatable_object())
            prefix = harness.site_defaults_prefix(s.workdir, '[form]\nkernel = "%s"\n' % product)
            if prefix is None:
                self.skipTest("no private mount namespace with an overlay over /etc here")
            s.start_setup(prefix=prefix)
            w = s.setup_window()
            self.assertEqual(s.read_text(w.kernel), product)
            expected = s.status_picture("Setting up %s (User installation)" % s.workdir,
                                        w.status.width)
            s.wait_until(lambda: s.control_pixels(w.top, w.status) == expected,
                         "the status line names the directory and the kind")
            # Start, press Setup.
            s.click(w.setup)
            s.assert_clean_exit()
            self.assertEqual(settings(s.workdir)["KERNEL"], product + "/")


if __name__ == "__main__":
    unittest.main(verbosity=2)
