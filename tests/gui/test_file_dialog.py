#!/usr/bin/env python3
"""The file dialog wrappers keep the working directory; myProcessAnyEvent
returns at once.

Runs tests/tools/dialog_probe under a private Xvfb in a temporary
directory and drives the Motif file dialog with xdotool as a user would:
pressing Cancel, and choosing a file in another directory through the
Directories and Files lists.  The probe moves the working
directory while the dialog is open, as a GUI layer that follows the
user's browsing may (the one here does not); the directory reported after
each dialog must still be the one the probe started in.
"""
import os
import queue
import re
import subprocess
import sys
import threading

import harness

PROBE = os.path.join(harness.build_dir(), "dialog_probe")
DIALOG_NAME = "file_selection_popup"
LINE_TIMEOUT = 20
WINDOW_TIMEOUT = 20
# A call with nothing to do must come back well within this.
NO_WAIT_MS = 100.0
# Offsets inside the dialog: the first row of a list lies this far below
# the list's top edge; the button row lies below the Selection field.
FIRST_ROW_OFFSET = 8
ROW_X_OFFSET = 20
# Pixels inside a list's edge that its shadow and focus frame may cover.
LIST_MARGIN = 6
# Gray level (0 black, 1 white) below which a pixel belongs to a name.
DARK = 0.5
BUTTONS = 4        # OK, Filter, Cancel, Help, spread evenly
CANCEL_SLOT = 2

failures = []


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name}: {detail}")


