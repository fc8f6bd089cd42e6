#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Sets a directory up for Velorix with velorix-setup, from an answer file.
# What would change is asked first (velorix-setup --check --diff), so that
# check mode and the real run decide alike, and diff mode shows each
# setting and file that changes.

DOCUMENTATION = r"""
module: velorix_setup
short_description: Set a directory up for Velorix from an answer file
description:
  - Runs C(velorix-setup --check --diff) in I(path) with the answer file; when
    the directory differs from what an installation with those answers leaves,
    runs C(velorix-setup --unattended) there, and checks again that it now
    matches.
  - A Full installation (C(kind = full) in the answers) sets the product
    directory up; a User installation any working directory.
options:
  path:
    description: The directory to set up; it must exist.
    type: path
    required: true
  answers:
    description: The answer file, on the host (see velorix-setup(1), ANSWER FILES).
    type: path
    required: true
  executable:
    description: The velorix-setup program on the host.
    type: str
    default: velorix-setup
  log:
    description: A file on the host to which each run appends what it did.
    type: path
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
"""

EXAMPLES = r"""
- name: Set the product directory up
  velorix_setup:
    path: /opt/velorix
    answers: /root/velorix-full.ini
"""

RETURN = r"""
path:
  description: The directory.
  type: str
  returned: always
differences:
  description: One line per difference that velorix-setup --check found.
  type: list
  elements: str
  returned: always
summary:
  description: What the installation did, as velorix-setup prints it.
  type: str
  returned: when it ran
"""

import os
import re

from ansible.module_utils.basic import AnsibleModule

# A setting that would change: [Section] KEY: "before" -> "after".
QUOTED = r'"(?:[^"\\]|\\.)*"|\(none\)'
SETTING = re.compile(r"^(?P<name>\[[^\]]*\] .*?): (?P<before>%s) -> (?P<after>%s)$"
                     % (QUOTED, QUOTED))
HUNK = re.compile(r"^@@ -\d+(?:,(?P<old>\d+))? \+\d+(?:,(?P<new>\d+))? @@")
# A file that is not there yet, told in one line rather than every line of it.
NEW_FILE = re.compile(r"^/.*: new file, \d+ lines?$")
SETTINGS_FILE = ".velorixrc"


def setting_value(text):
    """The value of a quoted setting, with a line feed; empty for (none)."""
    if text == "(none)":
        return ""
    return re.sub(r"\\(.)", r"\1", text[1:-1]) + "\n"


def unified_diff(lines, i):
    """The unified diff that starts at lines[i] ("--- "): its text and the
    index after it.  Hunks are read by their line counts, so that a removed
    line beginning with "--- " is not taken for the next diff."""
    end = i + 2
    while end < len(lines):
        hunk = HUNK.match(lines[end])
        if not hunk:
            break
        old = int(hunk.group("old") or 1)
        new = int(hunk.group("new") or 1)
        end += 1
        while end < len(lines) and (old > 0 or new > 0 or lines[end].startswith("\\")):
            mark = lines[end][:1]
            if mark in (" ", "-"):
                old -= 1
            if mark in (" ", "+"):
                new -= 1
            end += 1
    return "\n".join(lines[i:end]) + "\n", end


def parse(output, path):
    """velorix-setup --check --diff's output: its difference lines, and the
    diff of each setting (before and after) and file (its unified diff)."""
    differences, diffs = [], []
    lines = output.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        setting = SETTING.match(line)
        if setting:
            header = "%s %s" % (os.path.join(path, SETTINGS_FILE), setting.group("name"))
            diffs.append({"before_header": header, "after_header": header,
                          "before": setting_value(setting.group("before")),
                          "after": setting_value(setting.group("after"))})
            i += 1
        elif line.startswith("--- ") and i + 1 < len(lines) and lines[i + 1].startswith("+++ "):
            text, i = unified_diff(lines, i)
            diffs.append({"prepared": text})
        elif NEW_FILE.match(line):
            diffs.append({"prepared": line + "\n"})
            i += 1
        else:
            differences.append(line)
            i += 1
    return differences, diffs


def main():
    module = AnsibleModule(
        argument_spec={
            "path": {"type": "path", "required": True},
            "answers": {"type": "path", "required": True},
            "executable": {"type": "str", "default": "velorix-setup"},
            "log": {"type": "path"},
        },
        supports_check_mode=True,
    )
    path = module.params["path"]
    if not os.path.isdir(path):
        if module.check_mode:
            # Made by an earlier task that check mode did not run.
            module.exit_json(changed=True, differences=["%s: missing" % path])
        module.fail_json(msg="%s is not a directory" % path)
    options = ["--answers", module.params["answers"]]
    if module.params["log"]:
        options += ["--log", module.params["log"]]

    def tool(*mode):
        return module.run_command([module.params["executable"]] + list(mode) + options, cwd=path)

    rc, out, err = tool("--check", "--diff")
    if rc not in (0, 1):
        module.fail_json(msg=err.strip() or "velorix-setup --check ended with status %d" % rc,
                         rc=rc, stdout=out, stderr=err)
    differences, diffs = parse(out, path)
    result = {"changed": rc == 1, "path": path, "differences": differences}
    if module._diff:
        result["diff"] = diffs
    if rc == 0 or module.check_mode:
        if err.strip():
            module.warn(err.strip())
        module.exit_json(**result)

    rc, out, err = tool("--unattended")
    if rc != 0:
        module.fail_json(msg=err.strip() or "velorix-setup stopped with status %d" % rc,
                         rc=rc, stdout=out, stderr=err, **result)
    if err.strip():
        # Messages that did not stop it, such as a compile that failed.
        module.warn(err.strip())
    result["summary"] = out
    rc, out, err = tool("--check")
    if rc != 0:
        module.fail_json(msg="the directory still differs from the answers after the setup:\n"
                         + (out or err).strip(), rc=rc, stdout=out, stderr=err, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
