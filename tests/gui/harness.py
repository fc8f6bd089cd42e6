"""Harness for the GUI tests of velorix-setup.

Each test runs the real tool under a private X server and drives it the
way a user would, with xdotool; it reads the screen back with xwininfo
(window geometry and map state), xsel (the text of a field) and
ImageMagick's import (screenshots).  There is no window manager, so a close
box is imitated by tests/tools/xclose, which sends WM_DELETE_WINDOW.

Typical use, inside a unittest.TestCase:

    with harness.Session() as session:
        session.start_setup(env={"SHELL": "/bin/tcsh"})
        window = session.setup_window()
        session.click(window.radio["Full"])
        session.wait_until(lambda: session.read_text(window.kernel) == session.workdir,
                           "the product directory field shows the working directory")
        session.click(window.cancel)
        session.assert_clean_exit(harness.EXIT_CANCELLED)

What a Session gives:
  * a private Xvfb (the server picks a free display number, -displayfd);
  * a scratch working directory `workdir` holding an empty ./.velorixrc,
    so that the core library never reaches the settings file of the home
    directory; it is removed at the end unless VX_KEEP_GUI_DIRS is set;
  * every process it started (Xvfb, the tool, xsel) killed in close(),
    also when the test fails;
  * waits on conditions with a timeout (wait_until), never fixed sleeps,
    but for the pause that Motif's multi-click time asks before a triple
    click (read_text).

The tool is $VX_BUILD/velorix-setup and xclose is $VX_BUILD/xclose, so a
sanitizer build tests its own binary.  Under AddressSanitizer, leak
detection is off unless ASAN_OPTIONS says otherwise (the toolkit keeps its
memory until exit); assert_clean_exit() fails on any sanitizer report.
Logs (the tool's output, Xvfb's) are kept beside `workdir`, not in it, so
that a listing of workdir shows only what the tool did.

Tests that drive a program of their own rather than the tool use the
pieces a Session is made of: XServer (a private Xvfb), wait_for (a
condition awaited with a timeout), scratch_dir (a directory removed at
the end), snapshot (a directory's state, for "nothing changed") and
report (the summary of a script that collects failures).

Controls are told apart by geometry (see SetupWindow): Vibrant puts every
control of a window as a sibling X window of one form window, in creation
order, and prompts, text fields, toggles and push buttons differ in height.
"""

import contextlib
import ctypes
import hashlib
import os
import pwd
import re
import select
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import time

SETUP_TITLE = "velorix 1.5 setup"
PROGRAM_NAME = "velorix-setup"
SCREEN = "1280x1024x24"
# Exit statuses of the window: the installation ended; "Cancel" or the
# close box.
EXIT_ENDED = 0
EXIT_CANCELLED = 1

# Seconds to wait for a condition; generous, since a sanitizer build on a
# loaded machine is several times slower than a plain one.
TIMEOUT = float(os.environ.get("VX_GUI_TIMEOUT", "30"))
POLL = 0.02
# Clicks closer together than this form one series for Motif (its
# multiClickTime is 200 ms), with a margin.
MULTI_CLICK_TIME = 0.35

# The Help menu's items, top to bottom, and the Tuning submenu's.
HELP_ITEMS = ["VELORIX directory", "C compiler", "C++ compiler", "Tuning",
              "Installation", "Shell"]
TUNING_ITEMS = ["Printer command", "PostScript previewer",
                "External differentiator"]
# The Tuning group's text fields, by name.
TUNING_FIELDS = ["printer", "previewer", "differentiator"]

_GEOMETRY = re.compile(
    r"^(?P<indent>\s*)(?P<id>0x[0-9a-f]+) (?P<name>.*?): \((?P<cls>.*?)\)\s+"
    r"(?P<w>\d+)x(?P<h>\d+)\+(?P<x>-?\d+)\+(?P<y>-?\d+)\s+"
    r"\+(?P<ax>-?\d+)\+(?P<ay>-?\d+)\s*$")


def build_dir():
    """The build tree under test: $VX_BUILD, else ./build of the repository."""
    build = os.environ.get("VX_BUILD")
    if build:
        return build
    return os.path.join(source_dir(), "build")


def source_dir():
    """The repository: $VX_SOURCE, else two levels above this file."""
    source = os.environ.get("VX_SOURCE")
    if source:
        return source
    return os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


_text_fields = []


