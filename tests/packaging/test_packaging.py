#!/usr/bin/env python3
"""The tool and the support library as users get them: installed, packaged
and linked from outside the repository.

    python3 tests/packaging/test_packaging.py BUILD_DIR
    python3 tests/packaging/test_packaging.py --installed BUILD_DIR
    python3 tests/packaging/test_packaging.py --debian OUT_DIR

BUILD_DIR is a plain (not sanitizer) build tree that is already built.
All the checks below run by default; they fall into two halves that can
run apart, so that a CI run starts the Debian packages, which need no
build tree, before its builds: --installed runs all but the last, the
Debian packages' checks; --debian runs only those, building the packages
in OUT_DIR.  The checks:
  * the manual page renders without warnings and names every option of
    --help; the desktop entry and the AppStream file validate;
  * cmake --install into a DESTDIR, under a prefix other than the one the
    tree was configured for: the files are there, the .pc files name that
    prefix in plain paths, the installed tool runs (--version, a --dry-run
    that changes nothing);
  * the C example of docs/installing.md, written to a directory outside
    the tree, builds with pkg-config and with its CMakeLists.txt
    (find_package) against that install, and runs; a Vibrant program (tests/packaging/window_demo)
    builds both ways, with the toolkit's static archives too
    (pkg-config --static), and runs under a private X server;
  * find_package fails with a clear message when the toolkit is missing;
  * scripts/package.sh makes the Debian packages, source and binary, with
    dpkg-buildpackage: their contents and dependencies; lintian over the
    .changes without errors, warnings or hardening tags; the tool hardened
    (PIE, full RELRO, stack protector, fortified functions); debian/tests
    pass under autopkgtest's null runner (in a throwaway overlay of this
    machine: see autopkgtest_null.sh), among them docs/installing.md's program and
    a headless program on velorix-support-core; appstreamcli compose lists
    the tool with its icon, as a software centre would; the extracted tool
    runs.
Nothing is installed on the machine itself.
"""
import os
import re
import shlex
import subprocess
import sys
import textwrap
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "gui"))
import harness  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(HERE))
PREFIX = "/opt/velorix"  # not the configured one: the install must be relocatable
TIMEOUT = 300
PACKAGE_TIMEOUT = 1800
VERSION_LINE = re.compile(r"^velorix-setup 1\.5( \(git [0-9A-Za-z._+-]+\))?\n$")

failures = []


def check(name, got, expected):
    if got != expected:
        failures.append(f"{name}:\n  got      {got!r}\n  expected {expected!r}")


def run(argv, **kwargs):
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("text", True)
    kwargs.setdefault("timeout", TIMEOUT)
    return subprocess.run(argv, **kwargs)


def check_built(name, result):
    check(name, (result.returncode, result.stderr if result.returncode else ""), (0, ""))


def must(result, what):
    """Fails the whole run when a step that later checks need went wrong."""
    if result.returncode != 0:
        raise AssertionError(f"{what} failed (exit {result.returncode}):\n"
                             f"{result.stdout}\n{result.stderr}")
    return result


def without_display():
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["SHELL"] = "/bin/sh"
    return env


def help_options(tool):
    """Every option that --help names, and -h."""
    text = must(run([tool, "--help"], env=without_display()), "--help").stdout
    return sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*|-h)\b", text)))


def check_manual_and_desktop_files(build):
    page = os.path.join(SOURCE, "packaging", "velorix-setup.1")
    result = run(["groff", "-man", "-ww", "-z", page])
    check("manual page: groff -man -ww -z", (result.returncode, result.stderr), (0, ""))
    with open(page) as f:
        text = f.read().replace("\\-", "-")
    for option in help_options(os.path.join(build, "velorix-setup")):
        check(f"manual page names {option}", re.search(rf"(?<![\w-]){option}\b", text) is not None,
              True)
    sections = re.findall(r"^\.SH (.*)$", text, re.M)
    for section in ("SYNOPSIS", "OPTIONS", "FILES", "EXIT STATUS", "ENVIRONMENT", "EXAMPLES"):
        check(f"manual page has {section}", section in sections, True)
    for variable in ("SHELL", "DISPLAY"):
        check(f"manual page: ENVIRONMENT names {variable}",
              re.search(rf"^\.SH ENVIRONMENT\n(.|\n)*^\.B {variable}$", text, re.M) is not None,
              True)
    entry = os.path.join(SOURCE, "packaging", "velorix-setup.desktop")
    result = run(["desktop-file-validate", entry])
    check("desktop-file-validate", (result.returncode, result.stdout + result.stderr), (0, ""))
    metainfo = os.path.join(SOURCE, "packaging", METAINFO)
    result = run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo])
    check("appstreamcli validate --no-net", result.returncode, 0)
    if result.returncode != 0:
        print(result.stdout + result.stderr)


