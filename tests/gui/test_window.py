"""GUI tests of the Setup window: the fresh form, the installation switch,
the product directory check, shell detection, the notice preview, "Cancel"
and the button row, each against the real tool under a private Xvfb.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_window.py
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

TCSH = "/bin/tcsh"


def fake_uname(session, line):
    """A bin directory whose uname prints line; returns a PATH using it."""
    bindir = os.path.join(os.path.dirname(session.workdir), "bin")
    os.makedirs(bindir, exist_ok=True)
    path = os.path.join(bindir, "uname")
    with open(path, "w") as f:
        f.write("#!/bin/sh\necho '%s'\n" % line)
    os.chmod(path, 0o755)
    return bindir + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin")


class FreshWindow(unittest.TestCase):

    def test_fresh_window_shows_user_installation(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            self.assertEqual(w.top.name, "velorix 1.5 setup")
            s.screenshot(w.top.id, "setup_window_fresh.png")

            # Nine text fields: directory, two C, two C++, three Tuning,
            # shell path; four radio buttons and the consent box.
            self.assertEqual(len(w.tuning), 3)
            self.assertIsNotNone(w.consent)
            self.assertEqual(s.read_text(w.kernel), "")
            self.assertEqual(s.read_text(w.tuning[0]), "lpr %s")
            self.assertEqual(s.read_text(w.tuning[1]), "ghostview -a5 -magstep 0 %s")

            # The shell controls are hidden while User is selected.
            for control in (w.radio["csh"], w.radio["ksh"], w.shell_path):
                self.assertFalse(s.mapped(control))
            self.assertTrue(s.mapped(w.radio["User"]))

            # User is the selected radio button: choosing it again changes
            # neither switch button, while choosing Full changes both.
            def radios():
                return (s.control_pixels(w.top, w.radio["Full"]),
                        s.control_pixels(w.top, w.radio["User"]))
            fresh = radios()
            s.click(w.radio["User"])
            s.read_text(w.tuning[0])  # a round trip through the tool's event queue
            self.assertEqual(radios(), fresh, "choosing User changed the switch")

            # The compiler groups are disabled: typing into their fields
            # has no effect.
            fields = [s.control_pixels(w.top, f) for f in (w.include, w.cpp_name)]
            for field in (w.include, w.cpp_name):
                s.type_into(field, "zz")
            s.read_text(w.tuning[0])
            self.assertEqual([s.control_pixels(w.top, f) for f in (w.include, w.cpp_name)],
                             fields, "a disabled compiler field took input")

            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
            full = radios()
            self.assertNotEqual(full[0], fresh[0])
            self.assertNotEqual(full[1], fresh[1])

            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class InstallationSwitch(unittest.TestCase):

    def test_full_fills_directory_and_shows_shell_controls_user_hides_them(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            s.type_into(w.kernel, "/opt/velorix")
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "the shell path field is shown")
            self.assertTrue(s.mapped(w.radio["csh"]))
            self.assertTrue(s.mapped(w.radio["ksh"]))
            self.assertEqual(s.read_text(w.kernel), s.workdir)
            self.assertEqual(s.read_text(w.shell_path), TCSH + " -f")

            # Under Full the compiler fields take input.
            s.type_into(w.include, "-I/usr/local/include")
            self.assertEqual(s.read_text(w.include), "-I/usr/local/include")

            s.click(w.radio["User"])
            s.wait_until(lambda: not s.mapped(w.shell_path), "the shell path field is hidden")
            self.assertFalse(s.mapped(w.radio["csh"]))
            self.assertFalse(s.mapped(w.radio["ksh"]))
            self.assertEqual(s.read_text(w.kernel), s.workdir)

            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_directory_with_blank_is_kept_until_the_next_change(self):
        with harness.Session() as s:
            spaced = os.path.join(s.workdir, "with blank")
            os.makedirs(spaced)
            with open(os.path.join(spaced, ".velorixrc"), "w"):
                pass
            s.start_setup(env={"SHELL": TCSH}, cwd=spaced)
            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.read_text(w.kernel) == spaced,
                         "the directory with its blank is in the field")
            s.type_into(w.kernel, "q")
            self.assertEqual(s.read_text(w.kernel), spaced.replace(" ", "", 1) + "q")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


def watch_bells(session):
    """Starts bell_watch on the session's display; returns a function that
    gives the number of bells rung since."""
    log = os.path.join(session.logdir, "bells.log")
    with open(log, "w") as out:
        session._spawn([os.path.join(harness.build_dir(), "bell_watch")], env=session.env(),
                       stdout=out, stderr=subprocess.STDOUT)

    def lines():
        with open(log) as f:
            return f.read().split()
    session.wait_until(lambda: "ready" in lines(), "bell_watch listens")
    return lambda: lines().count("bell")


class DirectoryCheck(unittest.TestCase):

    def test_blank_backslash_and_comma_are_removed(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            bells = watch_bells(s)
            s.type_into(w.kernel, "/a b\\c,d")
            self.assertEqual(s.read_text(w.kernel), "/abcd")
            # One beep for each refused character.
            s.wait_until(lambda: bells() >= 3, "three beeps")
            self.assertEqual(bells(), 3)

            # A pasted text loses only its first refused character; the
            # next change removes the second.
            s.paste_into(w.kernel, "/x  y")
            self.assertEqual(s.read_text(w.kernel), "/abcd/x y")
            s.type_into(w.kernel, "z")
            self.assertEqual(s.read_text(w.kernel), "/abcd/xyz")
            s.wait_until(lambda: bells() >= 5, "a beep for each removed blank")

            # Other fields take these characters, without a beep.
            s.type_into(w.tuning[0], " a,b\\")
            self.assertEqual(s.read_text(w.tuning[0]), "lpr %s a,b\\")
            time.sleep(0.5)  # time for a stray beep to arrive
            self.assertEqual(bells(), 5)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class ShellDetection(unittest.TestCase):

    def shell_path_after_full(self, env, shells=None):
        with harness.Session() as s:
            if shells is not None:
                with open(os.path.join(s.workdir, "shells.vel"), "w") as f:
                    f.write(shells)
            s.start_setup(env=env)
            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "the shell path field is shown")
            text = s.read_text(w.shell_path)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            return text

    def test_list_file_picks_ksh_for_bash(self):
        shells = "# comment line bash c\nbash c\nBash c\nbash K\nbash x\n"
        self.assertEqual(
            self.shell_path_after_full({"SHELL": "/usr/local/bin/bash"}, shells),
            "/usr/local/bin/bash ")

    def test_without_list_file_the_style_is_csh(self):
        self.assertEqual(self.shell_path_after_full({"SHELL": TCSH}), TCSH + " -f")

    def test_without_shell_the_path_is_the_styles_shell(self):
        self.assertEqual(self.shell_path_after_full({"SHELL": None}, "csh k\n"), "/bin/csh -f")

    def test_choosing_a_style_rewrites_the_path(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.radio["ksh"]), "the shell style switch is shown")
            s.click(w.radio["ksh"])
            s.wait_until(lambda: s.read_text(w.shell_path) == TCSH + " ",
                         "the shell path shows the ksh options")
            s.click(w.radio["csh"])
            s.wait_until(lambda: s.read_text(w.shell_path) == TCSH + " -f",
                         "the shell path shows the csh options")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class NoticePreview(unittest.TestCase):

    def preview_prompts(self, w):
        """The preview's lines: prompts between the consent box and the
        buttons, the last of them being the note."""
        return sorted((p for p in w.prompts
                       if w.consent.bottom <= p.y < w.setup.y), key=lambda p: p.y)

    def test_users_files_named_like_scratch_files_are_left_alone(self):
        # The preview's scratch files del1, del2 and del3 are made in a
        # directory of their own: the user's files of those names, here
        # and in TMPDIR, stay as they were, and nothing is left behind.
        with harness.Session() as s:
            tmp = os.path.join(s.workdir, "tmp")
            os.mkdir(tmp)
            for directory in (s.workdir, tmp):
                for name in ("del1", "del2", "del3"):
                    with open(os.path.join(directory, name), "w") as f:
                        f.write("old %s\n" % name)
            s.start_setup(env={"SHELL": TCSH, "TMPDIR": tmp})
            w = s.setup_window()
            for directory in (s.workdir, tmp):
                for name in ("del1", "del2", "del3"):
                    with open(os.path.join(directory, name)) as f:
                        self.assertEqual(f.read(), "old %s\n" % name, name)
            self.assertEqual(sorted(os.listdir(tmp)), ["del1", "del2", "del3"])
            # The empty first line is skipped: the version line, the uname
            # line and the note.
            self.assertEqual(len(self.preview_prompts(w)), 3)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_version_line_carries_u_and_is_not_redone_for_full(self):
        # uname prints the very line that the version line should read, so
        # the two prompts must look alike pixel for pixel.
        for mark, alike in (("u", True), ("m", False)):
            with harness.Session() as s:
                path = fake_uname(s, "VELORIX 1.5%s installed on" % mark)
                s.start_setup(env={"SHELL": TCSH, "PATH": path})
                w = s.setup_window()
                version, uname, note = self.preview_prompts(w)
                self.assertEqual(version.width, uname.width)
                self.assertEqual(s.control_pixels(w.top, version) == s.control_pixels(w.top, uname),
                                 alike, "uname line %r" % mark)
                if mark == "u":
                    s.screenshot(w.top.id, "setup_window_preview.png")
                    s.click(w.radio["Full"])
                    s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
                    self.assertTrue(s.control_pixels(w.top, version)
                                    == s.control_pixels(w.top, uname))
                s.click(w.cancel)
                s.assert_clean_exit(harness.EXIT_CANCELLED)


    def test_unwritable_scratch_directory_leaves_out_the_registration_group(self):
        # The preview is read from del3, which the tool makes in a scratch
        # directory in TMPDIR.  Root may write anywhere, so the tool runs as
        # nobody with TMPDIR (and its working directory) a directory of
        # root's with mode 755: readable, not writable.
        if os.geteuid() != 0:
            self.skipTest("running the tool as another user needs root")
        with harness.Session() as s:
            for directory in (os.path.dirname(s.workdir), s.workdir):
                os.chmod(directory, 0o755)
            before = harness.snapshot(s.workdir)
            s.start_setup(env={"SHELL": TCSH, "HOME": s.workdir, "TMPDIR": s.workdir},
                          user="nobody")
            w = s.setup_window()
            self.assertEqual(s.message_boxes(), [])
            self.assertIsNone(w.consent)
            # Between the switch row and the buttons there is nothing: no
            # group title, preview line or note.
            switch_row = list(w.radio.values()) + [w.shell_path]
            bottom = max(c.bottom for c in switch_row)
            self.assertEqual([p for p in w.prompts if p.y >= bottom], [])
            self.assertGreater(w.setup.y, bottom)

            # The rest is the usual form, and works as usual.
            self.assertEqual(len(w.tuning), 3)
            self.assertEqual(s.read_text(w.kernel), "")
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
            self.assertEqual(s.read_text(w.kernel), s.workdir)
            self.assertEqual(s.read_text(w.lib), "-lc -lm")
            self.assertEqual(s.read_text(w.cpp_name), "c++")
            self.assertEqual(s.read_text(w.cpp_options), " -O2 -fPIC -lc -lm")
            self.assertEqual(s.read_text(w.tuning[0]), "lpr %s")
            self.assertEqual(s.read_text(w.shell_path), TCSH + " -f")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)


class RefusedValues(unittest.TestCase):

    def test_overlong_shell_value_is_refused_with_a_message(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": "/" + "x" * 600})
            box = s.wait_until(s.message_boxes, "a message box tells about SHELL")[0]
            self.assertEqual(s.dismiss_message(box), 2)
            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
            self.assertEqual(s.read_text(w.shell_path), "")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)

    def test_unreadable_directory_keeps_the_field_with_a_message(self):
        with harness.Session() as s:
            gone = os.path.join(s.workdir, "gone")
            os.makedirs(gone)
            with open(os.path.join(gone, ".velorixrc"), "w"):
                pass
            s.start_setup(env={"SHELL": TCSH}, cwd=gone)
            w = s.setup_window()
            s.type_into(w.kernel, "/opt/velorix")
            shutil.rmtree(gone)
            s.click(w.radio["Full"])
            box = s.wait_until(s.message_boxes, "a message box tells about the directory")[0]
            self.assertEqual(s.dismiss_message(box), 2)
            self.assertTrue(s.mapped(w.shell_path))
            self.assertEqual(s.read_text(w.kernel), "/opt/velorix")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


class Cancel(unittest.TestCase):

    def test_cancel_ends_the_program_and_writes_nothing(self):
        with harness.Session() as s:
            with open(os.path.join(s.workdir, "shells.vel"), "w") as f:
                f.write("tcsh c\n")
            before = harness.snapshot(s.workdir)
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.mapped(w.shell_path), "Full is shown")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)


class ButtonRow(unittest.TestCase):

    def test_buttons_stand_with_equal_gaps_across_the_directory_row(self):
        with harness.Session() as s:
            s.start_setup(env={"SHELL": TCSH})
            w = s.setup_window()
            # The directory row as it was when the buttons were placed,
            # before the alignment widened its field: the window's 10-pixel
            # margin, the row's margin h, the prompt, the spacing h and a
            # field 25 characters wide (as wide as the C include field).
            prompt = min(w.prompts, key=lambda p: (p.y, p.x))
            row_left = w.form.x + 10
            h = prompt.x - row_left
            row_right = prompt.right + h + w.include.width + h
            before = w.setup.x - row_left
            between = w.cancel.x - w.setup.right
            after = row_right - w.cancel.right
            self.assertGreater(before, 0)
            self.assertEqual(before, between)
            # Vibrant puts each push button 2 pixels left of its slot, and
            # the division by three leaves up to 2 pixels over: the last gap
            # is up to 2 + 2 + 2 pixels wider.
            self.assertGreaterEqual(after, before)
            self.assertLessEqual(after - before, 8)
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