def text_fields():
    """The form's text fields, by name (an option without "--"), in the
    order in which the window makes them: the rows of --completion-table
    whose value is a text (TEXT) or a directory (DIR); the other options'
    values are a FILE, a number N or words."""
    if not _text_fields:
        table = subprocess.run([os.path.join(build_dir(), PROGRAM_NAME), "--completion-table"],
                               capture_output=True, text=True, timeout=TIMEOUT, check=True)
        for line in table.stdout.splitlines():
            option, _, value = line.partition(" ")
            if value in ("TEXT", "DIR"):
                _text_fields.append(option[2:])
    return _text_fields


def artifacts_dir():
    """Where screenshots go: $VX_ARTIFACTS, else artifacts/ in the repository."""
    path = os.environ.get("VX_ARTIFACTS") or os.path.join(source_dir(), "artifacts")
    os.makedirs(path, exist_ok=True)
    return path


def wait_for(predicate, what, timeout=TIMEOUT, abort=None):
    """Polls predicate until it returns a true value, which is returned.
    Fails with 'what' after timeout seconds; abort, when given, is called
    on each round and may raise to stop the wait at once."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if abort is not None:
            abort(what)
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %gs waiting until %s" % (timeout, what))
        time.sleep(POLL)


def kill(proc):
    """Ends a process started in a session of its own, with its children."""
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    proc.wait()


def write_file(path, text, mode=None):
    """Writes text to path, with the permission bits mode when given."""
    with open(path, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)


def read_file(path):
    with open(path, errors="replace") as f:
        return f.read()


def relocatable_object(size=128):
    """An ELF relocatable object of this machine (64-bit, little-endian) of
    size bytes: its header, zeros, and at its end a section header table
    holding the null section, so that a piece of it cut anywhere short is
    no object.  What stand-in compilers leave: the tool takes nothing else
    for a compiled object."""
    header_size, entry_size = 64, 64
    if size < header_size + entry_size:
        raise ValueError("an object of %d bytes has no room for its section table" % size)
    ident = b"\x7fELF" + bytes([2, 1, 1]) + bytes(9)  # ELFCLASS64, ELFDATA2LSB, EV_CURRENT
    header = ident + struct.pack("<HHIQQQIHHHHHH", 1, 62, 1, 0, 0, size - entry_size, 0,
                                 header_size, 0, 0, entry_size, 1, 0)
    return header + bytes(size - header_size)


def write_stand_in_compiler(directory, name="vx-cxx", log=None):
    """A stand-in C++ compiler in directory that leaves a relocatable
    object at the file after -o (and logs its arguments to log when
    given); it fails, writing an error, when VX_CXX_FAILS is set.  Its
    path."""
    with open(os.path.join(directory, name + ".o"), "wb") as f:
        f.write(relocatable_object())
    path = os.path.join(directory, name)
    write_file(path, "#!/bin/sh\n"
               + ('echo "$*" >>"%s"\n' % log if log else "")
               + '[ -n "$VX_CXX_FAILS" ] && { echo "vx-cxx: error: cannot compile" >&2; exit 1; }\n'
               'while [ $# -gt 0 ]; do\n'
               '  if [ "$1" = -o ]; then shift; cp "$0.o" "$1"; fi\n'
               '  shift\n'
               'done\n', 0o755)
    return path


def unattended_env(**extra):
    """The environment of a run without a display: no DISPLAY, SHELL /bin/sh."""
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["SHELL"] = "/bin/sh"
    env.update(extra)
    return env


def run_tool(args, cwd, env=None, timeout=120):
    """Runs velorix-setup with args in cwd and returns the completed process."""
    tool = os.path.abspath(os.path.join(build_dir(), PROGRAM_NAME))
    return subprocess.run([tool] + list(args), cwd=cwd, env=env or unattended_env(),
                          capture_output=True, text=True, timeout=timeout)


# Runs "$@" in a private mount namespace with a copy-on-write /etc (an
# overlay whose changes go to a tmpfs on $1, an empty directory), in which
# /etc/velorix-setup/defaults holds $2, or with $2 "-" is not there.
_SITE_NAMESPACE = r'''
upper=$1 text=$2; shift 2
mount -t tmpfs tmpfs "$upper" && mkdir "$upper/u" "$upper/w" &&
  mount -t overlay overlay -o "lowerdir=/etc,upperdir=$upper/u,workdir=$upper/w" /etc || exit 99
if [ "$text" = - ]; then
  rm -f /etc/velorix-setup/defaults || exit 99
else
  mkdir -p /etc/velorix-setup && printf %s "$text" >/etc/velorix-setup/defaults || exit 99
fi
exec "$@"
'''


def site_defaults_prefix(scratch, text):
    """The argv prefix that runs a command with /etc/velorix-setup/defaults
    holding text (None: no such file), in a private mount namespace over a
    copy-on-write /etc, so that the real /etc is never touched; scratch is
    a directory of the test's own.  None when the system allows no such
    namespace (not root, no unshare, no overlay)."""
    upper = tempfile.mkdtemp(prefix="etc-overlay-", dir=scratch)
    prefix = ["unshare", "-m", "--propagation", "private", "sh", "-c", _SITE_NAMESPACE, "sh",
              upper, "-" if text is None else text]
    try:
        probe = subprocess.run(prefix + ["test", "-d", "/etc"], capture_output=True,
                               timeout=TIMEOUT)
    except OSError:
        return None
    return prefix if probe.returncode == 0 else None


def make_scratch_dir(prefix):
    """A fresh directory for a test's files, by its real path."""
    return os.path.realpath(tempfile.mkdtemp(prefix=prefix))


