/*
 * main.cc - entry point of velorix-setup.
 *
 * Vibrant supplies the program's real main: it opens the X display, sets
 * the toolkit up and calls Nlm_Main, which builds the Setup window
 * (window.cc).  Our own main runs first: with options it runs the command
 * line (unattended.cc) and never starts Vibrant, so that no display is
 * needed; without options it says, in one clear line, that no display is
 * available, instead of the toolkit's terse message.
 */
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <ncbi.h>

#include "unattended.h"
#include "run_window.h"

namespace {

using MainFunction = int (*)(int, char **);

bool DisplayAvailable() {
  const char *name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display *display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace

extern "C" Nlm_Int2 Nlm_Main(void) { return static_cast<Nlm_Int2>(RunSetupWindow()); }

int main(int argc, char **argv) {
  if (argc > 1) return RunCommandLine(argc, argv);
  if (!DisplayAvailable()) {
    const char *name = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "velorix-setup: no X display available (DISPLAY %s%s%s); "
                 "run it inside an X session, or install without a window with --unattended\n",
                 name && *name ? "is '" : "is not set", name && *name ? name : "",
                 name && *name ? "' and cannot be opened" : "");
    return 1;
  }
  // The next definition of main after ours is Vibrant's (it is linked
  // before the core library, which has one too).
  auto vibrantMain = reinterpret_cast<MainFunction>(dlsym(RTLD_NEXT, "main"));
  if (vibrantMain == nullptr) {
    std::fprintf(stderr, "velorix-setup: the GUI toolkit's start-up was not found\n");
    return 1;
  }
  return vibrantMain(argc, argv);
}
