/*
 * record.c - a shared library for the registry's tests.  Each of its entry
 * points reports its call to the host through the first entry of the core
 * function table that _VeloInit received; the test program puts its
 * recording function there.  The address of `self` tells the test which
 * loaded file made the call, since the test loads copies of this library.
 */
#include <stddef.h>

typedef void (*HostFunc)(void);
/* The shape of the test's recording function. */
typedef void (*Recorder)(const char *event, const void *self, void *table, void *handle);

static HostFunc *core;
static const char self;

static void report(const char *event, void *table, void *handle) {
  if (core != NULL && core[0] != NULL) ((Recorder)core[0])(event, &self, table, handle);
}

int _VeloInit(HostFunc *table) {
  core = table;
  report("init", table, NULL);
  return 0;
}

int _VeloIInit(HostFunc *table, void *handle) {
  report("iinit", table, handle);
  return 0;
}

int _VeloITerm(void) {
  report("iterm", NULL, NULL);
  return 0;
}
