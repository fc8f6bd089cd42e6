/*
 * message_box.h - the one place where the window turns what it has to
 * tell into a box: a message of the procedure or of a choice on the form,
 * and the summary of a run.
 */
#ifndef VELORIX_SETUP_WINDOW_MESSAGE_BOX_H
#define VELORIX_SETUP_WINDOW_MESSAGE_BOX_H

#include <string>

#include "result.h"

// Shows text in a modal box with OK and waits until it is dismissed.  The
// box keeps its words: the files missing from the product directory that
// about lists go, with the message, to the standard error of the terminal
// the window was started from.  The text is never a format.
void ShowInBox(const std::string &text, const MessageSubject &about = {});

// What result has to tell, if anything.
void ShowResult(const Result &result);

// The summary of a run (several lines, each ending in a line feed).
void ShowSummary(const std::string &summary);

#endif