METAINFO = "org.velorix.setup.metainfo.xml"
SETUP_INSTALLED = [
    "bin/velorix-setup",
    "share/applications/velorix-setup.desktop",
    "share/bash-completion/completions/velorix-setup",
    "share/doc/velorix-setup/examples/answers.ini",
    "share/doc/velorix-setup/examples/ansible/README.md",
    "share/doc/velorix-setup/examples/ansible/library/velorix_setup.py",
    "share/doc/velorix-setup/examples/ansible/roles/velorix/defaults/main.yml",
    "share/doc/velorix-setup/examples/ansible/roles/velorix/tasks/main.yml",
    "share/doc/velorix-setup/examples/ansible/roles/velorix/tasks/site_defaults.yml",
    "share/doc/velorix-setup/examples/ansible/velorix.yml",
    "share/doc/velorix-setup/examples/product/autodif.cc",
    "share/doc/velorix-setup/examples/product/classes.vel",
    "share/doc/velorix-setup/examples/product/lorenz.vel",
    "share/doc/velorix-setup/examples/product/velorix",
    "share/doc/velorix-setup/setup-window-full.png",
    "share/doc/velorix-setup/setup-window-user.png",
    "share/doc/velorix-setup/text-session.png",
    "share/icons/hicolor/scalable/apps/velorix-setup.svg",
    "share/man/man1/velorix-setup.1.gz",
    "share/metainfo/" + METAINFO,
]
INSTALLED = SETUP_INSTALLED + ["include/velorix/utility.h"]
PC_FILES = ["velorix-support", "velorix-support-core"]
# The window, which the program loads only to open it, in its own directory
# below the library directory.
WINDOW_MODULE = "velorix-setup/velorix-setup-window.so"
LIBRARY_FILES = [
    "libvelorix-support.a",
    "libvelorix-support-core.a",
    "cmake/VelorixSupport/VelorixSupportConfig.cmake",
    "cmake/VelorixSupport/VelorixSupportConfigVersion.cmake",
] + [f"pkgconfig/{name}.pc" for name in PC_FILES]


def library_dir(root):
    """The installed library directory below root (lib or lib/<multiarch>)."""
    found = [top for top, _, files in os.walk(root) if "libvelorix-support.a" in files]
    if len(found) != 1:
        raise AssertionError(f"libvelorix-support.a installed {len(found)} times below {root}")
    return found[0]


def install(build, dest):
    env = dict(os.environ, DESTDIR=dest)
    must(run(["cmake", "--install", build, "--prefix", PREFIX], env=env), "cmake --install")
    root = dest + PREFIX
    libdir = library_dir(root)
    in_libdir = LIBRARY_FILES + [WINDOW_MODULE]
    for name in INSTALLED + [os.path.relpath(os.path.join(libdir, f), root) for f in in_libdir]:
        check(f"installed {name}", os.path.isfile(os.path.join(root, name)), True)
    # Plain paths below the prefix given to cmake --install, not the
    # configured one and not relative to the .pc file's own place.
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
    for name in PC_FILES:
        result = run(["pkg-config", "--cflags", name], env=env)
        check(f"{name}.pc: Cflags", (result.returncode, result.stdout.split()[:1]),
              (0, [f"-I{PREFIX}/include/velorix"]))
    return root, libdir


def check_installed_tool(root, build, scratch):
    tool = os.path.join(root, "bin", "velorix-setup")
    version = run([tool, "--version"], env=without_display())
    check("installed --version: status", version.returncode, 0)
    check("installed --version: one line 'velorix-setup 1.5 (git ...)'",
          VERSION_LINE.match(version.stdout) is not None, True)
    built = run([os.path.join(build, "velorix-setup"), "--version"], env=without_display())
    check("installed --version is the build's", version.stdout, built.stdout)
    check_window_found(tool, "installed")

    product = os.path.join(scratch, "product")
    os.makedirs(product)
    with open(os.path.join(product, "velorix"), "w") as f:
        f.write("#!/bin/sh\n")
    with open(os.path.join(product, "classes.vel"), "w") as f:
        f.write("&hierarchy\nA b\n")
    before = harness.snapshot(product)
    result = run([tool, "--dry-run", "--full"], cwd=product, env=without_display())
    check("installed --dry-run: status", result.returncode, 0)
    lines = result.stdout.splitlines()
    check("installed --dry-run: the plan writes the settings file",
          any(line.startswith(f"write {product}/.velorixrc") for line in lines), True)
    check("installed --dry-run: the plan ends", lines[-1:], ["end"])
    check("installed --dry-run: nothing changed", harness.snapshot(product), before)


