/*
 * unattended.cc - velorix-setup driven from the command line.
 *
 * With --unattended the tool fills the installation record from options,
 * starting from the very values that the Setup window starts with, runs
 * the same installation procedure, prints each message to standard error
 * and exits 0 when the installation ended, 1 when a message stopped it.
 * A message keeps the window's wording; it is marked with the program's
 * name and followed by a line naming the path it is about and the option
 * that sets it, since there is no form beside it to look at.
 * --dry-run runs the procedure against a scratch copy of the settings file
 * and prints what it would do.  No X display is opened.
 */
#include "unattended.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "form_defaults.h"
#include "shell_detection.h"
#include "templates.h"
#include "tuning_fields.h"
#include "utility.h"
#include "velorix_version.h"
#include "actions.h"
#include "answers.h"
#include "check_actions.h"
#include "form_tables.h"
#include "message_route.h"
#include "record_actions.h"
#include "x_options.h"

namespace {

constexpr const char *kProgram = "velorix-setup";
constexpr const char *kShellPathTooLong =
    "The value of SHELL and the shell options together are too long for the\n"
    "compile script's first line.  Give it with --shell-path.";

// The defaults that the usage text names come from form_defaults.h, so
// that the text cannot go on naming a value the window no longer starts with.
std::string shown(const char *initial) {
  return *initial == '\0' ? std::string("empty") : "\"" + std::string(initial) + "\"";
}

std::string usage() {
  return std::string(
             "Usage: velorix-setup [X OPTION]...   open the Setup window (needs an X display)\n"
             "       velorix-setup --unattended [OPTION]...\n"
             "       velorix-setup --dry-run [OPTION]...\n"
             "       velorix-setup --check [OPTION]...\n"
             "       velorix-setup [OPTION]... [X OPTION]...  the window, its form preset\n"
             "       velorix-setup --help | --version\n"
             "\n"
             "Installs Velorix into the current directory without a display.  Every\n"
             "option stands for a control of the Setup window; what is not given has\n"
             "the value that the window starts with.\n"
             "\n"
             "  --unattended          install without the window\n"
             "  --dry-run             print what would be written, removed, compiled and\n"
             "                        stored, and change nothing (implies --unattended)\n"
             "  --check               compare the directory with what an installation\n"
             "                        would make of it, one line per difference, and\n"
             "                        change nothing: status 0 when all matches, 1 when not\n"
             "  --answers FILE        take the form's values from an answer file (the\n"
             "                        options given here win over it); without\n"
             "                        --unattended, open the window filled from it\n"
             "  --save-answers FILE   save the form's values as an answer file before\n"
             "                        installing (the window: when \"Setup\" is pressed)\n"
             "  --log FILE            append what each run does to FILE\n"
             "  --full | --user       installation kind (default: --user)\n"
             "  --kernel DIR          VELORIX directory (default for --full: the current\n"
             "                        directory; --user needs it)\n"
             "  --include TEXT        C compiler include options (default: ") +
         shown(kInitialInclude) +
         ")\n"
         "  --libs TEXT           C compiler libraries (default: " +
         shown(kInitialLibraries) +
         ")\n"
         "  --cpp-name TEXT       C++ compiler (default: " +
         shown(kInitialCppName) +
         ")\n"
         "  --cpp-options TEXT    C++ compiler options (default: " +
         shown(kInitialCppOptions) +
         ")\n"
         "  --printer TEXT        printer command (default from the settings template)\n"
         "  --previewer TEXT      PostScript previewer (default from the template)\n"
         "  --differentiator TEXT external differentiator (default from the template)\n"
         "  --shell-style csh|ksh style of the compile script (default: from SHELL\n"
         "                        and shells.vel, as the window detects it)\n"
         "  --shell-path TEXT     shell line of the compile script (default: SHELL and\n"
         "                        the style's options)\n"
         "  --notify              send the installation notice mail to the authors\n"
         "  -h, --help            print this text\n"
         "  --version             print the version\n"
         "\n"
         "An option's value is the next argument or follows \"=\" (--kernel=/opt/velorix).\n"
         "Messages go to standard error, one block each, followed by a line naming the\n"
         "path they are about and the option that sets it.\n"
         "\n"
         "X options of the window: -display NAME (the X display), -geometry GEOM (the\n"
         "Setup window's size and place, WIDTHxHEIGHT+X+Y), -xrm RESOURCE (an X\n"
         "resource line, \"velorix-setup*background: white\").\n"
         "\n"
         "Form options given without --unattended, --dry-run or --check preset the\n"
         "window.  An unattended installation ends with a short summary on standard\n"
         "output.\n"
         "\n"
         "Exit status: 0 installed (the window: the installation ended; --check: the\n"
         "directory matches), 1 stopped by a message (the window: \"Cancel\" or the close\n"
         "box) or, for --check, a difference found, 2 options or answer file not\n"
         "understood, 3 no X display for the window.\n";
}

// Options that take a value, and the form field that each sets: a field
// named as messages name it (form_tables.h), or a Tuning field by its
// Adjust record.
struct ValueOption {
  const char *name;
  int tuning;         // index into Adjust, or -1
  const char *field;  // NULL for a Tuning field
};
constexpr ValueOption kValueOptions[] = {
    {"--kernel", -1, kFieldKernel},
    {"--include", -1, kFieldInclude},
    {"--libs", -1, kFieldLibraries},
    {"--cpp-name", -1, kFieldCppName},
    {"--cpp-options", -1, kFieldCppOptions},
    {"--printer", 0, nullptr},
    {"--previewer", 1, nullptr},
    {"--differentiator", 2, nullptr},
    {"--shell-style", -1, kFieldShellStyle},
    {"--shell-path", -1, kFieldShellPath},
    {"--answers", -1, nullptr},
    {"--save-answers", -1, nullptr},
    {"--log", -1, nullptr},
};
constexpr const char *kFlagOptions[] = {"--unattended", "--dry-run", "--check", "--full",
                                        "--user",       "--notify",  "--help",  "--version"};
// The window's X options: kept apart, and handed to the toolkit.
constexpr const char *kXOptions[] = {"-display", "-geometry", "-xrm"};
// Options that set a value of the form.
constexpr const char *kFormFlags[] = {"--full", "--user", "--notify"};

constexpr const char *kFullTakesTheDirectory =
    "  --full takes the current directory as the VELORIX directory unless --kernel is given";

// Prints messages on standard error, one block each, marked with the
// program's name: the procedure's (through PrintingActions) and those that
// do not come through Actions (the settings code's own, and those of the
// command line before the procedure).
class MessagePrinter : public MessageListener {
 public:
  void print(const char *message) {
    if (printed_) std::fputc('\n', stderr);
    std::fprintf(stderr, "%s: %s\n", kProgram, message != nullptr ? message : "");
    printed_ = true;
  }
  bool onMessage(const char *text) override {
    print(text);
    return true;
  }

