#!/usr/bin/env python3
"""The installation through the real Setup window, driven with xdotool.

A Full installation from a product directory and a User installation from
another directory against it; the stopping failures (empty product
directory, no velorix executable, no class description file, each before
anything is written, then a second press that completes), a compiler that
makes no object, and a file changed by hand since the last installation,
which the window asks about before it writes anything.  After
each run the files are checked: contents, permissions, and what must not
exist.  Each message box is compared, pixel for pixel, with the box that
tests/tools/message_probe shows for the expected text, so the wording is
checked exactly.  Most of the finer cases run faster, without a display,
in tests/test_installation.cc.
"""
import ctypes
import os
import shutil
import stat
import subprocess
import unittest

import harness

MSG_NO_DIRECTORY = "Specify full path to the VELORIX's home directory"
MSG_NO_EXECUTABLE = "The path you've specified does not contain VELORIX executable"
MSG_COMPILE = ("Cannot compile autodif.cc.\nSymbolical differentiation feature will be "
               "disabled.\nPlease check the name of C++ compiler\nand ensure it is accessable "
               "via the PATH variable")
MSG_CLASS_FILE = "Cannot open class description file\n%s"
MSG_HAND_EDITED = ("%s was changed since the last installation.\n"
                   "Yes: take the new one, and keep yours as %s.velorix-old\n"
                   "No: keep yours, and write the new one to %s.velorix-new\n"
                   "Take the new one?")
MSG_TOO_LONG = "The text of the field '%s' is longer than %d characters.\nPlease shorten it."
MSG_STYLE_MISMATCH = ("The shell style is csh, but the shell path %s names a shell of the ksh "
                      "family:\nthe compile script may fail when it runs.")
FIELD_LIMIT = 16384
PASTE_PIECE = 3000
CLASS_FILE = "! test classes\n&classes\nZ z\n&hierarchy\nA b\nC d\n"
SHELL = "/usr/bin/tcsh"
BASH = "/bin/bash"
INIT_LINES = 290
PALETTE_LINES = 26


write = harness.write_file
read = harness.read_file


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def settings(path):
    """Section.KEY to raw value (the first of equal keys), and the section order."""
    values, sections, section = {}, [], ""
    for line in read(path).splitlines():
        if line.startswith("["):
            section = line[1:line.index("]")]
            sections.append(section)
        elif "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            values.setdefault(f"{section}.{key}", value)
    return values, sections


