/*
 * module_entry.cc - what the Setup window's module offers the program:
 * the display check, the toolkit's start-up, and the window it then runs.
 */
#include <dlfcn.h>

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

namespace {

// How the program refuses an argument the toolkit's start-up leaves.
int (*refuseArgument)(const std::string &why) = nullptr;

bool displayAvailable(const XOptions &options, std::string *display) {
  *display = ReadToolkitStart(options).display;
  const char *name = !display->empty() ? display->c_str() : std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display *opened = XOpenDisplay(name);
  if (opened == nullptr) return false;
  XCloseDisplay(opened);
  return true;
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

int run(XOptions &options, WindowStart start, int (*refuse)(const std::string &why)) {
  MainFunction toolkit = vibrantMain();
  if (toolkit == nullptr) {
    std::fprintf(stderr, "velorix-setup: the GUI toolkit's start-up was not found\n");
    return kExitNoWindow;
  }
  PrepareSetupWindow(std::move(start));
  std::string name = ReadToolkitStart(options).name;
  if (!name.empty()) options.toolkitArgv[0] = name.data();
  std::vector<char *> toolkitArgv = options.toolkitArgv;
  refuseArgument = refuse;
  return toolkit(options.toolkitArgc(), toolkitArgv.data());
}

int refuse(const std::string &problem) {
  return refuseArgument != nullptr ? refuseArgument(problem) : kExitTrouble;
}

int toolkitMain() {
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
