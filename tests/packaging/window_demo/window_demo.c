/*
 * window_demo.c - a Vibrant program of the kind the analysis program is,
 * built against an installed support library: Vibrant's main starts it
 * and calls Nlm_Main, and it uses the library's settings, string and GUI
 * parts, among them the event helper that calls Xt itself.  Run it in a directory holding
 * ./.velorixrc with [Demo] NAME, under an X server.  It prints name: <[Demo] NAME> trimmed:
 * [<text>] width: <pixels of the widest line of this directory's lines.txt>
 */
#include <stdio.h>

#include "utility.h"

Nlm_Int2 Nlm_Main(void) {
  char text[] = " \t padded text \r\n";
  char name[VX_PARBUF_SIZE] = "(missing)";
  /* The result lives in ParBuf, which later calls may reuse. */
  if (GetParam("Demo", "NAME") != NULL) snprintf(name, sizeof name, "%s", ParBuf);
  FILE *lines = fopen("lines.txt", "w");
  if (lines == NULL) return 1;
  fputs("short\na longer line of text\n", lines);
  if (fclose(lines) != 0) return 1;
  printf("name: %s\n", name);
  printf("trimmed: [%s]\n", StrTrim(text));
  printf("width: %d\n", (int)FileLineMaxWidth("lines.txt"));
  while (myProcessAnyEvent()) {
  }
  return 0;
}
