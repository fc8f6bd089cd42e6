/*
 * run_window.h - the entry to the Setup window for the program's start,
 * without the GUI toolkit's headers.
 */
#ifndef VELORIX_SETUP_RUN_WINDOW_H
#define VELORIX_SETUP_RUN_WINDOW_H

// Exit statuses of the window, as a script that opens it sees them.
constexpr int kWindowEnded = 0;      // the installation ended
constexpr int kWindowCancelled = 1;  // "Cancel" or the window's close box
constexpr int kWindowNotOpened = 3;  // no X display (2: options not understood)

// Builds the Setup window, placed by geometry (an X geometry string, or
// NULL to centre it), and runs the event loop; returns an exit status.
int RunSetupWindow(const char *geometry);

#endif
