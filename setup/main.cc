/*
 * main.cc - entry point of velorix-setup.
 *
 * Our main reads the command line (command_line/), which either runs
 * without a display (--unattended, --dry-run, --check, --help, --version),
 * asks the form's questions in the terminal (--text, terminal/), or says
 * how the window is to start: the arguments for the toolkit, the form's
 * preset, the answer file and log of "Setup".  Only the window loads the
 * GUI toolkit, from a module of its own (window_module.h): Vibrant's main
 * then opens the X display, sets the toolkit up (Xt takes the standard X
 * options out of the arguments it is given) and calls Nlm_Main, which
 * builds the Setup window.  Without a display the program offers the
 * terminal's questions when it runs on a terminal, and otherwise says so
 * in one clear line, instead of the toolkit's terse message.
 */
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ncbi.h>

#include "command_line.h"
#include "exit_status.h"
#include "questions.h"
#include "report.h"
#include "text_setup.h"
#include "window_module.h"

namespace {

const SetupWindowModule *window = nullptr;

// Says in one line that the display (given by -display, or $DISPLAY when
// given is empty) cannot be opened, and what to do instead; the status of
// a window that cannot open.
int noDisplay(const std::string &given) {
  const char *name = !given.empty() ? given.c_str() : std::getenv("DISPLAY");
  const char *source = !given.empty() ? "-display" : "DISPLAY";
  std::fprintf(stderr,
               "velorix-setup: no X display available (%s %s%s%s); "
               "run it inside an X session, answer in a terminal with --text, "
               "or install without a window with --unattended\n",
               source, name && *name ? "is '" : "is not set", name && *name ? name : "",
               name && *name ? "' and cannot be opened" : "");
  return kExitNoWindow;
}

}  // namespace

// The toolkit's start-up calls this by name, from the module.
extern "C" Nlm_Int2 Nlm_Main(void) {
  return static_cast<Nlm_Int2>(window != nullptr ? window->toolkitMain() : kExitNoWindow);
}

int main(int argc, char **argv) {
  CommandLineRun run = RunCommandLine(argc, argv);
  if (!run.openWindow) return run.status;
  // Said on standard error when it fails; the terminal's questions are
  // still offered then.
  window = LoadWindowModule();
  std::string given;
  if (window == nullptr || !window->displayAvailable(run.x, &given)) {
    // A script or a CI job has no terminal to answer in: it gets the
    // status it always got.
    if (OnTerminal()) {
      switch (OfferTextSetup()) {
        case TextOffer::kAccepted:
          return RunTextSetup(run.window);
        case TextOffer::kCancelled:
          return NothingWritten();
        case TextOffer::kDeclined:
          break;
      }
    }
    if (window == nullptr) return kExitNoWindow;
    return noDisplay(given);
  }
  return window->run(run.x, std::move(run.window), BadOptions, noDisplay);
}
