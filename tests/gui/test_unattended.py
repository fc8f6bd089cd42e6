#!/usr/bin/env python3
"""velorix-setup --unattended and --dry-run, run as a user would run them.

Most checks run the program with DISPLAY unset: the unattended mode must
not need an X server.  The last check installs the same directory once
through the real Setup window (under a private Xvfb) and once unattended,
with the window's initial values in both, and compares every file byte for
byte: both must start from the same defaults and write the same things.
"""
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import harness

TOOL = os.path.abspath(os.path.join(harness.build_dir(), "velorix-setup"))

failures = []


def check(name, got, expected):
    if got != expected:
        failures.append(f"{name}:\n  got      {got!r}\n  expected {expected!r}")


def make_product(path):
    """A product directory: the executable, a class description file with a
    hierarchy entry, and trivial autodif sources."""
    os.makedirs(path)
    write(os.path.join(path, "velorix"), "#!/bin/sh\n")
    write(os.path.join(path, "classes.vel"), "&classes\nZ z\n&hierarchy\nA b\n")
    write(os.path.join(path, "autodif.cc"), "int autodif_marker() { return 7; }\n")


write = harness.write_file
environment = harness.unattended_env
run = harness.run_tool

# What the list beneath a message says of each file the run needs.
EXECUTABLE = "the VELORIX executable"
CLASS_FILE = "the class description file"
SOURCE = ("the source of the symbolic-differentiation object; without it, symbolic "
          "differentiation is turned off")
OBJECT = ("the symbolic-differentiation object a Full installation compiles; without it, "
          "symbolic differentiation is turned off")


def missing(*files):
    """The lines beneath a message that list files missing: (path, what)."""
    return ("".join(f"  missing: {path} ({what})\n" for path, what in files)
            + "  man velorix-setup (PRODUCT DIRECTORY) tells what each file holds\n")


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def settings(path):
    values, section = {}, ""
    for line in read(path).splitlines():
        if line.startswith("["):
            section = line[1:line.index("]")]
        elif "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            values.setdefault(f"{section}.{key}", value)
    return values


def test_full_and_user(root):
    product = os.path.join(root, "product")
    work = os.path.join(root, "work")
    make_product(product)
    os.makedirs(work)

    result = run(["--unattended", "--full", "--shell-style", "ksh", "--printer", "  lpr -Pq %s "],
                 product)
    check("Full: status", result.returncode, 0)
    check("Full: messages", result.stderr, "")
    values = settings(os.path.join(product, ".velorixrc"))
    check("Full: KERNEL", values.get("Paths.KERNEL"), product + "/")
    check("Full: KERNELW", values.get("Paths.KERNELW"), "./")
    check("Full: CPPLIB", values.get("Compiler.CPPLIB"), " -O2 -fPIC -lc -lm")
    check("Full: HCPRINTER", values.get("Visual.HCPRINTER"), "lpr -Pq %s")
    check("Full: CLASSFILECUR", values.get("Files.CLASSFILECUR"), product + "/b.vel")
    check("Full: no [TMP]", "TMP.TMP" in values, False)
    check("Full: script line", read(os.path.join(product, "CompRhs")).splitlines()[0],
          "#! /bin/sh ")
    for name in ("init.vpf", "vel_sys.h", "autodif.o", "palette.vpf", "filenums.vpf"):
        check(f"Full: {name} made", os.path.exists(os.path.join(product, name)), True)

    result = run(["--unattended", "--kernel", product], work)
    check("User: status", result.returncode, 0)
    check("User: messages", result.stderr, "")
    values = settings(os.path.join(work, ".velorixrc"))
    check("User: TMP", values.get("TMP.TMP"), "$(Paths.KERNEL)autodif$(Extensions.OBJ)")
    check("User: AUTODIFOPT", values.get("Libraries.AUTODIFOPT"), "+")
    check("User: no script", os.path.exists(os.path.join(work, "CompRhs")), False)


