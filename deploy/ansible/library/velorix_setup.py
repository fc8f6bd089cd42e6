#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright: 2026 the Velorix developers
# License: the terms of velorix-setup (all rights reserved by the Velorix developers;
# see /usr/share/doc/velorix-setup/copyright)
#
# Sets a directory up for Velorix with velorix-setup, or removes what an
# installation left there.  What would change is asked first
# (velorix-setup --check --diff, or --remove --dry-run), so that check
# mode and the real run decide alike, and diff mode shows each setting and
# file that changes.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r"""
module: velorix_setup
short_description: Set a directory up for Velorix, or remove its installation
description:
  - With I(state=present), runs C(velorix-setup --check --diff) in I(path) with the values
    given; when the directory differs from what an installation with those values leaves,
    runs C(velorix-setup --unattended) there, and checks again that it now matches.
  - With I(state=absent), runs C(velorix-setup --remove) in I(path), which removes the files
    that the last installation there recorded and that still hold what it wrote; a file
    changed since is kept; the module names in a warning each file that stays, with why.
  - The values of the Setup form are options of their own, named as the keys of an answer
    file with C(_) for C(-). Those given win over the answer file I(answers); those given in
    neither have the values the Setup window starts with.
  - A Full installation (I(kind=full)) sets the product directory up; a User installation any
    working directory.
author:
  - Velorix developers (@velorix)
version_added: "1.5.0"
requirements:
  - velorix-setup 1.5 or later on the managed host