def check_window_found(tool, which):
    """The program finds its window's module where it was installed: without
    a display it gets as far as asking for one."""
    result = run([tool], env=dict(without_display(), DISPLAY=":987"))
    check(f"{which} velorix-setup loads its window",
          (result.returncode, "no X display available" in result.stderr,
           "cannot be loaded" in result.stderr), (3, True, False))


def readme_blocks():
    """The C program and the CMakeLists.txt of the section on the support
    library in docs/installing.md: its indented blocks that begin with
    #include and with cmake_minimum_required."""
    with open(os.path.join(SOURCE, "docs", "installing.md")) as f:
        text = f.read()
    section = text.split("## Using the support library from C", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"(?:^    .*\n)+", section, re.M)
    code = [textwrap.dedent(b) for b in blocks]
    program = [b for b in code if b.startswith("#include")]
    cmake = [b for b in code if b.startswith("cmake_minimum_required")]
    if len(program) != 1 or len(cmake) != 1:
        raise AssertionError("docs/installing.md's support-library section lost its C program or "
                             "its CMakeLists.txt")
    return program[0], cmake[0]


def pkg_config(root, libdir, *args):
    """pkg-config's flags for the support library installed under DESTDIR:
    the .pc file names PREFIX, which lies below the DESTDIR at root."""
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
    result = must(run(["pkg-config", f"--define-variable=prefix={root}", *args,
                       "velorix-support"], env=env), "pkg-config")
    return shlex.split(result.stdout)


def compile_c(source, output, flags, cwd):
    # -Werror for our code; the toolkit's own link warning is not ours.
    return run(["cc", "-std=c11", "-Wall", "-Wextra", "-Werror", source, "-o", output] + flags,
               cwd=cwd)


def settings_dir(path, text):
    """A directory with ./.velorixrc, found before any other settings file."""
    os.makedirs(path)
    with open(os.path.join(path, ".velorixrc"), "w") as f:
        f.write(text)
    return path


def check_readme_program(root, libdir, scratch):
    program, cmakelists = readme_blocks()
    project = os.path.join(scratch, "readme")
    os.makedirs(project)
    with open(os.path.join(project, "demo.c"), "w") as f:
        f.write(program)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write(cmakelists)

    flags = pkg_config(root, libdir, "--cflags", "--libs")
    # utility.h includes ncbi.h only, which reads the same with and without
    # WIN_MOTIF: that is why the .pc file's Cflags leave it out.
    cflags = pkg_config(root, libdir, "--cflags")
    plain = run(["cc", "-E", "-P", "-x", "c", "-"] + cflags, input='#include "utility.h"\n')
    motif = run(["cc", "-E", "-P", "-DWIN_MOTIF", "-x", "c", "-"] + cflags,
                input='#include "utility.h"\n')
    check("utility.h reads the same without -DWIN_MOTIF", (plain.returncode, plain.stdout),
          (0, motif.stdout))

    check_built("docs/installing.md's program with pkg-config: builds",
                compile_c("demo.c", "demo-pkg-config", flags, project))
    must(run(["cmake", "-S", project, "-B", os.path.join(project, "build"),
              f"-DCMAKE_PREFIX_PATH={root}"]), "docs/installing.md's CMakeLists.txt: configure")
    must(run(["cmake", "--build", os.path.join(project, "build")]),
         "docs/installing.md's CMakeLists.txt: build")

    work = settings_dir(os.path.join(scratch, "readme-run"), "[Paths]\nKERNEL=/opt/velorix/\n")
    for name, binary in (("pkg-config", os.path.join(project, "demo-pkg-config")),
                         ("find_package", os.path.join(project, "build", "demo"))):
        result = run([binary], cwd=work, env=without_display())
        check(f"docs/installing.md's program with {name}: runs",
              (result.returncode, result.stdout, result.stderr),
              (0, "[velorix] /opt/velorix/\n", ""))