def test_messages_and_status(root):
    product = os.path.join(root, "product")
    work = os.path.join(root, "work")
    make_product(product)
    os.makedirs(work)

    # Each message: the window's wording after the program's name, then a
    # line with the path it is about and the option that sets it.
    result = run(["--unattended"], work)
    check("no directory: status", result.returncode, 1)
    check("no directory: message", result.stderr,
          "velorix-setup: Specify full path to the VELORIX's home directory\n"
          "  option: --kernel\n")
    check("no directory: nothing written", os.listdir(work), [])
    check("no directory: summary", result.stdout.splitlines()[0],
          f"User installation in {work} (no product directory given): stopped.")

    result = run(["--unattended", "--kernel", work], work)
    check("no executable: status", result.returncode, 1)
    check("no executable: message", result.stderr,
          "velorix-setup: The path you've specified does not contain VELORIX executable\n"
          f"  path: {work}/velorix, option: --kernel\n"
          + missing((f"{work}/velorix", EXECUTABLE), (f"{work}/classes.vel", CLASS_FILE),
                    (f"{work}/autodif.o", OBJECT)))

    # --full outside the product directory: the message says why it
    # looked there.
    result = run(["--unattended", "--full"], work)
    check("--full outside: status", result.returncode, 1)
    check("--full outside: message", result.stderr,
          "velorix-setup: The path you've specified does not contain VELORIX executable\n"
          f"  path: {work}/velorix, option: --kernel\n"
          + missing((f"{work}/velorix", EXECUTABLE), (f"{work}/classes.vel", CLASS_FILE),
                    (f"{work}/autodif.cc", SOURCE))
          + "  --full takes the current directory as the VELORIX directory unless --kernel "
          "is given\n")
    result = run(["--unattended", "--full", "--kernel", work], work)
    check("--full --kernel: no note", "--full takes" in result.stderr, False)
    check("--full --kernel: nothing written", os.listdir(work), [])

    # Without a class description file nothing is written: the message
    # lists it with the product's object, which is missing too.
    os.rename(os.path.join(product, "classes.vel"), os.path.join(product, "keep.vel"))
    result = run(["--unattended", "--kernel", product], work)
    check("no class file: status", result.returncode, 1)
    check("no class file: messages", result.stderr,
          "velorix-setup: Cannot open class description file\n" + product + "/classes.vel\n"
          f"  path: {product}/classes.vel, option: --kernel\n"
          + missing((f"{product}/classes.vel", CLASS_FILE), (f"{product}/autodif.o", OBJECT)))
    check("no class file: nothing written", os.listdir(work), [])
    os.rename(os.path.join(product, "keep.vel"), os.path.join(product, "classes.vel"))

    # A message that does not stop and one that does: one block each.
    os.mkdir(os.path.join(work, "palette.vpf"))
    result = run(["--unattended", "--kernel", product], work)
    check("two messages: status", result.returncode, 1)
    check("two messages: the first, and the second after an empty line", result.stderr.startswith(
          "velorix-setup: Could not run C++ compiler during the full installation.\n"
          "Symbolical differentiation feature will be disabled.\n"
          f"  path: {product}/autodif.o, option: --kernel\n"
          + missing((f"{product}/autodif.o", OBJECT)) + "\nvelorix-setup: Cannot open file"), True)
    shutil.rmtree(work)
    os.makedirs(work)

    result = run(["--unattended", "--full", "--cpp-name", "false"], product)
    check("no compiler: status", result.returncode, 0)
    check("no compiler: message", result.stderr,
          "velorix-setup: Cannot compile autodif.cc.\nSymbolical differentiation feature will "
          "be disabled.\nPlease check the name of C++ compiler\nand ensure it is accessable "
          f"via the PATH variable\n  path: {product}/autodif.o, option: --cpp-name, --cpp-options\n")

    # A compile that fails because of an option names both compiler fields,
    # with the compiler's own first complaint beside the message.
    result = run(["--unattended", "--full", "--cpp-options", " -O2 --no-such-flag"], product)
    check("failed option: status", result.returncode, 0)
    check("failed option: both fields and the compiler's line",
          "option: --cpp-name, --cpp-options\n  c++: error: unrecognized command-line option"
          in result.stderr, True)

    # A field too long for the settings file names its option, a Tuning one
    # too, and is refused before anything runs; the settings code's own
    # messages are marked as well.
    result = run(["--unattended", "--kernel", product, "--printer", "p" * 300], work)
    check("long printer: status", result.returncode, 2)
    check("long printer: message", result.stderr,
          "velorix-setup: The text of the field 'Printer command' is too long for the settings "
          "file:\na settings line holds at most 255 characters.\nPlease shorten it.\n"
          "  option: --printer\n")
    result = run(["--unattended", "--full", "--cpp-name", "false", "--libs", "$(Nowhere.KEY)"],
                 product)
    blocks = result.stderr.split("\n\n")
    check("undefined reference: refused naming the field",
          any("The text of the field 'C compiler: Libraries' holds a reference" in block
              for block in blocks), True)
    check("undefined reference: every block marked",
          [block[:15] for block in blocks], ["velorix-setup: "] * len(blocks))

    # A shell style that the shell cannot run: a warning naming both, and
    # the installation goes on.
    result = run(["--unattended", "--full", "--shell-style", "csh"], product,
                 environment(SHELL="/bin/bash"))
    check("style mismatch: status", result.returncode, 0)
    check("style mismatch: message", result.stderr,
          "velorix-setup: The shell style is csh, but the shell path /bin/bash names a shell "
          "of the ksh family:\nthe compile script may fail when it runs.\n"
          "  path: /bin/bash, option: --shell-style\n")

    # A value the form refuses is told as the window tells it, with its
    # option, and nothing runs.
    result = run(["--unattended", "--kernel", "/a b"], work)
    check("refused kernel: status", result.returncode, 2)
    check("refused kernel: message", result.stderr.startswith(
        "velorix-setup: The text of the field 'VELORIX directory' must not contain blanks"), True)
    check("refused kernel: option", result.stderr.endswith("\n  option: --kernel\n"), True)

    # Without a display the X options cannot be judged (the toolkit that
    # knows them needs one); what is surely no X option is refused.
    for args in (["--unattended", "--bogus"], ["--unattended", "--kernel"],
                 ["--unattended", "--shell-style", "bash"],
                 ["--unattended", "--full", "--user"], ["--unattended", "--full=yes"],
                 ["--unattended", "--c"], ["--unattended", "-bg", "white"],
                 ["--dry-run", "--choose-directory"], ["stray"]):
        result = run(args, work)
        check(f"{args}: status", result.returncode, 2)
        lines = result.stderr.splitlines()
        check(f"{args}: one line", len(lines), 1)
        check(f"{args}: names the program", result.stderr.startswith("velorix-setup: "), True)

    # Form options without --unattended preset the window, which needs a
    # display.
    result = run(["--kernel", product], work)
    check("form options alone: the window", (result.returncode, "--unattended" in result.stderr),
          (3, True))

    result = run(["--help"], work)
    check("--help: status", result.returncode, 0)
    check("--help: lists --dry-run", "--dry-run" in result.stdout, True)
    for option in ("-display", "-geometry", "-bg", "-title", "-xrm"):
        check(f"--help: lists {option}", option + " " in result.stdout, True)
    check("--help: the window's exit statuses",
          "1 stopped by a message (the window: \"Cancel\" or the close box, the directory "
          "chooser's too)" in " ".join(result.stdout.split()), True)


