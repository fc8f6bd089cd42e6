/*
 * window_module.h - the Setup window as a module of its own.
 *
 * The window, the GUI toolkit beneath it and the X libraries are loaded
 * only when the window is to open: a run without a window (--unattended,
 * --check, --text, ...) starts without them, which is most of its start-up
 * time.  The program finds the module beside itself (in the build tree)
 * or in its library directory (installed), and the module calls the
 * installation core and the command line in the program itself.
 */
#ifndef VELORIX_SETUP_WINDOW_MODULE_H
#define VELORIX_SETUP_WINDOW_MODULE_H

#include <string>

#include "run_window.h"
#include "x_options.h"

struct SetupWindowModule {
  // Whether the display the toolkit's start-up will open can be opened.
  // display is set to the display named by -display (or -dpy), or left
  // empty when none is given ($DISPLAY then).
  bool (*displayAvailable)(const XOptions &options, std::string *display);
  // Starts the toolkit with options and runs the window as start says;
  // returns the program's exit status.
  int (*run)(XOptions &options, WindowStart start);
  // What the toolkit's start-up calls once it is set up: builds the
  // window and runs its event loop.
  int (*toolkitMain)();
};

// The module's one exported entry: its table.
extern "C" const SetupWindowModule *VelorixSetupWindowModule(void);
constexpr char kWindowModuleEntry[] = "VelorixSetupWindowModule";
constexpr char kWindowModuleFile[] = "velorix-setup-window.so";

// Loads the module; on failure says why on standard error and returns
// nullptr.
const SetupWindowModule *LoadWindowModule();

#endif
