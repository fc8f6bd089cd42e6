/*
 * command_line.cc - velorix-setup driven from the command line.
 *
 * With --unattended the tool fills the form from options (form_options.h),
 * starting from the very values that the Setup window starts with, runs
 * the same installation as a session (session.h), tells each message on
 * standard error (terminal/report.h) and exits 0 when the installation
 * ended, 1 when a message stopped it.  --dry-run runs the procedure
 * against a scratch copy of the settings file and prints what it would do;
 * --check compares the directory with what it would make of it.
 * --verify compares the installed files with the record the last
 * installation left, and --remove removes them by it.  No X display is
 * opened.  --text hands the form to the terminal's questions, and without
 * any of these the window is to open, its form preset.
 */
#include "command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "actions.h"
#include "real_actions.h"
#include "plan_report.h"
#include "planner.h"
#include "differences.h"
#include "form.h"
#include "form_options.h"
#include "install_record.h"
#include "record_verify.h"
#include "options.h"
#include "questions.h"
#include "removal.h"
#include "report.h"
#include "session.h"
#include "site_defaults.h"
#include "text_setup.h"

namespace {

// The runs without a window, the first given naming the run in messages.
constexpr const char *kWindowlessRuns[] = {"--help",       "--version", "--verify", "--remove",
                                           "--unattended", "--dry-run", "--check"};
// What --remove goes with; --verify goes with nothing.
constexpr const char *kRemoveGoesWith[] = {"--remove", "--dry-run", "--text", "--log"};

// --diff=full: every line of a file that is not there yet.
constexpr const char *kFullDiff = "full";

// Alone on the command line, prints CompletionTable() for the shell's
// completion (packaging/velorix-setup.bash-completion); no option of
// getopt_long's table, so that it makes no abbreviation ambiguous.
constexpr const char *kCompletionTable = "--completion-table";

constexpr const char *kFullTakesTheDirectory =
    "  --full takes the current directory as the VELORIX directory unless --kernel is given";

// Prints a line of a plan or a check on standard output, with the bytes
// that are not text escaped: a value or a file may hold any.
void printLine(const std::string &line) { std::printf("%s\n", Printable(line).c_str()); }

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
int dryRun(const Windowless &run, DiffDetail diffs, int keepBackups, bool keepChanged,
           const std::string &siteDefaults) {
  Planner planner(diffs, Planner::Compile::kNo);
  planner.keepBackups(keepBackups);
  planner.keepChanged(keepChanged);
  const SessionResult result = runSession(run, planner);
  if (result.end == SessionEnd::kStopped || result.end == SessionEnd::kEnded) {
    for (const std::string &entry : PlanLines(planner.plan()))
      printLine(entry);
    if (result.end == SessionEnd::kEnded && !siteDefaults.empty() &&
        !SiteDefaultsHold(siteDefaults, run.form))
      printLine("write " + siteDefaults + " (rw-r--r--), the site defaults");
    if (result.end == SessionEnd::kEnded) std::printf("end\n");
  }
  return InstallStatus(result);
}

// Prints what --check says of site defaults that --save-site-defaults
// would change, as of a file of the installation: missing (with diffs, its
// size as a new file), or differing.
void printSiteDefaultsChange(const std::string &path, const InstallForm &form, bool diffs) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    printLine(path + ": not the site defaults this installation saves");
    return;
  }
  printLine(path + ": missing");
  if (!diffs) return;
  const std::string text = SiteDefaultsText(form);
  const auto lines = std::count(text.begin(), text.end(), '\n');
  printLine(path + ": new file, " + std::to_string(lines) + (lines == 1 ? " line" : " lines"));
}

// The directory against what an installation of form would make of it;
// one line per difference on standard output, each followed by what would
// change when diffs are asked for.  As diff(1): 0 the same, 1 different,
// 2 not known, for a procedure that stopped cannot say what it would
// leave, and a check whose log was lost is not all known.
int check(const Windowless &run, DiffDetail diffs, int keepBackups, bool keepChanged) {
  Planner planner(diffs, Planner::Compile::kToKnow);
  planner.keepBackups(keepBackups);
  planner.keepChanged(keepChanged);
  const SessionResult result = runSession(run, planner);
  if (result.end != SessionEnd::kEnded) return kExitTrouble;
  const std::vector<Difference> differences = PlanDifferences(planner.plan());
  for (const Difference &difference : differences) {
    printLine(difference.line);
    if (!difference.diff.empty()) printLine(difference.diff);
  }
  if (!differences.empty()) return kExitStopped;
  return result.logLost ? kExitTrouble : kExitDone;
}

// An installation, its summary on standard output.
int install(const Windowless &run, int keepBackups, bool keepChanged) {
  RealActions real;
  real.keepBackups(keepBackups);
  real.keepChanged(keepChanged);
  const SessionResult result = runSession(run, real);
  std::fputs(result.summary.c_str(), stdout);
  return InstallStatus(result);
}