def test_a_newcomers_empty_product_directory(root):
    """An empty directory, filled a file at a time as the messages ask:
    each message lists every file still missing, and nothing is written
    until the run can go through."""
    product = os.path.join(root, "product")
    os.makedirs(product)
    executable, classes, source = (os.path.join(product, name)
                                   for name in ("velorix", "classes.vel", "autodif.cc"))
    log = os.path.join(root, "setup.log")
    result = run(["--unattended", "--full", "--log", log], product)
    check("empty: status", result.returncode, 1)
    check("empty: the log lists them too",
          f"\n  (missing {executable})\n  (missing {classes})\n  (missing {source})\n"
          in read(log), True)
    check("empty: every file listed", result.stderr.split("\n", 2)[2],
          missing((executable, EXECUTABLE), (classes, CLASS_FILE), (source, SOURCE))
          + "  --full takes the current directory as the VELORIX directory unless --kernel "
          "is given\n")
    check("empty: nothing written", os.listdir(product), [])

    write(executable, "#!/bin/sh\n")
    result = run(["--unattended", "--full"], product)
    check("no class file: status", result.returncode, 1)
    check("no class file: the rest listed", result.stderr.split("\n", 3)[3],
          missing((classes, CLASS_FILE), (source, SOURCE))
          + "  --full takes the current directory as the VELORIX directory unless --kernel "
          "is given\n")
    check("no class file: nothing written", os.listdir(product), ["velorix"])

    # A missing source only turns symbolic differentiation off, and is
    # named beneath the compile message.
    write(classes, "&hierarchy\nLorenz lorenz\n")
    result = run(["--unattended", "--full"], product)
    check("no source: status", result.returncode, 0)
    check("no source: named beneath the compile message",
          f"via the PATH variable\n  path: {product}/autodif.o, option: --cpp-name, "
          "--cpp-options\n" in result.stderr
          and result.stderr.endswith(missing((source, SOURCE))), True)


