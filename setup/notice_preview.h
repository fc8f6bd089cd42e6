/*
 * notice_preview.h - the Registration group of the Setup window: the
 * consent box for the installation notice and a preview of what the
 * notice will say.
 */
#ifndef VELORIX_SETUP_NOTICE_PREVIEW_H
#define VELORIX_SETUP_NOTICE_PREVIEW_H

#include <vibrant.h>

// Writes the notice's text to del3 (an empty line, the version line with
// "?" for the installation kind, and the host's uname -a), by way of the
// scratch files del1 and del2.  The line feed inside the quotes is real.
constexpr const char kNoticeCommand[] =
    "echo '\nVELORIX 1.5? installed on'>del1;uname -a>del2;cat del1 del2>del3";
constexpr const char *kNoticeFile = "del3";
// The scratch files, removed once the preview has been read.
constexpr const char *kNoticeScratchFiles[] = {"del1", "del2", "del3"};

// Trims line in place and replaces its first "?" by mark ("m" for a Full
// installation, "u" for a User one).  FALSE when the line is then empty.
bool NoticeLine(char *line, char mark);

// Starts the notice command in a shell of its own, so that it runs while
// the window is being built; MakeNoticePreview waits for it.  Without it
// (or when the shell cannot be started) MakeNoticePreview runs the
// command itself.
void StartNoticeCommand();

// Runs the notice command, or waits for the one started by
// StartNoticeCommand, and, when del3 can be read, adds to window the
// Registration group (gReg) with the consent box (bReg, cleared) and one
// prompt per non-empty notice line; otherwise gReg and bReg stay NULL.
// The scratch files are removed either way.  h and v are the half
// character width and the half line height.
void MakeNoticePreview(Nlm_WindoW window, Nlm_Int2 h, Nlm_Int2 v);

#endif