def static_toolkit_dir(scratch):
    """A directory holding only the toolkit's static archives, so that the
    linker takes them instead of the shared libraries."""
    path = os.path.join(scratch, "static-toolkit")
    os.makedirs(path)
    for name in ("vibrant", "ncbi", "ncbiobj"):
        archive = must(run(["cc", f"-print-file-name=lib{name}.a"]), "cc -print-file-name")
        archive = archive.stdout.strip()
        if not os.path.isabs(archive):
            raise AssertionError(f"lib{name}.a is not installed")
        os.symlink(archive, os.path.join(path, f"lib{name}.a"))
    return path


def check_window_program(root, libdir, scratch):
    source = os.path.join(HERE, "window_demo", "window_demo.c")
    out = os.path.join(scratch, "window")
    os.makedirs(out)
    programs = {}
    result = compile_c(source, os.path.join(out, "shared"),
                       pkg_config(root, libdir, "--cflags", "--libs"), out)
    check_built("window program with pkg-config: builds", result)
    if result.returncode == 0:
        programs["pkg-config"] = os.path.join(out, "shared")
    static = static_toolkit_dir(scratch)
    flags = pkg_config(root, libdir, "--cflags", "--libs", "--static")
    result = compile_c(source, os.path.join(out, "static"), ["-L" + static] + flags, out)
    check_built("window program with pkg-config --static: builds", result)
    if result.returncode == 0:
        programs["pkg-config --static"] = os.path.join(out, "static")
        needed = run(["ldd", programs["pkg-config --static"]]).stdout
        check("pkg-config --static: the toolkit linked from its archives",
              re.findall(r"lib(?:vibrant|ncbi)\w*\.so", needed), [])
    cmake_build = os.path.join(out, "cmake")
    must(run(["cmake", "-S", os.path.join(HERE, "window_demo"), "-B", cmake_build,
              f"-DCMAKE_PREFIX_PATH={root}"]), "window program: configure")
    must(run(["cmake", "--build", cmake_build]), "window program: build with find_package")
    programs["find_package"] = os.path.join(cmake_build, "window_demo")

    for name in ("pkg-config", "find_package"):
        if name not in programs:
            continue
        # The program calls Xt itself; Motif must still load before Xt, or
        # its widgets fail to realize (what --no-as-needed is for).
        loaded = [line.split()[0] for line in run(["ldd", programs[name]]).stdout.splitlines()]
        order = [i for i, lib in enumerate(loaded) if re.match(r"lib(Xm|Xt)\.so", lib)]
        check(f"window program with {name}: Motif loads before Xt",
              [loaded[i].split(".")[0] for i in order], ["libXm", "libXt"])

    with harness.XServer() as server:
        for name, binary in programs.items():
            work = settings_dir(os.path.join(scratch, "window-run-" + name.replace(" ", "")),
                                "[Demo]\nNAME=demo $(Demo.PART)\nPART=  window  \n")
            result = run([binary], cwd=work, env=dict(server.env(), SHELL="/bin/sh"))
            lines = result.stdout.splitlines()
            check(f"window program with {name}: status", result.returncode, 0)
            check(f"window program with {name}: settings and strings", lines[:2],
                  ["name: demo window", "trimmed: [padded text]"])
            width = re.fullmatch(r"width: (\d+)", lines[2]) if len(lines) == 3 else None
            check(f"window program with {name}: measures text on the display",
                  width is not None and int(width.group(1)) > 0, True)


def check_missing_toolkit(root, scratch):
    # The toolkit's headers and libraries hidden from the search, the
    # package itself still found: the message must say what is missing.
    result = run(["cmake", "-S", os.path.join(HERE, "window_demo"),
                  "-B", os.path.join(scratch, "no-toolkit"), f"-DCMAKE_PREFIX_PATH={root}",
                  "-DCMAKE_FIND_ROOT_PATH=/nonexistent",
                  "-DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY",
                  "-DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY"])
    check("find_package without the toolkit: fails", result.returncode != 0, True)
    check("find_package without the toolkit: says so",
          "the NCBI C Toolkit is not installed: ncbi.h, libvibrant" in
          " ".join(result.stderr.split()), True)


SETUP_FILES = ["./usr/" + name for name in SETUP_INSTALLED] + [
    "./usr/share/doc/velorix-setup/changelog.gz",
    "./usr/share/doc/velorix-setup/copyright",
]
DEV_FILES = [
    "./usr/include/velorix/utility.h",
    "./usr/share/doc/velorix-support-dev/changelog.gz",
    "./usr/share/doc/velorix-support-dev/copyright",
]


def multiarch():
    return must(run(["cc", "-print-multiarch"]), "cc -print-multiarch").stdout.strip()


