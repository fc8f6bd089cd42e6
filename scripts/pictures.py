#!/usr/bin/env python3
"""Makes the pictures that the README and the manual page show, from the
real tool: the Setup window of a User and of a Full installation, under a
private Xvfb, taken with ImageMagick's import; and a --text session in a
real terminal (tmux), drawn in DejaVu Sans Mono with ImageMagick's convert.

    python3 scripts/pictures.py [BUILD_DIR [OUTPUT_DIR]]

It builds nothing: BUILD_DIR (default: build) holds a built velorix-setup
and its window module.  The pictures go to OUTPUT_DIR (default: docs):
setup-window-user.png, setup-window-full.png and text-session.png.  Rerun
it whenever the form or the questions change, and commit the pictures.

So that the pictures show the paths the README uses (/opt/velorix and
/home/me/work) and read nothing of the machine's, the tool runs in a
private mount namespace (unshare) in which scratch directories lie over
/opt and /home, and empty ones over the home directory of the password
database and /etc/ncbi; a stand-in uname gives the installation notice
the README's host line, so that the pictures do not depend on the
machine they are made on.  Needs Xvfb, xdotool, xwininfo, ImageMagick,
tmux, fonts-dejavu-core, unshare and ss (scripts/install-deps.sh).
"""
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "gui"))
import harness  # noqa: E402

PRODUCT = "/opt/velorix"
WORK = "/home/me/work"
TOOL = "velorix-setup"
MODULE = "velorix-setup-window.so"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
# The README's host, for the installation notice.
UNAME = ("Linux lab7 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 x86_64 "
         "GNU/Linux")
# Wide enough for the differentiator's default on one line.
TERMINAL_COLUMNS = 136
TERMINAL_ROWS = 50
BACKGROUND = "#1e1e1e"
FOREGROUND = "#d8d8d8"
# Written into each PNG no time or date, so that a rerun over an unchanged
# form gives the same bytes.
PNG_OPTIONS = ["-strip", "-define", "png:exclude-chunks=date,time"]
INSIDE = "--inside-namespace"
PICTURES = ("setup-window-user.png", "setup-window-full.png", "text-session.png")


def fail(message):
    print("pictures.py: " + message, file=sys.stderr)
    sys.exit(1)


# ---- outside: the scratch directory, the namespace, the results ----------

def main(argv):
    if len(argv) > 1 and argv[1] == INSIDE:
        return inside(argv[2])
    source = os.path.dirname(HERE)
    build = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(source, "build"))
    output = os.path.abspath(argv[2] if len(argv) > 2 else os.path.join(source, "docs"))
    for name in (TOOL, MODULE):
        if not os.path.isfile(os.path.join(build, name)):
            fail("%s has no %s: build it first (cmake --build %s)" % (build, name, build))
    if not os.path.isfile(FONT):
        fail("no %s: install fonts-dejavu-core" % FONT)
    # In /tmp, which the namespace leaves visible, whatever TMPDIR says.
    scratch = tempfile.mkdtemp(prefix="vx-pictures-", dir="/tmp")
    try:
        # The tool is copied out of the tree, which may lie below /home.
        tools = os.path.join(scratch, "bin")
        os.makedirs(tools)
        for name in (TOOL, MODULE):
            shutil.copy2(os.path.join(build, name), tools)
        harness.write_file(os.path.join(tools, "uname"), "#!/bin/sh\necho '%s'\n" % UNAME, 0o755)
        # Mounting needs root, in a user namespace of its own when need be.
        unshare = ["unshare", "--mount", "--propagation", "private"]
        if os.getuid() != 0:
            unshare.append("--map-root-user")
        result = subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), INSIDE,
                                           scratch])
        if result.returncode != 0:
            fail("the pictures could not be made (status %d)" % result.returncode)
        os.makedirs(output, exist_ok=True)
        for name in PICTURES:
            shutil.copyfile(os.path.join(scratch, "pictures", name), os.path.join(output, name))
            print(os.path.join(output, name))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


