/*
 * motif_conventions.c - the keyboard and placement conventions of a dialog
 * that Vibrant has no call for, done on the Motif widgets beneath it.
 *
 * Vibrant makes every control of a window a child of one XmBulletinBoard;
 * the record behind a text field's or a button's handle begins, after the
 * part that all objects share, with its widget.  That record is the
 * toolkit's inside, so a widget read from it is used only once it is found
 * among the board's children.
 *
 * Message boxes are found as they are made and shown: Xt's change hook
 * reports each shell that is realized, before it is first drawn, and an
 * event dispatcher sees every MapNotify and UnmapNotify of the shells.
 *
 * Motif's headers come before the toolkit's: CutPaste.h declares a type
 * VoidProc, which vibdefns.h turns into a macro.
 */
#include <Xm/CutPaste.h>
#include <Xm/Xm.h>
#include <Xm/BulletinB.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>
#include <Xm/ToggleB.h>

#include <string.h>

#include <vibrant.h>
#include <vibincld.h>

#include "motif_conventions.h"

/* Message boxes open one over another at most this deep; a deeper one
 * still takes the keyboard, but the keyboard is not given back from it. */
enum { kMaxOpenBoxes = 8 };

/* A message box that has the keyboard, and the window that had it. */
typedef struct {
  Window box;
  Window previous;
} OpenBox;

static OpenBox openBoxes[kMaxOpenBoxes];
static int openBoxCount = 0;
static XtEventDispatchProc nextMapDispatcher = NULL;
static XtEventDispatchProc nextUnmapDispatcher = NULL;

/* The children of a composite widget; none for any other widget. */
static Cardinal childrenOf(Widget parent, WidgetList *children) {
  Cardinal count = 0;
  *children = NULL;
  if (parent == NULL || !XtIsComposite(parent)) return 0;
  XtVaGetValues(parent, XmNchildren, children, XmNnumChildren, &count, NULL);
  return count;
}

/* The board that holds the controls of the window of object, or NULL. */
static Widget formOf(Nlm_Handle object) {
  WidgetList children;
  Cardinal count = childrenOf(Nlm_ParentWindowMain((Nlm_GraphiC)object), &children);
  Cardinal i;
  for (i = 0; i < count; ++i) {
    if (XmIsBulletinBoard(children[i])) return children[i];
  }
  return NULL;
}

/* The widget of a text field or button, or NULL when it cannot be found. */
static Widget controlWidget(Nlm_Handle control) {
  Widget candidate = NULL;
  WidgetList children;
  Cardinal count, i;
  if (control == NULL) return NULL;
  count = childrenOf(formOf(control), &children);
  Nlm_GetExtraData((Nlm_GraphiC)control, &candidate, sizeof(Nlm_GraphicRec), sizeof candidate);
  for (i = 0; i < count; ++i) {
    if (children[i] == candidate) return candidate;
  }
  return NULL;
}

int SetTabOrder(const Nlm_Handle *controls, int count) {
  int stops = 0;
  int i;
  for (i = 0; i < count; ++i) {
    Widget widget = controlWidget(controls[i]);
    if (widget == NULL) continue;
    /* Vibrant leaves toggles and push buttons out of the Tab cycle.  Once
     * one widget is an exclusive tab group, only those are visited, in the
     * order in which they became so. */
    XtVaSetValues(widget, XmNnavigationType, XmEXCLUSIVE_TAB_GROUP, XmNtraversalOn, True, NULL);
    /* Vibrant draws no focus around a toggle; a line of one pixel inside
     * its own bounds shows it, and moves nothing. */
    if (XmIsToggleButton(widget))
      XtVaSetValues(widget, XmNrecomputeSize, False, XmNhighlightThickness, 1, NULL);
    ++stops;
  }
  return stops;
}

Nlm_Boolean SetEscapeButton(Nlm_ButtoN button) {
  Widget widget = controlWidget(button);
  if (widget == NULL) return FALSE;
  /* The board presses its cancel button on osfCancel, Escape by default,
   * from whichever of its children has the keyboard. */
  XtVaSetValues(XtParent(widget), XmNcancelButton, widget, NULL);
  return TRUE;
}

/* ---- message boxes ----------------------------------------------------- */

static int ignoreXError(Display *display, XErrorEvent *error) {
  (void)display;
  (void)error;
  return 0;
}

/* Gives the keyboard to window.  A window that is not viewable (yet, under
 * a window manager that has not mapped its frame) refuses it; that refusal
 * must not end the program, as an X error otherwise would. */
static void setInputFocus(Display *display, Window window) {
  XErrorHandler previous;
  XSync(display, False);
  previous = XSetErrorHandler(ignoreXError);
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  XSync(display, False);
  XSetErrorHandler(previous);
}

/* Counts below widget the push buttons, keeping the last in *button, and
 * the controls that take input of their own (text, toggles, lists). */
