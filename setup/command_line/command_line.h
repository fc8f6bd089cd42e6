/*
 * command_line.h - what velorix-setup's command line asks for: a run
 * without a window (--unattended, --dry-run, --check, --help, --version),
 * the questions in a terminal (--text), or the window, with its form
 * preset from the options and an answer file.
 */
#ifndef VELORIX_SETUP_COMMAND_LINE_H
#define VELORIX_SETUP_COMMAND_LINE_H

#include "exit_status.h"
#include "window_module.h"

// What the command line comes to: an exit status, or the window to open.
struct CommandLineRun {
  bool openWindow = false;
  int status = kExitDone;  // when the window is not to be opened
  XOptions x;              // the window's X options
  WindowStart window;      // how the window (or the terminal's questions) start
};

// Runs velorix-setup's command line: --help, --version, --unattended,
// --dry-run, --check or --text, or, without any of them, says how the
// window is to start and hands every argument that is not ours to the
// toolkit.
CommandLineRun RunCommandLine(int argc, char **argv);

#endif