def make_product(path, classes=True):
    os.makedirs(path)
    write(os.path.join(path, ".velorixrc"), "")  # the core library finds this one first
    write(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    write(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")
    if classes:
        write(os.path.join(path, "classes.vel"), CLASS_FILE)


def make_workdir(path):
    os.makedirs(path)
    write(os.path.join(path, ".velorixrc"), "")


class Installation(unittest.TestCase):
    def setUp(self):
        self.session = harness.Session()
        self.root = self.session.workdir
        # A stand-in mail that records how it was called.
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.bin)
        self.mail_record = os.path.join(self.root, "mail.args")
        write(os.path.join(self.bin, "mail"),
              '#!/bin/sh\necho "$@" >"%s"\ncat >"%s.body"\n' % (self.mail_record,
                                                                self.mail_record), 0o755)
        self.env = {"SHELL": SHELL, "PATH": self.bin + ":" + os.environ.get("PATH", "/usr/bin")}

    def tearDown(self):
        self.session.close()

    # ---- driving the window ------------------------------------------

    def start(self, cwd):
        self.session.start_setup(env=self.env, cwd=cwd)
        return self.session.setup_window()

    def choose_full(self, window, product):
        self.session.click(window.radio["Full"])
        self.session.wait_until(lambda: self.session.read_text(window.kernel) == product,
                                "the product directory field shows %s" % product)

    def set_text(self, field, text):
        """Replaces a field's text as a user would: select it all, type over it."""
        s = self.session
        s.click(field, repeat=3)
        s.type_text(text)
        s.wait_until(lambda: s.read_text(field) == text, "the field reads %r" % text)

    def expect_message(self, text):
        """Waits for the tool's message box, checks that it shows text, and
        presses its OK button."""
        s = self.session
        box = s.wait_until(s.message_boxes, "a message box is shown")[0]
        if not s.message_shows(box, s.message_picture(text)):
            self.fail("the message box does not show %r (see the artifacts)" % text)
        ok = max(s.tree(box.id).leaves(), key=lambda w: w.height)
        s.click(ok)
        s.wait_until(lambda: box.id not in [w.id for w in s.message_boxes()],
                     "the message box is closed")

    # ---- the tests -----------------------------------------------------

    def test_full_then_user(self):
        s = self.session
        product = os.path.join(self.root, "product")
        user = os.path.join(self.root, "user")
        make_product(product)
        make_workdir(user)
        write(os.path.join(product, "filenums.vpf"), "names\nkept", 0o600)
        write(os.path.join(product, "palette.vpf"), "old palette")
        write(os.path.join(product, "vel_sys.h"), "old header", 0o444)
        write(os.path.join(product, "visuals.vpf"), "old visuals")
        write(os.path.join(user, "visuals.vpf"), "old visuals")
        outside = harness.snapshot(self.root, skip=(product, user, s.logdir))

        window = self.start(product)
        self.choose_full(window, product)
        s.click(window.setup)
        s.assert_clean_exit()

        values, sections = settings(os.path.join(product, ".velorixrc"))
        kernel = product + "/"
        self.assertEqual(values["Paths.KERNEL"], kernel)
        self.assertEqual(values["Paths.KERNELW"], "./")
        self.assertEqual(values["Compiler.INCLUDE"], " -I" + kernel)
        self.assertEqual(values["Compiler.LIB"], "-lc -lm")
        self.assertEqual(values["Compiler.CPPNAME"], "c++")
        self.assertEqual(values["Compiler.CPPLIB"], " -O2 -fPIC -lc -lm")
        self.assertEqual(values["Visual.HCPRINTER"], "lpr %s")
        self.assertEqual(values["Currents.CLASSCUR"], "A")
        self.assertEqual(values["Files.CLASSFILECUR"], kernel + "b.vel")
        self.assertEqual(values["Libraries.AUTODIFOPT"], "+")
        self.assertNotIn("TMP", sections)
        self.assertEqual(mode(os.path.join(product, ".velorixrc")), 0o644)
        self.assertEqual(read(os.path.join(product, "filenums.vpf")), "names\nkept")
        self.assertEqual(mode(os.path.join(product, "filenums.vpf")), 0o600)
        self.assertEqual(read(os.path.join(product, "init.vpf")).count("\n"), INIT_LINES)
        self.assertEqual(mode(os.path.join(product, "init.vpf")), 0o444)
        script = read(os.path.join(product, "CompRhs"))
        self.assertEqual(script.splitlines()[0], "#! %s -f" % SHELL)
        self.assertEqual(mode(os.path.join(product, "CompRhs")), 0o755)
        header = read(os.path.join(product, "vel_sys.h"))
        self.assertTrue(header.startswith("#include <math.h>\n\n"), header[:40])
        self.assertEqual(mode(os.path.join(product, "vel_sys.h")), 0o444)
        palette = read(os.path.join(product, "palette.vpf"))
        self.assertEqual(palette.count("\n"), PALETTE_LINES)
        self.assertTrue(palette.startswith("64  0   0\n"))
        self.assertEqual(mode(os.path.join(product, "palette.vpf")), 0o644)
        self.assertTrue(os.path.exists(os.path.join(product, "autodif.o")))
        for gone in ("visuals.vpf", "del1", "del2", "del3"):
            self.assertFalse(os.path.exists(os.path.join(product, gone)), gone)
        self.assertFalse(os.path.exists(self.mail_record), "a notice was sent unasked")
        self.compile_model(product, values)

        # User installation from another directory, notice box ticked.
        after_full = harness.snapshot(product)
        window = self.start(user)
        s.type_into(window.kernel, product)
        s.wait_until(lambda: s.read_text(window.kernel) == product, "the directory is typed")
        self.assertIsNotNone(window.consent, "the notice consent box is missing")
        s.click(window.consent)
        s.click(window.setup)
        s.assert_clean_exit()

        values, sections = settings(os.path.join(user, ".velorixrc"))
        self.assertEqual(values["Paths.KERNEL"], kernel)
        self.assertEqual(values["Paths.KERNELW"], "./")
        self.assertEqual(values["Libraries.AUTODIFOPT"], "+")
        self.assertEqual(values["TMP.TMP"], "$(Paths.KERNEL)autodif$(Extensions.OBJ)")
        self.assertEqual(sections[-1], "TMP")
        self.assertEqual(values["Currents.CLASSCUR"], "A")
        self.assertEqual(read(os.path.join(user, "filenums.vpf")), "-")
        self.assertEqual(mode(os.path.join(user, "filenums.vpf")), 0o644)
        self.assertEqual(read(os.path.join(user, "palette.vpf")), palette)
        for absent in ("init.vpf", "CompRhs", "vel_sys.h", "autodif.o", "visuals.vpf", "del1",
                       "del2"):
            self.assertFalse(os.path.exists(os.path.join(user, absent)), absent)
        self.assertEqual(harness.snapshot(product), after_full,
                         "the User installation changed the product")
        self.assertEqual(read(self.mail_record).split(), ["velorix-install@velorix.org"])
        self.assertEqual(read(self.mail_record + ".body").split("\n")[1],
                         "VELORIX 1.5u installed on")
        os.remove(self.mail_record)
        os.remove(self.mail_record + ".body")
        self.assertEqual(harness.snapshot(self.root, skip=(product, user, s.logdir)), outside,
                         "something was written outside the two directories")

    def compile_model(self, product, values):
        """Runs the compile script as [Compiler] MAKERHS does: script, source
        base name, library base name, and n for no symbolic derivatives."""
        model = os.path.join(self.root, "model")
        os.makedirs(model)
        shutil.copy(os.path.join(harness.source_dir(), "tests", "data", "model.c"), model)
        self.assertEqual(values["Compiler.MAKERHS"],
                         "$(Paths.KERNEL)CompRhs$(Extensions.RUN) $(Compiler.SOURCE) "
                         "$(Compiler.TARGET) $(Compiler.DIFF)")
        result = subprocess.run([os.path.join(product, "CompRhs"), "model", "libmodel", "n"],
                                cwd=model, capture_output=True, text=True, timeout=120)
        log = os.path.join(model, "ErrLog")
        self.assertEqual(result.returncode, 0, result.stderr + (read(log) if os.path.exists(log)
                                                                 else ""))
        library = ctypes.CDLL(os.path.join(model, "libmodel.so"))
        self.assertEqual(library.velo_model_true(), 1)
        self.assertFalse(os.path.exists(os.path.join(model, "delete.o")))
        shutil.rmtree(model)

    def test_full_with_bash_and_no_shell_list_writes_a_script_bash_runs(self):
        # Debian's default SHELL: the ksh style, which bash runs.
        s = self.session
        product = os.path.join(self.root, "product")
        make_product(product)
        self.env["SHELL"] = BASH
        window = self.start(product)
        self.choose_full(window, product)
        self.assertEqual(s.read_text(window.shell_path), BASH + " ")
        s.click(window.setup)
        s.assert_clean_exit()
        script = read(os.path.join(product, "CompRhs")).splitlines()
        self.assertEqual(script[0], "#! %s " % BASH)
        self.assertEqual(script[4], "if [ $3 = 'y' ]; then")
        values, _ = settings(os.path.join(product, ".velorixrc"))
        self.compile_model(product, values)

    def test_shell_list_line_for_csh_with_bash_keeps_csh_and_warns(self):
        s = self.session
        product = os.path.join(self.root, "product")
        make_product(product)
        write(os.path.join(product, "shells.vel"), "bash c\n")
        self.env["SHELL"] = BASH
        window = self.start(product)
        self.choose_full(window, product)
        self.assertEqual(s.read_text(window.shell_path), BASH + " -f")
        s.click(window.setup)
        self.expect_message(MSG_STYLE_MISMATCH % BASH)
        s.assert_clean_exit()
        script = read(os.path.join(product, "CompRhs")).splitlines()
        self.assertEqual(script[0], "#! %s -f" % BASH)
        self.assertEqual(script[4], "if ( $3 == 'y' ) then")

    def test_stopping_failures_return_to_the_form(self):
        s = self.session
        product = os.path.join(self.root, "product")
        empty = os.path.join(self.root, "empty")
        make_product(product, classes=False)
        os.makedirs(empty)

        window = self.start(product)
        s.click(window.setup)
        self.expect_message(MSG_NO_DIRECTORY)
        # The buttons work again: a second press gives the next message.
        s.type_into(window.kernel, empty)
        s.wait_until(lambda: s.read_text(window.kernel) == empty, "the directory is typed")
        s.click(window.setup)
        self.expect_message(MSG_NO_EXECUTABLE)
        self.assertEqual(read(os.path.join(product, ".velorixrc")), "")
        self.assertEqual(sorted(os.listdir(product)), [".velorixrc", "autodif.cc", "velorix"])
        # The box keeps its words; the terminal the window was started
        # from gets every file the run would need as well.
        self.assertIn("velorix-setup: %s\n  missing: %s/velorix (the VELORIX executable)\n"
                      "  missing: %s/classes.vel (the class description file)\n"
                      % (MSG_NO_EXECUTABLE, empty, empty), s.app_output())

        # Full without a class description file: nothing is written.
        self.choose_full(window, product)
        s.click(window.setup)
        self.expect_message(MSG_CLASS_FILE % (product + "/classes.vel"))
        s.assert_running()
        self.assertEqual(sorted(os.listdir(product)), [".velorixrc", "autodif.cc", "velorix"])
        self.assertEqual(read(os.path.join(product, ".velorixrc")), "")
        self.assertIn("  missing: %s/classes.vel (the class description file)\n" % product,
                      s.app_output())

        write(os.path.join(product, "classes.vel"), CLASS_FILE)
        s.click(window.setup)
        s.assert_clean_exit()
        values, _ = settings(os.path.join(product, ".velorixrc"))
        self.assertEqual(values["Currents.CLASSCUR"], "A")
        self.assertEqual(values["Files.CLASSFILECUR"], product + "/b.vel")

    def test_overlong_field_is_refused_not_cut(self):
        s = self.session
        product = os.path.join(self.root, "product")
        make_product(product)
        window = self.start(product)
        self.choose_full(window, product)
        # One selection pasted several times: the toolkit takes no larger
        # selection at once (nor gives one, so the text is not read back).
        # Each click lands one pixel further left, since xdotool's synced
        # move waits for the pointer to move.
        s.own_selection("x" * PASTE_PIECE)
        field = window.tuning[0]
        for i in range(FIELD_LIMIT // PASTE_PIECE + 1):
            s.click((field.right - 3 - i, field.y + field.height // 2), button=2)
        s.click(window.setup)
        self.expect_message(MSG_TOO_LONG % ("Printer command", FIELD_LIMIT))
        s.assert_running()
        self.assertEqual(read(os.path.join(product, ".velorixrc")), "")

    def test_a_value_that_would_not_read_back_is_refused_naming_its_field(self):
        s = self.session
        product = os.path.join(self.root, "product")
        make_product(product)
        window = self.start(product)
        self.choose_full(window, product)
        # "~" is the settings file's line break: "~/bin/gv" would come back
        # as a line break and "/bin/gv".
        self.set_text(window.tuning[1], "~/bin/gv %s")
        s.click(window.setup)
        self.expect_message("The text of the field 'PostScript previewer' must not contain '~':\n"
                            "the settings file reads it as a line break.")
        s.assert_running()
        self.assertEqual(read(os.path.join(product, ".velorixrc")), "")

    def set_up_full_with_a_compiler_that_fails(self, product):
        """Full in product through the window, "false" for the compiler: the
        compile's message, then the window ends."""
        window = self.start(product)
        self.choose_full(window, product)
        self.set_text(window.cpp_name, "false")
        self.session.click(window.setup)
        self.expect_message(MSG_COMPILE)
        self.session.assert_clean_exit()

    def test_compiler_that_makes_no_object(self):
        product = os.path.join(self.root, "product")
        make_product(product)
        self.set_up_full_with_a_compiler_that_fails(product)
        values, _ = settings(os.path.join(product, ".velorixrc"))
        self.assertEqual(values["Compiler.CPPNAME"], "false")
        self.assertEqual(values["Libraries.AUTODIFOPT"], "-")
        self.assertFalse(os.path.exists(os.path.join(product, "autodif.o")))

    def test_a_file_changed_by_hand_is_asked_about_and_kept(self):
        s = self.session
        product = os.path.join(self.root, "product")
        make_product(product)
        result = harness.run_tool(["--unattended", "--full", "--cpp-name", "false"], product,
                                  harness.unattended_env(**self.env))
        self.assertEqual(result.returncode, 0, result.stderr)
        script = os.path.join(product, "CompRhs")
        with open(script, "a") as f:
            f.write("echo mine\n")
        mine = read(script)
        window = self.start(product)
        self.choose_full(window, product)
        self.set_text(window.cpp_name, "false")
        s.click(window.setup)
        box = s.wait_until(s.message_boxes, "the question about CompRhs is shown")[0]
        question = MSG_HAND_EDITED % (script, script, script)
        if not s.message_shows(box, s.message_picture(question, question=True)):
            self.fail("the question does not show %r (see the artifacts)" % question)
        self.assertEqual(read(script), mine, "written before the answer")
        # "No" keeps the user's copy: the right one of the two buttons.
        buttons = sorted(s.tree(box.id).leaves(), key=lambda w: (w.height, w.x))[-2:]
        s.click(max(buttons, key=lambda w: w.x))
        s.wait_until(lambda: box.id not in [w.id for w in s.message_boxes()],
                     "the question is answered")
        self.expect_message(MSG_COMPILE)
        s.assert_clean_exit()
        self.assertEqual(read(script), mine)
        self.assertNotIn("echo mine", read(script + ".velorix-new"))
        self.assertFalse(os.path.exists(script + ".velorix-old"))
        self.assertIn("changed since the last installation: %s, left as it is; the new one is "
                      "%s.velorix-new" % (script, script), s.app_output())

if __name__ == "__main__":
    unittest.main(verbosity=2)