# ---- inside the namespace -----------------------------------------------

def mount_over(directory, scratch, name):
    """Puts an empty scratch directory over directory, in this namespace."""
    place = os.path.join(scratch, "mounts", name)
    os.makedirs(place)
    subprocess.run(["mount", "--bind", place, directory], check=True)


def inside(scratch):
    mount_over("/opt", scratch, "opt")
    mount_over("/home", scratch, "home")
    home = pwd.getpwuid(os.getuid()).pw_dir
    if home not in ("/", "/home") and os.path.isdir(home):
        mount_over(home, scratch, "home-directory")
    if os.path.isdir("/etc/ncbi"):
        mount_over("/etc/ncbi", scratch, "ncbi")
    make_product(PRODUCT)
    os.makedirs(WORK)
    # Found first, so that the settings file of no home directory is read.
    harness.write_file(os.path.join(WORK, ".velorixrc"), "")
    harness.write_file(os.path.join(PRODUCT, ".velorixrc"), "")
    tools = os.path.join(scratch, "bin")
    pictures = os.path.join(scratch, "pictures")
    os.makedirs(pictures)
    os.environ.update(VX_BUILD=tools, TMPDIR=os.path.join(scratch, "tmp"), SHELL="/bin/bash",
                      PATH=tools + ":" + os.environ.get("PATH", "/usr/bin:/bin"),
                      LANG="C.UTF-8", LC_ALL="C.UTF-8")
    os.makedirs(os.environ["TMPDIR"])
    window_picture(WORK, ["--kernel", PRODUCT], os.path.join(pictures, PICTURES[0]))
    window_picture(PRODUCT, ["--full"], os.path.join(pictures, PICTURES[1]))
    # The product directory as a Full installation leaves it, with the
    # object that a User installation links.
    full = subprocess.run([os.path.join(tools, TOOL), "--unattended", "--full"], cwd=PRODUCT,
                          env=harness.unattended_env(), capture_output=True, text=True,
                          timeout=harness.TIMEOUT)
    if full.returncode != 0 or full.stderr:
        fail("the Full installation of the pictures' product directory failed:\n" + full.stderr)
    text_picture(scratch, os.path.join(pictures, PICTURES[2]))
    return 0


def make_product(path):
    """The product directory of the README: the executable, the class
    description file and the source of symbolic differentiation."""
    os.makedirs(path)
    harness.write_file(os.path.join(path, "velorix"), "#!/bin/sh\n", 0o755)
    harness.write_file(os.path.join(path, "classes.vel"),
                       "! the classes of the product\n&hierarchy\nLorenz lorenz\n")
    harness.write_file(os.path.join(path, "autodif.cc"), "int autodif() { return 0; }\n")


def window_picture(cwd, args, picture):
    """The Setup window, started in cwd with args, once it is drawn whole."""
    with harness.Session() as session:
        # A caret that does not blink: two grabs that agree may otherwise
        # both have caught it on, or both off.
        tool = session.start_setup(cwd=cwd, args=list(args) + ["-xrm", "*blinkRate: 0"])
        window = session.setup_window()

        # Drawn whole when the tool, after a grab, waits for events with
        # none left unread (it has handled its Expose and focus events and
        # sent what they draw), and a second grab agrees.  Two grabs alone
        # may both come before the tool, on a busy machine, has drawn.
        def drawn():
            first = session.grab(window.top.id)
            if not waiting_for_events(tool.pid):
                return False
            return session.grab(window.top.id) == first and waiting_for_events(tool.pid)
        session.wait_until(drawn, "the Setup window is drawn")
        session.x("import", "-window", window.top.id, *PNG_OPTIONS, picture)
        session.click(window.cancel)
        session.assert_clean_exit(harness.EXIT_CANCELLED)