std::string currentDirectory() {
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  return error ? std::string(".") : here;
}

// The installed files against the record of them, one line per file
// that differs, as rpm -V prints them, and one line when all hold unless
// quiet: 0 when all hold, 1 when not, 2 when there is no record to
// compare with.
int verify(bool quiet) {
  MessagePrinter printer;
  const std::string here = currentDirectory();
  std::optional<InstallRecord> record;
  if (Result read = ReadInstallRecord(here, &record); !read.ok()) {
    printer.print(read);
    return kExitTrouble;
  }
  if (!record) {
    printer.print("There is no record of an installation in the directory '" + here + "' (./" +
                      kRecordName + "): nothing to verify.",
                  {here});
    return kExitTrouble;
  }
  const std::vector<VerifyFinding> findings = VerifyInstallation(*record);
  for (const VerifyFinding &finding : findings)
    printLine(VerifyLine(finding));
  if (findings.empty() && !quiet) {
    const std::size_t count = record->entries().size();
    printLine("All " + std::to_string(count) + (count == 1 ? " file" : " files") +
              " of the installation in " + here + " are as written.");
  }
  return findings.empty() ? kExitDone : kExitStopped;
}

// The lines of a removal: one per file, then what it came to.
void printRemoval(const RemovalPlan &plan, bool done, LogFile *log) {
  int removed = 0, kept = 0;
  for (const RemovalStep &step : plan.steps) {
    const std::string line = RemovalLine(step, done);
    std::printf("%s\n", line.c_str());
    if (log != nullptr) log->write(line);
    removed += step.kind == RemovalStep::Kind::kRemove;
    kept += step.kind != RemovalStep::Kind::kRemove && step.kind != RemovalStep::Kind::kGone &&
            step.kind != RemovalStep::Kind::kStays;
  }
  std::string outcome =
      !plan.recorded
          ? "There is no record of an installation in " + plan.directory + " (./" + kRecordName +
                "): nothing to remove."
          : (done ? "Removed the installation in " : "The installation in ") + plan.directory +
                ": " + std::to_string(removed) + (done ? " files removed" : " files would go") +
                (kept > 0 ? ", " + std::to_string(kept) + (done ? " kept." : " would stay.") : ".");
  std::printf("%s\n", outcome.c_str());
  if (log != nullptr) log->write("outcome: " + outcome);
}

