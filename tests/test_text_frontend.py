#!/usr/bin/env python3
"""velorix-setup --text, answered as a user answers it.

tmux gives the tool a real terminal (so libedit reads the lines): the test
waits until a question stands alone on the screen's last line
(capture-pane), types the answer (send-keys) and reads the exit status of
the dead pane.  A Full and a User installation answered so must leave
every file as --unattended with the same values does, byte for byte; the
questions' help, a refused value, going back a question and changing an
answer at the summary, Ctrl-C and the offer made without a display are
tried one each, and so is the question about a file changed by hand since
the last installation; a choice picked by its beginning and Tab completing a
choice and a path, once.  Answers given through a pipe are read as plain
lines; --remove --text asks before it removes.

Every tmux server is private (a socket in the test's scratch directory)
and is killed at the end of its test.
"""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "gui"))
import harness  # noqa: E402
from test_installed_files import contents, make_tree  # noqa: E402

TOOL = os.path.abspath(os.path.join(harness.build_dir(), harness.PROGRAM_NAME))
EXIT_STOPPED = 1
KIND = "Installation (Full, User) [User]:"
CONFIRM = "Set up now? [y/N]"


class Terminal:
    """The tool in a terminal of a private tmux server."""

    def __init__(self, root, cwd, args, env):
        self.socket = os.path.join(root, "tmux.sock")
        self.status_file = os.path.join(root, "status")
        conf = os.path.join(root, "tmux.conf")
        # The pane stays when the tool ends, so that its screen can be read.
        harness.write_file(conf, "set -g remain-on-exit on\n")
        # The shell writes the tool's exit status down (tmux cannot always
        # tell it); it ignores Ctrl-C, which is the tool's alone.
        command = ["sh", "-c", 'trap "" INT; "$@"; echo $? >"$0"', self.status_file,
                   "env", "-u", "DISPLAY"] + ["%s=%s" % kv for kv in env.items()]
        self.answered_lines = 0
        self.tmux("-f", conf, "new-session", "-d", "-x", "200", "-y", "80", "-c", cwd, "--",
                  *command, TOOL, *args)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket] + list(args), capture_output=True,
                              text=True, timeout=harness.TIMEOUT, check=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-S", "-", "-J")

    def last_line(self):
        lines = [line for line in self.screen().splitlines() if line.strip()]
        return lines[-1] if lines else ""

    def last_output(self):
        """The last line the tool wrote, once it has ended (tmux adds one
        of its own below it)."""
        lines = [line for line in self.screen().splitlines()
                 if line.strip() and not line.startswith("Pane is dead")]
        return lines[-1] if lines else ""

    def wait_prompt(self, prompt, after=""):
        """Waits until prompt stands alone on the last line, and after
        (when given) stands above it: the tool asks.  A prompt ending in
        "[" stands for any question that begins so."""
        def asked():
            last = self.last_line().rstrip()
            alone = last.startswith(prompt) if prompt.endswith("[") else last == prompt
            return alone and after in self.screen()
        harness.wait_for(asked, "the terminal asks %r after %r" % (prompt, after))

    def answer(self, prompt, text="", after=""):
        self.wait_prompt(prompt, after)
        self.send(text)

    def answer_form(self, prompt, text=""):
        """Answers prompt as answer() does; a question of the form that
        comes first and that the test does not name (a field it leaves
        alone) keeps its default: Enter."""
        def asked():
            lines = [line.rstrip() for line in self.screen().splitlines() if line.strip()]
            if len(lines) <= self.answered_lines:
                return None
            last = lines[-1]
            if last.startswith(prompt) if prompt.endswith("[") else last == prompt:
                return prompt
            return "another question" if last.endswith(":") else None
        while harness.wait_for(asked, "the terminal asks %r" % prompt) != prompt:
            self.send("")
        self.send(text)

    def send(self, text):
        """Types text and Enter."""
        self.answered_lines = len([line for line in self.screen().splitlines() if line.strip()])
        if text:
            self.tmux("send-keys", "-t", "0", "-l", "--", text)
        self.tmux("send-keys", "-t", "0", "Enter")

    def key(self, name):
        self.tmux("send-keys", "-t", "0", name)

    def status(self):
        """The tool's exit status, once it has ended."""
        def written():
            return os.path.exists(self.status_file) and harness.read_file(self.status_file)
        status = harness.wait_for(written, "velorix-setup ends")
        return int(status)

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True,
                       timeout=harness.TIMEOUT)


