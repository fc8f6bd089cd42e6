/*
 * events.cc - dispatching one GUI event.
 *
 * myProcessAnyEvent lets long work in the analysis program keep its
 * windows alive: it handles one pending X event or timer and returns,
 * never waiting when there is nothing to do.
 *
 * Linking note: this file calls Xt directly.  With --as-needed linking a
 * program that pulls it in gets Xt loaded before Motif, Xt's vendor shell
 * wins, and Motif fails with "No realize class procedure defined"; such a
 * program must keep Motif in its needed libraries (--no-as-needed).
 */
#include <X11/Intrinsic.h>

#include "utility.h"

// The GUI layer's application context, declared in its internal header
// vibincld.h.  That header cannot be compiled next to the public ones in
// C++ (its Motif includes clash with the toolkit's VoidProc), so the one
// declaration needed is repeated here.
extern "C" XtAppContext Nlm_appContext;

extern "C" Nlm_Boolean myProcessAnyEvent(void) {
  if (Nlm_appContext == nullptr) return FALSE;
  const XtInputMask pending = XtAppPending(Nlm_appContext) & (XtIMXEvent | XtIMTimer);
  if (pending == 0) return FALSE;
  if ((pending & XtIMXEvent) == 0) {
    // Only a timer is due.  XtAppNextEvent would run it and then block for
    // an X event that may never come, so run just the timer.
    XtAppProcessEvent(Nlm_appContext, XtIMTimer);
    return TRUE;
  }
  XEvent event;
  XtAppNextEvent(Nlm_appContext, &event);
  return XtDispatchEvent(&event) ? TRUE : FALSE;
}
