#!/usr/bin/env python3
"""The record of what an installation wrote, and what is built on it, all
through the command line with a stand-in compiler:

- a file changed by hand since the last installation is kept as
  NAME.velorix-old when a run replaces it, and the check, the summary and
  the log say so; the settings file keeps backups instead, and the names
  file is never rewritten;
- sha256sum -c verifies the record, and --verify finds each kind of
  difference (bytes, mode, owner, a file missing; data only when missing);
- --remove keeps a file changed since, removes the rest and the record,
  and says so in its status; without a record it removes nothing;
- the settings backups are bounded, the newest named .velorixrc.bak;
- a run that changes nothing says so.
"""
import os
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402

write = harness.write_file
read = harness.read_file

RECORD = ".velorix-setup.sha256"
CHANGED = "changed since the last installation"


class Record(unittest.TestCase):

    def setUp(self):
        self.root = harness.make_scratch_dir("vx_record_")
        self.addCleanup(harness.remove_scratch_dir, self.root)
        self.product = os.path.join(self.root, "product")
        self.work = os.path.join(self.root, "work")
        for path in (self.product, self.work):
            os.makedirs(path)
        write(os.path.join(self.product, "velorix"), "#!/bin/sh\n", 0o755)
        write(os.path.join(self.product, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
        write(os.path.join(self.product, "autodif.cc"), "int autodif() { return 7; }\n")
        self.cxx = harness.write_stand_in_compiler(self.root)
        self.env = harness.unattended_env()

    def tool(self, args, cwd=None):
        return harness.run_tool(args, cwd or self.product, self.env)

    def full(self, *options):
        """A Full installation in the product directory; must end 0."""
        result = self.tool(["--unattended", "--full", "--cpp-name", self.cxx,
                            "--shell-style", "ksh"] + list(options))
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def path(self, name):
        return os.path.join(self.product, name)

    def test_a_file_changed_by_hand_is_kept_and_named(self):
        self.full()
        with open(self.path("CompRhs"), "a") as f:
            f.write("echo mine\n")
        with open(self.path("vel_sys.h"), "a") as f:
            f.write("#define MINE 1\n")
        with open(self.path("filenums.vpf"), "a") as f:
            f.write("\nnames of my own\n")
        mine = {name: read(self.path(name)) for name in ("CompRhs", "vel_sys.h", "filenums.vpf")}

        check = self.tool(["--check", "--full", "--cpp-name", self.cxx, "--shell-style", "ksh",
                           "--printer", "lp %s"])
        self.assertEqual(check.returncode, 1, check.stderr)
        for name in ("CompRhs", "vel_sys.h"):
            self.assertIn(f"{self.path(name)}: {CHANGED} (the installation keeps it as "
                          f"{self.path(name)}.velorix-old)\n", check.stdout)
        self.assertNotIn("filenums.vpf", check.stdout)

        log = os.path.join(self.root, "setup.log")
        result = self.full("--printer", "lp %s", "--log", log)
        for name in ("CompRhs", "vel_sys.h"):
            self.assertEqual(read(self.path(name) + ".velorix-old"), mine[name])
            self.assertNotEqual(read(self.path(name)), mine[name])
            self.assertIn(f"  {CHANGED}: {self.path(name)}, kept as "
                          f"{self.path(name)}.velorix-old\n", result.stdout)
            self.assertIn(f"kept {self.path(name)} as {self.path(name)}.velorix-old: {CHANGED}\n",
                          read(log))
        # The names file is the program's: never rewritten.  The settings
        # file keeps a backup instead of a copy of its own.
        self.assertEqual(read(self.path("filenums.vpf")), mine["filenums.vpf"])
        self.assertTrue(os.path.exists(self.path(".velorixrc.bak")))
        kept = sorted(n for n in os.listdir(self.product) if ".velorix-" in n)
        self.assertEqual(kept, [RECORD, "CompRhs.velorix-old", "vel_sys.h.velorix-old"])
        # The same answers again: nothing changed, nothing more kept.
        result = self.full("--printer", "lp %s")
        self.assertNotIn(CHANGED, result.stdout)
        self.assertEqual(sorted(n for n in os.listdir(self.product) if ".velorix-" in n), kept)

    def test_verify_finds_each_kind_of_difference(self):
        self.full()
        result = subprocess.run(["sha256sum", "--strict", "-c", RECORD], cwd=self.product,
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.tool(["--verify"]).returncode, 0)

        with open(self.path("CompRhs"), "a") as f:
            f.write("echo mine\n")
        os.chmod(self.path("init.vpf"), 0o644)
        os.remove(self.path("palette.vpf"))
        os.remove(self.path(".velorixrc"))
        with open(self.path("filenums.vpf"), "a") as f:  # data: the program's to change
            f.write("\nmore names\n")
        expected = ["S.5......    ./CompRhs", ".M.......    ./init.vpf",
                    "missing     ./palette.vpf", "missing   d ./.velorixrc"]
        if os.geteuid() == 0:
            os.chown(self.path("vel_sys.h"), 1, 1)
            expected.append(".....UG..    ./vel_sys.h")
        result = self.tool(["--verify"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(sorted(result.stdout.splitlines()), sorted(expected))

        result = self.tool(["--verify"], self.work)
        self.assertEqual((result.returncode, result.stdout), (2, ""))
        self.assertIn("no record of an installation", result.stderr)

    def test_remove_keeps_a_changed_file(self):
        self.full()
        result = self.tool(["--unattended", "--kernel", self.product], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.work, "palette.vpf"), "a") as f:
            f.write("1 2 3\n")
        before = harness.snapshot(self.work)

        dry = self.tool(["--remove", "--dry-run"], self.work)
        self.assertEqual(dry.returncode, 1, dry.stderr)
        self.assertEqual(dry.stdout.splitlines()[:-1], [
            "remove ./.velorixrc", "remove ./filenums.vpf",
            f"keep ./palette.vpf: {CHANGED}", f"remove ./{RECORD}"])
        self.assertEqual(harness.snapshot(self.work), before)

        result = self.tool(["--remove"], self.work)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout.splitlines()[-1],
                         f"Removed the installation in {self.work}: 3 files removed, 1 kept.")
        self.assertEqual(os.listdir(self.work), ["palette.vpf"])
        result = self.tool(["--remove"], self.work)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("nothing to remove", result.stdout)

        # Untouched since, the settings file and the names file go too; the
        # product's own files and the settings backups stay.
        self.full("--printer", "lp %s")
        result = self.tool(["--remove"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.product)),
                         [".velorixrc.bak", "autodif.cc", "classes.vel", "velorix"])

    def test_settings_backups_are_bounded(self):
        for n in range(6):
            self.full("--printer", f"lp{n} %s", "--keep-backups", "3")
        backups = sorted(n for n in os.listdir(self.product) if n.startswith(".velorixrc."))
        self.assertEqual(backups, [".velorixrc.bak", ".velorixrc.bak.1", ".velorixrc.bak.2"])
        # The newest first: each holds the printer of the run before.
        for name, n in zip(backups, (4, 3, 2)):
            self.assertIn(f"\nHCPRINTER=lp{n} %s\n", read(self.path(name)))
        result = self.full("--printer", "lp %s", "--keep-backups", "0")
        self.assertEqual([n for n in os.listdir(self.product) if n.startswith(".velorixrc.")],
                         [])
        self.assertIn("settings backups removed", result.stdout)
        bad = self.tool(["--unattended", "--keep-backups", "-1"])
        self.assertEqual(bad.returncode, 2)
        self.assertIn("--keep-backups takes a number from 0 to 99", bad.stderr)

    def test_a_run_that_changes_nothing_says_so(self):
        self.full()
        times = {name: os.stat(self.path(name)).st_mtime_ns for name in os.listdir(self.product)}
        log = os.path.join(self.root, "setup.log")
        result = self.full("--log", log)
        self.assertIn(f"  settings file: {self.path('.velorixrc')} unchanged\n"
                      "  files written: 0, unchanged: 4\n", result.stdout)
        text = read(log)
        for name in ("init.vpf", "CompRhs", "vel_sys.h", "palette.vpf"):
            self.assertIn(f"\nunchanged {self.path(name)} (", text)
        self.assertIn(f"\nrecord of the installation unchanged: {self.path(RECORD)}\n", text)
        self.assertEqual({name: os.stat(self.path(name)).st_mtime_ns
                          for name in os.listdir(self.product)}, times)
        self.assertEqual(stat.S_IMODE(os.stat(self.path(RECORD)).st_mode), 0o644)


if __name__ == "__main__":
    unittest.main(verbosity=2)