class TextFrontend(unittest.TestCase):
    def setUp(self):
        self.root = harness.make_scratch_dir("vx-text-")
        self.addCleanup(harness.remove_scratch_dir, self.root)
        self.make_tree(with_object=False)

    def make_tree(self, with_object):
        for name in ("product", "work", "bin"):
            shutil.rmtree(os.path.join(self.root, name), ignore_errors=True)
        self.product, self.work, tools = make_tree(self.root, with_object)
        self.env = {"SHELL": "/bin/tcsh", "PATH": tools + ":" + os.environ.get("PATH", "")}

    def terminal(self, cwd, args=("--text",)):
        term = Terminal(self.root, cwd, args, self.env)
        self.addCleanup(term.close)
        return term

    def tree(self):
        """Every file of the product and the working directory."""
        places = [("@PRODUCT@", self.product), ("@WORK@", self.work)]
        return {os.path.join(top, name): found
                for top in (self.product, self.work)
                for name, found in contents(top, places).items()}

    def assert_as_unattended(self, with_object, cwd, options, answered):
        """Installs the tree anew with --unattended and options, and
        compares every file with what the answers left."""
        self.make_tree(with_object)
        result = harness.run_tool(["--unattended"] + options, cwd,
                                  harness.unattended_env(**self.env))
        self.assertEqual(result.returncode, 0, result.stderr)
        unattended = self.tree()
        self.assertEqual(sorted(answered), sorted(unattended))
        for name in answered:
            self.assertEqual(answered[name], unattended[name], name)

    def test_full_installation_as_unattended(self):
        term = self.terminal(self.product)
        term.answer(KIND, "full")
        term.answer_form("VELORIX directory [%s]:" % self.product)
        term.answer_form("C compiler: Include:")
        term.answer_form("C compiler: Libraries [-lc -lm]:", "-lm  -lc")
        term.answer_form("C++ compiler: Name [c++]:", "vx-cxx")
        term.answer_form('C++ compiler: Options [" -O2 -fPIC -lc -lm"]:')
        term.answer_form("Printer command [lpr %s]:", "lp -d office %s")
        term.answer_form("PostScript previewer [ghostview -a5 -magstep 0 %s]:", '""')
        term.answer_form("External differentiator [")
        # The path follows the style picked, as in the window; then it is
        # typed over.
        term.answer_form("Shell style (csh, ksh) [csh]:", "ksh")
        term.answer_form('Shell path ["/bin/tcsh "]:', '"/bin/sh "')
        term.answer_form("Send it? [y/N]")
        term.answer(CONFIRM, "y")
        self.assertEqual(term.status(), 0, term.screen())
        self.assertIn("Full installation in %s" % self.product, term.screen())
        self.assert_as_unattended(False, self.product, [
            "--full", "--libs", "-lm  -lc", "--cpp-name", "vx-cxx", "--printer",
            "lp -d office %s", "--previewer", "", "--shell-style", "ksh", "--shell-path",
            "/bin/sh "], self.tree())

    def test_user_installation_as_unattended(self):
        self.make_tree(with_object=True)
        term = self.terminal(self.work)
        term.answer(KIND)
        term.answer("VELORIX directory:", self.product)
        term.answer("Printer command [lpr %s]:")
        term.answer("PostScript previewer [ghostview -a5 -magstep 0 %s]:", "xdg-open %s")
        term.answer("External differentiator [", '""')
        term.answer("Send it? [y/N]")
        term.answer(CONFIRM, "yes")
        self.assertEqual(term.status(), 0, term.screen())
        self.assert_as_unattended(True, self.work, [
            "--kernel", self.product, "--previewer", "xdg-open %s", "--differentiator", ""],
            self.tree())

    def test_question_mark_shows_the_help_and_asks_again(self):
        term = self.terminal(self.work)
        term.answer(KIND)
        term.answer("VELORIX directory:", "?")
        # The help window's text, line by line, then the question again.
        term.wait_prompt("VELORIX directory:", after="VELORIX directory: ?\n\n"
                         "Velorix directory input field specifies the directory that contains\n"
                         "all Velorix executable and auxiliary files.\n\n")
        self.assertIn("you have to type in the full path to Velorix directory.\n",
                      term.screen())
        term.key("C-c")
        self.assertEqual(term.status(), EXIT_STOPPED)

    def test_a_beginning_picks_a_choice_and_tab_completes(self):
        self.make_tree(with_object=True)
        term = self.terminal(self.work)
        term.wait_prompt(KIND)
        term.tmux("send-keys", "-t", "0", "-l", "--", "fu")
        term.key("Tab")
        harness.wait_for(lambda: term.last_line() == KIND + " Full", "Tab completes Full")
        # Emptied again; a beginning that only one choice has picks it.
        term.key("C-u")
        term.answer(KIND, "us")
        term.wait_prompt("VELORIX directory:")
        term.tmux("send-keys", "-t", "0", "-l", "--", self.product[:-3])
        term.key("Tab")
        harness.wait_for(lambda: term.last_line() == "VELORIX directory: %s/" % self.product,
                         "Tab completes the product directory")
        term.key("Enter")
        # A help text that speaks of a blank field is followed by how to
        # type one here.
        term.answer("Printer command [lpr %s]:", "?")
        term.wait_prompt("Printer command [lpr %s]:", after="set this field to blank.\n\n"
                         'Here, a blank (empty) field is typed as "" (two double quotes): '
                         "Enter alone keeps the value in brackets.\n")
        term.key("C-c")
        self.assertEqual(term.status(), EXIT_STOPPED)

    def test_refused_value_is_told_and_asked_again(self):
        before = harness.snapshot(self.root)
        term = self.terminal(self.work)
        term.answer(KIND)
        term.answer("VELORIX directory:", "/opt/my velorix")
        term.wait_prompt("VELORIX directory:", after="velorix-setup: The text of the field "
                         "'VELORIX directory' must not contain blanks")
        nothing = os.path.join(self.root, "nothing")
        term.answer("VELORIX directory:", nothing)
        # Beneath the window's message, every file the run would need.
        term.wait_prompt("VELORIX directory:", after="velorix-setup: The path you've "
                         "specified does not contain VELORIX executable\n"
                         "  missing: %s/velorix (the VELORIX executable)\n"
                         "  missing: %s/classes.vel (the class description file)\n"
                         % (nothing, nothing))
        term.key("C-d")  # end of input
        self.assertEqual(term.status(), EXIT_STOPPED)
        self.assertIn("\nNothing written.\n", term.screen())
        self.assertEqual(harness.snapshot(self.root, skip=self.tmux_files()), before)

    def test_ctrl_c_at_the_summary_writes_nothing(self):
        before = harness.snapshot(self.root)
        # Not even the answers or the log, which come after the yes.
        term = self.terminal(self.work, args=(
            "--text", "--save-answers", os.path.join(self.root, "saved.ini"),
            "--log", os.path.join(self.root, "setup.log")))
        term.answer(KIND)
        term.answer("VELORIX directory:", self.product)
        term.answer("Printer command [lpr %s]:", "lp %s")
        term.answer("PostScript previewer [ghostview -a5 -magstep 0 %s]:")
        term.answer("External differentiator [")
        term.answer("Send it? [y/N]", "y")
        term.wait_prompt(CONFIRM, after="  3. Printer command: lp %s\n  4. PostScript previewer: "
                         "ghostview -a5 -magstep 0 %s\n")
        term.key("C-c")
        self.assertEqual(term.status(), EXIT_STOPPED)
        self.assertEqual(term.last_output(), "Nothing written.", term.screen())
        self.assertEqual(harness.snapshot(self.root, skip=self.tmux_files()), before)

    def test_going_back_and_changing_an_answer_at_the_summary(self):
        self.make_tree(with_object=True)
        term = self.terminal(self.work)
        term.answer(KIND, "<")
        term.wait_prompt(KIND, after="This is the first question.")
        term.answer(KIND)
        term.answer("VELORIX directory:", self.product)
        term.answer("Printer command [lpr %s]:", "lp %s")
        # Back, one question at a time, each showing the answer given.
        term.answer("PostScript previewer [ghostview -a5 -magstep 0 %s]:", "<")
        term.answer("Printer command [lp %s]:", "<")
        term.answer("VELORIX directory [%s]:" % self.product)
        term.answer("Printer command [lp %s]:")
        term.answer("PostScript previewer [ghostview -a5 -magstep 0 %s]:", "xdg-open %s")
        term.answer("External differentiator [")
        term.answer("Send it? [y/N]")
        # At the summary, a field's number asks it again.
        term.answer(CONFIRM, "3", after="  3. Printer command: lp %s\n")
        term.answer("Printer command [lp %s]:", "lpr -P office %s")
        term.wait_prompt(CONFIRM, after="  3. Printer command: lpr -P office %s\n"
                         "  4. PostScript previewer: xdg-open %s\n")
        term.answer(CONFIRM, "y")
        self.assertEqual(term.status(), 0, term.screen())
        self.assert_as_unattended(True, self.work, [
            "--kernel", self.product, "--printer", "lpr -P office %s", "--previewer",
            "xdg-open %s"], self.tree())

    def test_ctrl_c_at_a_question_says_nothing_was_written(self):
        before = harness.snapshot(self.root)
        term = self.terminal(self.work)
        term.answer(KIND)
        term.wait_prompt("VELORIX directory:")
        term.key("C-c")
        self.assertEqual(term.status(), EXIT_STOPPED)
        self.assertEqual(term.last_output(), "Nothing written.", term.screen())
        self.assertEqual(harness.snapshot(self.root, skip=self.tmux_files()), before)

    def test_piped_answers_go_back_and_change_the_kind_at_the_summary(self):
        self.make_tree(with_object=False)
        # User, then back from the directory to Full; at the summary the
        # kind goes back to User, and its questions are asked again.
        # Full asks the text fields after the directory, the shell style
        # and the notice.
        full_rest = len(harness.text_fields()) - 1 + 2
        answers = (["", "<", "full", self.product] + [""] * full_rest
                   + ["1", "user"] + [""] * 5 + ["y"])
        result = subprocess.run([TOOL, "--text"], cwd=self.work,
                                env=harness.unattended_env(**self.env),
                                input="\n".join(answers) + "\n", capture_output=True, text=True,
                                timeout=harness.TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Full installation in %s:\n" % self.work, result.stdout)
        self.assertIn("User installation in %s:\n" % self.work, result.stdout)
        self.assertIn("User installation in %s (product directory %s): done." %
                      (self.work, self.product), result.stdout)
        # Piped answers that end before the yes: nothing is written.
        self.make_tree(with_object=False)
        before = harness.snapshot(self.root)
        result = subprocess.run([TOOL, "--text"], cwd=self.work,
                                env=harness.unattended_env(**self.env), input="\n<\n",
                                capture_output=True, text=True, timeout=harness.TIMEOUT)
        self.assertEqual(result.returncode, EXIT_STOPPED)
        self.assertTrue(result.stdout.endswith("\nNothing written.\n"), result.stdout)
        self.assertEqual(harness.snapshot(self.root), before)

    def test_without_a_display_the_terminal_is_offered(self):
        before = harness.snapshot(self.root)
        term = self.terminal(self.work, args=())
        term.answer("No X display. Set up in this terminal? [Y/n]")
        term.wait_prompt(KIND)
        term.key("C-d")
        self.assertEqual(term.status(), EXIT_STOPPED)
        self.assertEqual(harness.snapshot(self.root, skip=self.tmux_files()), before)

    def test_piped_answers_over_an_answer_file(self):
        self.make_tree(with_object=True)
        answers = os.path.join(self.root, "answers.ini")
        harness.write_file(answers, '[form]\nkernel = "%s"\nprinter = "lp %%s"\n' % self.product)
        saved = os.path.join(self.root, "saved.ini")
        # Enter for the kind, the directory, the three Tuning fields and
        # the notice; then yes.
        log = os.path.join(self.root, "setup.log")
        result = subprocess.run([TOOL, "--text", "--answers", answers, "--save-answers", saved,
                                 "--log", log],
                                cwd=self.work, env=harness.unattended_env(**self.env),
                                input="\n" * 6 + "y\n", capture_output=True, text=True,
                                timeout=harness.TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Printer command [lp %s]: ", result.stdout)
        text = harness.read_file(log)
        self.assertIn(", terminal: User installation\n  working directory: %s\n" % self.work, text)
        answered, saved_text = self.tree(), harness.read_file(saved)
        os.remove(saved)
        self.assert_as_unattended(True, self.work, ["--answers", answers, "--save-answers",
                                                    saved], answered)
        self.assertEqual(saved_text, harness.read_file(saved))

    def test_a_file_changed_by_hand_is_asked_about(self):
        options = ["--full", "--cpp-name", "vx-cxx", "--shell-style", "ksh"]
        result = harness.run_tool(["--unattended"] + options, self.product,
                                  harness.unattended_env(**self.env))
        self.assertEqual(result.returncode, 0, result.stderr)
        script, header = (os.path.join(self.product, n) for n in ("CompRhs", "vel_sys.h"))
        for path, line in ((script, "echo mine\n"), (header, "#define MINE 1\n")):
            with open(path, "a") as f:
                f.write(line)
        mine = harness.read_file(script)
        # Made anew, whatever is in the way: a pipe there is neither opened
        # nor waited on.
        os.mkfifo(script + ".velorix-new")
        term = self.terminal(self.product, args=["--text", "--printer", "lp %s"] + options)
        for prompt in ("Installation (Full, User) [", "VELORIX directory [",
                       "C compiler: Include:", "C compiler: Libraries [",
                       "C++ compiler: Name [", "C++ compiler: Options [", "Printer command [",
                       "PostScript previewer [", "External differentiator [",
                       "Shell style (csh, ksh) [", "Shell path [", "Send it? ["):
            term.answer_form(prompt)
        choices = "Take the new one, keep yours, or show the differences? [T/k/d]"
        term.answer(choices, "d", after=script + " was changed since the last installation.")
        term.answer(choices, "k", after="-echo mine\n")
        term.answer(choices, after=header + " was changed since the last installation.")
        term.answer(CONFIRM, "y")
        self.assertEqual(term.status(), 0, term.screen())
        # Kept as it is, the new one beside it; and the default: the new
        # one in place, the user's kept.
        self.assertEqual(harness.read_file(script), mine)
        self.assertNotIn("echo mine", harness.read_file(script + ".velorix-new"))
        self.assertIn("#define MINE 1", harness.read_file(header + ".velorix-old"))
        self.assertNotIn("#define MINE 1", harness.read_file(header))
        self.assertIn("changed since the last installation: %s, left as it is; the new one is "
                      "%s.velorix-new" % (script, script), term.screen())

    def test_remove_asks_first(self):
        self.make_tree(with_object=True)
        env = harness.unattended_env(**self.env)
        result = harness.run_tool(["--unattended", "--kernel", self.product], self.work, env)
        self.assertEqual(result.returncode, 0, result.stderr)
        installed = harness.snapshot(self.work)
        for answer, status in (("n\n", EXIT_STOPPED), ("y\n", 0)):
            result = subprocess.run([TOOL, "--remove", "--text"], cwd=self.work, env=env,
                                    input=answer, capture_output=True, text=True,
                                    timeout=harness.TIMEOUT)
            self.assertEqual(result.returncode, status, result.stdout + result.stderr)
            self.assertIn("remove ./filenums.vpf\n", result.stdout)
            self.assertIn("Remove the installation in %s as above? [y/N]" % self.work,
                          result.stdout)
            if answer == "n\n":
                self.assertEqual(harness.snapshot(self.work), installed)
        self.assertEqual(os.listdir(self.work), [])

    def tmux_files(self):
        return {os.path.join(self.root, name) for name in ("tmux.sock", "tmux.conf", "status")}


if __name__ == "__main__":
    unittest.main()
