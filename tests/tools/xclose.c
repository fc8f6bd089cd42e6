/*
 * xclose.c - asks an X window to close, as a window manager's close box
 * would: sends it the ClientMessage WM_PROTOCOLS / WM_DELETE_WINDOW.
 *
 * The GUI tests run under Xvfb without a window manager, so nothing else
 * sends that message.  Usage: xclose WINDOW-ID (decimal or 0x hex).  The
 * window must take part in the WM_DELETE_WINDOW protocol (a top-level
 * shell window does); exit status 0 when the message was sent, 1 when the
 * window does not take part, 2 on a usage or display error.
 */
#include <stdio.h>
#include <stdlib.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

/* TRUE when window lists the atom protocol in its WM_PROTOCOLS. */
static int takesPart(Display *display, Window window, Atom protocol) {
  Atom *protocols = NULL;
  int count = 0;
  int found = 0;
  if (XGetWMProtocols(display, window, &protocols, &count)) {
    for (int i = 0; i < count; ++i) {
      if (protocols[i] == protocol) found = 1;
    }
    XFree(protocols);
  }
  return found;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: xclose WINDOW-ID\n");
    return 2;
  }
  char *end = NULL;
  unsigned long id = strtoul(argv[1], &end, 0);
  if (end == argv[1] || *end != '\0' || id == 0) {
    fprintf(stderr, "xclose: '%s' is not a window id\n", argv[1]);
    return 2;
  }
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xclose: cannot open the display\n");
    return 2;
  }
  Window window = (Window)id;
  Atom wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
  Atom wmDelete = XInternAtom(display, "WM_DELETE_WINDOW", False);
  if (!takesPart(display, window, wmDelete)) {
    fprintf(stderr, "xclose: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
    XCloseDisplay(display);
    return 1;
  }

  XEvent event = {0};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = wmProtocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = (long)wmDelete;
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}