 private:
  bool printed_ = false;
};

// The option that sets the form field named field, or NULL.
const char *optionFor(const char *field) {
  if (field == nullptr) return nullptr;
  for (const ValueOption &option : kValueOptions) {
    const char *name = option.tuning >= 0 ? Adjust[option.tuning].label : option.field;
    if (std::strcmp(name, field) == 0) return option.name;
  }
  return nullptr;
}

// A path as the reader can find it: without "." and ".." steps.
std::string shownPath(const std::string &path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// "  path: P, option: O" for what a message is about, its path already
// resolved; empty for nothing.
std::string subjectLine(const MessageSubject &about) {
  std::string line;
  if (!about.path.empty()) line = "path: " + shownPath(about.path);
  const char *option = optionFor(about.field);
  if (option != nullptr) line += (line.empty() ? "option: " : ", option: ") + std::string(option);
  return line.empty() ? line : "  " + line;
}

// Shows the procedure's messages on standard error, each with the line
// that says what it is about; every other action is the inner one's.
class PrintingActions : public ForwardingActions {
 public:
  PrintingActions(Actions &inner, MessagePrinter &printer)
      : ForwardingActions(inner), printer_(printer) {}

  void show(const std::string &text, const MessageSubject &about) override {
    printer_.print(text.c_str());
    // The run works in a scratch directory: a relative path belongs to
    // the directory being installed.
    const std::string line = subjectLine({resolve(about.path), about.field});
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
    lastField_ = about.field;
    anyShown_ = true;
  }

  // The field of the last message shown, or NULL.
  const char *lastField() const { return lastField_; }
  // Whether any message was shown.
  bool anyShown() const { return anyShown_; }

 private:
  MessagePrinter &printer_;
  const char *lastField_ = nullptr;
  bool anyShown_ = false;
};

// Says, after a Full installation whose product directory came from
// --full stopped over it, that it was most often run outside the product
// directory.
void explainStop(const InstallForm &form, InstallOutcome outcome, bool kernelGiven,
                 const PrintingActions &printing) {
  const char *field = printing.lastField();
  if (outcome == InstallOutcome::Stopped && form.full && !kernelGiven && field != nullptr &&
      std::strcmp(field, kFieldKernel) == 0)
    std::fprintf(stderr, "%s\n", kFullTakesTheDirectory);
}

int badOptions(const std::string &problem) {
  std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, problem.c_str());
  return kExitBadOptions;
}

struct CommandLine {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  std::vector<char *> xArguments;  // the window's X options, with their values
  bool has(const char *flag) const { return flags.count(flag) != 0; }
  bool hasValue(const char *name) const { return values.count(name) != 0; }
  // Whether a value of the form is given (an option or an answer file).
  bool setsForm() const {
    for (const char *flag : kFormFlags) {
      if (has(flag)) return true;
    }
    for (const auto &[name, value] : values) {
      if (name != "--save-answers" && name != "--log") return true;
    }
    return false;
  }
};

// Parses argv into options; false with *problem set on anything unknown,
// repeated or missing its value.
bool parse(int argc, char **argv, CommandLine *line, std::string *problem) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h") arg = "--help";
    if (std::find_if(std::begin(kXOptions), std::end(kXOptions),
                     [&arg](const char *x) { return arg == x; }) != std::end(kXOptions)) {
      // Read by the toolkit, which wants them as they were given.
      line->xArguments.push_back(argv[i]);
      if (i + 1 < argc) line->xArguments.push_back(argv[++i]);
      continue;
    }
    std::string name = arg, value;
    const std::size_t eq = arg.find('=');
    const bool inlineValue = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
    if (inlineValue) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    bool known = false;
    for (const ValueOption &option : kValueOptions) {
      if (name != option.name) continue;
      known = true;
      if (!inlineValue) {
        // The next argument is the value even when it begins with "-":
        // compiler options do.
        if (i + 1 >= argc) {
          *problem = "option " + name + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      if (!line->values.emplace(name, value).second) {
        *problem = "option " + name + " given twice";
        return false;
      }
    }
    for (const char *flag : kFlagOptions) {
      if (name != flag) continue;
      known = true;
      if (inlineValue) {
        *problem = "option " + name + " takes no value";
        return false;
      }
      if (!line->flags.emplace(name, true).second) {
        *problem = "option " + name + " given twice";
        return false;
      }
    }
    if (!known) {
      *problem =
          (arg.compare(0, 1, "-") == 0 ? "unknown option '" : "unexpected argument '") + arg + "'";
      return false;
    }
  }
  return true;
}

int styleNumber(const std::string &name) {
  for (int i = 0; i < kShellRecords; ++i) {
    if (name == shells[i].name) return i + 1;
  }
  return 0;
}

std::string workingDirectory() {
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? std::string() : cwd.string();
}

// Builds the record from the options over the window's initial values.
// False with *problem for a value that the window would not take.
// The values of an answer file come first, and options win over them.
// Problems of shell detection are shown when showProblems is set (the
// window shows its own).
bool formFromOptions(const CommandLine &line, InstallForm *form, std::string *problem,
                     bool showProblems) {
  if (line.has("--full") && line.has("--user")) {
    *problem = "--full and --user exclude each other";
    return false;
  }
  Answers answers;
  const auto file = line.values.find("--answers");
  if (file != line.values.end() && !ReadAnswers(file->second, &answers, problem)) return false;
  bool full = answers.full.value_or(false);
  if (line.has("--full") || line.has("--user")) full = line.has("--full");
  std::string detectionProblem;
  *form = InitialForm(full, &detectionProblem);
  if (showProblems && !detectionProblem.empty())
    Nlm_Message(MSG_OK, "%s", detectionProblem.c_str());
  form->noticeBoxExists = true;
  ApplyAnswers(answers, form);
  form->full = full;

  auto value = [&line](const char *name, std::string *target) {
    auto found = line.values.find(name);
    if (found != line.values.end()) *target = found->second;
  };
  value("--kernel", &form->kernel);
  if (FindRefusedPathCharacter(form->kernel) != std::string::npos) {
    *problem =
        std::string("--kernel may not hold a blank, a backslash, a comma, a control character "
                    "or any of ") +
        kShellSpecialCharacters;
    return false;
  }
  value("--include", &form->include);
  value("--libs", &form->lib);
  value("--cpp-name", &form->cppName);
  value("--cpp-options", &form->cppOptions);
  for (const ValueOption &option : kValueOptions) {
    if (option.tuning < 0) continue;
    auto found = line.values.find(option.name);
    if (found == line.values.end()) continue;
    if (!form->tuning[option.tuning]) {
      *problem = std::string("the settings template has no ") + Adjust[option.tuning].label +
                 " setting for " + option.name;
      return false;
    }
    form->tuning[option.tuning] = found->second;
  }
  auto style = line.values.find("--shell-style");
  if (style != line.values.end()) {
    form->shellStyle = styleNumber(style->second);
    if (form->shellStyle == 0) {
      *problem = "--shell-style takes csh or ksh, not '" + style->second + "'";
      return false;
    }
    // As picking a style in the window does: the path follows the style.
    const ShellRecord &record = shells[form->shellStyle - 1];
    if (!ShellPathText(std::getenv("SHELL"), record.name, record.options, &form->shellPath) &&
        line.values.count("--shell-path") == 0)
      Nlm_Message(MSG_OK, "%s", kShellPathTooLong);
  }
  value("--shell-path", &form->shellPath);
  if (line.has("--notify")) form->noticeConsent = true;
  return true;
}

// Runs form with the actions of a kind of run, each message printed and,
// with a log, each action recorded; returns the outcome.  summary, when
// given, receives the record's summary.
InstallOutcome runWith(const InstallForm &form, Actions &actions, MessagePrinter &printer,
                       const char *what, std::FILE *log, bool kernelGiven,
                       std::string *summary = nullptr) {
  PrintingActions printing(actions, printer);
  RecordActions record(printing, form, what, log);
  const InstallOutcome outcome = RunInstallation(form, record);
  record.finish(outcome);
  explainStop(form, outcome, kernelGiven, printing);
  if (summary != nullptr) *summary = record.summary();
  return outcome;
}

// The procedure against a scratch settings file in a directory of its
// own; plan lines go to standard output.
int dryRun(const InstallForm &form, MessagePrinter &printer, std::FILE *log, bool kernelGiven) {
  PlanActions plan;
  const InstallOutcome outcome = runWith(form, plan, printer, "dry run", log, kernelGiven);
  for (const std::string &entry : plan.lines())
    std::printf("%s\n", entry.c_str());
  if (outcome == InstallOutcome::Ended) std::printf("end\n");
  return outcome == InstallOutcome::Ended ? kExitDone : kExitStopped;
}

// The directory against what an installation of form would make of it;
// one line per difference on standard output.
int check(const InstallForm &form, MessagePrinter &printer, std::FILE *log, bool kernelGiven) {
  CheckActions check;
  const InstallOutcome outcome = runWith(form, check, printer, "check", log, kernelGiven);
  for (const std::string &entry : check.differences())
    std::printf("%s\n", entry.c_str());
  return outcome == InstallOutcome::Ended && check.differences().empty() ? kExitDone : kExitStopped;
}

int install(const InstallForm &form, MessagePrinter &printer, std::FILE *log, bool kernelGiven) {
  RealActions real;
  std::string summary;
  const InstallOutcome outcome =
      runWith(form, real, printer, "unattended", log, kernelGiven, &summary);
  std::fputs(summary.c_str(), stdout);
  return outcome == InstallOutcome::Ended ? kExitDone : kExitStopped;
}

}  // namespace

