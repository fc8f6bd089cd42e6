/*
 * cursor_probe.c - tells which cursor the X server shows at a point of the
 * screen, so that a GUI test can see the busy cursor over a window.
 *
 * Usage: cursor_probe X Y    moves the pointer to (X, Y) of the screen
 *        cursor_probe watch  shows a window of its own with the X cursor
 *                            font's watch, and moves the pointer into it
 * and prints the shape of the cursor then shown: its size, hot spot and
 * a digest of its pixels, on one line.  Two equal lines are the same
 * cursor.  A cursor theme may turn a font's cursor into an animated one:
 * compare with XCURSOR_PATH set to a directory without themes, for the
 * probe and the program alike.  Exit status 2 when the display or its
 * XFIXES extension (which reads the cursor image) is not available.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>

/* The side of the probe's own window, in pixels. */
enum { kProbeSide = 40 };

/* FNV-1a over the cursor's pixels. */
static uint64_t digest(const XFixesCursorImage *image) {
  uint64_t hash = 1469598103934665603ULL;
  const unsigned long count = (unsigned long)image->width * image->height;
  for (unsigned long i = 0; i < count; ++i) {
    const uint32_t pixel = (uint32_t)image->pixels[i];
    for (int byte = 0; byte < 4; ++byte) {
      hash ^= (pixel >> (8 * byte)) & 0xffu;
      hash *= 1099511628211ULL;
    }
  }
  return hash;
}

int main(int argc, char **argv) {
  Display *display = XOpenDisplay(NULL);
  int eventBase = 0, errorBase = 0;
  if (display == NULL || !XFixesQueryExtension(display, &eventBase, &errorBase)) {
    fprintf(stderr, "cursor_probe: no display, or no XFIXES extension on it\n");
    return 2;
  }
  const Window root = DefaultRootWindow(display);
  if (argc == 2 && strcmp(argv[1], "watch") == 0) {
    XSetWindowAttributes attributes;
    XEvent event;
    attributes.override_redirect = True;
    attributes.cursor = XCreateFontCursor(display, XC_watch);
    attributes.event_mask = StructureNotifyMask;
    const Window own =
        XCreateWindow(display, root, 0, 0, kProbeSide, kProbeSide, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWCursor | CWEventMask, &attributes);
    XMapRaised(display, own);
    /* The pointer shows a window's cursor only once the window is mapped. */
    do {
      XWindowEvent(display, own, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
    XWarpPointer(display, None, own, 0, 0, 0, 0, kProbeSide / 2, kProbeSide / 2);
  } else if (argc == 3) {
    XWarpPointer(display, None, root, 0, 0, 0, 0, atoi(argv[1]), atoi(argv[2]));
  } else {
    fprintf(stderr, "usage: cursor_probe X Y | cursor_probe watch\n");
    return 2;
  }
  XSync(display, False);
  XFixesCursorImage *image = XFixesGetCursorImage(display);
  if (image == NULL) {
    fprintf(stderr, "cursor_probe: the cursor image cannot be read\n");
    return 2;
  }
  printf("%ux%u hot %u,%u pixels %016llx\n", image->width, image->height, image->xhot, image->yhot,
         (unsigned long long)digest(image));
  XFree(image);
  XCloseDisplay(display);
  return 0;
}
