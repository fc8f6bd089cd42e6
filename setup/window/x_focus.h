/*
 * x_focus.h - giving the keyboard to a window of the program, for the C
 * files that work on the X windows beneath Vibrant.
 */
#ifndef VELORIX_SETUP_X_FOCUS_H
#define VELORIX_SETUP_X_FOCUS_H

#include <X11/Xlib.h>

/* Gives the keyboard to window.  A window that is not viewable (yet, under
 * a window manager that has not mapped its frame) refuses it; that refusal
 * must not end the program, as an X error otherwise would. */
void SetInputFocusSafely(Display *display, Window window);

#endif