def multiarch_lib_files():
    """The library's files in the package: in /usr/lib/<multiarch>, where
    pkg-config also looks when cross-compiling."""
    return [f"./usr/lib/{multiarch()}/{name}" for name in LIBRARY_FILES]


def package_files(deb):
    listing = must(run(["dpkg-deb", "--contents", deb]), "dpkg-deb --contents").stdout
    return sorted(line.split()[5] for line in listing.splitlines() if not line.startswith("d"))


def check_lintian(changes):
    """No error, no warning, and no hardening tag at any level."""
    result = run(["lintian", "--info", "--pedantic", "--display-experimental",
                  "--tag-display-limit", "0", changes])
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EWIPX]: ", line)]
    check("lintian: status", result.returncode, 0)
    check("lintian: errors and warnings", [t for t in tags if t[0] in "EW"], [])
    check("lintian: hardening tags", [t for t in tags if " hardening-" in t], [])


def check_hardening(binary, executable=True):
    """PIE (for a program), full RELRO (read-only relocations, bound at
    start), the stack protector and fortified functions, as
    dpkg-buildflags' hardening=+all asks."""
    header = must(run(["readelf", "-W", "--file-header", "--program-headers", "--dynamic",
                       binary]), "readelf").stdout
    symbols = must(run(["readelf", "-W", "--dyn-syms", binary]), "readelf --dyn-syms").stdout
    flags = re.search(r"\(FLAGS_1\)\s+Flags:(.*)", header)
    flags = flags.group(1).split() if flags else []
    name = os.path.basename(binary)
    if executable:
        check(f"hardening of {name}: PIE", "PIE" in flags, True)
    check(f"hardening of {name}: RELRO", "GNU_RELRO" in header, True)
    check(f"hardening of {name}: BIND_NOW", "NOW" in flags, True)
    check(f"hardening of {name}: stack protector", "__stack_chk_fail" in symbols, True)
    check(f"hardening of {name}: fortified functions",
          re.search(r"__\w+_chk@", symbols) is not None, True)


def check_autopkgtest(out, setup, dev, scratch):
    """debian/tests with autopkgtest's null runner, in a throwaway overlay
    of this machine; every test of debian/tests/control passes."""
    source = os.path.join(out, "source", "velorix-setup-1.5")
    with open(os.path.join(SOURCE, "debian", "tests", "control")) as f:
        names = [n for line in f for n in re.findall(r"^Tests:\s*(.*)$", line)]
    names = [n for line in names for n in re.split(r"[\s,]+", line) if n]
    output = os.path.join(scratch, "autopkgtest")
    result = run([os.path.join(HERE, "autopkgtest_null.sh"), output, setup, dev, source + "/"])
    summary = {}
    if os.path.exists(os.path.join(output, "summary")):
        with open(os.path.join(output, "summary")) as f:
            summary = dict(line.split(None, 1) for line in f if line.strip())
    check("autopkgtest: every test passed",
          {name: outcome.split()[0] for name, outcome in summary.items()},
          {name: "PASS" for name in names})
    check("autopkgtest: status", result.returncode, 0)
    if result.returncode != 0:
        print(result.stdout[-6000:], result.stderr[-3000:])


def check_software_centre(unpacked, scratch):
    """appstreamcli compose, which makes a software centre's catalog from a
    package's files, lists the tool with its icon."""
    output = os.path.join(scratch, "catalog")
    result = run(["appstreamcli", "compose", "--origin=velorix", "--result-root=" + output,
                  unpacked])
    check("appstreamcli compose: status", (result.returncode, result.stderr), (0, ""))
    catalog = os.path.join(output, "usr/share/swcatalog/xml/velorix.xml.gz")
    if not os.path.exists(catalog):
        failures.append(f"appstreamcli compose made no catalog:\n{result.stdout}")
        return
    text = must(run(["gzip", "-dc", catalog]), "gzip -dc").stdout
    components = {c.findtext("id"): c for c in ElementTree.fromstring(text).iter("component")}
    check("software centre: the tool is listed", sorted(components), ["org.velorix.setup"])
    icons = [icon.text for c in components.values() for icon in c.iter("icon")
             if icon.get("type") == "cached"]
    check("software centre: with its icon", bool(icons), True)
    for name in icons:
        found = [top for top, _, files in os.walk(output) if name in files]
        check(f"software centre: icon {name} made", bool(found), True)


