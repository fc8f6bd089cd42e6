/*
 * startup_timer.c - times a GUI program from exec to the mapping of its
 * window.
 *
 *   startup_timer RUNS TITLE PROGRAM [ARGS...]
 *
 * For each run: a fresh temporary directory, the clock read, fork and exec
 * of PROGRAM there; the time is taken when the X server reports the
 * mapping (MapNotify on the root window) of a top-level window named
 * TITLE.  Without a window manager a mapped child of the root is viewable
 * at once.  The program is then killed and the directory removed.  Prints
 * one line per run and the median, in milliseconds.
 */
#define _DEFAULT_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxRuns = 1000, kTimeoutSeconds = 30 };

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int compare(const void *a, const void *b) {
  const double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

/* True when window carries the name title. */
static int named(Display *display, Window window, const char *title) {
  char *name = NULL;
  int same = 0;
  if (XFetchName(display, window, &name) && name != NULL) {
    same = strcmp(name, title) == 0;
    XFree(name);
  }
  return same;
}

/* Waits for the mapping of a window named title; the time of it, or a
 * negative number after kTimeoutSeconds. */
static double wait_for_map(Display *display, const char *title) {
  const int fd = ConnectionNumber(display);
  const double deadline = now_ms() + kTimeoutSeconds * 1e3;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect) {
        const double at = now_ms();
        if (named(display, event.xmap.window, title)) return at;
      }
    }
    const double left = deadline - now_ms();
    if (left <= 0) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval wait = {(time_t)(left / 1e3), (suseconds_t)((long)left % 1000 * 1000)};
    if (select(fd + 1, &set, NULL, NULL, &wait) < 0 && errno != EINTR) return -1;
  }
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s RUNS TITLE PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const int runs = atoi(argv[1]);
  if (runs < 1 || runs > kMaxRuns) {
    fprintf(stderr, "startup_timer: RUNS must be 1 to %d\n", kMaxRuns);
    return 2;
  }
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "startup_timer: cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, True);

  static double times[kMaxRuns];
  for (int run = 0; run < runs; ++run) {
    char dir[] = "/tmp/velorix-startup-XXXXXX";
    if (mkdtemp(dir) == NULL) {
      perror("mkdtemp");
      return 1;
    }
    XSync(display, True);
    const double start = now_ms();
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir) != 0) _exit(127);
      execv(argv[3], argv + 3);
      _exit(127);
    }
    if (child < 0) {
      perror("fork");
      return 1;
    }
    const double mapped = wait_for_map(display, argv[2]);
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    char remove[sizeof dir + 16];
    snprintf(remove, sizeof remove, "rm -rf %s", dir);
    if (system(remove) != 0) fprintf(stderr, "startup_timer: could not remove %s\n", dir);
    if (mapped < 0) {
      fprintf(stderr, "startup_timer: no window named '%s' appeared\n", argv[2]);
      return 1;
    }
    times[run] = mapped - start;
    printf("run %d: %.1f ms\n", run + 1, times[run]);
  }
  qsort(times, (size_t)runs, sizeof times[0], compare);
  const double median = runs % 2 ? times[runs / 2] : (times[runs / 2 - 1] + times[runs / 2]) / 2;
  printf("median_ms %.2f\n", median);
  XCloseDisplay(display);
  return 0;
}
