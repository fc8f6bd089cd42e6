/*
 * command_line.cc - velorix-setup driven from the command line.
 *
 * With --unattended the tool fills the form from options (form_options.h),
 * starting from the very values that the Setup window starts with, runs
 * the same installation as a session (session.h), tells each message on
 * standard error (terminal/report.h) and exits 0 when the installation
 * ended, 1 when a message stopped it.  --dry-run runs the procedure
 * against a scratch copy of the settings file and prints what it would do;
 * --check compares the directory with what it would make of it.  No X
 * display is opened.  --text hands the form to the terminal's questions,
 * and without any of these the window is to open, its form preset.
 */
#include "command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "actions.h"
#include "check_actions.h"
#include "form.h"
#include "form_options.h"
#include "options.h"
#include "report.h"
#include "session.h"
#include "text_setup.h"

namespace {

// The runs without a window, the first given naming the run in messages.
constexpr const char *kWindowlessRuns[] = {"--help", "--version", "--unattended", "--dry-run",
                                           "--check"};

// --diff=full: every line of a file that is not there yet.
constexpr const char *kFullDiff = "full";

// Alone on the command line, prints CompletionTable() for the shell's
// completion (packaging/velorix-setup.bash-completion); no option of
// getopt_long's table, so that it makes no abbreviation ambiguous.
constexpr const char *kCompletionTable = "--completion-table";

constexpr const char *kFullTakesTheDirectory =
    "  --full takes the current directory as the VELORIX directory unless --kernel is given";

std::string absolute(const std::string &path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.lexically_normal().string();
}

// Says, after a Full installation whose product directory came from
// --full stopped over it, that it was most often run outside the product
// directory.
void explainStop(const InstallForm &form, const SessionResult &result, bool kernelGiven,
                 const PrintingActions &printing) {
  const std::vector<Field> &fields = printing.lastFields();
  if (result.end == SessionEnd::kStopped && form.full && !kernelGiven &&
      std::find(fields.begin(), fields.end(), Field::kKernel) != fields.end())
    std::fprintf(stderr, "%s\n", kFullTakesTheDirectory);
}

// A run without the window: its form, the session it asks for, and who
// prints its messages.
struct Windowless {
  const InstallForm &form;
  SessionRequest request;
  MessagePrinter &printer;
  bool kernelGiven;  // the product directory came from --kernel or an answer file
};

// Runs the form through actions, each message printed; what the session
// came to.
SessionResult runSession(const Windowless &run, Actions &actions) {
  PrintingActions printing(actions, run.printer);
  SessionResult result = RunSession(run.form, printing, run.request);
  explainStop(run.form, result, run.kernelGiven, printing);
  return result;
}

// The procedure against a scratch settings file in a directory of its
// own; plan lines (and with diffs, what each would change) go to standard
// output.
int dryRun(const Windowless &run, DiffDetail diffs) {
  PlanActions plan(diffs);
  const SessionResult result = runSession(run, plan);
  if (result.end == SessionEnd::kStopped || result.end == SessionEnd::kEnded) {
    for (const std::string &entry : plan.lines())
      std::printf("%s\n", entry.c_str());
    if (result.end == SessionEnd::kEnded) std::printf("end\n");
  }
  return InstallStatus(result);
}

// The directory against what an installation of form would make of it;
// one line per difference on standard output, each followed by what would
// change when diffs are asked for.  As diff(1): 0 the same, 1 different,
// 2 not known, for a procedure that stopped cannot say what it would
// leave, and a check whose log was lost is not all known.
int check(const Windowless &run, DiffDetail diffs) {
  CheckActions check(diffs);
  const SessionResult result = runSession(run, check);
  if (result.end != SessionEnd::kEnded) return kExitTrouble;
  for (std::size_t i = 0; i < check.differences().size(); ++i) {
    std::printf("%s\n", check.differences()[i].c_str());
    if (!check.diffs()[i].empty()) std::printf("%s\n", check.diffs()[i].c_str());
  }
  if (!check.differences().empty()) return kExitStopped;
  return result.logLost ? kExitTrouble : kExitDone;
}

// An installation, its summary on standard output.
int install(const Windowless &run) {
  RealActions real;
  const SessionResult result = runSession(run, real);
  std::fputs(result.summary.c_str(), stdout);
  return InstallStatus(result);
}

// Prints the notices of the form.
void printNotices(MessagePrinter &printer, const std::vector<Result> &notices) {
  for (const Result &notice : notices)
    printer.print(notice);
}

}  // namespace