def remove_scratch_dir(path):
    """Removes a scratch directory, unless VX_KEEP_GUI_DIRS asks to keep it."""
    if os.environ.get("VX_KEEP_GUI_DIRS"):
        print("kept", path)
    else:
        shutil.rmtree(path, ignore_errors=True)


@contextlib.contextmanager
def scratch_dir(prefix):
    """A fresh directory for the length of a with block."""
    path = make_scratch_dir(prefix)
    try:
        yield path
    finally:
        remove_scratch_dir(path)


def snapshot(root, skip=()):
    """Every entry below root, by relative path, with its kind, permission
    bits, size, modification time and a hash of a file's contents; the
    trees named in skip are left out, themselves included."""
    state = {}
    for top, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(top, d) not in skip]
        for name in dirs + files:
            path = os.path.join(top, name)
            if path in skip:
                continue
            info = os.lstat(path)
            digest = ""
            if stat.S_ISREG(info.st_mode):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            state[os.path.relpath(path, root)] = (
                stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode), info.st_size,
                info.st_mtime_ns, digest)
    return state


def report(failures, passed):
    """Prints the collected failures, or passed when there are none; returns
    the exit status of the script."""
    for failure in failures:
        print("FAILED:", failure)
    if not failures:
        print(passed)
    return 1 if failures else 0