options:
  path:
    description:
      - The directory to set up, or whose installation to remove. It must exist for
        I(state=present).
    type: path
    required: true
  state:
    description:
      - C(present) sets I(path) up; C(absent) removes the installation there.
    type: str
    choices: [present, absent]
    default: present
  answers:
    description:
      - An answer file on the managed host (see velorix-setup(1), ANSWER FILES). The options of
        the form that are given win over its values.
    type: path
  kind:
    description:
      - The installation kind. C(full) sets the product directory up, C(user) a working
        directory.
      - Without it, the kind of I(answers), or C(user).
    type: str
    choices: [full, user]
  kernel:
    description:
      - The VELORIX directory, where the product is installed.
      - A Full installation takes I(path) unless it is given.
    type: path
  include:
    description: The include options of the C compiler.
    type: str
  libs:
    description: The libraries of the C compiler.
    type: str
  cpp_name:
    description: The C++ compiler that compiles the symbolic-differentiation object.
    type: str
  cpp_options:
    description: The options of the C++ compiler.
    type: str
  printer:
    description: The printer command, C(%s) standing for the file to print.
    type: str
  previewer:
    description: The PostScript previewer, C(%s) standing for the file to show.
    type: str
  differentiator:
    description: The external differentiator.
    type: str
  shell_style:
    description:
      - The style of the compile script.
      - Without it, the style of I(answers), or the one detected on the host from its C(SHELL).
    type: str
    choices: [csh, ksh]
  shell_path:
    description:
      - The shell line of the compile script (its first line, after C(#!)).
      - Without it, the path of I(answers), or the one detected on the host for the style.
    type: str
  notify:
    description:
      - Whether to send the installation notice by mail to the authors.
      - Without it, the choice of I(answers), or no notice.
    type: bool
  keep_backups:
    description:
      - How many backups of the settings file to keep, the newest named C(.velorixrc.bak).
    type: int
    default: 5
  changed_files:
    description:
      - A file changed by hand since the last installation.
      - C(take) puts the new one in its place and keeps the changed copy as C(NAME.velorix-old);
        C(keep) leaves it as it is and writes the new one to C(NAME.velorix-new).
    type: str
    choices: [take, keep]
    default: take
  save_site_defaults:
    description:
      - With I(kind=full), keep the product directory and the compiler values as the site
        defaults of the managed host, C(/etc/velorix-setup/defaults), from which every user's
        Setup form starts (see velorix-setup(1), SITE DEFAULTS). Needs root.
    type: bool
    default: false
  executable:
    description: The velorix-setup program on the managed host.
    type: str
    default: velorix-setup
  log:
    description: A file on the managed host to which each run appends what it did.
    type: path
attributes:
  check_mode:
    description: Can run in check mode and return the changed status prediction without
      changing the target.
    support: full
  diff_mode:
    description: Returns the changes that it makes, or would make in check mode, per setting
      of the settings file and per file.
    support: full
  platform:
    description: The platforms the module runs on.
    support: full
    platforms: posix
notes:
  - The shell style and path depend on the host. Left out here and in I(answers) (where a
    saved file holds C(auto) for them), each host detects them from its own C(SHELL) and
    C(shells.vel).
"""

EXAMPLES = r"""
- name: Set the product directory up
  velorix_setup:
    path: /opt/velorix
    kind: full
    printer: lp -d office %s
    shell_style: ksh

- name: Set a working directory up from an answer file, with this host's printer
  velorix_setup:
    path: /home/ann/velorix
    answers: /root/velorix-user.ini
    printer: lp -d lab7 %s

- name: Remove what the installation left in a working directory
  velorix_setup:
    path: /home/ann/velorix
    state: absent
"""

RETURN = r"""
path:
  description: The directory.
  type: str
  returned: always
  sample: /opt/velorix
state:
  description: The state asked for.
  type: str
  returned: always
  sample: present
differences:
  description: One line per difference that C(velorix-setup --check) found.
  type: list
  elements: str
  returned: when I(state=present)
  sample: ["/home/ann/velorix/.velorixrc: contents differ from what the installation writes ([Visual] HCPRINTER)"]
summary:
  description: What the installation or the removal did, as velorix-setup prints it.
  type: str
  returned: when it ran
  sample: "Removed the installation in /home/ann/velorix: 4 files removed."
removed:
  description: The files that were removed, or would be in check mode, the record included,
    by their absolute paths.
  type: list
  elements: str
  returned: when I(state=absent)
  sample: ["/home/ann/velorix/.velorixrc", "/home/ann/velorix/filenums.vpf",
           "/home/ann/velorix/palette.vpf", "/home/ann/velorix/.velorix-setup.sha256"]
kept:
  description: The files that stay, by their absolute paths, such as the recorded files
    changed since the last installation.
  type: list
  elements: str
  returned: when I(state=absent)
  sample: ["/home/ann/velorix/palette.vpf"]
"""

import os
import re

from ansible.module_utils.basic import AnsibleModule

# The options of the Setup form, by their option of velorix-setup.
TEXT_OPTIONS = {
    "kernel": "--kernel", "include": "--include", "libs": "--libs", "cpp_name": "--cpp-name",
    "cpp_options": "--cpp-options", "printer": "--printer", "previewer": "--previewer",
    "differentiator": "--differentiator", "shell_style": "--shell-style",
    "shell_path": "--shell-path",
}

# A setting that would change: [Section] KEY: "before" -> "after".
QUOTED = r'"(?:[^"\\]|\\.)*"|\(none\)'
SETTING = re.compile(r"^(?P<name>\[[^\]]*\] .*?): (?P<before>%s) -> (?P<after>%s)$"
                     % (QUOTED, QUOTED))
HUNK = re.compile(r"^@@ -\d+(?:,(?P<old>\d+))? \+\d+(?:,(?P<new>\d+))? @@")
# A file that is not there yet, told in one line rather than every line of it.
NEW_FILE = re.compile(r"^/.*: new file, \d+ lines?$")
SETTINGS_FILE = ".velorixrc"
# What --remove --dry-run says of each file.
TO_REMOVE = re.compile(r"^remove (?P<path>.*)$")
TO_KEEP = re.compile(r"^keep (?P<path>.*?): (?P<why>.*)$")
REMOVED = re.compile(r"^removed (?P<path>.*)$")
KEPT = re.compile(r"^kept (?P<path>.*?): (?P<why>.*)$")


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


def form_options(params):
    """The command-line options of the form values given."""
    options = []
    if params["answers"]:
        options += ["--answers", params["answers"]]
    if params["kind"]:
        options.append("--" + params["kind"])
    for name, option in TEXT_OPTIONS.items():
        if params[name] is not None:
            options += [option, params[name]]
    if params["notify"] is not None:
        options.append("--notify" if params["notify"] else "--no-notify")
    options += ["--keep-backups", str(params["keep_backups"])]
    options += ["--changed-files", params["changed_files"]]
    if params["save_site_defaults"]:
        options.append("--save-site-defaults")
    return options


def matching(pattern, lines, path):
    """The paths of the lines that match, absolute (velorix-setup names the
    files of the directory it ran in relative to it)."""
    found = (pattern.match(line) for line in lines)
    return [os.path.normpath(os.path.join(path, m.group("path"))) for m in found if m]


def warn_kept(module, pattern, lines, path):
    """Names in a warning each file that stays, with why, as velorix-setup
    gives it."""
    found = [m for m in (pattern.match(line) for line in lines) if m]
    if found:
        module.warn("kept: " + "; ".join(
            "%s (%s)" % (os.path.normpath(os.path.join(path, m.group("path"))), m.group("why"))
            for m in found))


def absent(module, path, tool):
    """Removes the installation in path, as velorix-setup --remove does."""
    result = {"changed": False, "path": path, "state": "absent", "removed": [], "kept": []}
    if not os.path.isdir(path):
        module.exit_json(**result)
    rc, out, err = tool("--remove", "--dry-run")
    if rc not in (0, 1):
        module.fail_json(msg=err.strip() or "velorix-setup --remove --dry-run ended with status %d"
                         % rc, rc=rc, stdout=out, stderr=err, **result)
    lines = out.splitlines()
    result["removed"] = matching(TO_REMOVE, lines, path)
    result["kept"] = matching(TO_KEEP, lines, path)
    result["changed"] = bool(result["removed"])
    if module._diff and result["changed"]:
        result["diff"] = {"before_header": path, "after_header": path,
                          "before": "".join(p + "\n" for p in result["removed"] + result["kept"]),
                          "after": "".join(p + "\n" for p in result["kept"])}
    if not result["changed"] or module.check_mode:
        warn_kept(module, TO_KEEP, lines, path)
        module.exit_json(**result)
    rc, out, err = tool("--remove")
    lines = out.splitlines()
    result["removed"] = matching(REMOVED, lines, path)
    result["kept"] = matching(KEPT, lines, path)
    result["summary"] = out
    if rc not in (0, 1):
        module.fail_json(msg=err.strip() or "velorix-setup --remove ended with status %d" % rc,
                         rc=rc, stdout=out, stderr=err, **result)
    warn_kept(module, KEPT, lines, path)
    module.exit_json(**result)


def present(module, path, tool):
    """Sets path up, when it differs from what the installation leaves."""
    if not os.path.isdir(path):
        if module.check_mode:
            # Made by an earlier task that check mode did not run.
            module.exit_json(changed=True, path=path, state="present",
                             differences=["%s: missing" % path])
        module.fail_json(msg="%s is not a directory" % path)
    options = form_options(module.params)
    rc, out, err = tool("--check", "--diff", *options)
    if rc not in (0, 1):
        module.fail_json(msg=err.strip() or "velorix-setup --check ended with status %d" % rc,
                         rc=rc, stdout=out, stderr=err)
    differences, diffs = parse(out, path)
    result = {"changed": rc == 1, "path": path, "state": "present", "differences": differences}
    if module._diff:
        result["diff"] = diffs
    if rc == 0 or module.check_mode:
        if err.strip():
            module.warn(err.strip())
        module.exit_json(**result)

    rc, out, err = tool("--unattended", *options)
    if rc != 0:
        module.fail_json(msg=err.strip() or "velorix-setup stopped with status %d" % rc,
                         rc=rc, stdout=out, stderr=err, **result)
    if err.strip():
        # Messages that did not stop it, such as a compile that failed.
        module.warn(err.strip())
    result["summary"] = out
    rc, out, err = tool("--check", *options)
    if rc != 0:
        module.fail_json(msg="the directory still differs from the values after the setup:\n"
                         + (out or err).strip(), rc=rc, stdout=out, stderr=err, **result)
    module.exit_json(**result)


def find_tool(module, path):
    """The path of velorix-setup on the host; one clear message when it is
    not there."""
    name = module.params["executable"]
    found = name if "/" in name else module.get_bin_path(name)
    if found and os.access(found, os.X_OK):
        return found
    msg = ("%s is not installed on this host: install the velorix-setup package (the role's "
           "velorix_setup_package), or name the tool with executable" % name)
    state = module.params["state"]
    if module.check_mode:
        # Installed by an earlier task that check mode did not run.
        module.warn(msg)
        if state == "present":
            module.exit_json(changed=True, path=path, state=state, differences=[msg])
        module.exit_json(changed=False, path=path, state=state, removed=[], kept=[])
    module.fail_json(msg=msg)


def main():
    module = AnsibleModule(
        argument_spec={
            "path": {"type": "path", "required": True},
            "state": {"type": "str", "choices": ["present", "absent"], "default": "present"},
            "answers": {"type": "path"},
            "kind": {"type": "str", "choices": ["full", "user"]},
            "kernel": {"type": "path"},
            "include": {"type": "str"},
            "libs": {"type": "str"},
            "cpp_name": {"type": "str"},
            "cpp_options": {"type": "str"},
            "printer": {"type": "str"},
            "previewer": {"type": "str"},
            "differentiator": {"type": "str"},
            "shell_style": {"type": "str", "choices": ["csh", "ksh"]},
            "shell_path": {"type": "str"},
            "notify": {"type": "bool"},
            "keep_backups": {"type": "int", "default": 5},
            "changed_files": {"type": "str", "choices": ["take", "keep"], "default": "take"},
            "save_site_defaults": {"type": "bool", "default": False},
            "executable": {"type": "str", "default": "velorix-setup"},
            "log": {"type": "path"},
        },
        supports_check_mode=True,
    )
    path = module.params["path"]
    log = ["--log", module.params["log"]] if module.params["log"] else []
    executable = find_tool(module, path)

    def tool(*args):
        return module.run_command([executable] + list(args) + log, cwd=path)

    if module.params["state"] == "absent":
        absent(module, path, tool)
    present(module, path, tool)


if __name__ == "__main__":
    main()
