#!/usr/bin/env python3
"""The bash completion of velorix-setup, as bash calls it.

Each case sources packaging/velorix-setup.bash-completion in a bash of its
own, sets COMP_WORDS and COMP_CWORD as bash does for the line typed, calls
the completion function and reads COMPREPLY.  The options come from the
built program, and every option that --help names must be offered.
"""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

TOOL = os.path.abspath(os.path.join(harness.build_dir(), harness.PROGRAM_NAME))
SCRIPT = os.path.join(harness.source_dir(), "packaging", "velorix-setup.bash-completion")


def complete(words, cwd):
    """COMPREPLY for the words of a line, the cursor at the end of the
    last one (bash splits "--kernel=/x" into "--kernel", "=", "/x")."""
    quoted = " ".join("'%s'" % w.replace("'", "'\\''") for w in words)
    program = ('source "$1"; COMP_WORDS=(%s); COMP_CWORD=%d; _velorix_setup; '
               'printf "%%s\\n" "${COMPREPLY[@]}"' % (quoted, len(words) - 1))
    result = subprocess.run(["bash", "--norc", "--noprofile", "-c", program, "bash", SCRIPT],
                            cwd=cwd, capture_output=True, text=True, timeout=harness.TIMEOUT)
    if result.returncode != 0 or result.stderr:
        raise AssertionError("the completion failed: %s" % result.stderr)
    return sorted(line for line in result.stdout.splitlines() if line)


class Completion(unittest.TestCase):
    def setUp(self):
        self.root = harness.make_scratch_dir("vx-completion-")
        self.addCleanup(harness.remove_scratch_dir, self.root)
        os.makedirs(os.path.join(self.root, "opt", "velorix"))
        harness.write_file(os.path.join(self.root, "opt", "answers.ini"), "[form]\n")

    def test_options_kinds_and_shell_styles(self):
        self.assertEqual(complete([TOOL, "--sh"], self.root), ["--shell-path", "--shell-style"])
        self.assertEqual(complete([TOOL, "--fu"], self.root), ["--full"])
        self.assertEqual(complete([TOOL, "--u"], self.root), ["--unattended", "--user"])
        self.assertEqual(complete([TOOL, "--di"], self.root),
                         ["--diff", "--diff=full", "--differentiator"])
        self.assertEqual(complete([TOOL, "--shell-style", ""], self.root), ["csh", "ksh"])
        self.assertEqual(complete([TOOL, "--shell-style", "=", "k"], self.root), ["ksh"])
        self.assertEqual(complete([TOOL, "--diff", "=", ""], self.root), ["full"])
        self.assertEqual(complete([TOOL, "--changed-files", ""], self.root), ["keep", "take"])
        # A flag takes no value: the next word is an option again, and
        # --diff's value only ever follows "=".
        self.assertEqual(complete([TOOL, "--diff", ""], self.root), [])
        self.assertEqual(complete([TOOL, "--full", "--ker"], self.root), ["--kernel"])
        self.assertEqual(complete([TOOL, "--printer", ""], self.root), [])
        # A number is no word to offer.
        self.assertEqual(complete([TOOL, "--keep-backups", ""], self.root), [])

    def test_directories_and_files(self):
        self.assertEqual(complete([TOOL, "--kernel", "opt/"], self.root), ["opt/velorix"])
        self.assertEqual(complete([TOOL, "--kernel", "=", "opt/"], self.root), ["opt/velorix"])
        self.assertEqual(complete([TOOL, "--answers", "opt/"], self.root),
                         ["opt/answers.ini", "opt/velorix"])
        self.assertEqual(complete([TOOL, "--log", "opt/a"], self.root), ["opt/answers.ini"])

    def test_every_option_of_help_is_offered(self):
        usage = subprocess.run([TOOL, "--help"], capture_output=True, text=True,
                               timeout=harness.TIMEOUT).stdout
        # The options --help describes, one a line ("--full | --user" two).
        named = set()
        for line in usage.splitlines():
            found = re.match(r"\s+(?:-h, )?(--[a-z-]+)(?:\[=\w+\])?(?: \| (--[a-z-]+))?", line)
            if found:
                named.update(name for name in found.groups() if name)
        self.assertIn("--shell-style", named)
        offered = set(complete([TOOL, "--"], self.root))
        self.assertEqual(named - offered, set())
        # And nothing the program does not take (--help reads the whole
        # line before it prints anything).
        for option in offered:
            result = subprocess.run([TOOL, "--help", option.split("=")[0]],
                                    env=harness.unattended_env(), capture_output=True,
                                    text=True, timeout=harness.TIMEOUT)
            self.assertNotIn("unknown option", result.stderr, option)


if __name__ == "__main__":
    unittest.main()