def check_packages(out, scratch):
    # A whole build of the project, run at low priority beside the other
    # builds: its time is theirs to set, so the limit only catches a hang.
    result = must(run(["bash", os.path.join(SOURCE, "scripts", "package.sh"), out],
                      timeout=PACKAGE_TIMEOUT),
                  "scripts/package.sh")
    paths = result.stdout.splitlines()
    setup, dev = paths[-1], paths[-2]
    check("package.sh: packages in the directory given",
          [os.path.dirname(setup), os.path.dirname(dev)], [os.path.join(out, "packages")] * 2)
    check("package.sh: velorix-setup on the last line",
          re.fullmatch(r".*/velorix-setup_1\.5_\w+\.deb", setup) is not None, True)
    check("package.sh: velorix-support-dev before it",
          re.fullmatch(r".*/velorix-support-dev_1\.5_\w+\.deb", dev) is not None, True)
    check("velorix-setup: files", package_files(setup),
          sorted(SETUP_FILES + [f"./usr/lib/{multiarch()}/{WINDOW_MODULE}"]))
    check("velorix-support-dev: files", package_files(dev),
          sorted(DEV_FILES + multiarch_lib_files()))

    fields = {}
    for deb in (setup, dev):
        info = must(run(["dpkg-deb", "--field", deb, "Package", "Depends"]), "dpkg-deb --field")
        field = dict(line.split(": ", 1) for line in info.stdout.splitlines())
        fields[field["Package"]] = field.get("Depends", "")
    check("package names", sorted(fields), ["velorix-setup", "velorix-support-dev"])
    depends = fields.get("velorix-setup", "")
    # dpkg-shlibdeps finds the toolkit's run-time libraries; no X server.
    for library in ("libvibrant6b", "libncbi6", "libxm4", "libxt6", "libx11-6", "libc6"):
        check(f"velorix-setup depends on {library}", re.search(rf"\b{library}\b", depends) is not None,
              True)
    check("velorix-setup does not depend on an X server",
          re.findall(r"xserver[\w-]*|xvfb|xorg", depends), [])

    changes = [f for f in os.listdir(os.path.dirname(setup)) if f.endswith(".changes")]
    check("package.sh: one .changes", len(changes), 1)
    if changes:
        check_lintian(os.path.join(os.path.dirname(setup), changes[0]))

    unpacked = os.path.join(scratch, "unpacked")
    must(run(["dpkg-deb", "-x", setup, unpacked]), "dpkg-deb -x")
    tool = os.path.join(unpacked, "usr", "bin", "velorix-setup")
    check_hardening(tool)
    check_hardening(os.path.join(unpacked, "usr", "lib", multiarch(), WINDOW_MODULE),
                    executable=False)
    result = run([tool, "--version"], env=without_display())
    check("packaged velorix-setup --version", VERSION_LINE.match(result.stdout) is not None, True)
    check_window_found(tool, "packaged")
    result = run(["desktop-file-validate",
                  os.path.join(unpacked, "usr/share/applications/velorix-setup.desktop")])
    check("packaged desktop entry validates", (result.returncode, result.stdout), (0, ""))
    page = must(run(["gzip", "-dc", os.path.join(unpacked, "usr/share/man/man1/velorix-setup.1.gz")]),
                "gzip -dc")
    result = run(["groff", "-man", "-ww", "-z"], input=page.stdout)
    check("packaged manual page renders without warnings", (result.returncode, result.stderr),
          (0, ""))
    check_software_centre(unpacked, scratch)
    check_autopkgtest(out, setup, dev, scratch)


def check_installed(build, scratch):
    check_manual_and_desktop_files(build)
    root, libdir = install(build, os.path.join(scratch, "dest"))
    check_installed_tool(root, build, scratch)
    check_readme_program(root, libdir, scratch)
    check_window_program(root, libdir, scratch)
    check_missing_toolkit(root, scratch)


def main():
    args = sys.argv[1:]
    half = args.pop(0) if args and args[0] in ("--installed", "--debian") else None
    if len(args) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    path = os.path.abspath(args[0])
    if half != "--debian" and not os.access(os.path.join(path, "velorix-setup"), os.X_OK):
        print(f"{path}/velorix-setup is missing: build the tree first", file=sys.stderr)
        return 1
    with harness.scratch_dir("vx_packaging_") as scratch:
        try:
            if half != "--debian":
                check_installed(path, scratch)
            if half != "--installed":
                check_packages(path if half else os.path.join(path, "package"), scratch)
        except Exception as error:  # a step that later ones need failed
            failures.append(f"{error!r}")
    return harness.report(failures, "packaging: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
