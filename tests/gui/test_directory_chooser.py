"""The start from the desktop menu: the desktop entry's command opens a
directory chooser before the form, and the tool then works in the
directory chosen, not in the one it was started in, and its status line
names it; a directory that
cannot be worked in is said so and another can be chosen; Cancel ends it
with the window's Cancel status.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_directory_chooser.py
"""

import os
import shlex
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

CHOOSER_TITLE = "velorix 1.5 setup: the directory to set up"
DESKTOP_ENTRY = os.path.join(harness.source_dir(), "packaging", "velorix-setup.desktop")


def desktop_arguments():
    """The arguments of the desktop entry's Exec line."""
    with open(DESKTOP_ENTRY) as f:
        line = next(line for line in f if line.startswith("Exec="))
    argv = shlex.split(line[len("Exec="):])
    assert argv[0] == harness.PROGRAM_NAME, argv
    return argv[1:]


class DesktopStart(unittest.TestCase):

    def start(self, s):
        """Starts the tool as the menu does, in workdir (the menu's own
        directory); returns the chooser once it has the keyboard."""
        s.start_setup(env={"SHELL": "/bin/tcsh"}, args=desktop_arguments())
        chooser = s.wait_window(CHOOSER_TITLE)
        s.wait_keyboard(chooser.id, "the chooser has the keyboard")
        return chooser

    def test_the_form_works_in_the_directory_chosen(self):
        with harness.Session() as s:
            chosen = os.path.join(s.workdir, "project")
            os.makedirs(chosen)
            # The core library must find a settings file there first.
            harness.write_file(os.path.join(chosen, ".velorixrc"), "")
            before = harness.snapshot(s.workdir)
            chooser = self.start(s)
            # The path typed replaces the one shown.
            missing = os.path.join(s.workdir, "missing")
            s.type_text(missing)
            s.key("Return")
            box = s.wait_until(s.message_boxes, "a message says it cannot work there")[0]
            s.wait_keyboard(box.id)
            s.key("Return")
            s.wait_keyboard(chooser.id, "the chooser has the keyboard again")
            s.x("xdotool", "key", "--repeat", str(len(missing)), "BackSpace")
            s.type_text(chosen)
            s.key("Return")

            w = s.setup_window()
            s.click(w.radio["Full"])
            s.wait_until(lambda: s.read_text(w.kernel) == chosen,
                         "Full puts the chosen directory into the form")
            line = s.status_picture("Setting up %s (Full installation)" % chosen, w.status.width)
            s.wait_until(lambda: s.control_pixels(w.top, w.status) == line,
                         "the status line names the chosen directory")
            s.click(w.cancel)
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)

    def test_an_installation_from_the_menu_ends_with_its_summary_in_a_message_box(self):
        # Started from the menu there is no terminal to print the summary
        # in: the window shows it before it ends (the plain start ends
        # silently, as tests/gui/test_install.py sees).
        with harness.Session() as s:
            product = os.path.join(s.workdir, "product")
            os.makedirs(product)
            harness.write_file(os.path.join(product, "velorix"), "#!/bin/sh\n", 0o755)
            with open(os.path.join(product, "autodif.o"), "wb") as f:
                f.write(harness.relocatable_object())
            harness.write_file(os.path.join(product, "classes.vel"), "&hierarchy\nA b\n")
            chosen = os.path.join(s.workdir, "project")
            os.makedirs(chosen)
            harness.write_file(os.path.join(chosen, ".velorixrc"), "")
            self.start(s)
            s.type_text(chosen)
            s.key("Return")
            w = s.setup_window()
            s.wait_keyboard(w.top.id)
            s.type_text(product)
            s.key("Return")
            box = s.wait_until(s.message_boxes, "the summary is shown")[0]
            output = s.app_output()
            summary = output[output.index("User installation in "):].rstrip("\n")
            self.assertIn("User installation in %s (product directory %s): done.\n"
                          % (chosen, product), summary + "\n")
            if not s.message_shows(box, s.message_picture(summary)):
                self.fail("the message box does not show the summary %r" % summary)
            s.assert_running()
            s.dismiss_message(box)
            s.assert_clean_exit(harness.EXIT_ENDED)
            self.assertEqual(harness.read_file(os.path.join(chosen, ".velorixrc"))
                             .count("KERNEL=%s/" % product), 1)

    def test_cancel_in_the_chooser_ends_with_status_1(self):
        with harness.Session() as s:
            before = harness.snapshot(s.workdir)
            self.start(s)
            s.key("Escape")  # the chooser's Cancel
            s.assert_clean_exit(harness.EXIT_CANCELLED)
            self.assertEqual(harness.snapshot(s.workdir), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
