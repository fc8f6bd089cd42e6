/*
 * second_display_refused.c - a preloaded library that lets a program open
 * the X display once and refuses every later XOpenDisplay, as a server
 * that goes away or turns clients away between two connections would.
 *
 * For the start of the Setup window: its display check opens the display
 * first, the GUI toolkit's start-up then opens its own.  Each call is
 * noted, "opened" or "refused", one line each, in the file that
 * VX_DISPLAY_OPENS names, so that a test knows the check got through.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <X11/Xlib.h>

static int opened = 0;

static void note(const char *what) {
  const char *path = getenv("VX_DISPLAY_OPENS");
  FILE *record = path != NULL ? fopen(path, "a") : NULL;
  if (record == NULL) return;
  fprintf(record, "%s\n", what);
  fclose(record);
}

/* The X library's own XOpenDisplay.  The tool loads the X library with its
 * window module, out of the global scope (RTLD_LOCAL), where RTLD_NEXT
 * does not look: the library is asked by name. */
Display *XOpenDisplay(const char *name) {
  typedef Display *(*OpenFunction)(const char *);
  void *x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  OpenFunction real = x11 != NULL ? (OpenFunction)dlsym(x11, "XOpenDisplay") : NULL;
  Display *display = real != NULL && opened++ == 0 ? real(name) : NULL;
  note(display != NULL ? "opened" : "refused");
  return display;
}
