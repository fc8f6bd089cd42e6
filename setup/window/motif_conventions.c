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
 * Another sees every key pressed, for the windows that Escape closes.
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

#include <X11/Shell.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vibrant.h>
#include <vibincld.h>

#include "motif_conventions.h"
#include "x_focus.h"

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

/* ---- a window at work ---------------------------------------------------- */

/* At most this many events are handled in one call, so that a stream of
 * them cannot hold the work up for long. */
enum { kMostEventsAtOnce = 200 };

/* Whether event is input that may reach the program while it works: the
 * user could otherwise change the form, or choose Full (which reads the
 * working directory, the work's scratch directory at that moment). */
static Boolean letThroughWhileBusy(XEvent *event, Window stop) {
  switch (event->type) {
    case KeyPress:
    case KeyRelease:
      return XLookupKeysym(&event->xkey, 0) == XK_Escape;
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
    case EnterNotify:
    case LeaveNotify:
      return stop != None && event->xany.window == stop;
    default:
      return True;
  }
}

void ProcessEventsWhileBusy(Nlm_ButtoN stop) {
  Widget stopWidget = controlWidget(stop);
  const Window stopWindow = stopWidget != NULL ? XtWindow(stopWidget) : None;
  int handled;
  if (Nlm_appContext == NULL || Nlm_currentXDisplay == NULL) return;
  for (handled = 0; handled < kMostEventsAtOnce; ++handled) {
    const XtInputMask pending = XtAppPending(Nlm_appContext) & (XtIMXEvent | XtIMTimer);
    XEvent event;
    if (pending == 0) break;
    if ((pending & XtIMXEvent) == 0) {
      /* Only a timer is due: XtAppNextEvent would then wait for an event. */
      XtAppProcessEvent(Nlm_appContext, XtIMTimer);
      continue;
    }
    XtAppNextEvent(Nlm_appContext, &event);
    if (letThroughWhileBusy(&event, stopWindow)) XtDispatchEvent(&event);
  }
  XFlush(Nlm_currentXDisplay);
}

/* ---- message boxes ----------------------------------------------------- */

static int ignoreXError(Display *display, XErrorEvent *error) {
  (void)display;
  (void)error;
  return 0;
}

void SetInputFocusSafely(Display *display, Window window) {
  XErrorHandler previous;
  XSync(display, False);
  previous = XSetErrorHandler(ignoreXError);
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  XSync(display, False);
  XSetErrorHandler(previous);
}

static Position leftOf(Widget widget) {
  Position x = 0;
  XtVaGetValues(widget, XmNx, &x, NULL);
  return x;
}

/* Counts below widget the push buttons, keeping the leftmost in *button,
 * and the controls that take input of their own (text, toggles, lists). */
static void countControls(Widget widget, int *buttons, Widget *button, int *inputs) {
  WidgetList children;
  Cardinal count = childrenOf(widget, &children);
  Cardinal i;
  if (XmIsPushButton(widget)) {
    ++*buttons;
    if (*button == NULL || leftOf(widget) < leftOf(*button)) *button = widget;
  } else if (XmIsText(widget) || XmIsTextField(widget) || XmIsToggleButton(widget) ||
             XmIsList(widget)) {
    ++*inputs;
  }
  for (i = 0; i < count; ++i)
    countControls(children[i], buttons, button, inputs);
}

/* The default button of a message box (prompts and push buttons side by
 * side): its OK, or the Yes of a question, which Vibrant puts left of its
 * No; NULL for any other window: the Setup window, a help window, a file
 * dialog. */
static Widget messageBoxButton(Widget shell) {
  int buttons = 0, inputs = 0;
  Widget button = NULL;
  countControls(shell, &buttons, &button, &inputs);
  if (buttons < 1 || buttons > 2 || inputs != 0 || !XmIsBulletinBoard(XtParent(button)))
    return NULL;
  return button;
}

/* A shell realized, not yet drawn: in a message box, Return anywhere
 * presses its default button, which is drawn as such from the start. */
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
  SetInputFocusSafely(display, XtWindow(shell));
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
    SetInputFocusSafely(display, previous);
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

/* ---- Escape closes a window ------------------------------------------- */

