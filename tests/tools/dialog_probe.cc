/*
 * dialog_probe.cc - a tiny Vibrant program for the GUI tests of the file
 * dialog wrappers and of myProcessAnyEvent.
 *
 * Each argument names one step, run in order; every step prints one line
 * to standard output (flushed at once, the test reads it as it comes):
 *   events   "idle <result> <ms>" for a call with nothing pending, then
 *            "timer <result> <fired> <ms>" for a call with a due timer;
 *   input    "input <result> <name>" after myGetInputFileName;
 *   output   "output <result> <name>" after myGetOutputFileName;
 * the dialogs belong to a small window titled "Dialog probe";
 * and every step is followed by "cwd <working directory>".  A line
 * "ready <step>" goes out just before each dialog opens.  "input@DIR" and
 * "output@DIR" change the working directory to DIR while the dialog is
 * open (printing "moved <result>"), as a GUI layer that follows the
 * user's browsing would; the wrapper must still put it back.
 */
// Xt before the toolkit: the other order clashes over Boolean.
#include <X11/Intrinsic.h>
#include <unistd.h>
#include <vibrant.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "utility.h"

// Declared in the toolkit's internal vibincld.h, which does not compile
// next to the public headers in C++.
extern "C" XtAppContext Nlm_appContext;

namespace {

constexpr std::size_t kNameSize = 1024;
// Upper bound on events handled while draining the start-up queue.
constexpr int kDrainLimit = 10000;
// Tries at catching a moment with nothing pending.
constexpr int kIdleAttempts = 5;

bool g_timerFired = false;

void TimerFired(XtPointer, XtIntervalId *) { g_timerFired = true; }

std::string g_moveTo;

void MoveDirectory(XtPointer, XtIntervalId *) {
  std::printf("moved %d\n", chdir(g_moveTo.c_str()) == 0 ? 1 : 0);
  std::fflush(stdout);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void PrintCwd() {
  char buf[kNameSize * 4];
  std::printf("cwd %s\n", getcwd(buf, sizeof buf) != nullptr ? buf : "?");
  std::fflush(stdout);
}

void Events() {
  // The toolkit runs a periodic timer of its own, which may fall due
  // between draining the queue and the measured call; try again then.
  auto start = std::chrono::steady_clock::now();
  Nlm_Boolean idle = TRUE;
  for (int attempt = 0; attempt < kIdleAttempts && idle; ++attempt) {
    for (int i = 0; i < kDrainLimit && myProcessAnyEvent(); ++i) {
    }
    start = std::chrono::steady_clock::now();
    idle = myProcessAnyEvent();
  }
  std::printf("idle %d %.3f\n", idle ? 1 : 0, MillisecondsSince(start));

  // A timer that is already due: it must run, and the call must not then
  // sit waiting for an X event that nobody sends.
  XtAppAddTimeOut(Nlm_appContext, 0, TimerFired, nullptr);
  usleep(20000);
  start = std::chrono::steady_clock::now();
  const Nlm_Boolean handled = myProcessAnyEvent();
  std::printf("timer %d %d %.3f\n", handled ? 1 : 0, g_timerFired ? 1 : 0,
              MillisecondsSince(start));
  std::fflush(stdout);
}

void Dialog(const std::string &step, const std::string &moveTo) {
  g_moveTo = moveTo;
  if (!moveTo.empty()) XtAppAddTimeOut(Nlm_appContext, 0, MoveDirectory, nullptr);
  char name[kNameSize];
  std::memset(name, 0, sizeof name);
  std::printf("ready %s\n", step.c_str());
  std::fflush(stdout);
  char filter[] = "";
  char proposed[] = "probe.out";
  const Nlm_Boolean chosen = step == "input" ? myGetInputFileName(name, sizeof name, filter)
                                             : myGetOutputFileName(name, sizeof name, proposed);
  std::printf("%s %d %s\n", step.c_str(), chosen ? 1 : 0, name);
  std::fflush(stdout);
}

}  // namespace

extern "C" Nlm_Int2 Nlm_Main(void) {
  const int argc = Nlm_GetArgc();
  char **argv = Nlm_GetArgv();
  // The file dialogs need a window of the program to belong to.
  char title[] = "Dialog probe";
  Nlm_WindoW window = Nlm_FixedWindow(-50, -33, -10, -10, title, nullptr);
  char label[] = "Probe";
  Nlm_StaticPrompt(window, label, 0, 0, Nlm_systemFont, 'l');
  Nlm_Show(window);
  Nlm_Update();
  PrintCwd();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t at = arg.find('@');
    const std::string step = arg.substr(0, at);
    if (step == "events") {
      Events();
    } else if (step == "input" || step == "output") {
      Dialog(step, at == std::string::npos ? "" : arg.substr(at + 1));
    } else {
      std::printf("unknown %s\n", step.c_str());
    }
    PrintCwd();
  }
  std::printf("done\n");
  std::fflush(stdout);
  return 0;
}