static void countControls(Widget widget, int *buttons, Widget *button, int *inputs) {
  WidgetList children;
  Cardinal count = childrenOf(widget, &children);
  Cardinal i;
  if (XmIsPushButton(widget)) {
    ++*buttons;
    *button = widget;
  } else if (XmIsText(widget) || XmIsTextField(widget) || XmIsToggleButton(widget) ||
             XmIsList(widget)) {
    ++*inputs;
  }
  for (i = 0; i < count; ++i)
    countControls(children[i], buttons, button, inputs);
}

/* The OK button of a message box (prompts and one push button), or NULL
 * for any other window: the Setup window, a help window, a file dialog. */
static Widget messageBoxButton(Widget shell) {
  int buttons = 0, inputs = 0;
  Widget button = NULL;
  countControls(shell, &buttons, &button, &inputs);
  if (buttons != 1 || inputs != 0 || !XmIsBulletinBoard(XtParent(button))) return NULL;
  return button;
}

/* A shell realized, not yet drawn: in a message box, Return anywhere
 * presses its one button, which is drawn as the default from the start. */
static void shellRealized(Widget hooks, XtPointer unused, XtPointer callData) {
  XtChangeHookData change = (XtChangeHookData)callData;
  Widget button;
  (void)hooks;
  (void)unused;
  if (strcmp(change->type, XtHrealizeWidget) != 0 || !XtIsWMShell(change->widget)) return;
  button = messageBoxButton(change->widget);
  if (button != NULL) XtVaSetValues(XtParent(button), XmNdefaultButton, button, NULL);
}

static void takeKeyboard(Widget shell, Widget button) {
  Display *display = XtDisplay(shell);
  Window previous = None;
  int revert;
  XmProcessTraversal(button, XmTRAVERSE_CURRENT);
  XGetInputFocus(display, &previous, &revert);
  if (openBoxCount < kMaxOpenBoxes) {
    openBoxes[openBoxCount].box = XtWindow(shell);
    openBoxes[openBoxCount].previous = previous;
    ++openBoxCount;
  }
  setInputFocus(display, XtWindow(shell));
}

/* Gives the keyboard back to the window that had it before the box: one of
 * the program's windows, or the server's own None or PointerRoot; never a
 * window of another program, which may be gone by now. */
static void giveKeyboardBack(Display *display, Window previous) {
  Window focus = None;
  int revert;
  XGetInputFocus(display, &focus, &revert);
  /* The box had it, so it has gone to the box's parent (the root), to
   * nowhere, or (Vibrant's doing) to the pointer; any other window is a
   * choice made meanwhile, which stands. */
  if (focus != None && focus != PointerRoot && focus != DefaultRootWindow(display)) return;
  if (previous == None || previous == PointerRoot) {
    XSetInputFocus(display, previous, RevertToParent, CurrentTime);
  } else if (XtWindowToWidget(display, previous) != NULL) {
    setInputFocus(display, previous);
  }
}

static Boolean dispatchMap(XEvent *event) {
  Boolean handled = nextMapDispatcher(event);
  Widget shell = XtWindowToWidget(event->xmap.display, event->xmap.window);
  if (shell != NULL && XtIsWMShell(shell) && event->xmap.event == event->xmap.window) {
    Widget button = messageBoxButton(shell);
    if (button != NULL) takeKeyboard(shell, button);
  }
  return handled;
}

static Boolean dispatchUnmap(XEvent *event) {
  Boolean handled = nextUnmapDispatcher(event);
  int i;
  /* The box's widget may be destroyed by now: it is known by its window. */
  for (i = openBoxCount - 1; i >= 0; --i) {
    if (openBoxes[i].box != event->xunmap.window) continue;
    /* Only the newest box gives the keyboard back: an older one that goes
     * first hands its own keeper on to the box above it. */
    if (i == openBoxCount - 1) {
      giveKeyboardBack(event->xunmap.display, openBoxes[i].previous);
    } else {
      openBoxes[i + 1].previous = openBoxes[i].previous;
    }
    for (; i + 1 < openBoxCount; ++i)
      openBoxes[i] = openBoxes[i + 1];
    --openBoxCount;
    break;
  }
  return handled;
}

void FocusMessageBoxes(void) {
  if (Nlm_currentXDisplay == NULL || nextMapDispatcher != NULL) return;
  XtAddCallback(XtHooksOfDisplay(Nlm_currentXDisplay), XtNchangeHook, shellRealized, NULL);
  /* Each hands the event on to the dispatcher it replaces (Xt's own). */
  nextMapDispatcher = XtSetEventDispatcher(Nlm_currentXDisplay, MapNotify, dispatchMap);
  nextUnmapDispatcher = XtSetEventDispatcher(Nlm_currentXDisplay, UnmapNotify, dispatchUnmap);
}

/* ---- placement ---------------------------------------------------------- */

void SetWindowGeometry(Nlm_WindoW window, const char *geometry) {
  Widget shell = Nlm_GetWindowShell(window);
  if (shell == NULL || geometry == NULL) return;
  /* The shell reads it when it is realized, that is when it is first
   * shown, and copies it. */
  XtVaSetValues(shell, XtNgeometry, geometry, NULL);
}