CommandLineRun RunCommandLine(int argc, char **argv) {
  CommandLineRun run;
  auto finish = [&run](int status) {
    run.status = status;
    return run;
  };
  if (argc == 2 && std::strcmp(argv[1], kCompletionTable) == 0) {
    std::fputs(CompletionTable().c_str(), stdout);
    return finish(kExitDone);
  }
  CommandLine line;
  if (Result parsed = ParseCommandLine(argc, argv, &line); !parsed.ok())
    return finish(BadOptions(parsed.message()));
  const char *windowless = nullptr;
  for (const char *name : kWindowlessRuns) {
    if (windowless == nullptr && line.has(name)) windowless = name;
  }
  // A word before any X option is no option's value.
  if (!line.others.empty() && (windowless != nullptr || !IsOption(line.others.front()))) {
    const std::string first = line.others.front();
    if (!IsOption(first.c_str())) return finish(BadOptions("unexpected argument '" + first + "'"));
    return finish(BadOptions("unknown option '" + first +
                             "': X options are for the window, which " + windowless +
                             " does not open"));
  }
  if (windowless != nullptr && line.has("--choose-directory"))
    return finish(BadOptions(std::string("--choose-directory is for the window, which ") +
                             windowless + " does not open"));
  if (line.has("--help")) {
    std::fputs(UsageText().c_str(), stdout);
    return finish(kExitDone);
  }
  if (line.has("--version")) {
    std::printf("%s\n", VersionLine().c_str());
    return finish(kExitDone);
  }
  const int modes = line.has("--unattended") + line.has("--dry-run") + line.has("--check");
  if (line.has("--check") && modes > 1)
    return finish(BadOptions("--check excludes --unattended and --dry-run"));
  if (line.has("--diff") && !line.has("--check") && !line.has("--dry-run"))
    return finish(BadOptions("--diff goes with --check or --dry-run"));
  if (line.hasValue("--diff") && line.value("--diff") != kFullDiff)
    return finish(
        BadOptions("option --diff takes no value or =full, not '" + line.value("--diff") + "'"));
  if (line.has("--text") && (modes > 0 || !line.others.empty() || line.has("--choose-directory")))
    return finish(BadOptions("--text asks in the terminal: it excludes --unattended, --dry-run, "
                             "--check, --choose-directory and the X options"));
  const RunContext context{VersionLine(), QuotedCommandLine(argc, argv),
                           line.hasValue("--answers") ? absolute(line.value("--answers")) : ""};

  if (modes == 0) {
    // The window (or the terminal's questions), its X options for the
    // toolkit, and the form preset.
    run.x.toolkitArgv.push_back(argv[0]);
    run.x.toolkitArgv.insert(run.x.toolkitArgv.end(), line.others.begin(), line.others.end());
    run.x.toolkitArgv.push_back(nullptr);
    if (line.setsForm()) {
      InstallForm form;
      std::vector<Result> notices;
      if (Result built = FormFromCommandLine(line, false, &form, &notices); !built.ok())
        return finish(BadOptions(built.message()));
      if (Result checked = CheckFields(form); !checked.ok()) {
        MessagePrinter printer;
        printer.print(checked);
        return finish(kExitTrouble);
      }
      MessagePrinter printer;
      printNotices(printer, notices);
      run.window.preset = form;
    }
    // Absolute: the directory chooser may move the working directory.
    const auto path = [&line](const char *name) {
      return line.hasValue(name) ? absolute(line.value(name)) : std::string();
    };
    run.window.saveAnswers = path("--save-answers");
    run.window.log = path("--log");
    run.window.chooseDirectory = line.has("--choose-directory");
    run.window.context = context;
    if (line.has("--text")) return finish(RunTextSetup(run.window));
    run.openWindow = true;
    return run;
  }

  MessagePrinter printer;
  InstallForm form;
  std::vector<Result> notices;
  if (Result built = FormFromCommandLine(line, true, &form, &notices); !built.ok())
    return finish(BadOptions(built.message()));
  printNotices(printer, notices);
  if (Result checked = CheckFields(form); !checked.ok()) {
    printer.print(checked);
    return finish(kExitTrouble);
  }
  const bool check = line.has("--check");
  const bool dry = line.has("--dry-run");
  const DiffDetail diffs = !line.has("--diff")       ? DiffDetail::kNone
                           : line.hasValue("--diff") ? DiffDetail::kFull
                                                     : DiffDetail::kSized;
  const Windowless each{form,
                        {check ? "check" : dry ? "dry run" : "unattended",
                         line.value("--save-answers"), line.value("--log"), context},
                        printer,
                        line.hasValue("--kernel") || line.hasValue("--answers")};
  int status;
  if (check) {
    status = ::check(each, diffs);
  } else if (dry) {
    status = dryRun(each, diffs);
  } else {
    status = install(each);
  }
  std::fflush(stdout);
  return finish(status);
}
