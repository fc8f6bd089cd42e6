"""velorix-setup --version and -h: what they print, without a display."""
import os
import re
import shutil
import subprocess
import sys
import unittest

TOOL = os.path.join(os.environ["VX_BUILD"], "velorix-setup")
SOURCE = os.environ["VX_SOURCE"]


def run(*args):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    return subprocess.run([TOOL, *args], env=env, capture_output=True, text=True, timeout=30)


def git_head():
    """The abbreviated commit of the source tree, or None outside a checkout."""
    if shutil.which("git") is None:
        return None
    result = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


class Version(unittest.TestCase):
    def test_version_line(self):
        result = run("--version")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        line = re.fullmatch(r"velorix-setup 1\.5(?: \(git ([0-9A-Za-z._+-]+)\))?\n", result.stdout)
        self.assertIsNotNone(line, result.stdout)
        head = git_head()
        if head is None:
            self.assertIsNone(line.group(1), "a git description outside a checkout")
        else:
            # The description names the commit built, tagged or not.
            self.assertIsNotNone(line.group(1), "no git description in a checkout")
            self.assertRegex(line.group(1), rf"(^|-g){head[:7]}")

    def test_version_is_not_an_installation(self):
        # Anything else on the line is still checked; nothing is installed.
        result = run("--version", "--bogus")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, "")


class Help(unittest.TestCase):
    def test_short_option_is_help(self):
        long_form = run("--help")
        short_form = run("-h")
        self.assertEqual(long_form.returncode, 0)
        self.assertEqual((short_form.returncode, short_form.stdout, short_form.stderr),
                         (0, long_form.stdout, ""))
        self.assertIn("--version", long_form.stdout)
        self.assertIn("-h, --help", long_form.stdout)

    def test_h_as_a_value_stays_a_value(self):
        # A value may begin with "-": "-h" after --cpp-options is not --help.
        result = run("--dry-run", "--cpp-options", "-h", "--bogus")
        self.assertEqual(result.returncode, 2)
        self.assertIn("unknown option '--bogus'", result.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main())
