/*
 * text_setup.h - the installation set up in a terminal: the form's
 * questions (questions.h), then the installation as --unattended runs it.
 */
#ifndef VELORIX_SETUP_TERMINAL_TEXT_SETUP_H
#define VELORIX_SETUP_TERMINAL_TEXT_SETUP_H

#include "session.h"

// How the questions start, from the command line.
using TextStart = SessionStart;

// Asks the form's questions in the terminal, starting as the window would
// (start's preset included), and installs once the user has said yes;
// saves the answers and keeps the log as start asks.  Returns the exit
// status: 1 also when the user did not say yes (NothingWritten).
int RunTextSetup(const TextStart &start);

// Says, on standard output, that the questions ended without writing
// anything (Ctrl-C, end of input, or no to the summary), and returns the
// exit status of that: 1.
int NothingWritten();

// The exit status of an installation run from a terminal.
int InstallStatus(const SessionResult &result);

#endif
