/*
 * directory_chooser.c - the directory chooser of the start from the
 * desktop menu: Motif's file selection box with only directories in its
 * lists, in a top-level window of its own, run until it is answered.
 *
 * Vibrant has file dialogs but none for a directory, so the box is made
 * on the toolkit's display and application context directly.  Motif's
 * headers come before the toolkit's (CutPaste.h's VoidProc, which
 * vibdefns.h turns into a macro).
 */
#include <Xm/CutPaste.h>
#include <Xm/Xm.h>
#include <Xm/FileSB.h>
#include <Xm/Protocols.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>
#include <X11/Shell.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vibrant.h>
#include <vibincld.h>

#include "directory_chooser.h"
#include "x_focus.h"

/* Wide enough for the paths in its lists to be read. */
enum { kChooserWidth = 520 };

typedef enum { kChoosing, kChosen, kCancelled } ChooserState;

static ChooserState state = kChoosing;

static void chosen(Widget box, XtPointer unused, XtPointer callData) {
  XmFileSelectionBoxCallbackStruct *answer = (XmFileSelectionBoxCallbackStruct *)callData;
  char *path = (char *)XmStringUnparse(answer->value, NULL, XmCHARSET_TEXT, XmCHARSET_TEXT, NULL, 0,
                                       XmOUTPUT_ALL);
  (void)box;
  (void)unused;
  errno = ENOENT; /* for an empty answer */
  if (path != NULL && *path != '\0' && chdir(path) == 0) {
    state = kChosen;
  } else {
    /* The box stays, for another choice. */
    Nlm_Message(MSG_OK, "Cannot work in the directory '%s' (%s).\nPlease choose another one.",
                path != NULL ? path : "", strerror(errno));
  }
  XtFree(path);
}

static void cancelled(Widget widget, XtPointer unused, XtPointer callData) {
  (void)widget;
  (void)unused;
  (void)callData;
  state = kCancelled;
}

/* Once shown, the box takes the keyboard, in its selection field with the
 * whole text selected: a path typed at once replaces it. */
static void takeKeyboard(Widget shell, XtPointer data, XEvent *event, Boolean *goOn) {
  Widget text = (Widget)data;
  (void)goOn;
  if (event->type != MapNotify) return;
  SetInputFocusSafely(XtDisplay(shell), XtWindow(shell));
  XmProcessTraversal(text, XmTRAVERSE_CURRENT);
  if (XmIsTextField(text)) {
    XmTextFieldSetSelection(text, 0, XmTextFieldGetLastPosition(text),
                            XtLastTimestampProcessed(XtDisplay(shell)));
  } else if (XmIsText(text)) {
    XmTextSetSelection(text, 0, XmTextGetLastPosition(text),
                       XtLastTimestampProcessed(XtDisplay(shell)));
  }
}

/* Puts the realized shell in the middle of its screen, as Vibrant places
 * the Setup window. */
static void centre(Widget shell) {
  Dimension width = 0, height = 0;
  Screen *screen = XtScreen(shell);
  XtVaGetValues(shell, XtNwidth, &width, XtNheight, &height, NULL);
  XtVaSetValues(shell, XtNx, (Position)((WidthOfScreen(screen) - width) / 2), XtNy,
                (Position)((HeightOfScreen(screen) - height) / 2), NULL);
}

Nlm_Boolean ChooseWorkingDirectory(const char *title) {
  String name, className;
  Widget shell, box, text;
  char *here;
  XmString start;
  Arg args[2];
  if (Nlm_currentXDisplay == NULL) return FALSE;
  XtGetApplicationNameAndClass(Nlm_currentXDisplay, &name, &className);
  /* Named as the program's other windows, for X resources and for whoever
   * looks for them. */
  shell = XtVaAppCreateShell(name, className, applicationShellWidgetClass, Nlm_currentXDisplay,
                             XtNtitle, title, XmNdeleteResponse, XmDO_NOTHING, XtNmappedWhenManaged,
                             False, NULL);
  here = getcwd(NULL, 0);
  start = XmStringCreateLocalized(here != NULL ? here : (char *)"/");
  free(here);
  XtSetArg(args[0], XmNfileTypeMask, XmFILE_DIRECTORY);
  XtSetArg(args[1], XmNdirectory, start);
  box = XmCreateFileSelectionBox(shell, (char *)"directory_chooser", args, 2);
  XmStringFree(start);
  XtUnmanageChild(XmFileSelectionBoxGetChild(box, XmDIALOG_HELP_BUTTON));
  XtAddCallback(box, XmNokCallback, chosen, NULL);
  XtAddCallback(box, XmNcancelCallback, cancelled, NULL);
  XmAddWMProtocolCallback(
      shell, XmInternAtom(Nlm_currentXDisplay, (char *)"WM_DELETE_WINDOW", False), cancelled, NULL);
  text = XmFileSelectionBoxGetChild(box, XmDIALOG_TEXT);
  XtAddEventHandler(shell, StructureNotifyMask, False, takeKeyboard, text);
  XtVaSetValues(box, XmNwidth, (Dimension)kChooserWidth, NULL);
  XtManageChild(box);
  XtRealizeWidget(shell);
  centre(shell);
  XtMapWidget(shell);

  state = kChoosing;
  while (state == kChoosing)
    XtAppProcessEvent(Nlm_appContext, XtIMAll);
  XtDestroyWidget(shell);
  return state == kChosen ? TRUE : FALSE;
}
