/*
 * main.cc - entry point of velorix-setup.
 *
 * Vibrant supplies the program's real main: it opens the X display, sets
 * the toolkit up (Xt takes the standard X options out of the arguments it
 * is given) and calls Nlm_Main, which builds the Setup window
 * (window.cc).  Our own main runs first: it reads the command line
 * (unattended.cc), which either runs without a display (--unattended,
 * --dry-run, --check, --help, --version) and never starts Vibrant, or
 * says how the window is to start: the arguments for the toolkit
 * (x_options.cc), the form's preset, the answer file and log of "Setup".
 * --text asks the form's questions in the terminal instead
 * (text_frontend.cc).  Without a display it offers those questions when it
 * runs on a terminal, and otherwise says so in one clear line, instead of
 * the toolkit's terse message.
 */
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <ncbi.h>

#include "run_window.h"
#include "text_frontend.h"
#include "unattended.h"
#include "x_options.h"

namespace {

using MainFunction = int (*)(int, char **);

// name is -display's value, or empty for $DISPLAY.
bool displayAvailable(const std::string &given) {
  const char *name = given.empty() ? std::getenv("DISPLAY") : given.c_str();
  if (name == nullptr || *name == '\0') return false;
  Display *display = XOpenDisplay(name);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace

extern "C" Nlm_Int2 Nlm_Main(void) {
  // What the toolkit's option parsing has left is no X option.
  if (Nlm_GetArgc() > 1)
    return static_cast<Nlm_Int2>(RefuseWindowOptions(LeftByToolkit(Nlm_GetArgv()[1])));
  const SetupWindowResources own = TakeSetupWindowResources();
  if (own.geometry) {
    const std::string problem = GeometryProblem(*own.geometry);
    if (!problem.empty()) return static_cast<Nlm_Int2>(RefuseWindowOptions(problem));
  }
  return static_cast<Nlm_Int2>(RunSetupWindow(own));
}

int main(int argc, char **argv) {
  CommandLineRun run = RunCommandLine(argc, argv);
  if (!run.openWindow) return run.status;
  XOptions &x = run.x;
  const ToolkitStart start = ReadToolkitStart(x);
  const std::string &given = start.display;
  if (!displayAvailable(given)) {
    // A script or a CI job has no terminal to answer in: it gets the
    // status it always got.
    if (OnTerminal()) {
      switch (OfferTextSetup()) {
        case TextOffer::kAccepted:
          return RunTextSetup(run.window);
        case TextOffer::kCancelled:
          return kWindowCancelled;
        case TextOffer::kDeclined:
          break;
      }
    }
    const char *name = !given.empty() ? given.c_str() : std::getenv("DISPLAY");
    const char *source = !given.empty() ? "-display" : "DISPLAY";
    std::fprintf(stderr,
                 "velorix-setup: no X display available (%s %s%s%s); "
                 "run it inside an X session, answer in a terminal with --text, "
                 "or install without a window with --unattended\n",
                 source, name && *name ? "is '" : "is not set", name && *name ? name : "",
                 name && *name ? "' and cannot be opened" : "");
    return kWindowNotOpened;
  }
  // The next definition of main after ours is Vibrant's (it is linked
  // before the core library, which has one too).
  auto vibrantMain = reinterpret_cast<MainFunction>(dlsym(RTLD_NEXT, "main"));
  if (vibrantMain == nullptr) {
    std::fprintf(stderr, "velorix-setup: the GUI toolkit's start-up was not found\n");
    return kWindowNotOpened;
  }
  PrepareSetupWindow(std::move(run.window));
  std::string name = start.name;
  if (!name.empty()) x.toolkitArgv[0] = name.data();
  std::vector<char *> toolkitArgv = x.toolkitArgv;
  return vibrantMain(x.toolkitArgc(), toolkitArgv.data());
}
