"""The Setup window while "Setup" works, with a stand-in compiler that
takes its time: the status line below the buttons names the step (and
while the form waits, the directory it sets up and the kind, with a second
line for a Full installation run outside its product directory), the busy
cursor is over the window, the window
is drawn again when another window has covered it, "Setup" cannot be
pressed again, and "Cancel" (or the close box, or Escape) stops the
compile at once: its processes end, nothing of the run is placed (every
file stays as it was), and the form stays for another try.  Once nothing runs, "Cancel" ends the
program as always.

The status line is compared, pixel for pixel, with the line that
tests/tools/prompt_probe shows for the expected text; the cursor is read
back with tests/tools/cursor_probe.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_progress.py
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

TCSH = "/bin/tcsh"
COMPILING = "Compiling autodif.cc ..."
MSG_CANCELLED = ("The compile of autodif.cc was cancelled.\nThe installation has been stopped; "
                 "nothing in the directory has changed.")
# A steady caret, so that two pictures of the window can be compared.
STEADY = ["-xrm", "*blinkRate: 0"]
# The X cursor font's own cursors, for the tool and cursor_probe alike: a
# cursor theme may animate the watch.
NO_CURSOR_THEMES = "/nonexistent"


def slow_compiler(path, record):
    """A compiler that writes a piece of its object, starts a helper, notes
    its own and the helper's process ids (one line a start) and waits."""
    harness.write_file(path, "#!/bin/sh\n"
                             "while [ $# -gt 0 ]; do\n"
                             "  if [ \"$1\" = -o ]; then echo partial >\"$2\"; fi\n"
                             "  shift\n"
                             "done\n"
                             "sleep 120 &\n"
                             "echo $$ $! >>\"%s\"\n"
                             "wait\n" % record, 0o755)


def started(record):
    """The process ids of each start of the slow compiler."""
    if not os.path.exists(record):
        return []
    return [list(map(int, line.split())) for line in harness.read_file(record).splitlines()
            if line.strip()]


def ended(pid):
    """Whether process pid has ended (gone, or a zombie not yet reaped)."""
    try:
        stat = harness.read_file("/proc/%d/stat" % pid)
    except FileNotFoundError:
        return True
    return stat[stat.rindex(")") + 1:].split()[0] == "Z"


