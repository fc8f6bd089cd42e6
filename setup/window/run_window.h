/*
 * run_window.h - the entry to the Setup window for the program's start,
 * without the GUI toolkit's headers.
 */
#ifndef VELORIX_SETUP_RUN_WINDOW_H
#define VELORIX_SETUP_RUN_WINDOW_H

// Builds the Setup window and runs the event loop; returns 0.
int RunSetupWindow(void);

#endif
