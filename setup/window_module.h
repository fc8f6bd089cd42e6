/*
 * window_module.h - the Setup window as a module of its own: the contract
 * between the program and the module.
 *
 * The window, the GUI toolkit beneath it and the X libraries are loaded
 * only when the window is to open: a run without a window (--unattended,
 * --check, --text, ...) starts without them, which is most of its start-up
 * time.  The program finds the module beside itself (in the build tree)
 * or in its library directory (installed).  The module calls the
 * installation core in the program; it knows nothing of the command line
 * but what this header hands it.
 */
#ifndef VELORIX_SETUP_WINDOW_MODULE_H
#define VELORIX_SETUP_WINDOW_MODULE_H

#include <optional>
#include <string>
#include <vector>

#include "form_fields.h"
#include "session.h"

// What the toolkit's start-up parses: the program's name and every
// argument that is not the program's own (the X options, -display,
// -geometry, ...), in the order given, ending with NULL.
struct XOptions {
  std::vector<char *> toolkitArgv;
  int toolkitArgc() const { return static_cast<int>(toolkitArgv.size()) - 1; }
};

// How the window starts, from the command line: as the questions in a
// terminal start, and perhaps by asking for the directory first.
struct WindowStart : SessionStart {
  // Ask which directory to set up, and work there, before the form opens.
  bool chooseDirectory = false;
};

struct SetupWindowModule {
  // Whether the display the toolkit's start-up will open can be opened.
  // display is set to the display named by -display (or -dpy), or left
  // empty when none is given ($DISPLAY then).  When it can, the check's
  // connection stays open until the toolkit has its own, so that a server
  // that resets when its last client leaves does not reset in between.
  bool (*displayAvailable)(const XOptions &options, std::string *display);
  // Starts the toolkit with options and runs the window as start says;
  // the program's exit status (exit_status.h).  An argument the toolkit
  // does not take is refused with refuse(why), whose status is the
  // program's.  The toolkit may end the process itself: refuse() tells the
  // user at once.  Should the toolkit's start-up fail to open the display
  // after all, noDisplay(display), with display as displayAvailable set
  // it, says so in place of the toolkit, and the process ends with its
  // status.
  int (*run)(XOptions &options, WindowStart start, int (*refuse)(const std::string &why),
             int (*noDisplay)(const std::string &display));
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