def waiting_for_events(pid):
    """Whether the program's main thread sleeps and no byte waits unread on
    its sockets (its connection to the X server among them)."""
    with open("/proc/%d/stat" % pid) as f:
        # The state follows the command's closing parenthesis.
        if f.read().rpartition(")")[2].split()[0] != "S":
            return False
    sockets = subprocess.run(["ss", "--unix", "--processes", "--no-header"], capture_output=True,
                             text=True, timeout=harness.TIMEOUT, check=True).stdout
    unread = [line.split()[2] for line in sockets.splitlines() if "pid=%d," % pid in line]
    return bool(unread) and all(count == "0" for count in unread)


class Terminal:
    """velorix-setup --text in a terminal of a private tmux server."""

    def __init__(self, scratch):
        self.socket = os.path.join(scratch, "tmux.sock")
        conf = os.path.join(scratch, "tmux.conf")
        # The pane stays when the tool ends, so that its screen can be read.
        harness.write_file(conf, "set -g remain-on-exit on\nset -g status off\n")
        self.tmux("-f", conf, "new-session", "-d", "-x", str(TERMINAL_COLUMNS), "-y",
                  str(TERMINAL_ROWS), "-c", WORK, "--", "env", "-u", "DISPLAY",
                  "TERM=xterm", os.path.join(scratch, "bin", TOOL), "--text")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket] + list(args), capture_output=True,
                              text=True, timeout=harness.TIMEOUT, check=True).stdout

    def lines(self):
        # From the start of the history: all the session, however long.
        return self.tmux("capture-pane", "-p", "-S", "-").rstrip("\n").split("\n")

    def answer(self, prompt, text=""):
        """Waits until prompt begins the last line, and answers text."""
        def asked():
            written = [line for line in self.lines() if line.strip()]
            return written and written[-1].startswith(prompt)
        harness.wait_for(asked, "the terminal asks %r" % prompt)
        if text:
            self.tmux("send-keys", "-l", "--", text)
        self.tmux("send-keys", "Enter")

    def screen_when_ended(self):
        """The screen once the tool has ended, without tmux's own line."""
        def ended():
            return self.tmux("display-message", "-p", "#{pane_dead}").strip() == "1"
        harness.wait_for(ended, "velorix-setup --text ends")
        lines = [line.rstrip() for line in self.lines() if not line.startswith("Pane is dead")]
        while lines and not lines[-1]:
            lines.pop()
        return "\n".join(lines)

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True,
                       timeout=harness.TIMEOUT)


def text_picture(scratch, picture):
    """A User installation answered as in the README, drawn as the terminal
    shows it."""
    terminal = Terminal(scratch)
    try:
        terminal.answer("Installation (Full, User) [User]:")
        terminal.answer("VELORIX directory:", PRODUCT)
        terminal.answer("Printer command [lpr %s]:", "lpr -P office %s")
        terminal.answer("PostScript previewer [", '""')
        terminal.answer("External differentiator [")
        terminal.answer("Send it? [y/N]")
        terminal.answer("Set up now? [y/N]", "y")
        screen = "$ cd ~/work && velorix-setup --text\n" + terminal.screen_when_ended()
    finally:
        terminal.close()
    # A label a line, stacked: one label of many lines is more than
    # ImageMagick 6 measures.  label: drops blanks at a line's ends (and an
    # empty line is no label), so every blank is a no-break space, as wide
    # in this font; it reads "%" escapes and backslashes, shown as typed.
    labels = ["label:" + (line.replace("\\", "\\\\").replace("%", "%%").replace(" ", "\u00a0")
                          or "\u00a0")
              for line in screen.split("\n")]
    drawn = subprocess.run(["convert", "-background", BACKGROUND, "-fill", FOREGROUND, "-font",
                            FONT, "-pointsize", "14", *labels, "-append", "-bordercolor",
                            BACKGROUND, "-border", "12", *PNG_OPTIONS, picture],
                           capture_output=True, text=True, timeout=harness.TIMEOUT)
    if drawn.returncode != 0:
        fail("convert could not draw the terminal: " + drawn.stderr.strip())


if __name__ == "__main__":
    sys.exit(main(sys.argv))
