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
- a run that changes nothing says so;
- a record tampered with reaches no file an installation does not write,
  and is read bounded and as sha256sum -c reads it (TamperedRecord).
"""
import hashlib
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


class Installed(unittest.TestCase):
    """A product directory and a working one, and the tool run in them."""

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


class Record(Installed):

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
            result = self.full("--printer", f"lp{n} %s", "--keep-backups", "3")
        backups = sorted(n for n in os.listdir(self.product) if n.startswith(".velorixrc."))
        self.assertEqual(backups, [".velorixrc.bak", ".velorixrc.bak.1", ".velorixrc.bak.2"])
        # The one dropped is told by what it held: its name is the next one's.
        dropped = [line for line in result.stdout.splitlines()
                   if line.startswith("  settings backups removed")]
        self.assertEqual(len(dropped), 1, result.stdout)
        self.assertIn("the oldest beyond those kept: the one holding the settings replaced on ",
                      dropped[0])
        self.assertNotIn(".velorixrc.bak", dropped[0])
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


def digest_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class TamperedRecord(Installed):
    """A record edited by whoever can write the directory: each entry that
    names no file of an installation is kept and named, the record stays,
    and nothing blocks or grows without bound."""

    FOREIGN = "not a file an installation writes"

    def append(self, directory, lines, mode="a"):
        with open(os.path.join(directory, RECORD), mode + "b") as f:
            f.write(b"".join(line if isinstance(line, bytes) else line.encode() + b"\n"
                             for line in lines))

    def test_entries_that_no_installation_writes_are_kept(self):
        self.full()
        etc = os.path.join(self.root, "etc")
        elsewhere = os.path.join(self.root, "elsewhere")
        for path in (etc, elsewhere):
            os.makedirs(path)
        victims = {os.path.join(etc, "passwd"): os.path.join(etc, "passwd"),
                   "./../x": os.path.join(self.root, "x"),
                   "./link-to-dir/palette.vpf": os.path.join(elsewhere, "palette.vpf"),
                   "./velorix": self.path("velorix"),
                   "./mine.txt": self.path("mine.txt")}
        os.symlink(elsewhere, self.path("link-to-dir"))
        for path in victims.values():
            if not os.path.exists(path):
                write(path, "someone's\n")
        self.append(self.product, [f"{digest_of(path)}  {name}" for name, path in victims.items()])
        refused = [f"{name}: {self.FOREIGN}" for name in victims]

        verify = self.tool(["--verify"])
        self.assertEqual(verify.returncode, 1, verify.stderr)
        self.assertEqual(sorted(verify.stdout.splitlines()),
                         sorted(f"refused     {line}" for line in refused))
        before = harness.snapshot(self.root)
        dry = self.tool(["--remove", "--dry-run"])
        self.assertEqual(dry.returncode, 1, dry.stderr)
        for line in refused + ["remove ./CompRhs"]:
            self.assertIn(f"keep {line}\n" if line in refused else line + "\n", dry.stdout)
        self.assertEqual(harness.snapshot(self.root), before)

        result = self.tool(["--remove"])
        self.assertEqual(result.returncode, 1, result.stderr)
        for line in refused:
            self.assertIn(f"kept {line}\n", result.stdout)
        self.assertIn(f"kept ./{RECORD}: it names files that are not removed\n", result.stdout)
        for path in victims.values():
            self.assertTrue(os.path.exists(path), path)
        self.assertEqual(sorted(os.listdir(self.product)),
                         [RECORD, "autodif.cc", "classes.vel", "link-to-dir", "mine.txt",
                          "velorix"])

    def test_pipes_and_a_huge_record_block_nothing(self):
        self.full()
        record = self.path(RECORD)
        os.rename(record, record + ".saved")
        os.mkfifo(record)
        for args in (["--verify"], ["--remove"], ["--remove", "--dry-run"]):
            result = harness.run_tool(args, self.product, self.env, timeout=30)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("is not a record: it is not a regular file", result.stderr)
        check = harness.run_tool(["--check", "--full", "--cpp-name", self.cxx, "--shell-style",
                                  "ksh"], self.product, self.env, timeout=30)
        self.assertEqual(check.returncode, 1, check.stderr)
        self.assertIn(f"./{RECORD}: contents differ", check.stdout.replace(self.product, "."))
        os.remove(record)
        with open(record, "w") as f:
            f.write("# padding\n" * (1 << 17))
        result = harness.run_tool(["--verify"], self.product, self.env, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn("is not a record: it is larger than 1048576 bytes", result.stderr)
        os.replace(record + ".saved", record)

        # A pipe in place of a listed file: not waited on, not removed.
        os.remove(self.path("palette.vpf"))
        os.mkfifo(self.path("palette.vpf"))
        result = harness.run_tool(["--remove"], self.product, self.env, timeout=30)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("kept ./palette.vpf: not a file the installation removes\n", result.stdout)
        self.assertTrue(stat.S_ISFIFO(os.lstat(self.path("palette.vpf")).st_mode))
        self.assertTrue(os.path.exists(record))

    def test_read_as_sha256sum_reads_it(self):
        self.full()
        record = self.path(RECORD)
        lines = read(record).splitlines()
        self.append(self.product, [(line if line.startswith("#") else
                                    line[:64].upper() + line[64:]) + "\r" for line in lines],
                    mode="w")
        check = subprocess.run(["sha256sum", "-c", RECORD], cwd=self.product,
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        verify = self.tool(["--verify"])
        self.assertEqual((verify.returncode, verify.stdout),
                         (0, f"All 8 files of the installation in {self.product} are as "
                             "written.\n"))
        self.assertEqual(self.tool(["--verify", "-q"]).stdout, "")
        self.assertIn("--quiet goes with --verify", self.tool(["--remove", "-q"]).stderr)

        result = self.tool(["--remove"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.product)),
                         ["autodif.cc", "classes.vel", "velorix"])

        # A NUL or an escape sha256sum never writes: damaged, by its line.
        self.full()
        saved = read(record)
        entry = saved.splitlines()[-1]
        for bad, why in ((entry.encode() + b"\0x\n", "holds a NUL in its name"),
                         (b"\\" + entry.encode() + b"\\q\n",
                          "holds an escape that sha256sum does not write")):
            self.append(self.product, [bad])
            for args in (["--verify"], ["--remove"]):
                result = self.tool(args)
                self.assertEqual(result.returncode, 2, args)
                self.assertIn(f"is damaged: line {len(lines) + 1} {why}.", result.stderr)
            write(record, saved)
        self.assertTrue(os.path.exists(self.path("CompRhs")))

    @unittest.skipUnless(os.geteuid() == 0, "root removes as the directory's owner")
    def test_root_removes_only_what_the_owner_could(self):
        self.full()
        os.chmod(self.root, 0o755)
        os.chown(self.work, 65534, 65534)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        tool = os.path.join(harness.build_dir(), harness.PROGRAM_NAME)
        made = subprocess.run(nobody + [tool, "--unattended", "--kernel", self.product],
                              cwd=self.work, env=self.env, capture_output=True, text=True,
                              timeout=120)
        self.assertEqual(made.returncode, 0, made.stderr)
        line = f"{digest_of(self.path('CompRhs'))}  {self.path('CompRhs')}"
        appended = subprocess.run(nobody + ["sh", "-c", f"echo '{line}' >>{RECORD}"],
                                  cwd=self.work, timeout=60)
        self.assertEqual(appended.returncode, 0)

        result = self.tool(["--remove"], self.work)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(f"kept {self.path('CompRhs')}: not a file the owner of the directory "
                      "could remove\n", result.stdout)
        self.assertTrue(os.path.exists(self.path("CompRhs")))
        self.assertEqual(os.listdir(self.work), [RECORD])


if __name__ == "__main__":
    unittest.main(verbosity=2)