def test_the_example_product_of_the_readme(root):
    """The README's way to try the tool: its one line, which copies the
    example product directory and makes a Full installation there, run as
    it stands (but for the copy's place) with velorix-setup on the PATH:
    a finished installation, with the example's object compiled and its
    class taken from classes.vel."""
    with open(os.path.join(harness.source_dir(), "README.md")) as f:
        lines = [line.strip() for line in f if line.strip().startswith("cp -r examples/product")]
    check("the README shows how to try the example", len(lines), 1)
    if not lines:
        return
    copy = os.path.join(root, "velorix")
    command = lines[0].replace("/tmp/velorix", copy)
    bindir = os.path.join(root, "bin")
    os.makedirs(bindir)
    os.symlink(TOOL, os.path.join(bindir, "velorix-setup"))
    env = environment(PATH=bindir + os.pathsep + os.environ["PATH"])
    result = subprocess.run(["bash", "-c", command], cwd=harness.source_dir(), env=env,
                            capture_output=True, text=True, timeout=120)
    check("the example: status and messages", (result.returncode, result.stderr), (0, ""))
    check("the example: a Full installation's summary",
          result.stdout.startswith(f"Full installation in {copy}"), True)
    check("the example: its object compiled",
          os.path.exists(os.path.join(copy, "autodif.o")), True)
    values = settings(os.path.join(copy, ".velorixrc"))
    check("the example: its class, and symbolic differentiation on",
          (values.get("Currents.CLASSCUR"), values.get("Libraries.AUTODIFOPT") != "-"),
          ("Lorenz", True))
    stand_in = subprocess.run([os.path.join(copy, "velorix")], capture_output=True, text=True,
                              timeout=30)
    check("the example: its velorix says it is a stand-in",
          (stand_in.returncode, "stand-in" in stand_in.stderr), (1, True))


def test_notice(root):
    product = os.path.join(root, "product")
    bindir = os.path.join(root, "bin")
    make_product(product)
    os.makedirs(bindir)
    record = os.path.join(root, "mail.args")
    write(os.path.join(bindir, "mail"), f'#!/bin/sh\necho "$@" >"{record}"\ncat >"{record}.body"\n')
    os.chmod(os.path.join(bindir, "mail"), 0o755)
    env = environment(PATH=bindir + ":" + os.environ.get("PATH", "/usr/bin:/bin"))

    result = run(["--unattended", "--full"], product, env)
    check("no consent: status", result.returncode, 0)
    check("no consent: no mail", os.path.exists(record), False)
    result = run(["--unattended", "--full", "--notify"], product, env)
    check("consent: status", result.returncode, 0)
    check("consent: mail sent", os.path.exists(record), True)
    if os.path.exists(record):
        check("consent: body", read(record + ".body").split("\n")[1], "VELORIX 1.5m installed on")


def dry_run_scratch():
    return {n for n in os.listdir(tempfile.gettempdir()) if n.startswith("velorix-dry-run-")}