class Progress(unittest.TestCase):

    def setUp(self):
        self.s = harness.Session()
        self.product = os.path.join(self.s.workdir, "product")
        os.makedirs(self.product)
        harness.write_file(os.path.join(self.product, ".velorixrc"), "")
        harness.write_file(os.path.join(self.product, "velorix"), "#!/bin/sh\n", 0o755)
        harness.write_file(os.path.join(self.product, "autodif.cc"), "int marker() { return 7; }\n")
        harness.write_file(os.path.join(self.product, "classes.vel"),
                           "&classes\nZ z\n&hierarchy\nA b\n")
        self.compiler = os.path.join(self.s.workdir, "slowcc")
        self.record = os.path.join(self.s.workdir, "compiler.pids")
        slow_compiler(self.compiler, self.record)

    def tearDown(self):
        self.s.close()

    # ---- reading the window back -----------------------------------------

    def status_line(self, w):
        return self.s.control_pixels(w.top, w.status)

    def expected_line(self, text, width):
        """The pixels of a status line of that width showing text."""
        return self.s.status_picture(text, width)

    def cursor(self, *where):
        """The cursor shown at the point where, or the X watch cursor for
        "watch"."""
        probe = os.path.join(harness.build_dir(), "cursor_probe")
        result = subprocess.run([probe] + list(map(str, where)),
                                env=self.s.env({"XCURSOR_PATH": NO_CURSOR_THEMES}),
                                capture_output=True, text=True, timeout=harness.TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def prompts(self, w):
        """The pixels of every prompt of the window: a prompt looks the
        same whether or not the window has the keyboard."""
        return [self.s.control_pixels(w.top, p) for p in w.prompts + [w.status]]

    def cover_and_uncover(self, w):
        """Shows a window of another program over the middle of the screen,
        where the Setup window is, and takes it away again; returns the
        prompts of the Setup window that it covered."""
        s = self.s
        cover = s._spawn([os.path.join(harness.build_dir(), "message_probe")],
                         env=s.env({"VX_MESSAGE_TEXT": "x" * 60 + "\n" * 12 + "covering"}),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box = s.wait_until(lambda: [w for w in s.top_levels()
                                    if w.name == "message_probe" and s.is_viewable(w.id)],
                           "a window covers the Setup window")[0]
        harness.kill(cover)
        return [p for p in w.prompts + [w.status]
                if p.x < box.right and box.x < p.right and p.y < box.bottom and box.y < p.bottom]

    # ---- the test ----------------------------------------------------------

    def press_setup_and_wait_for_the_compile(self, w, starts):
        s = self.s
        s.click(w.setup)
        s.wait_until(lambda: len(started(self.record)) == starts, "the compiler runs")

    def assert_stopped_and_back_to_the_form(self, w, expected_box, before):
        s = self.s
        box = s.wait_until(s.message_boxes, "a message says the compile was cancelled")[0]
        if not s.message_shows(box, expected_box):
            self.fail("the message box does not show %r (see the artifacts)" % MSG_CANCELLED)
        compiler, helper = started(self.record)[-1]
        s.wait_until(lambda: ended(compiler) and ended(helper),
                     "the compiler and what it started have ended")
        s.dismiss_message(box)
        s.assert_running()
        # Every file is as it was, the settings included: nothing the
        # steps before the compile wrote is put in place, no object (not
        # even the piece the compiler wrote), no temporary file, no
        # scratch directory.
        self.assertEqual(harness.snapshot(self.product), before)

    def test_the_window_shows_the_run_and_cancel_stops_the_compile(self):
        s = self.s
        expected_box = s.message_picture(MSG_CANCELLED)
        watch = self.cursor("watch")
        s.start_setup(env={"SHELL": TCSH, "XCURSOR_PATH": NO_CURSOR_THEMES}, cwd=self.product,
                      args=STEADY)
        w = s.setup_window()
        self.assertIsNotNone(w.status, "the Setup window has no status line")
        self.assertEqual(self.status_line(w),
                         self.expected_line("Setting up %s (User installation)" % self.product,
                                            w.status.width))
        idle = self.expected_line("Setting up %s (Full installation)" % self.product,
                                  w.status.width)
        compiling = self.expected_line(COMPILING, w.status.width)
        over_window = w.status.center
        self.assertNotEqual(self.cursor(*over_window), watch)

        s.click(w.radio["Full"])
        s.wait_until(lambda: s.read_text(w.kernel) == self.product, "Full fills the directory")
        s.wait_until(lambda: self.status_line(w) == idle, "the status line says Full")
        s.click(w.cpp_name, repeat=3)
        s.type_text(self.compiler)
        s.wait_until(lambda: s.read_text(w.cpp_name) == self.compiler, "the compiler is typed")
        before = harness.snapshot(self.product)

        self.press_setup_and_wait_for_the_compile(w, 1)
        s.wait_until(lambda: self.status_line(w) == compiling,
                     "the status line reads %r" % COMPILING)
        s.wait_until(lambda: self.cursor(*over_window) == watch, "the busy cursor is shown")
        s.screenshot(w.top.id, "setup_window_compiling.png")
        # Drawn again once uncovered, while the compile runs.
        shown = self.prompts(w)
        self.assertTrue(self.cover_and_uncover(w), "the covering window covered no prompt")
        s.wait_until(lambda: self.prompts(w) == shown, "the window is drawn again")
        # "Setup" cannot be pressed while it works.
        s.click(w.setup)

        s.click(w.cancel)
        self.assert_stopped_and_back_to_the_form(w, expected_box, before)
        self.assertEqual(len(started(self.record)), 1, "a second compile was started")
        self.assertEqual(self.status_line(w), idle)
        self.assertNotEqual(self.cursor(*over_window), watch)

        # The close box does what "Cancel" does: it stops the compile.
        self.press_setup_and_wait_for_the_compile(w, 2)
        s.wait_until(lambda: self.status_line(w) == compiling,
                     "the status line reads %r" % COMPILING)
        s.close_window(w.top.id)
        self.assert_stopped_and_back_to_the_form(w, expected_box, before)
        # And so does Escape.
        self.press_setup_and_wait_for_the_compile(w, 3)
        s.wait_until(lambda: self.status_line(w) == compiling,
                     "the status line reads %r" % COMPILING)
        s.key("Escape")
        self.assert_stopped_and_back_to_the_form(w, expected_box, before)

        # With nothing running, "Cancel" ends the program.
        stopped = harness.snapshot(self.product)
        s.click(w.cancel)
        s.assert_clean_exit(harness.EXIT_CANCELLED)
        self.assertEqual(harness.snapshot(self.product), stopped)

    def test_a_full_installation_from_elsewhere_says_so_on_the_status_line_alone(self):
        s = self.s
        work = os.path.join(s.workdir, "work")
        os.makedirs(work)
        harness.write_file(os.path.join(work, ".velorixrc"), "")
        harness.write_file(os.path.join(work, "autodif.cc"), "int marker() { return 7; }\n")
        compiler = harness.write_stand_in_compiler(s.workdir)
        s.start_setup(cwd=work, args=STEADY + ["--full", "--kernel", self.product,
                                               "--cpp-name", compiler])
        w = s.setup_window()
        width = w.status.width
        first = self.expected_line("Setting up %s (Full installation): autodif.o is compiled "
                                   "here," % work, width)
        second = self.expected_line("installation-wide files go to %s/. Run it there, or "
                                    "choose User." % self.product, width)
        more = [p for p in w.prompts_below if p is not w.status]
        self.assertEqual(len(more), 1, "no second status line")
        s.wait_until(lambda: self.status_line(w) == first and
                     s.control_pixels(w.top, more[0]) == second, "the status lines say where")
        # No box: the run ends; what the lines said is on standard error.
        s.click(w.setup)
        s.assert_clean_exit()
        self.assertIn("This Full installation is run from %s,\nnot from its VELORIX directory "
                      "%s/:" % (work, self.product), s.app_output())
        self.assertTrue(os.path.exists(os.path.join(self.product, "init.vpf")))
        self.assertTrue(os.path.exists(os.path.join(work, "autodif.o")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
