/*
 * unattended.h - velorix-setup without a display: the form's values come
 * from command-line options, messages go to standard error, and the exit
 * status says how the installation went.
 */
#ifndef VELORIX_SETUP_UNATTENDED_H
#define VELORIX_SETUP_UNATTENDED_H

#include <string>

#include "installation.h"
#include "run_window.h"
#include "x_options.h"

// Exit statuses of the command-line mode.
constexpr int kExitDone = 0;        // installed (messages may have been shown)
constexpr int kExitStopped = 1;     // a message stopped the installation
constexpr int kExitBadOptions = 2;  // the command line was not understood
constexpr int kExitNotChecked = 2;  // --check: the directory could not be checked

// What the command line comes to: an exit status, or the window to open.
struct CommandLineRun {
  bool openWindow = false;
  int status = kExitDone;  // when the window is not to be opened
  XOptions x;              // the window's X options
  WindowStart window;      // how the window starts
};

// Runs velorix-setup's command line: --help, --version, --unattended,
// --dry-run or --check with the form's values as options (these need no X
// display), or, without any of them, says how the window is to start and
// hands every argument that is not ours to the toolkit.
CommandLineRun RunCommandLine(int argc, char **argv);

// Asks the form's questions in the terminal, starting as the window would
// (start's preset included), and installs as --unattended does once the
// user has said yes; saves the answers and keeps the log as start asks.
// Returns the exit status: 1 also when the user did not say yes.
int RunTextSetup(const WindowStart &start);

// Refuses the window's X options for problem (one line on standard
// error); returns the status of options not understood.
int RefuseWindowOptions(const std::string &problem);

#endif
