/*
 * run_window.h - the entry to the Setup window for the program's start,
 * without the GUI toolkit's headers.
 */
#ifndef VELORIX_SETUP_RUN_WINDOW_H
#define VELORIX_SETUP_RUN_WINDOW_H

#include <optional>
#include <string>

#include "window_module.h"

// Keeps start for RunSetupWindow: the toolkit's start-up, not our main,
// calls that.
void PrepareSetupWindow(WindowStart start);

// The Setup window's own X resources, which the standard X options
// -geometry, -title and -iconic set; nothing for what is not set.
struct SetupWindowResources {
  std::optional<std::string> geometry;
  std::optional<std::string> title;
  bool iconic = false;
};

// Reads them, and keeps -geometry's and -iconic's from every other window
// (a message box, a help window).  Call once the toolkit is set up, before
// any window is made.
SetupWindowResources TakeSetupWindowResources();

// Builds the Setup window as prepared, with its own resources, and runs
// the event loop; returns an exit status.
int RunSetupWindow(const SetupWindowResources &own);

#endif