/* A window that Escape closes, while its shell lives. */
typedef struct EscapeClose {
  Widget shell;
  Nlm_WindoW window;
  Nlm_WndActnProc close;
  struct EscapeClose *next;
} EscapeClose;

static EscapeClose *escapeCloses = NULL;
static XtEventDispatchProc nextKeyDispatcher = NULL;

static Widget shellOf(Widget widget) {
  while (widget != NULL && !XtIsShell(widget))
    widget = XtParent(widget);
  return widget;
}

static Boolean dispatchKey(XEvent *event) {
  EscapeClose *entry;
  Widget shell;
  if (XLookupKeysym(&event->xkey, 0) != XK_Escape) return nextKeyDispatcher(event);
  shell = shellOf(XtWindowToWidget(event->xkey.display, event->xkey.window));
  for (entry = escapeCloses; entry != NULL; entry = entry->next) {
    if (entry->shell == shell) {
      entry->close(entry->window);
      return True;
    }
  }
  return nextKeyDispatcher(event);
}

static void forgetEscapeClose(Widget shell, XtPointer data, XtPointer unused) {
  EscapeClose **link = &escapeCloses;
  (void)shell;
  (void)unused;
  while (*link != NULL && *link != (EscapeClose *)data)
    link = &(*link)->next;
  if (*link != NULL) *link = (*link)->next;
  free(data);
}

/* The shell is shown: it takes the keyboard. */
static void takeKeyboardWhenMapped(Widget shell, XtPointer unused, XEvent *event, Boolean *goOn) {
  (void)unused;
  (void)goOn;
  if (event->type == MapNotify) SetInputFocusSafely(XtDisplay(shell), XtWindow(shell));
}

static void noKeyAction(Widget shell, XtPointer unused, XEvent *event, Boolean *goOn) {
  (void)shell;
  (void)unused;
  (void)event;
  (void)goOn;
}

void EscapeClosesWindow(Nlm_WindoW window, Nlm_WndActnProc close) {
  Widget shell = Nlm_GetWindowShell(window);
  EscapeClose *entry;
  if (shell == NULL || close == NULL || Nlm_currentXDisplay == NULL) return;
  entry = (EscapeClose *)malloc(sizeof *entry);
  if (entry == NULL) return; /* the close box still works */
  entry->shell = shell;
  entry->window = window;
  entry->close = close;
  entry->next = escapeCloses;
  escapeCloses = entry;
  XtAddCallback(shell, XtNdestroyCallback, forgetEscapeClose, entry);
  if (nextKeyDispatcher == NULL)
    nextKeyDispatcher = XtSetEventDispatcher(Nlm_currentXDisplay, KeyPress, dispatchKey);
  XtAddEventHandler(shell, StructureNotifyMask, False, takeKeyboardWhenMapped, NULL);
  /* A window of prompts alone may select no key at all, and X reports a
   * key only to a window that selects it: the shell does. */
  XtAddEventHandler(shell, KeyPressMask, False, noKeyAction, NULL);
}

/* ---- the Setup window's own resources ------------------------------------ */

/* A copy of the value of the top-level windows' resource, or NULL. */
static char *topLevelResource(XrmDatabase database, const char *name, const char *className) {
  String appName, appClass;
  char fullName[256], fullClass[256];
  char *type = NULL;
  XrmValue value;
  XtGetApplicationNameAndClass(Nlm_currentXDisplay, &appName, &appClass);
  snprintf(fullName, sizeof fullName, "%s.%s", appName, name);
  snprintf(fullClass, sizeof fullClass, "%s.%s", appClass, className);
  if (!XrmGetResource(database, fullName, fullClass, &type, &value) || value.addr == NULL)
    return NULL;
  return XtNewString((char *)value.addr);
}

/* What the Setup window alone is to get, from the command line. */
static Boolean geometryTaken = False;
static Boolean iconicTaken = False;

/* A window made from now on starts with neither the command line's
 * geometry nor its iconic state: they are the Setup window's, which
 * PlaceWindow gives back to it. */
