/*
 * run_window.h - the entry to the Setup window for the program's start,
 * without the GUI toolkit's headers.
 */
#ifndef VELORIX_SETUP_RUN_WINDOW_H
#define VELORIX_SETUP_RUN_WINDOW_H

#include <optional>
#include <string>

#include "installation.h"

// Exit statuses of the window, as a script that opens it sees them.
constexpr int kWindowEnded = 0;      // the installation ended
constexpr int kWindowCancelled = 1;  // "Cancel" or the window's close box
constexpr int kWindowNotOpened = 3;  // no X display (2: options not understood)

// How the window starts, from the command line.
struct WindowStart {
  // An X geometry string for the Setup window, or NULL to centre it.
  const char *geometry = nullptr;
  // The form's values to show instead of the usual ones (from an answer
  // file and form options), or nothing.
  std::optional<InstallForm> preset;
  // Where "Setup" saves the form's values before it installs; empty for
  // nowhere.
  std::string saveAnswers;
  // The log each press of "Setup" appends to; empty for none.
  std::string log;
};

// Keeps start for RunSetupWindow: the toolkit's start-up, not our main,
// calls that.
void PrepareSetupWindow(WindowStart start);

// Builds the Setup window as prepared and runs the event loop; returns an
// exit status.
int RunSetupWindow();

#endif
