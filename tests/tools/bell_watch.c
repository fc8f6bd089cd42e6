/*
 * bell_watch.c - reports every bell rung on the X display.
 *
 * Prints "ready" once it listens, then "bell" for each bell that any
 * client rings (XBell), so that a GUI test can count the beeps of the
 * tool under test.  Runs until it is killed.  Exit status 2 when the
 * display or its keyboard extension is not available.
 */
#include <stdio.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

int main(void) {
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "bell_watch: cannot open the display\n");
    return 2;
  }
  int opcode = 0, eventBase = 0, errorBase = 0;
  int major = XkbMajorVersion, minor = XkbMinorVersion;
  if (!XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor) ||
      !XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask)) {
    fprintf(stderr, "bell_watch: the display has no keyboard extension\n");
    XCloseDisplay(display);
    return 2;
  }
  XSync(display, False);
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == eventBase && ((XkbAnyEvent *)&event)->xkb_type == XkbBellNotify) {
      printf("bell\n");
      fflush(stdout);
    }
  }
}