class Probe:
    """The probe program, its output read line by line as it comes."""

    def __init__(self, display, cwd, args):
        self.env = dict(os.environ, DISPLAY=display)
        self.proc = subprocess.Popen([PROBE] + args, cwd=cwd, env=self.env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def expect(self, prefix):
        """The next line, which must start with prefix; the rest of it."""
        try:
            line = self.lines.get(timeout=LINE_TIMEOUT)
        except queue.Empty:
            raise RuntimeError(f"no line '{prefix}' within {LINE_TIMEOUT} s") from None
        if line is None:
            raise RuntimeError(f"probe ended before '{prefix}': {self.proc.stderr.read()}")
        if not line.startswith(prefix + " ") and line != prefix:
            raise RuntimeError(f"expected '{prefix}', got '{line}'")
        return line[len(prefix) + 1:]

    def finish(self):
        self.expect("done")
        try:
            code = self.proc.wait(timeout=LINE_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise RuntimeError("probe did not exit") from None
        check("probe exit status", code == 0, f"exited {code}")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def xdotool(env, *args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=env, capture_output=True,
                          text=True, timeout=LINE_TIMEOUT).stdout


def wait_for_dialog(env):
    """The id of the viewable file dialog window."""
    return harness.wait_for(
        lambda: xdotool(env, "search", "--onlyvisible", "--name", f"^{DIALOG_NAME}$").split(),
        "the file dialog appears", WINDOW_TIMEOUT)[0]


GEOMETRY = re.compile(r"^\s*(0x[0-9a-f]+) .*?(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)\s*$")


def layout(env, window):
    """The dialog's geometry and its child windows as (x, y, w, h), relative
    to the dialog: lists, text fields."""
    def xwininfo(*args):
        return subprocess.run(["xwininfo"] + list(args) + ["-id", window], env=env, capture_output=True,
                              text=True, timeout=LINE_TIMEOUT).stdout

    out = xwininfo("-tree")
    info = xwininfo()
    size = re.search(r"Width: (\d+).*?Height: (\d+)", info, re.S)
    origin = re.search(r"Absolute upper-left X:\s+(-?\d+).*?Absolute upper-left Y:\s+(-?\d+)", info, re.S)
    width, height = int(size.group(1)), int(size.group(2))
    ox, oy = int(origin.group(1)), int(origin.group(2))
    children = []
    for line in out.splitlines():
        m = GEOMETRY.match(line)
        if m and m.group(1) != window:
            w, h = int(m.group(2)), int(m.group(3))
            children.append((int(m.group(6)) - ox, int(m.group(7)) - oy, w, h))
    return width, height, children


def lists(width, children):
    """(Directories list, Files list): of the tall child windows on each
    side, the narrowest that is not a scroll bar is the list itself."""
    tall = sorted({c for c in children if c[3] > 100 and 50 < c[2] < width - 20}, key=lambda c: (c[0], c[2]))
    left = [c for c in tall if c[0] < width // 2]
    right = [c for c in tall if c[0] >= width // 2]
    if not left or not right:
        raise RuntimeError(f"cannot find the two lists in {children}")
    return left[0], right[0]


def click(env, window, x, y):
    xdotool(env, "mousemove", "--window", window, x, y, "click", "1")


def press_cancel(env, window):
    width, height, children = layout(env, window)
    fields = [c for c in children if c[2] > width * 0.8 and c[3] < 60]
    bottom = max(c[1] + c[3] for c in fields)
    slot = width / BUTTONS
    click(env, window, int(slot * CANCEL_SLOT + slot / 2), int((bottom + height) / 2))


def list_signature(env, window, area):
    """A hash of the pixels inside a list, to see when its content changes."""
    x, y, w, h = area
    return subprocess.run(["import", "-window", window, "-crop",
                           f"{w - 2 * LIST_MARGIN}x{h - 2 * LIST_MARGIN}+{x + LIST_MARGIN}+{y + LIST_MARGIN}",
                           "-format", "%#", "info:"],
                          env=env, capture_output=True, text=True, timeout=LINE_TIMEOUT).stdout.strip()


def list_is_blank(env, window, area):
    """True when a list shows no dark pixel at all, not even "." and ".."."""
    x, y, w, h = area
    darkest = subprocess.run(["import", "-window", window, "-crop",
                              f"{w - 2 * LIST_MARGIN}x{h - 2 * LIST_MARGIN}+{x + LIST_MARGIN}+{y + LIST_MARGIN}",
                              "-colorspace", "gray", "-format", "%[fx:minima]", "info:"],
                             env=env, capture_output=True, text=True, timeout=LINE_TIMEOUT).stdout.strip()
    return float(darkest or 0) > DARK


def choose_in_subdirectory(env, window):
    """Enters the third directory of the list (after "." and "..") and
    picks the first file there.  False when the dialog lists nothing."""
    width, _, children = layout(env, window)
    directories, files = lists(width, children)
    if list_is_blank(env, window, directories):
        return False
    before = list_signature(env, window, files)
    click(env, window, directories[0] + ROW_X_OFFSET, directories[1] + FIRST_ROW_OFFSET)
    xdotool(env, "key", "Down", "Down", "Return")
    # Wait until the Files list has changed and has settled (two equal
    # looks in a row), so that the click lands on a drawn name.
    looks = [before]

    def settled():
        looks.append(list_signature(env, window, files))
        return looks[-1] != before and looks[-1] == looks[-2]
    harness.wait_for(settled, "the Files list has filled after entering the directory",
                     WINDOW_TIMEOUT)
    click(env, window, files[0] + ROW_X_OFFSET, files[1] + FIRST_ROW_OFFSET)
    xdotool(env, "key", "Return")
    return True


def run_cancel_and_events(display, work):
    probe = Probe(display, work, ["events", "input@other", "output@other"])
    env = probe.env
    try:
        start = probe.expect("cwd")
        check("start directory", os.path.realpath(start) == os.path.realpath(work), start)

        idle = probe.expect("idle").split()
        check("nothing pending gives FALSE", idle[0] == "0", idle)
        check("nothing pending returns at once", float(idle[1]) < NO_WAIT_MS, f"{idle[1]} ms")
        timer = probe.expect("timer").split()
        check("a due timer is handled", timer[0] == "1" and timer[1] == "1", timer)
        check("a due timer does not wait for an X event", float(timer[2]) < NO_WAIT_MS, f"{timer[2]} ms")
        check("directory after events", probe.expect("cwd") == start, "changed")

        probe.expect("ready")
        window = wait_for_dialog(env)
        check("probe moved while the dialog was open", probe.expect("moved") == "1", "chdir failed")
        press_cancel(env, window)
        result = probe.expect("input")
        check("cancelled input dialog gives FALSE", result.split()[:1] == ["0"], result)
        check("directory after cancelled input dialog", probe.expect("cwd") == start,
              "not restored after the dialog moved it")

        # The toolkit reuses the dialog window, so it may still be mapped:
        # the move, made from inside the dialog's own event loop, tells
        # that the new dialog is up.
        probe.expect("ready")
        window = wait_for_dialog(env)
        probe.expect("moved")
        press_cancel(env, window)
        result = probe.expect("output")
        check("cancelled output dialog gives FALSE", result.split()[:1] == ["0"], result)
        check("directory after cancelled output dialog", probe.expect("cwd") == start,
              "not restored after the dialog moved it")
        probe.finish()
    finally:
        probe.kill()


def run_choose_elsewhere(display, work):
    probe = Probe(display, work, ["input@other"])
    env = probe.env
    try:
        start = probe.expect("cwd")
        probe.expect("ready")
        window = wait_for_dialog(env)
        probe.expect("moved")
        if not choose_in_subdirectory(env, window):
            # Seen with the sanitizer build: Motif reads the directory but
            # its dialog shows no names at all, so there is nothing to pick.
            print("SKIPPED choosing a file: the toolkit's file dialog lists nothing in this build")
            press_cancel(env, window)
            probe.expect("input")
            check("directory after the dialog", probe.expect("cwd") == start, "not restored")
            probe.finish()
            return
        result = probe.expect("input")
        expected = os.path.join(os.path.realpath(work), "other", "chosen.txt")
        parts = result.split(" ", 1)
        check("chosen file gives TRUE", parts[0] == "1", result)
        check("chosen file name", len(parts) == 2 and os.path.realpath(parts[1]) == expected, result)
        check("directory after choosing in another directory", probe.expect("cwd") == start,
              "not restored")
        probe.finish()
    finally:
        probe.kill()


def main():
    if not os.access(PROBE, os.X_OK):
        print(f"{PROBE} is missing: build the dialog_probe target", file=sys.stderr)
        return 1
    try:
        with harness.scratch_dir("vx-dialog-") as work, harness.XServer() as server:
            os.mkdir(os.path.join(work, "other"))
            with open(os.path.join(work, "other", "chosen.txt"), "w") as f:
                f.write("chosen\n")
            run_cancel_and_events(server.display, work)
            run_choose_elsewhere(server.display, work)
    except (AssertionError, RuntimeError, subprocess.TimeoutExpired) as error:
        failures.append(str(error))
    return harness.report(failures, "file dialog and event tests passed")


if __name__ == "__main__":
    sys.exit(main())
