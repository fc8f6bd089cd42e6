"""The Setup window's start on X servers that a plain test server hides.

An X server that resets when its last client leaves (Xvfb without
-noreset, many X terminals) refuses a client that connects while it
resets.  The tool checks the display before the GUI toolkit opens it: the
check's connection must stay open until the toolkit has its own, or the
toolkit's comes during the reset, and the start fails.  The server's audit
log (-audit 4) names every connection with the process that made it, so a
test sees whether the tool ever left the server without a client of its
own, which is what makes the start fail, and not only whether it was lucky
this time.

A toolkit that still cannot open the display (a server that turns it away
after the check) ends the tool with the same one line as no display at
all, and status 3; the library tests/tools/second_display_refused.c,
preloaded, refuses every XOpenDisplay after the first.

Run through ctest (VX_BUILD names the build under test) or directly:
    VX_BUILD=build python3 tests/gui/test_start.py
"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

EXIT_NO_WINDOW = 3
# Fresh servers tried; the start failed about one time in four.
ROUNDS = 4
CONNECTED = re.compile(r"client (\d+) connected from .*pid=(\d+)")
DISCONNECTED = re.compile(r"client (\d+) disconnected")


def connections(log_path, pid):
    """The audit log's connections and disconnections of process pid, in
    order: a list of +1 and -1."""
    owner = {}
    changes = []
    for line in harness.read_file(log_path).splitlines():
        m = CONNECTED.search(line)
        if m:
            owner[m.group(1)] = int(m.group(2))
            if owner[m.group(1)] == pid:
                changes.append(+1)
            continue
        m = DISCONNECTED.search(line)
        if m and owner.pop(m.group(1), None) == pid:
            changes.append(-1)
    return changes


class ServerThatResets(unittest.TestCase):

    def test_the_tool_keeps_a_connection_until_the_window_is_shown(self):
        for round in range(ROUNDS):
            with self.subTest(round=round), \
                    harness.Session(reset=True, xvfb_options=["-audit", "4"]) as s:
                tool = s.start_setup(env={"SHELL": "/bin/sh"})
                # No client of the test's may come and go before the tool
                # has connected: the server would reset under the tool.
                s.wait_until(lambda: connections(s.xvfb_log, tool.pid),
                             "the tool connects to the server")
                s.setup_window()
                changes = connections(s.xvfb_log, tool.pid)
                open_now = 0
                for change in changes:
                    open_now += change
                    self.assertGreater(open_now, 0, "the tool left the server without a "
                                       "client of its own before its window was shown: %s"
                                       % changes)
                s.key("Escape")
                s.assert_clean_exit(harness.EXIT_CANCELLED)


class ToolkitCannotOpen(unittest.TestCase):

    def test_one_line_and_status_3_when_the_toolkit_is_refused_after_the_check(self):
        shim = os.environ["VX_SECOND_DISPLAY_REFUSED"]
        # A preloaded library that is not sanitized comes before the
        # sanitizer's run-time in a sanitizer build.
        asan = os.environ.get("ASAN_OPTIONS", "detect_leaks=0")
        with harness.XServer() as server, harness.scratch_dir("vx-start-") as root:
            work = os.path.join(root, "work")
            os.makedirs(work)
            harness.write_file(os.path.join(work, ".velorixrc"), "")
            opens = os.path.join(root, "opens")
            env = dict(server.env(), LD_PRELOAD=shim, VX_DISPLAY_OPENS=opens, SHELL="/bin/sh",
                       ASAN_OPTIONS=asan + ":verify_asan_link_order=0")
            result = harness.run_tool([], work, env=env, timeout=harness.TIMEOUT)
            left = sorted(os.listdir(work))
            # The check got through; the toolkit's own open did not.
            self.assertEqual(harness.read_file(opens).split(), ["opened", "refused"])
        self.assertEqual(result.returncode, EXIT_NO_WINDOW, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn("no X display available (DISPLAY is '%s' and cannot be opened)"
                      % server.display, lines[0])
        self.assertIn("--unattended", lines[0])
        self.assertEqual(result.stdout, "")
        self.assertEqual(left, [".velorixrc"], "nothing may be written without a window")


if __name__ == "__main__":
    unittest.main(verbosity=2)
