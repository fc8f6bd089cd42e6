"""Without an X display the tool says so in one line and exits with status
3 (neither an ended installation, 0, nor "Cancel", 1), instead of printing
the GUI toolkit's own message or a trace."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.environ["VX_BUILD"], "velorix-setup")
EXIT_NO_DISPLAY = 3


def run_without(display, args=()):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    with tempfile.TemporaryDirectory() as work:
        result = subprocess.run([TOOL] + list(args), cwd=work, env=env, capture_output=True,
                                text=True, timeout=30)
        left = os.listdir(work)
    return result, left


class NoDisplay(unittest.TestCase):
    def check(self, display, wording, args=()):
        result, left = run_without(display, args)
        self.assertEqual(result.returncode, EXIT_NO_DISPLAY)
        self.assertEqual(result.stdout, "")
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn("no X display available", lines[0])
        self.assertIn(wording, lines[0])
        # The way to install without a display is named where it is needed.
        self.assertIn("--unattended", lines[0])
        self.assertNotIn("Vibrant", result.stderr)
        self.assertEqual(left, [], "nothing may be written without a window")

    def test_display_unset(self):
        self.check(None, "DISPLAY is not set")

    def test_display_that_cannot_be_opened(self):
        # A display number that no server listens on.
        self.check(":987", "':987' and cannot be opened")

    def test_display_option_that_cannot_be_opened(self):
        # -display wins over DISPLAY, as in any X program.
        self.check(os.environ.get("DISPLAY"), "-display is ':986' and cannot be opened",
                   ["-display", ":986"])


class WindowModule(unittest.TestCase):
    """The window and the GUI toolkit are a module that only the window
    loads."""

    def test_runs_without_a_window_load_no_gui_library(self):
        env = dict(os.environ, LD_DEBUG="files")
        for args in (["--version"], ["--unattended", "--dry-run", "--full"]):
            with tempfile.TemporaryDirectory() as work:
                open(os.path.join(work, ".velorixrc"), "w").close()
                result = subprocess.run([TOOL] + args, cwd=work, env=env, capture_output=True,
                                        text=True, timeout=30)
            loaded = [line for line in result.stderr.splitlines() if "file=" in line]
            self.assertTrue(loaded, result.stderr[-2000:])
            for library in ("libvibrant", "libXm", "libXt", "libX11", "velorix-setup-window"):
                self.assertFalse([line for line in loaded if library in line], (args, library))

    def run_beside(self, module_bytes):
        """Runs a copy of the tool with module_bytes as its window module
        beside it; returns the completed process."""
        with tempfile.TemporaryDirectory() as bare:
            alone = os.path.join(bare, "velorix-setup")
            shutil.copy(TOOL, alone)
            with open(os.path.join(bare, "velorix-setup-window.so"), "wb") as f:
                f.write(module_bytes)
            with tempfile.TemporaryDirectory() as work:
                result = subprocess.run([alone], cwd=work, capture_output=True, text=True,
                                        timeout=30, env=dict(os.environ, DISPLAY=":987"))
                self.assertEqual(os.listdir(work), [])
        return result

    def test_a_module_cut_short_is_refused_before_it_is_loaded(self):
        # The loader maps a file by its headers: a cut module was mapped all
        # the same, and the first page touched past its end killed the
        # program with a bus error.
        with open(os.path.join(os.environ["VX_BUILD"], "velorix-setup-window.so"), "rb") as f:
            whole = f.read()
        for cut in (20, 1000, len(whole) // 4, len(whole) // 2, len(whole) - 1):
            with self.subTest(cut=cut):
                result = self.run_beside(whole[:cut])
                self.assertEqual(result.returncode, EXIT_NO_DISPLAY, result.stderr)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn("the window cannot be loaded", lines[0])
                self.assertIn("velorix-setup-window.so: cut short at %d bytes" % cut, lines[0])
                self.assertIn("--unattended", lines[0])

    def test_a_missing_module_is_told_in_one_line(self):
        with tempfile.TemporaryDirectory() as bare:
            alone = os.path.join(bare, "velorix-setup")
            shutil.copy(TOOL, alone)
            with tempfile.TemporaryDirectory() as work:
                result = subprocess.run([alone], cwd=work, capture_output=True, text=True,
                                        timeout=30, env=dict(os.environ, DISPLAY=":987"))
                self.assertEqual(os.listdir(work), [])
        self.assertEqual(result.returncode, EXIT_NO_DISPLAY)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn("the window cannot be loaded", lines[0])
        self.assertIn("velorix-setup-window.so", lines[0])
        self.assertIn("--unattended", lines[0])


if __name__ == "__main__":
    sys.exit(unittest.main())
