#!/usr/bin/env python3
"""The form's fields, as the built program knows them, are named alike on
every surface written by hand: the Ansible module (its documentation, its
argument_spec and the options it passes on), the manual page's OPTIONS
and the reference's option list.

The program's own lists are the truth: --completion-table (every long
option) and an answer file saved by --dry-run --save-answers (one key per
field of the form).  A field added to the program and forgotten on one of
these surfaces fails here, by name.
"""
import ast
import os
import re
import subprocess
import sys
import unittest

import yaml

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

TOOL = os.path.abspath(os.path.join(harness.build_dir(), harness.PROGRAM_NAME))
SOURCE = harness.source_dir()
MODULE = os.path.join(SOURCE, "deploy", "ansible", "library", "velorix_setup.py")
MANUAL = os.path.join(SOURCE, "packaging", "velorix-setup.1")
REFERENCE = os.path.join(SOURCE, "docs", "reference.md")

# The module's options that are its own rather than fields of the form.
MODULE_OWN = {"path", "state", "answers", "keep_backups", "changed_files", "save_site_defaults",
              "executable", "log"}
# The form's fields that the module passes on other than as "--KEY VALUE":
# the kind (--full or --user) and the notice (--notify or --no-notify).
MODULE_FLAGS = {"kind", "notify"}


def options():
    """Every long option of the program, from --completion-table."""
    result = subprocess.run([TOOL, "--completion-table"], capture_output=True, text=True,
                            timeout=harness.TIMEOUT, check=True)
    return [line.split()[0] for line in result.stdout.splitlines()]


def form_keys():
    """The keys of the form's fields, in the form's order, from an answer
    file that a dry run saves."""
    with harness.scratch_dir("vx-surfaces-") as root:
        saved = os.path.join(root, "answers.ini")
        # Settings of its own, so that no settings file elsewhere is read.
        harness.write_file(os.path.join(root, ".velorixrc"), "")
        harness.run_tool(["--dry-run", "--full", "--save-answers", saved], root,
                         harness.unattended_env())
        text = harness.read_file(saved)
    return re.findall(r"^([a-z-]+) = ", text, re.M)


def module_surfaces():
    """The module's documented options, its argument_spec keys and its
    table of text options, read from its source without running it."""
    tree = ast.parse(harness.read_file(MODULE))
    documented = spec = text_options = None
    for node in ast.walk(tree):
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
            name = node.targets[0].id
            if name == "DOCUMENTATION":
                documented = yaml.safe_load(ast.literal_eval(node.value))["options"]
            elif name == "TEXT_OPTIONS":
                text_options = ast.literal_eval(node.value)
        elif isinstance(node, ast.keyword) and node.arg == "argument_spec":
            spec = ast.literal_eval(node.value)
    return set(documented), set(spec), text_options


def manual_options():
    """The long options that the manual's OPTIONS section describes, one
    item each."""
    text = harness.read_file(MANUAL)
    section = re.search(r"^\.SH OPTIONS\n(.*?)^\.SH ", text, re.M | re.S).group(1)
    items = re.findall(r"^\.TP\n(.*)$", section, re.M)
    return {"--" + name.replace("\\-", "-")
            for item in items for name in re.findall(r"\\-\\-((?:[a-z]|\\-)+)", item)}


class Surfaces(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.options = options()
        cls.keys = form_keys()

    def test_the_answer_keys_are_options(self):
        # The lists below are told apart by these two: a key is its option
        # without "--", the kind's aside (its options are --full and --user).
        self.assertIn("kind", self.keys)
        for key in self.keys:
            if key != "kind":
                self.assertIn("--" + key, self.options)

    def test_the_module_has_every_field(self):
        documented, spec, text_options = module_surfaces()
        fields = {key.replace("-", "_") for key in self.keys}
        self.assertEqual(documented, spec, "DOCUMENTATION and argument_spec differ")
        self.assertEqual(spec - MODULE_OWN, fields, "argument_spec against the form's fields")
        self.assertEqual(set(text_options), fields - MODULE_FLAGS,
                         "the options the module passes on against the form's fields")
        for name, option in text_options.items():
            self.assertEqual(option, "--" + name.replace("_", "-"))

    def test_the_manual_describes_every_option(self):
        self.assertEqual(manual_options(), set(self.options))

    def test_the_reference_names_every_option(self):
        text = harness.read_file(REFERENCE)
        listing = re.search(r"^Options: (.*?) describes", text, re.M | re.S).group(1)
        listed = set(re.findall(r"`(--[a-z-]+)", listing))
        named = set(re.findall(r"(--[a-z-]+)", text))
        self.assertEqual(listed - set(self.options), set(), "the option list names no option")
        self.assertEqual({"--" + key for key in self.keys if key != "kind"} - listed, set(),
                         "the option list names every field of the form")
        self.assertEqual(set(self.options) - named, set(), "the reference names every option")


if __name__ == "__main__":
    unittest.main()
