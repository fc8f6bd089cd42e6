/*
 * c_api.c - the support library called from plain C.
 *
 * The analysis program is C, so utility.h must compile as C11 and its
 * GetParam and Warning macros must build the tagged argument lists from
 * ordinary C arguments.  This program works in a fresh directory of its
 * own with a small ./.velorixrc, calls one operation of each concern by
 * its plain name, and exits non-zero naming every check that failed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "utility.h"

/* Room for the last message box text. */
#define SHOWN_SIZE 600

static char shown[SHOWN_SIZE];
static int shownCount;
static int failures;

static MsgAnswer LIBCALLBACK capture(MsgKey key, ErrSev sev, const char *caption,
                                     const char *message) {
  (void)key;
  (void)sev;
  (void)caption;
  snprintf(shown, sizeof shown, "%s", message != NULL ? message : "");
  ++shownCount;
  return ANS_OK;
}

static void check(int ok, const char *what, const char *got) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s (got '%s')\n", what, got != NULL ? got : "(null)");
    ++failures;
  }
}

static void checkText(const char *got, const char *expected, const char *what) {
  check(got != NULL && strcmp(got, expected) == 0, what, got);
}

static int writeFile(const char *name, const char *text) {
  FILE *file = fopen(name, "w");
  if (file == NULL) return 0;
  fputs(text, file);
  return fclose(file) == 0;
}

int main(void) {
  char dir[] = "c-api-XXXXXX";
  char trimmed[] = " \t padded \r\n";
  short shortArg = 26;

  if (mkdtemp(dir) == NULL || chdir(dir) != 0) {
    perror("scratch directory");
    return 1;
  }
  if (!writeFile(
          ".velorixrc",
          "[Paths]\nKERNEL=/opt/velorix/\n"
          "[Files]\nFORMAT=velo%04x\n"
          "[Libraries]\nFORMAT=$(Paths.KERNEL)%s$(Extensions.LIB)\n"
          "[Extensions]\nLIB=.so\n"
          "[KernelErrors]\n"
          "TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference to undefined value\n") ||
      !writeFile("classes.vel", "&hierarchy\nvelorix lorenz\n")) {
    perror("settings file");
    return 1;
  }
  SettingsReload();
  Nlm_SetMessageHook(capture);

  checkText(GetParam("Paths", "KERNEL"), "/opt/velorix/", "GetParam without arguments");
  checkText(GetParam("Files", "FORMAT", 26), "velo001a", "GetParam with an int");
  checkText(GetParam("Files", "FORMAT", shortArg), "velo001a", "GetParam with a short");
  checkText(GetParam("Files", "FORMAT", 26UL), "velo001a", "GetParam with an unsigned long");
  check(GetParam("Files", "FORMAT", "text") == NULL, "GetParam refuses a string for %04x", ParBuf);
  checkText(GetParamString("Files", "FORMAT"), "velo%04x", "GetParamString");

  shownCount = 0;
  check(Warning("TRANSLN", "a", "b", "c") == TRUE, "Warning result", NULL);
  checkText(shown,
            "Settings file 'a',\nsection 'b',\nkey 'c'\ncontains a reference to undefined value",
            "Warning text");
  check(shownCount == 1, "Warning shows one message", shown);

  checkText(StrTrim(trimmed), "padded", "StrTrim");

  check(DescOpen("./classes.vel") == TRUE, "DescOpen of an existing file", NULL);
  DescClose();

  shownCount = 0;
  check(LibraryLock("NOSUCHKEY") == NULL, "LibraryLock of a missing key", NULL);
  check(shownCount > 0, "LibraryLock reports a missing key", shown);

  if (chdir("..") != 0) perror("chdir");
  if (failures == 0) {
    /* Leave nothing behind when all went well. */
    char command[sizeof dir + 16];
    snprintf(command, sizeof command, "rm -rf %s", dir);
    if (system(command) != 0) fprintf(stderr, "could not remove %s\n", dir);
  }
  printf("%s\n", failures == 0 ? "all C interface checks passed" : "C interface checks failed");
  return failures == 0 ? 0 : 1;
}
