/*
 * module_entry.cc - what the Setup window's module offers the program:
 * the display check, the toolkit's start-up, and the window it then runs.
 *
 * The display check's connection stays open until the toolkit has opened
 * its own.  An X server that resets when its last client leaves (Xvfb's
 * default, many X terminals) refuses a client that comes while it resets,
 * and the toolkit's would come just then: the start failed half the time.
 *
 * Should the toolkit's start-up still fail to open the display, it says
 * so in a line of its own and ends the process itself.  What it writes to
 * standard error while it starts is therefore held back until it has
 * started (and then passed on); when it ends the process before, the
 * program's own one line takes its place, with the status of a window that
 * cannot open.
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <vibrant.h>

#include "exit_status.h"
#include "run_window.h"
#include "window_module.h"
#include "x_options.h"

// The toolkit's connection, once its start-up has opened it: declared in
// its internal header ncbiport.h, which does not compile beside the public
// ones in C++ (as for events.cc), so the one declaration is repeated here.
extern "C" Display *Nlm_currentXDisplay;

namespace {

// How the program refuses an argument the toolkit's start-up leaves, and
// says that the display cannot be opened.
int (*refuseArgument)(const std::string &why) = nullptr;
int (*tellNoDisplay)(const std::string &display) = nullptr;

// The display check's connection, and the display it was given by name.
Display *checking = nullptr;
std::string checkedName;

void closeChecking() {
  if (checking != nullptr) XCloseDisplay(checking);
  checking = nullptr;
}

bool displayAvailable(const XOptions &options, std::string *display) {
  *display = ReadToolkitStart(options).display;
  checkedName = *display;
  closeChecking();
  const char *name = !display->empty() ? display->c_str() : std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  checking = XOpenDisplay(name);
  return checking != nullptr;
}

// Standard error while the toolkit starts: held in a file of its own,
// the real one kept aside.
struct HeldErrors {
  bool starting = false;
  int saved = -1;
  int held = -1;
};
HeldErrors startUp;

void holdErrors() {
  startUp.starting = true;
  startUp.held = memfd_create("velorix-setup start-up", MFD_CLOEXEC);
  if (startUp.held < 0) return;  // said as it comes, then
  std::fflush(stderr);
  startUp.saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (startUp.saved < 0 || dup2(startUp.held, STDERR_FILENO) < 0) {
    if (startUp.saved >= 0) close(startUp.saved);
    close(startUp.held);
    startUp.saved = startUp.held = -1;
  }
}

// Puts the real standard error back, after what was held when pass is
// set.
void releaseErrors(bool pass) {
  startUp.starting = false;
  if (startUp.saved < 0) return;
  std::fflush(stderr);
  dup2(startUp.saved, STDERR_FILENO);
  close(startUp.saved);
  if (pass) {
    char buffer[4096];
    off_t at = 0;
    for (ssize_t got; (got = pread(startUp.held, buffer, sizeof buffer, at)) > 0; at += got)
      (void)!write(STDERR_FILENO, buffer, static_cast<std::size_t>(got));
  }
  close(startUp.held);
  startUp.saved = startUp.held = -1;
}

// At the exit of a start-up that never reached the window: without a
// display, the program's one line and status replace the toolkit's;
// anything else is passed on as the toolkit said it.
void endOfStartUp() {
  if (!startUp.starting) return;
  if (Nlm_currentXDisplay != nullptr) {
    releaseErrors(true);
    return;
  }
  releaseErrors(false);
  closeChecking();
  _exit(tellNoDisplay != nullptr ? tellNoDisplay(checkedName) : kExitNoWindow);
}

using MainFunction = int (*)(int, char **);

// Vibrant's main, which sets the toolkit up and then calls Nlm_Main.  The
// core library defines a main too: ask Vibrant's own library for it.
MainFunction vibrantMain() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&Nlm_ProcessEvents), &info) == 0 || info.dli_fname == nullptr)
    return nullptr;
  void *vibrant = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (vibrant == nullptr) return nullptr;
  auto found = reinterpret_cast<MainFunction>(dlsym(vibrant, "main"));
  // The module keeps the library loaded; this handle only found it.
  dlclose(vibrant);
  return found;
}

int run(XOptions &options, WindowStart start, int (*refuse)(const std::string &why),
        int (*noDisplay)(const std::string &display)) {
  MainFunction toolkit = vibrantMain();
  if (toolkit == nullptr) {
    std::fprintf(stderr, "velorix-setup: the GUI toolkit's start-up was not found\n");
    closeChecking();
    return kExitNoWindow;
  }
  PrepareSetupWindow(std::move(start));
  std::string name = ReadToolkitStart(options).name;
  if (!name.empty()) options.toolkitArgv[0] = name.data();
  std::vector<char *> toolkitArgv = options.toolkitArgv;
  refuseArgument = refuse;
  tellNoDisplay = noDisplay;
  holdErrors();
  std::atexit(endOfStartUp);
  return toolkit(options.toolkitArgc(), toolkitArgv.data());
}

int refuse(const std::string &problem) {
  return refuseArgument != nullptr ? refuseArgument(problem) : kExitTrouble;
}

int toolkitMain() {
  // The toolkit is set up: its display is open.
  releaseErrors(true);
  closeChecking();
  // What the toolkit's option parsing has left is no X option.
  if (Nlm_GetArgc() > 1) return refuse(LeftByToolkit(Nlm_GetArgv()[1]));
  const SetupWindowResources own = TakeSetupWindowResources();
  if (own.geometry) {
    const std::string problem = GeometryProblem(*own.geometry);
    if (!problem.empty()) return refuse(problem);
  }
  return RunSetupWindow(own);
}

constexpr SetupWindowModule kModule = {displayAvailable, run, toolkitMain};

}  // namespace

extern "C" const SetupWindowModule *VelorixSetupWindowModule(void) { return &kModule; }