def start_xvfb(screen=SCREEN, log=subprocess.DEVNULL, reset=False, options=()):
    """Starts a private Xvfb in a session of its own; returns the process
    and its display (":N").  -displayfd lets the server pick a free display
    number.  -noreset unless reset is set: otherwise the server resets
    whenever its last client leaves, and a client that connects meanwhile
    is refused.  Without auto-repeat (-r): a typing client that a busy
    machine stalls between a key's press and its release would otherwise
    type the key again.  options: more of the server's options."""
    read_end, write_end = os.pipe()
    try:
        proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                                 "-nolisten", "tcp", "-r"] + ([] if reset else ["-noreset"])
                                + list(options),
                                start_new_session=True, pass_fds=(write_end,),
                                stdout=log, stderr=log)
    finally:
        os.close(write_end)
    try:
        number = b""
        deadline = time.monotonic() + TIMEOUT
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise AssertionError("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise AssertionError("Xvfb ended before reporting its display")
            number += chunk
    except BaseException:
        kill(proc)
        raise
    finally:
        os.close(read_end)
    return proc, ":" + number.decode().strip()


class _Closing:
    """A with block ends in close(), also when the block fails."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        raise NotImplementedError


class XServer(_Closing):
    """A private Xvfb for a program other than the tool; killed by close(),
    or at the end of a with block."""

    def __init__(self, screen=SCREEN):
        self.process, self.display = start_xvfb(screen)

    def close(self):
        kill(self.process)

    def env(self):
        """The environment for programs on this display."""
        return dict(os.environ, DISPLAY=self.display)


class XWindow:
    """One X window as xwininfo shows it: id, name, absolute geometry."""

    def __init__(self, wid, name, cls, x, y, width, height):
        self.id = wid
        self.name = name
        self.cls = cls
        self.x = x
        self.y = y
        self.width = width
        self.height = height
        self.children = []

    @property
    def right(self):
        return self.x + self.width

    @property
    def bottom(self):
        return self.y + self.height

    @property
    def center(self):
        return (self.x + self.width // 2, self.y + self.height // 2)

    def leaves(self):
        """Windows without children below this one, in listing order."""
        if not self.children:
            return [self]
        found = []
        for child in self.children:
            found.extend(child.leaves())
        return found

    def __repr__(self):
        return "XWindow(%s %r %dx%d+%d+%d)" % (self.id, self.name, self.width,
                                             self.height, self.x, self.y)


def is_frame_line(w):
    """A normal group's frame: four windows one pixel wide or high."""
    return w.width == 1 or w.height == 1


class SetupWindow:
    """The Setup window's controls, found in its X window tree.

    Vibrant lists a window's controls in creation order.  Frame lines are
    dropped; the rest fall into four kinds by height, smallest first:
    prompts and group titles, text fields, toggles (radio buttons and the
    check box), push buttons.  Hidden controls are listed too.

    Attributes: field (the text fields by name, text_fields()), and of
    them kernel, include, lib, cpp_name, cpp_options, tuning (list: the
    Tuning fields, TUNING_FIELDS), shell_path; radio (dict "Full", "User", "csh", "ksh");
    consent (the check box, or None); setup, cancel (buttons); prompts
    (prompts and group titles above the buttons); status (the status line
    below the buttons, or None); prompts_below (the status lines);
    menu_title (the "Help" title of the menu bar); top (the top-level
    window).
    """

    def __init__(self, top):
        self.top = top
        form, menubar = self._containers(top)
        controls = [w for w in form.leaves() if not is_frame_line(w)]
        heights = sorted({w.height for w in controls})
        if len(heights) != 4:
            raise AssertionError("expected four kinds of control in the Setup window, "
                                 "got heights %s" % heights)
        prompt_h, text_h, toggle_h, button_h = heights
        self.prompts = [w for w in controls if w.height == prompt_h]
        self.fields = [w for w in controls if w.height == text_h]
        toggles = [w for w in controls if w.height == toggle_h]
        buttons = sorted((w for w in controls if w.height == button_h), key=lambda w: w.x)
        if len(self.fields) < 6 or len(toggles) < 4 or len(buttons) != 2:
            raise AssertionError("unexpected Setup window: %d fields, %d toggles, "
                                 "%d buttons" % (len(self.fields), len(toggles), len(buttons)))
        # The status line: the prompt below the buttons.
        below = [w for w in self.prompts if w.y >= buttons[0].bottom]
        self.status = below[0] if below else None
        self.prompts_below = below
        self.prompts = [w for w in self.prompts if w not in below]
        names = text_fields()
        if len(names) != len(self.fields):
            raise AssertionError("the Setup window has %d text fields, the form %d (%s)"
                                 % (len(self.fields), len(names), ", ".join(names)))
        self.field = dict(zip(names, self.fields))
        (self.kernel, self.include, self.lib, self.cpp_name, self.cpp_options,
         self.shell_path) = (self.field[name] for name in (
             "kernel", "include", "libs", "cpp-name", "cpp-options", "shell-path"))
        self.tuning = [self.field[name] for name in TUNING_FIELDS]
        self.radio = dict(zip(["Full", "User", "csh", "ksh"], toggles[:4]))
        self.consent = toggles[4] if len(toggles) > 4 else None
        self.setup, self.cancel = buttons
        self.menu_title = menubar.leaves()[0]
        self.form = form

    @staticmethod
    def _containers(top):
        """The form window holding the controls and the menu bar."""
        shell = top.children[0] if len(top.children) == 1 else top
        parts = sorted(shell.children, key=lambda w: len(w.leaves()))
        if len(parts) < 2:
            raise AssertionError("the Setup window has no menu bar and form")
        return parts[-1], parts[0]


class Session(_Closing):
    """A private X server, a scratch directory and the tool under test."""

    def __init__(self, screen=SCREEN, reset=False, xvfb_options=()):
        """reset and xvfb_options: as start_xvfb takes them; the server's
        log is logs/xvfb.log (xvfb_log)."""
        self._root = make_scratch_dir("vx-gui-")
        self.workdir = os.path.join(self._root, "work")
        self.logdir = os.path.join(self._root, "logs")
        os.makedirs(self.workdir)
        os.makedirs(self.logdir)
        with open(os.path.join(self.workdir, ".velorixrc"), "w"):
            pass
        self._processes = []
        self._last_click = 0.0
        self.app = None
        self._app_log = None
        self.display = None
        try:
            self._start_xvfb(screen, reset, xvfb_options)
        except BaseException:
            self.close()  # a with block is not entered: remove the directory here
            raise

    # ---- life cycle -------------------------------------------------

    def close(self):
        """Kills everything this session started, then removes workdir and
        the logs."""
        for proc in reversed(self._processes):
            kill(proc)
        self._processes = []
        remove_scratch_dir(self._root)

    def _spawn(self, argv, **kwargs):
        """Starts a process in its own process group, remembered for close()."""
        proc = subprocess.Popen(argv, start_new_session=True, **kwargs)
        self._processes.append(proc)
        return proc

    @property
    def xvfb_log(self):
        return os.path.join(self.logdir, "xvfb.log")

    def _start_xvfb(self, screen, reset, options):
        with open(self.xvfb_log, "w") as log:
            proc, self.display = start_xvfb(screen, log, reset, options)
        self._processes.append(proc)

    def env(self, extra=None):
        """The environment for programs on this session's display."""
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        if extra:
            for key, value in extra.items():
                if value is None:
                    env.pop(key, None)
                else:
                    env[key] = value
        return env

    def x(self, *argv, check=True):
        """Runs an X client (xdotool, xwininfo, ...) and returns its output."""
        result = subprocess.run(list(argv), env=self.env(), capture_output=True, text=True,
                                timeout=TIMEOUT)
        if check and result.returncode != 0:
            raise AssertionError("%s failed: %s" % (" ".join(argv), result.stderr.strip()))
        return result.stdout

    # ---- the tool ---------------------------------------------------

    def start_setup(self, env=None, cwd=None, user=None, args=(), prefix=()):
        """Starts velorix-setup with args in cwd (default workdir) with env
        changes (a value of None unsets a variable).  With user (root
        only), the tool runs as that user, in the user's own group and no
        other; the display needs no authorization, since Xvfb runs without
        -auth.  prefix is a command that runs the tool (such as
        site_defaults_prefix's).  Returns the process."""
        tool = os.path.join(build_dir(), PROGRAM_NAME)
        if not os.access(tool, os.X_OK):
            raise AssertionError("no tool at %s: build it first" % tool)
        argv = [tool] + list(args)
        if user is not None:
            account = pwd.getpwnam(user)
            argv = ["setpriv", "--reuid=%d" % account.pw_uid, "--regid=%d" % account.pw_gid,
                    "--clear-groups"] + argv
        argv = list(prefix) + argv
        extra = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "detect_leaks=0")}
        extra.update(env or {})
        self._app_log = os.path.join(self.logdir, "velorix-setup.log")
        log = open(self._app_log, "w")
        try:
            self.app = self._spawn(argv, cwd=cwd or self.workdir, env=self.env(extra),
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        finally:
            log.close()
        return self.app

    def app_output(self):
        """What the tool wrote to standard output and standard error."""
        if not self._app_log:
            return ""
        with open(self._app_log, errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout=TIMEOUT):
        """Waits for the tool to end; returns its exit status."""
        try:
            return self.app.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("velorix-setup did not end within %gs" % timeout)

    def assert_clean_exit(self, expected=EXIT_ENDED, timeout=TIMEOUT):
        """The tool ended with status expected (by default that of an
        ended installation) and without a sanitizer report."""
        status = self.wait_exit(timeout)
        output = self.app_output()
        for mark in ("AddressSanitizer", "runtime error:", "LeakSanitizer"):
            if mark in output:
                raise AssertionError("sanitizer report from velorix-setup:\n" + output)
        if status != expected:
            raise AssertionError("velorix-setup ended with status %s, not %s:\n%s"
                                 % (status, expected, output))

    def assert_running(self):
        if self.app is None or self.app.poll() is not None:
            raise AssertionError("velorix-setup is not running (status %s):\n%s"
                                 % (self.app and self.app.returncode, self.app_output()))

    # ---- waiting ----------------------------------------------------

    def wait_until(self, predicate, what, timeout=TIMEOUT):
        """Polls predicate until it returns a true value, which is returned.
        Fails with 'what' after timeout seconds, or at once when the tool
        has ended meanwhile (its output is shown)."""
        def tool_ended(what):
            if self.app is not None and self.app.poll() is not None:
                raise AssertionError("velorix-setup ended (status %s) while waiting until %s"
                                     ":\n%s" % (self.app.returncode, what, self.app_output()))
        return wait_for(predicate, what, timeout, abort=tool_ended)

    # ---- windows ----------------------------------------------------

    def top_levels(self):
        """Children of the root window, front-most last."""
        out = self.x("xwininfo", "-root", "-children")
        return [w for w in _parse_windows(out) if w.id]

    def tree(self, wid):
        """The window wid with all its descendants (XWindow.children)."""
        root = self.window_info(wid)
        out = self.x("xwininfo", "-tree", "-id", wid)
        lines = out.splitlines()
        stack = [(-1, root)]
        for line in lines:
            m = _GEOMETRY.match(line)
            if not m:
                continue
            node = _window_from_match(m)
            depth = len(m.group("indent"))
            while stack[-1][0] >= depth:
                stack.pop()
            stack[-1][1].children.append(node)
            stack.append((depth, node))
        return root

    def window_info(self, wid):
        """The window wid alone: name and absolute geometry."""
        out = self.x("xwininfo", "-id", wid)

        def field(label):
            return int(re.search(r"%s:\s+(-?\d+)" % label, out).group(1))
        head = re.search(r'Window id: (0x[0-9a-f]+) (?:"(.*)"|\(has no name\))', out)
        return XWindow(head.group(1), head.group(2) or "", "", field("Absolute upper-left X"),
                       field("Absolute upper-left Y"), field("Width"), field("Height"))

    def is_viewable(self, wid):
        out = self.x("xwininfo", "-id", wid, check=False)
        return "Map State: IsViewable" in out

    def app_windows(self):
        """The tool's viewable top-level windows other than menus."""
        return [w for w in self.top_levels()
                if PROGRAM_NAME in w.cls and self.is_viewable(w.id)]

    def wait_window(self, title=SETUP_TITLE):
        """Waits until a viewable top-level window of that title exists."""
        def find():
            for w in self.app_windows():
                if w.name == title:
                    return w
            return None
        return self.wait_until(find, "a window titled %r is shown" % title)

    def setup_window(self):
        """Waits for the Setup window and returns its controls."""
        top = self.wait_window(SETUP_TITLE)
        return SetupWindow(self.tree(top.id))

    def help_windows(self):
        """The open help windows: the tool's untitled top-level windows."""
        return [w for w in self.app_windows()
                if w.name not in (SETUP_TITLE, PROGRAM_NAME)]

    def message_boxes(self):
        """Open message boxes: top-level windows named after the program."""
        return [w for w in self.app_windows() if w.name == PROGRAM_NAME]

    def dismiss_message(self, box):
        """Presses the OK button of a message box (its tallest control) and
        waits until the box is gone.  Returns the number of text lines the
        box showed."""
        leaves = self.tree(box.id).leaves()
        ok = max(leaves, key=lambda w: w.height)
        self.click(ok)
        self.wait_until(lambda: box.id not in {b.id for b in self.message_boxes()},
                        "the message box is dismissed")
        return len(leaves) - 1

    def prompt_count(self, wid):
        """Prompts of a help or message window: the leaves of its tree."""
        return len(self.tree(wid).leaves())

    def mapped(self, control):
        """TRUE when the control is shown (its X window is viewable)."""
        return self.is_viewable(control.id)

    def focus(self):
        """The window that has the keyboard, as a number; None when the
        keyboard follows the pointer or goes nowhere."""
        out = self.x("xdotool", "getwindowfocus", check=False).strip()
        return int(out) if out.isdigit() and int(out) > 1 else None

    def wait_keyboard(self, wid, what=None):
        """Waits until window wid (an "0x..." id) has the keyboard."""
        self.wait_until(lambda: self.focus() == int(wid, 16),
                        what or "window %s has the keyboard" % wid)

    def status_picture(self, text, width):
        """The pixels of a status line of that width showing text, as
        tests/tools/prompt_probe draws it: the line the tool must show."""
        probe = self._spawn([os.path.join(build_dir(), "prompt_probe")],
                            env=self.env({"VX_PROMPT_TEXT": text, "VX_PROMPT_WIDTH": str(width)}),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            top = self.wait_until(lambda: [w for w in self.top_levels()
                                           if w.name == "prompt_probe" and self.is_viewable(w.id)],
                                  "the probe's line is shown")[0]
            line = [w for w in self.tree(top.id).leaves() if w.width == width][0]
            return self.control_pixels(self.window_info(top.id), line)
        finally:
            kill(probe)

    def message_picture(self, text, question=False):
        """The picture of the message box that tests/tools/message_probe
        shows for text (with Yes and No for a question): the box the tool
        must show for it."""
        self.move_pointer(1, 1)  # no pointer over the box
        probe = self._spawn([os.path.join(build_dir(), "message_probe")],
                            env=self.env({"VX_MESSAGE_TEXT": text,
                                          "VX_MESSAGE_KEY": "yn" if question else "ok"}),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            reference = self.wait_until(
                lambda: [w for w in self.top_levels()
                         if w.name == "message_probe" and self.is_viewable(w.id)],
                "the probe's message box is shown")[0]
            return self.grab(reference.id)
        finally:
            kill(probe)

    def message_shows(self, box, expected):
        """TRUE when the message box's picture equals expected (from
        message_picture); on a difference it is kept in the artifacts."""
        self.move_pointer(1, 1)
        # A busy server may show the box before it has drawn all of it.
        try:
            self.wait_until(lambda: self.grab(box.id) == expected, "the box is drawn whole",
                            timeout=min(TIMEOUT, 5))
            return True
        except AssertionError:
            self.screenshot(box.id, "message-shown.png")
            return False

    def close_window(self, wid):
        """Asks a top-level window to close, as its close box would."""
        xclose = os.path.join(build_dir(), "xclose")
        result = subprocess.run([xclose, wid], env=self.env(), capture_output=True, text=True,
                                timeout=TIMEOUT)
        if result.returncode != 0:
            raise AssertionError("xclose %s failed: %s" % (wid, result.stderr.strip()))

    # ---- input ------------------------------------------------------

    def pointer(self):
        """Where the pointer is, as (x, y)."""
        out = self.x("xdotool", "getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def move_pointer(self, x, y):
        """Moves the pointer to (x, y) and waits until it is there.
        xdotool's --sync waits for the pointer to leave the place it was
        at, so a move to where it already is would sit out xdotool's own
        limit of 15 s: no move is made then."""
        if self.pointer() != (x, y):
            self.x("xdotool", "mousemove", "--sync", str(x), str(y))

    def click(self, target, button=1, repeat=1):
        """Clicks the middle of an XWindow, or an (x, y) point; repeat
        times, as one series (a double or triple click)."""
        x, y = target.center if isinstance(target, XWindow) else target
        self.move_pointer(x, y)
        if repeat == 1:
            self.x("xdotool", "click", str(button))
        else:
            _click_series(self.display, button, repeat)
        self._last_click = time.monotonic()

    def type_text(self, text):
        """Types text where the keyboard focus is."""
        self.x("xdotool", "type", "--delay", "40", "--", text)

    def type_into(self, field, text):
        """Puts the caret at the end of a text field and types text."""
        self.click((field.right - 3, field.y + field.height // 2))
        self.x("xdotool", "key", "End")
        self.type_text(text)

    def key(self, *keys):
        self.x("xdotool", "key", "--delay", "40", *keys)

    def read_text(self, field):
        """The text of a text field, read back through the PRIMARY selection.

        xsel first owns the selection with a sentinel; selecting the whole
        text of the field then makes the field its owner, an empty field
        too (it then holds "").  A disabled or hidden field takes nothing:
        that fails after the timeout.  The field's text is left selected:
        click before typing into it again (type_into does).  Since the tool
        handles the clicks in order, a read is also a round trip through
        its event queue.
        """
        sentinel = "\x01vx-empty\x01"
        owner = self.own_selection(sentinel)
        # A triple click selects the line.  Motif counts clicks that come
        # within its multi-click time as one series, so let that time pass
        # since the last click first; otherwise this could count as a
        # double click and select a single word.  (Selecting from the
        # keyboard is no way out: it acts on the focused field, which a
        # click on a disabled field does not change.)
        wait = self._last_click + MULTI_CLICK_TIME - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        self.click(field, repeat=3)
        # The selection has changed hands when xsel ends: wait for that,
        # however long a loaded machine takes, rather than take a slow
        # answer for an empty field.
        try:
            owner.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise AssertionError("the field %r did not take the selection within %gs: "
                                 "is it disabled or hidden?" % (field, TIMEOUT))
        return self.x("xsel", "-o", "-p", check=False)

    def paste_into(self, field, text):
        """Pastes text into a field with the middle button, as from another
        program's selection."""
        self.own_selection(text)
        self.click((field.right - 3, field.y + field.height // 2), button=2)

    def own_selection(self, text):
        """Makes xsel the owner of the PRIMARY selection, holding text, and
        returns its process; it ends when another client takes the
        selection, or in close()."""
        owner = self._spawn(["xsel", "--nodetach", "-i", "-p"], env=self.env(),
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
        owner.stdin.write(text.encode())
        owner.stdin.close()
        self.wait_until(lambda: self.x("xsel", "-o", "-p", check=False) == text,
                        "xsel owns the selection")
        return owner

    # ---- menus ------------------------------------------------------

    def _posted_menus(self):
        return [w for w in self.top_levels()
                if w.name == "(has no name)" and not w.cls and w.width > 20
                and w.height > 20 and self.is_viewable(w.id)]

    def _menu_items(self, menu):
        # Items are listed bottom first: order them by position.
        return sorted(self.tree(menu.id).leaves(), key=lambda w: w.y)

    def choose(self, window, item, submenu_item=None):
        """Chooses an item of the Setup window's Help menu by its label
        (HELP_ITEMS), or an item of the Tuning submenu (TUNING_ITEMS).  A
        disabled item is clicked all the same: the menu then closes without
        any effect."""
        before = {w.id for w in self._posted_menus()}
        self.click(window.menu_title)
        menu = self.wait_until(
            lambda: [w for w in self._posted_menus() if w.id not in before],
            "the Help menu is posted")[0]
        items = self._menu_items(menu)
        if len(items) != len(HELP_ITEMS):
            raise AssertionError("the Help menu has %d items" % len(items))
        target = items[HELP_ITEMS.index(item)]
        if submenu_item is None:
            self.click(target)
        else:
            shown = {w.id for w in self._posted_menus()}
            self.click(target)
            sub = self.wait_until(
                lambda: [w for w in self._posted_menus() if w.id not in shown],
                "the %s submenu is posted" % item)[0]
            sub_items = self._menu_items(sub)
            self.click(sub_items[TUNING_ITEMS.index(submenu_item)])
        self.wait_until(lambda: not self._posted_menus(), "the menu is closed")

    # ---- pictures ---------------------------------------------------

    def screenshot(self, wid, name):
        """Saves a PNG of window wid in the artifacts directory; returns its path."""
        path = os.path.join(artifacts_dir(), name)
        self.x("import", "-window", wid, path)
        return path

    def grab(self, wid):
        """The window's pixels as raw RGB bytes, for comparing two moments.
        Mind the blinking caret of the focused text field: compare the
        pixels of other controls (control_pixels) rather than a whole
        window."""
        return subprocess.run(["import", "-window", wid, "-depth", "8", "rgb:-"], env=self.env(),
                              capture_output=True, timeout=TIMEOUT, check=True).stdout

    def control_pixels(self, top, control):
        """The RGB rows of control (an XWindow inside the top-level window
        top), as a tuple of bytes objects."""
        image = self.grab(top.id)
        stride = top.width * 3
        left = (control.x - top.x) * 3
        first = control.y - top.y
        return tuple(image[(first + i) * stride + left:(first + i) * stride + left
                           + control.width * 3] for i in range(control.height))


def _click_series(display, button, repeat):
    """Clicks repeat times where the pointer is.  Motif takes clicks for one
    series only while each follows the last within its multi-click time,
    by the times the X server gives them; a client that sends them one by
    one (xdotool) can be stalled between them by a busy machine, and a
    triple click then selects a word, or nothing.  So the clicks go in one
    batch of XTest requests, each of which the server itself delays by a
    few milliseconds: the server spaces them."""
    x11 = ctypes.CDLL("libX11.so.6")
    xtest = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtest.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                           ctypes.c_ulong]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise AssertionError("cannot open display %s" % display)
    try:
        for i in range(repeat):
            # Milliseconds before each press and each release.
            xtest.XTestFakeButtonEvent(connection, button, True, 40 if i else 0)
            xtest.XTestFakeButtonEvent(connection, button, False, 10)
        x11.XSync(connection, False)
    finally:
        x11.XCloseDisplay(connection)


def _window_from_match(m):
    name = m.group("name")
    if name.startswith('"') and name.endswith('"'):
        name = name[1:-1]
    return XWindow(m.group("id"), name, m.group("cls"), int(m.group("ax")), int(m.group("ay")),
                   int(m.group("w")), int(m.group("h")))


def _parse_windows(out):
    return [_window_from_match(m) for m in map(_GEOMETRY.match, out.splitlines()) if m]
