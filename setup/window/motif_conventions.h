/*
 * motif_conventions.h - what a user expects of a dialog's keyboard and
 * placement, done through the Motif widgets under Vibrant's handles where
 * Vibrant has no call for it: the Tab order, Escape, message boxes that
 * take the keyboard and answer Return, and an X geometry for a window.
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
 * and one push button) takes the keyboard when it appears, Return presses
 * its button, and the keyboard goes back to the window that had it when
 * the box goes.  Call once, after the toolkit is set up. */
void FocusMessageBoxes(void);

/* Gives window the X geometry ("WIDTHxHEIGHT+X+Y", each part optional, as
 * XParseGeometry reads it) before it is first shown. */
void SetWindowGeometry(Nlm_WindoW window, const char *geometry);

#ifdef __cplusplus
}
#endif

#endif