def test_dry_run(root):
    product = os.path.join(root, "product")
    work = os.path.join(root, "work")
    make_product(product)
    os.makedirs(work)
    write(os.path.join(work, "visuals.vpf"), "old")

    before = harness.snapshot(root)
    scratch_before = dry_run_scratch()
    full = run(["--dry-run", "--full"], product)
    user = run(["--dry-run", "--kernel", product], work)
    check("dry run: nothing changed", harness.snapshot(root), before)
    check("dry run: no scratch left", dry_run_scratch() - scratch_before, set())
    check("dry Full: status", full.returncode, 0)
    # Every path absolute, as the log has them.
    for expected in (f"write {product}/.velorixrc (rw-r--r--) from the settings template",
                     f"store [Paths] KERNEL={product}/",
                     f"write {product}/CompRhs (rwxr-xr-x)",
                     f"compile {product}/autodif.o (missing): "
                     "c++ -c -o autodif.o autodif.cc  -O2 -fPIC -lc -lm",
                     "store [Currents] CLASSCUR=A"):
        check(f"dry Full lists {expected!r}", expected in full.stdout, True)
    check("dry User: status", user.returncode, 0)
    check("dry User: says the object is missing", "Could not run C++ compiler" in user.stderr,
          True)
    check("dry User: removes visuals", f"remove {work}/visuals.vpf" in user.stdout, True)
    check("dry User: disables autodif",
          "store [Libraries] AUTODIFOPT=-" in user.stdout, True)
    check("dry User: no script", "CompRhs" in user.stdout, False)
    # As any program on getopt_long: a unique beginning of an option, and
    # its value after "=".
    short = run(["--dry", "--kern=" + product], work)
    check("abbreviated options", (short.returncode, short.stdout), (0, user.stdout))


def installed_files(directory):
    """Every file the installation leaves: name to (bytes, mode)."""
    state = {}
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        if os.path.isfile(path):
            state[name] = (read(path, "rb"), stat.S_IMODE(os.stat(path).st_mode))
    return state


def reset(directory, keep):
    for name in os.listdir(directory):
        if name not in keep:
            os.remove(os.path.join(directory, name))
    write(os.path.join(directory, ".velorixrc"), "")


def test_same_as_the_window(root):
    """Full and User, with the form's initial values, through the window and
    unattended: the same files, byte for byte."""
    with harness.Session() as session:
        product = os.path.join(session.workdir, "product")
        user = os.path.join(session.workdir, "user")
        make_product(product)
        os.makedirs(user)
        write(os.path.join(product, "shells.vel"), "# the shell list\ntcsh c\n")
        sources = set(os.listdir(product)) | {".velorixrc"}
        env = {"SHELL": "/usr/bin/tcsh"}

        reset(product, sources)
        session.start_setup(env=env, cwd=product)
        window = session.setup_window()
        session.click(window.radio["Full"])
        session.wait_until(lambda: session.read_text(window.kernel) == product,
                           "the product directory field shows the working directory")
        session.click(window.setup)
        session.assert_clean_exit()
        by_window = installed_files(product)
        check("window Full: wrote the script", "CompRhs" in by_window, True)

        reset(product, sources)
        result = run(["--unattended", "--full"], product, environment(**env))
        check("same Full: status", result.returncode, 0)
        check("same Full: messages", result.stderr, "")
        by_option = installed_files(product)
        check("same Full: file names", sorted(by_option), sorted(by_window))
        for name in by_window:
            check(f"same Full: {name}", by_option.get(name), by_window[name])

        reset(user, set())
        session.start_setup(env=env, cwd=user)
        window = session.setup_window()
        session.type_into(window.kernel, product)
        session.wait_until(lambda: session.read_text(window.kernel) == product,
                           "the product directory is typed")
        session.click(window.setup)
        session.assert_clean_exit()
        by_window = installed_files(user)
        check("window User: wrote the palette", "palette.vpf" in by_window, True)

        reset(user, set())
        result = run(["--unattended", "--kernel", product], user, environment(**env))
        check("same User: status", result.returncode, 0)
        by_option = installed_files(user)
        check("same User: file names", sorted(by_option), sorted(by_window))
        for name in by_window:
            check(f"same User: {name}", by_option.get(name), by_window[name])


def main():
    if not os.access(TOOL, os.X_OK):
        print(f"{TOOL} is missing: build the velorix-setup target", file=sys.stderr)
        return 1
    for test in (test_full_and_user, test_messages_and_status,
                 test_a_newcomers_empty_product_directory, test_the_example_product_of_the_readme,
                 test_notice, test_dry_run, test_same_as_the_window):
        with harness.scratch_dir("vx_unattended_") as root:
            try:
                test(root)
            except Exception as error:  # report and go on with the next test
                failures.append(f"{test.__name__}: {error!r}")
    return harness.report(failures, "unattended: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
