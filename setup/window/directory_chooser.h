/*
 * directory_chooser.h - asks which directory to set up, before the Setup
 * window opens: the start from the desktop menu, whose working directory
 * is no choice of the user's.
 *
 * Plain C: the file behind it includes Motif's headers before the
 * toolkit's.
 */
#ifndef VELORIX_SETUP_DIRECTORY_CHOOSER_H
#define VELORIX_SETUP_DIRECTORY_CHOOSER_H

#include <vibrant.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Shows a window titled title that lists directories only (Motif's file
 * selection box in directory mode), starting at the working directory,
 * until the user chooses one that can be made the working directory, and
 * makes it so: TRUE.  FALSE when the user leaves with Cancel or the close
 * box; the working directory is then unchanged.  Call once the toolkit is
 * set up. */
Nlm_Boolean ChooseWorkingDirectory(const char *title);

#ifdef __cplusplus
}
#endif

#endif
