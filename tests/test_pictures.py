#!/usr/bin/env python3
"""scripts/pictures.py, which makes the README's pictures from the built
tool: it runs, makes each picture as a PNG of a plausible size and nothing
else in its output directory, and makes the same bytes when run again, so
that a rerun over an unchanged form changes no committed picture.
"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

SCRIPT = os.path.join(harness.source_dir(), "scripts", "pictures.py")
PICTURES = ["setup-window-full.png", "setup-window-user.png", "text-session.png"]


def make(output):
    return subprocess.run([sys.executable, SCRIPT, harness.build_dir(), output],
                          capture_output=True, text=True, timeout=300)


def size(path):
    result = subprocess.run(["identify", "-format", "%m %w %h", path], capture_output=True,
                            text=True, timeout=harness.TIMEOUT, check=True)
    kind, width, height = result.stdout.split()
    return kind, int(width), int(height)


class Pictures(unittest.TestCase):
    def setUp(self):
        self.root = harness.make_scratch_dir("vx-pictures-test-")
        self.addCleanup(harness.remove_scratch_dir, self.root)

    def test_the_pictures_are_made_and_made_alike(self):
        first, second = os.path.join(self.root, "first"), os.path.join(self.root, "second")
        for output in (first, second):
            result = make(output)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(sorted(os.listdir(output)), PICTURES)
        for name in PICTURES:
            kind, width, height = size(os.path.join(first, name))
            self.assertEqual(kind, "PNG", name)
            self.assertGreater(width, 400, name)
            self.assertGreater(height, 400, name)
            with open(os.path.join(first, name), "rb") as a, \
                    open(os.path.join(second, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_without_a_built_tool_it_says_so(self):
        empty = os.path.join(self.root, "nothing-built")
        os.makedirs(empty)
        result = subprocess.run([sys.executable, SCRIPT, empty, os.path.join(self.root, "out")],
                                capture_output=True, text=True, timeout=harness.TIMEOUT)
        self.assertEqual(result.returncode, 1)
        self.assertIn("has no velorix-setup: build it first", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.root, "out")))


if __name__ == "__main__":
    unittest.main()