static void withoutOwnResources(Widget hooks, XtPointer unused, XtPointer callData) {
  XtCreateHookData created = (XtCreateHookData)callData;
  (void)hooks;
  (void)unused;
  if (strcmp(created->type, XtHcreate) != 0 || !XtIsWMShell(created->widget)) return;
  if (geometryTaken) XtVaSetValues(created->widget, XtNgeometry, NULL, NULL);
  /* Xt keeps the iconic start in two resources; a shell that is no
   * top-level one has only the second. */
  if (iconicTaken)
    XtVaSetValues(created->widget, XtNiconic, False, XtNinitialState, NormalState, NULL);
}

void TakeOwnResources(OwnResources *own) {
  XrmDatabase database;
  char *iconic;
  own->geometry = own->title = NULL;
  own->iconic = FALSE;
  if (Nlm_currentXDisplay == NULL) return;
  database = XtDatabase(Nlm_currentXDisplay);
  own->geometry = topLevelResource(database, XtNgeometry, XtCGeometry);
  /* Vibrant gives every window a title of its own; only the Setup window
   * takes this one instead. */
  own->title = topLevelResource(database, XtNtitle, XtCTitle);
  iconic = topLevelResource(database, XtNiconic, XtCIconic);
  /* As Xt reads a Boolean. */
  own->iconic =
      iconic != NULL && (strcasecmp(iconic, "on") == 0 || strcasecmp(iconic, "true") == 0 ||
                         strcasecmp(iconic, "yes") == 0 || strcmp(iconic, "1") == 0);
  XtFree(iconic);
  geometryTaken = own->geometry != NULL;
  iconicTaken = own->iconic;
  if (geometryTaken || iconicTaken)
    XtAddCallback(XtHooksOfDisplay(Nlm_currentXDisplay), XtNcreateHook, withoutOwnResources, NULL);
}

void FreeOwnResources(OwnResources *own) {
  XtFree(own->geometry);
  XtFree(own->title);
  own->geometry = own->title = NULL;
}

/* ---- placement ---------------------------------------------------------- */

/* After a size and place set by the program, what the window manager is
 * told of them: the user's, as the geometry's parts (flags) came from the
 * command line. */
static void keepUserSpecified(Widget shell, int flags) {
  XSizeHints hints;
  long supplied = 0;
  if (!XGetWMNormalHints(XtDisplay(shell), XtWindow(shell), &hints, &supplied)) return;
  if (flags & (XValue | YValue)) hints.flags = (hints.flags & ~PPosition) | USPosition;
  if (flags & (WidthValue | HeightValue)) hints.flags = (hints.flags & ~PSize) | USSize;
  XSetWMNormalHints(XtDisplay(shell), XtWindow(shell), &hints);
}

void PlaceWindow(Nlm_WindoW window, const char *geometry, Nlm_Boolean iconic) {
  Widget shell = Nlm_GetWindowShell(window);
  Nlm_RecT holds;
  Dimension width = 0, height = 0;
  Position x = 0, y = 0;
  int needWidth, needHeight, flags, gx, gy;
  unsigned gw, gh;
  if (shell == NULL) return;
  /* The shell reads both when it is realized, and copies the geometry. */
  if (geometry != NULL) XtVaSetValues(shell, XtNgeometry, geometry, NULL);
  if (iconic) XtVaSetValues(shell, XtNiconic, True, XtNinitialState, IconicState, NULL);
  Nlm_RealizeWindow(window);
  if (geometry == NULL) return;
  /* Once realized, the window's position rectangle is what it holds, menu
   * bar included, whatever size the shell was given. */
  Nlm_GetPosition(window, &holds);
  needWidth = holds.right - holds.left;
  needHeight = holds.bottom - holds.top;
  XtVaGetValues(shell, XtNwidth, &width, XtNheight, &height, XtNx, &x, XtNy, &y, NULL);
  if (width >= needWidth && height >= needHeight) return;
  flags = XParseGeometry(geometry, &gx, &gy, &gw, &gh);
  if (width < needWidth) {
    if (flags & XNegative) x = (Position)(x - (needWidth - width));
    width = (Dimension)needWidth;
  }
  if (height < needHeight) {
    if (flags & YNegative) y = (Position)(y - (needHeight - height));
    height = (Dimension)needHeight;
  }
  XtVaSetValues(shell, XtNx, x, XtNy, y, XtNwidth, width, XtNheight, height, NULL);
  keepUserSpecified(shell, flags);
}
