/*
 * help.h - field help windows opened from the Help menu.
 */
#ifndef VELORIX_SETUP_HELP_H
#define VELORIX_SETUP_HELP_H

#include <vibrant.h>

extern const char *const kDirectoryHelp;
extern const char *const kCCompilerHelp;
extern const char *const kCppCompilerHelp;
extern const char *const kPrinterHelp;
extern const char *const kPreviewerHelp;
extern const char *const kDifferentiatorHelp;
extern const char *const kInstallationHelp;
extern const char *const kShellHelp;

extern Nlm_WindoW msgPrevWin;

void HelpProc(Nlm_IteM item);
void msgCloseProc(Nlm_WindoW w);

#endif
