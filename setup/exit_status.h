/*
 * exit_status.h - how velorix-setup ends, for the program and the
 * window's module alike.  Each status has one meaning, read in the terms of
 * the run that ends with it.
 */
#ifndef VELORIX_SETUP_EXIT_STATUS_H
#define VELORIX_SETUP_EXIT_STATUS_H

enum ExitStatus : int {
  // Done as asked: installed (messages that did not stop it are still
  // told); the window: the installation ended; --check: the directory
  // matches.
  kExitDone = 0,
  // Not done, and the user has been told why: a message stopped the
  // installation; the window: "Cancel" or the close box; --check: a
  // difference found; --text: no yes to "Set up now?".
  kExitStopped = 1,
  // Could not be done as asked: options or an answer file not understood,
  // answers that cannot be saved, a log that takes no line, a text of the
  // form refused before anything was written (one that would make a
  // generated line too long), a link on the way to a file the run writes
  // that it may not follow (its owner is neither the runner nor the owner
  // of what it points to) or a lock file that is a link or no regular
  // file, also refused before anything was written; --check: the directory
  // could not be checked.
  kExitTrouble = 2,
  // The window was wanted and cannot open: no X display, or its module
  // cannot be loaded.
  kExitNoWindow = 3,
};

#endif
