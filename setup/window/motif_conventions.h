/*
 * motif_conventions.h - what a user expects of a dialog's keyboard and
 * placement, done through the Motif widgets under Vibrant's handles where
 * Vibrant has no call for it: the Tab order, Escape, message boxes that
 * take the keyboard and answer Return, the X resources that are the
 * Setup window's alone, and a window that keeps drawing itself while it
 * works.
 *
 * Plain C, so that the C file behind it can include Motif's headers
 * before the toolkit's (their "VoidProc" clash otherwise).
 */
#ifndef VELORIX_SETUP_MOTIF_CONVENTIONS_H
#define VELORIX_SETUP_MOTIF_CONVENTIONS_H

#include <vibrant.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the count controls (text fields, radio buttons, check boxes and
 * push buttons of one window; NULL entries are skipped) the stops of the
 * Tab key, in this order, and no other control.  Disabled and hidden
 * controls are passed over while they are so.  Returns the number of
 * controls that became stops. */
int SetTabOrder(const Nlm_Handle *controls, int count);

/* Escape anywhere in the button's window presses the button.  FALSE when
 * the button's widget cannot be reached. */
Nlm_Boolean SetEscapeButton(Nlm_ButtoN button);

/* From now on each message box of the program (a window holding prompts
 * and one push button, or a question's Yes and No) takes the keyboard when
 * it appears, Return presses its button (a question's Yes), and the
 * keyboard goes back to the window that had it when the box goes.  Call
 * once, after the toolkit is set up. */
void FocusMessageBoxes(void);

/* Escape in window, from whichever of its parts has the keyboard, does
 * what its close box does: calls close(window).  The window takes the
 * keyboard when it is shown, as a window manager would give it. */
void EscapeClosesWindow(Nlm_WindoW window, Nlm_WndActnProc close);

/* Handles the X events and timers that are due, and returns without
 * waiting for more: for a window that works in an event callback.
 * Whatever draws, closes or resizes a window is handled as usual; of the
 * mouse's events only those on the button stop (which does nothing while
 * it is disabled; NULL for none), and of the keyboard only Escape, which
 * presses a window's cancel button: the form cannot change under the
 * work, nor another piece of work start. */
void ProcessEventsWhileBusy(Nlm_ButtoN stop);

/* The resources of the program's top-level windows that the standard X
 * options -geometry, -title and -iconic set, meant for the Setup window
 * alone.  geometry and title are copies (free them with FreeOwnResources)
 * or NULL when not set. */
typedef struct {
  char *geometry;
  char *title;
  Nlm_Boolean iconic;
} OwnResources;

/* Reads the Setup window's resources, and keeps geometry and iconic from
 * every window made from now on (a message box, a help window): PlaceWindow
 * gives them to the one they are meant for.  Call once the toolkit is set
 * up, before the first window is made. */
void TakeOwnResources(OwnResources *own);
void FreeOwnResources(OwnResources *own);

/* Gives window the X geometry ("WIDTHxHEIGHT+X+Y", each part optional, as
 * XParseGeometry reads it; NULL to keep its own place) and, when iconic is
 * set, an iconic start, and realizes it.  A size smaller than what the
 * window holds is widened to that, so that nothing is cut off; an edge
 * placed from the right or the bottom of the screen stays in place. */
void PlaceWindow(Nlm_WindoW window, const char *geometry, Nlm_Boolean iconic);

#ifdef __cplusplus
}
#endif

#endif