InstallForm InitialForm(bool full, std::string *problem) {
  InstallForm form;
  form.kernel = kInitialKernel;
  form.include = kInitialInclude;
  form.lib = kInitialLibraries;
  form.cppName = kInitialCppName;
  form.cppOptions = kInitialCppOptions;
  for (int i = 0; i < kAdjustRecords; ++i) {
    // A key found twice makes two fields; the record keeps the last.
    const std::vector<const char *> values =
        TemplateValues(SetData, kSetDataLines, Adjust[i].section, Adjust[i].key);
    if (!values.empty()) form.tuning[i] = values.back();
  }
  form.full = full;
  if (full) form.kernel = workingDirectory();
  const char *shell = std::getenv("SHELL");
  const ShellDetection detected = DetectShellStyle(kShellListFile, shell);
  if (problem != nullptr) *problem = detected.problem;
  form.shellStyle = detected.style;
  const ShellRecord &record = shells[form.shellStyle - 1];
  if (!ShellPathText(shell, record.name, record.options, &form.shellPath) && problem != nullptr &&
      problem->empty())
    *problem = kShellPathTooLong;
  return form;
}

CommandLineRun RunCommandLine(int argc, char **argv) {
  CommandLineRun run;
  auto finish = [&run](int status) {
    run.status = status;
    return run;
  };
  CommandLine line;
  std::string problem;
  if (!parse(argc, argv, &line, &problem)) return finish(badOptions(problem));
  if (line.has("--help")) {
    std::fputs(usage().c_str(), stdout);
    return finish(kExitDone);
  }
  if (line.has("--version")) {
    // The git description was taken when the program was built.
    const char *description = VX_GIT_DESCRIPTION;
    if (*description != '\0')
      std::printf("%s %s (git %s)\n", kProgram, VX_VERSION, description);
    else
      std::printf("%s %s\n", kProgram, VX_VERSION);
    return finish(kExitDone);
  }
  const int modes = line.has("--unattended") + line.has("--dry-run") + line.has("--check");
  if (line.has("--check") && modes > 1)
    return finish(badOptions("--check excludes --unattended and --dry-run"));

  if (modes == 0) {
    // The window, with its X options, and the form preset.
    std::vector<char *> xLine{argv[0]};
    xLine.insert(xLine.end(), line.xArguments.begin(), line.xArguments.end());
    if (ReadXOptions(static_cast<int>(xLine.size()), xLine.data(), &run.x, &problem) ==
        XOptionsReading::Refused)
      return finish(badOptions(problem));
    InstallForm form;
    if (line.setsForm()) {
      if (!formFromOptions(line, &form, &problem, false)) return finish(badOptions(problem));
      run.window.preset = form;
    }
    const auto value = [&line](const char *name) {
      const auto found = line.values.find(name);
      return found != line.values.end() ? found->second : std::string();
    };
    run.window.saveAnswers = value("--save-answers");
    run.window.log = value("--log");
    run.window.geometry = run.x.geometry;
    run.openWindow = true;
    return run;
  }
  if (!line.xArguments.empty())
    return finish(badOptions("the X options are for the window: --unattended, --dry-run and "
                             "--check run without one"));

  MessagePrinter printer;
  const MessageRoute route(printer);
  InstallForm form;
  if (!formFromOptions(line, &form, &problem, true)) return finish(badOptions(problem));
  const bool kernelGiven = line.hasValue("--kernel") || line.hasValue("--answers");
  if (line.hasValue("--save-answers") &&
      !SaveAnswers(line.values.at("--save-answers"), form, &problem)) {
    printer.print(problem.c_str());
    return finish(kExitStopped);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> log(nullptr, std::fclose);
  if (line.hasValue("--log")) {
    log.reset(OpenLog(line.values.at("--log"), &problem));
    if (!log) {
      printer.print(problem.c_str());
      return finish(kExitStopped);
    }
  }
  int status;
  if (line.has("--check")) {
    status = check(form, printer, log.get(), kernelGiven);
  } else if (line.has("--dry-run")) {
    status = dryRun(form, printer, log.get(), kernelGiven);
  } else {
    status = install(form, printer, log.get(), kernelGiven);
  }
  std::fflush(stdout);
  return finish(status);
}