// Removes the installation in the current directory by its record (with
// dryRun: says what would go and stay); with ask, asks first.  0 when
// every file went (or there was nothing to remove), 1 when some were kept
// or the user said no, 2 when it could not be done.
int removeInstallation(const CommandLine &line, const RunContext &context) {
  MessagePrinter printer;
  const bool dry = line.has("--dry-run");
  const std::string here = currentDirectory();
  std::optional<LogFile> log;
  if (line.hasValue("--log")) {
    log.emplace(line.value("--log"));
    char when[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
    log->write(std::string("=== ") + when + " " + context.version + ", " +
               (dry ? "dry run of --remove" : "remove") + ": working directory " + here);
    log->write("  command line: " + context.commandLine);
    if (!log->ok()) {
      printer.print(log->close());
      return kExitTrouble;
    }
  }
  const auto closed = [&](int status) -> int {
    if (log) {
      const Result result = log->close();
      printer.print(result);
      if (!result.ok()) return kExitTrouble;
    }
    return status;
  };
  RemovalPlan plan;
  if (dry || line.has("--text")) {
    if (Result planned = PlanRemoval(here, &plan); !planned.ok()) {
      printer.print(planned);
      return closed(kExitTrouble);
    }
    if (dry || !plan.recorded) {
      printRemoval(plan, false, log ? &*log : nullptr);
      return closed(plan.removesAll() ? kExitDone : kExitStopped);
    }
    for (const RemovalStep &step : plan.steps)
      std::printf("%s\n", RemovalLine(step, false).c_str());
    if (!AskYesNo("Remove the installation in " + here + " as above? [y/N] ", false)) {
      std::printf("Nothing was removed.\n");
      return closed(kExitStopped);
    }
  }
  const Result removed = RemoveInstallation(here, &plan);
  if (!removed.ok()) {
    for (const RemovalStep &step : plan.steps) {
      if (step.kind == RemovalStep::Kind::kRemove && log) log->write(RemovalLine(step, true));
    }
    printer.print(removed);
    if (log) log->write("outcome: stopped: " + removed.message());
    return closed(kExitTrouble);
  }
  printRemoval(plan, true, log ? &*log : nullptr);
  return closed(plan.removesAll() ? kExitDone : kExitStopped);
}

// Whether --changed-files says keep, or a refusal.
Result keptChanged(const CommandLine &line, bool *keep) {
  *keep = false;
  if (!line.hasValue("--changed-files")) return {};
  const std::string text = line.value("--changed-files");
  if (text != "take" && text != "keep")
    return Result::Failed(Fault::kRefused,
                          "--changed-files takes take or keep, not '" + text + "'");
  *keep = text == "keep";
  return {};
}

// The number of --keep-backups, or a refusal.
Result keptBackups(const CommandLine &line, int *count) {
  *count = kDefaultSettingsBackups;
  if (!line.hasValue("--keep-backups")) return {};
  const std::string text = line.value("--keep-backups");
  char *end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == '-' || text[0] == '+' || number < 0 ||
      number > kMaxSettingsBackups) {
    return Result::Failed(Fault::kRefused, "--keep-backups takes a number from 0 to " +
                                               std::to_string(kMaxSettingsBackups) + ", not '" +
                                               text + "'");
  }
  *count = static_cast<int>(number);
  return {};
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
  if (line.has("--quiet") && !line.has("--verify"))
    return finish(BadOptions("--quiet goes with --verify"));
  if (line.has("--verify")) {
    const bool quiet = line.has("--quiet");
    if (line.values.size() + line.flags.size() > 1u + quiet)
      return finish(BadOptions("--verify compares the directory with its record: it takes no "
                               "other option than --quiet"));
    return finish(verify(quiet));
  }
  if (line.has("--remove")) {
    for (const auto &[name, value] : line.values) {
      if (std::find(std::begin(kRemoveGoesWith), std::end(kRemoveGoesWith), name) ==
          std::end(kRemoveGoesWith))
        return finish(
            BadOptions("--remove goes only with --dry-run, --text and --log, not " + name));
    }
    for (const auto &[name, given] : line.flags) {
      if (std::find(std::begin(kRemoveGoesWith), std::end(kRemoveGoesWith), name) ==
          std::end(kRemoveGoesWith))
        return finish(
            BadOptions("--remove goes only with --dry-run, --text and --log, not " + name));
    }
    if (line.has("--dry-run") && line.has("--text"))
      return finish(BadOptions("--text asks before removing: it excludes --dry-run"));
    return finish(
        removeInstallation(line, {VersionLine(), QuotedCommandLine(argc, argv), std::string()}));
  }
  int keepBackups = kDefaultSettingsBackups;
  if (Result counted = keptBackups(line, &keepBackups); !counted.ok())
    return finish(BadOptions(counted.message()));
  bool keepChanged = false;
  if (Result told = keptChanged(line, &keepChanged); !told.ok())
    return finish(BadOptions(told.message()));
  const int modes = line.has("--unattended") + line.has("--dry-run") + line.has("--check");
  if (line.hasValue("--changed-files") && modes == 0)
    return finish(BadOptions("--changed-files goes with --unattended, --dry-run or --check; "
                             "--text asks about each file"));
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
  const bool saveSiteDefaults = line.has("--save-site-defaults");
  // They are the starting values of every user of the host.
  if (saveSiteDefaults && geteuid() != 0)
    return finish(BadOptions(std::string("--save-site-defaults writes ") + kSiteDefaultsFile +
                             ", for every user of this host: only root may"));
  const std::string siteDefaults = saveSiteDefaults ? kSiteDefaultsFile : "";
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
    run.window.saveSiteDefaults = siteDefaults;
    run.window.log = path("--log");
    run.window.chooseDirectory = line.has("--choose-directory");
    run.window.context = context;
    run.window.keepBackups = keepBackups;
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
  if (saveSiteDefaults && !form.full)
    return finish(BadOptions("--save-site-defaults saves the values of a Full installation: "
                             "it goes with --full"));
  // What the run is compared with, or planned from, starts there.
  if ((check || dry) && !form.siteDefaults.empty())
    printer.print(Result::Notice("The form starts from the site defaults " + form.siteDefaults +
                                 " (answer files and options win over them)."));
  const DiffDetail diffs = !line.has("--diff")       ? DiffDetail::kNone
                           : line.hasValue("--diff") ? DiffDetail::kFull
                                                     : DiffDetail::kSized;
  const Windowless each{form,
                        {check ? "check"
                         : dry ? "dry run"
                               : "unattended",
                         line.value("--save-answers"), check || dry ? "" : siteDefaults,
                         line.value("--log"), context},
                        printer,
                        line.hasValue("--kernel") || line.hasValue("--answers")};
  int status;
  if (check) {
    status = ::check(each, diffs, keepBackups, keepChanged);
    if (status != kExitTrouble && !siteDefaults.empty() && !SiteDefaultsHold(siteDefaults, form)) {
      printSiteDefaultsChange(siteDefaults, form, diffs != DiffDetail::kNone);
      status = kExitStopped;
    }
  } else if (dry) {
    status = dryRun(each, diffs, keepBackups, keepChanged, siteDefaults);
  } else {
    status = install(each, keepBackups, keepChanged);
  }
  std::fflush(stdout);
  return finish(status);
}

