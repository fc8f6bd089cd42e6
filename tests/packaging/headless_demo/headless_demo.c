/*
 * headless_demo.c - a program without a display, written the toolkit's
 * way: the core library's main starts it and calls Nlm_Main.  Built
 * against the installed support library's core face, which brings no
 * Vibrant, Motif or X.  Run it in a directory holding ./.velorixrc with
 * [Demo] NAME; it prints
 *   name: <[Demo] NAME, its references expanded>
 *   trimmed: [<a padded text, trimmed>]
 */
#include <stdio.h>

#include "utility.h"

Nlm_Int2 Nlm_Main(void) {
  char text[] = " \t padded text \r\n";
  const char *name = GetParam("Demo", "NAME");
  printf("name: %s\n", name != NULL ? name : "(missing)");
  printf("trimmed: [%s]\n", StrTrim(text));
  return name != NULL ? 0 : 1;
}
