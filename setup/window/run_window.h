/*
 * run_window.h - the entry to the Setup window for the program's start,
 * without the GUI toolkit's headers.
 */
#ifndef VELORIX_SETUP_RUN_WINDOW_H
#define VELORIX_SETUP_RUN_WINDOW_H

#include <optional>
#include <string>

#include "installation.h"
#include "record_actions.h"

// Exit statuses of the window, as a script that opens it sees them.
constexpr int kWindowEnded = 0;      // the installation ended
constexpr int kWindowCancelled = 1;  // "Cancel" or the window's close box
constexpr int kWindowNotOpened = 3;  // no X display (2: options not understood)

// How the window starts, from the command line.
struct WindowStart {
  // Ask which directory to set up, and work there, before the form opens.
  bool chooseDirectory = false;
  // The form's values to show instead of the usual ones (from an answer
  // file and form options), or nothing.
  std::optional<InstallForm> preset;
  // Where "Setup" saves the form's values before it installs; empty for
  // nowhere.
  std::string saveAnswers;
  // The log each press of "Setup" appends to; empty for none.
  std::string log;
  // What the log's header names of the run.
  RunContext context;
};

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
