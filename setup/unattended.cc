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
 *
 * The long options are read with getopt_long from one table: the form's,
 * from the field table, and the few others.  Every other argument is left
 * for the toolkit of the window, which knows the X options.
 */
#include "unattended.h"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "shell_detection.h"
#include "templates.h"
#include "tuning_fields.h"
#include "utility.h"
#include "velorix_version.h"
#include "actions.h"
#include "answers.h"
#include "check_actions.h"
#include "form_fields.h"
#include "form_tables.h"
#include "message_route.h"
#include "record_actions.h"
#include "text_frontend.h"
#include "x_options.h"

namespace {

constexpr const char *kProgram = "velorix-setup";

// The defaults that the usage text names come from the field table, so
// that the text cannot go on naming a value the window no longer starts with.
std::string shown(Field field) {
  const char *initial = FieldRow(field).initial;
  return *initial == '\0' ? std::string("empty") : "\"" + std::string(initial) + "\"";
}

// "velorix-setup 1.5 (git DESCRIPTION)", as --version prints it; the git
// description was taken when the program was built.
std::string versionLine() {
  const std::string description = VX_GIT_DESCRIPTION;
  return std::string(kProgram) + " " + VX_VERSION +
         (description.empty() ? "" : " (git " + description + ")");
}

// An argument as a shell would read it back: quoted when it holds
// anything but letters, digits and a few harmless marks.
std::string quoted(const std::string &arg) {
  constexpr const char *kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  if (!arg.empty() && arg.find_first_not_of(kPlain) == std::string::npos) return arg;
  std::string text = "'";
  for (const char c : arg)
    text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

std::string quotedCommandLine(int argc, char **argv) {
  std::string line;
  for (int i = 0; i < argc; ++i)
    line += (i == 0 ? "" : " ") + quoted(argv[i]);
  return line;
}

std::string absolute(const std::string &path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.lexically_normal().string();
}

// An option of some kind (ours or the toolkit's) rather than a word.
bool isOption(const char *arg) { return (arg[0] == '-' || arg[0] == '+') && arg[1] != '\0'; }

std::string usage() {
  return std::string(
             "Prepares the current directory for the Velorix analysis program: in the\n"
             "Setup window on an X display, or without a window with --unattended.\n"
             "\n"
             "Usage: velorix-setup [OPTION]... [X OPTION]...  the Setup window, its form\n"
             "                                                preset by the options given\n"
             "       velorix-setup --unattended [OPTION]...   install without a window\n"
             "       velorix-setup --dry-run [--diff] [OPTION]...\n"
             "       velorix-setup --check [--diff] [OPTION]...\n"
             "       velorix-setup --text [OPTION]...         ask the form's questions in the\n"
             "                                                terminal\n"
             "       velorix-setup --help | --version\n"
             "\n"
             "Every option of the form stands for a control of the Setup window; what is\n"
             "not given has the value that the window starts with.\n"
             "\n"
             "  --unattended          install without the window\n"
             "  --dry-run             print what would be written, removed, compiled and\n"
             "                        stored, and change nothing (implies --unattended)\n"
             "  --check               compare the directory with what an installation\n"
             "                        would make of it, one line per difference, and\n"
             "                        change nothing: status 0 when all matches, 1 when\n"
             "                        not, 2 when it could not be checked\n"
             "  --diff                with --check or --dry-run: show what would change,\n"
             "                        a unified diff of each text file and a line per\n"
             "                        setting of the settings file\n"
             "  --text                ask the form's questions in the terminal, show what\n"
             "                        will be set up, and install after a yes (offered\n"
             "                        when there is no X display and this is a terminal)\n"
             "  --choose-directory    the window: first ask which directory to set up, in\n"
             "                        a directory chooser, and work there (the desktop\n"
             "                        menu starts it so)\n"
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
         shown(Field::kInclude) +
         ")\n"
         "  --libs TEXT           C compiler libraries (default: " +
         shown(Field::kLibraries) +
         ")\n"
         "  --cpp-name TEXT       C++ compiler (default: " +
         shown(Field::kCppName) +
         ")\n"
         "  --cpp-options TEXT    C++ compiler options (default: " +
         shown(Field::kCppOptions) +
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
         "An option's value is the next argument or follows \"=\" (--kernel=/opt/velorix);\n"
         "an option may be shortened to any unique beginning (--dry for --dry-run).\n"
         "Messages go to standard error, one block each, followed by a line naming the\n"
         "path they are about and the option that sets it.  Each installation, in the\n"
         "window or not, ends with a short summary on standard output.\n"
         "\n"
         "X options of the window: every standard X toolkit option, such as\n"
         "-display NAME, -geometry GEOM (the Setup window's size and place,\n"
         "WIDTHxHEIGHT+X+Y; never smaller than its form), -bg COLOUR, -fg COLOUR,\n"
         "-fn FONT, -title TEXT, -name NAME (for the X resources), -iconic, -reverse\n"
         "and -xrm RESOURCE (an X resource line, \"velorix-setup*background: white\").\n"
         "-geometry, -title and -iconic are the Setup window's alone: message boxes\n"
         "stay centred.\n"
         "\n"
         "Exit status: 0 installed (the window: the installation ended; --check: the\n"
         "directory matches), 1 stopped by a message (the window: \"Cancel\" or the close\n"
         "box, the directory chooser's too) or, for --check, a difference found, or,\n"
         "for --text, no yes to \"Set up now?\" (Ctrl-C, end of input), 2 options or\n"
         "answer file not understood (--check: could not check), 3 no X display for\n"
         "the window.\n";
}

// The options besides the form's own (the field table's): one line each.
struct OtherOption {
  const char *name;
  bool takesValue;
};
constexpr OtherOption kOtherOptions[] = {
    {"--unattended", false}, {"--dry-run", false}, {"--check", false},
    {"--diff", false},       {"--user", false},    {"--choose-directory", false},
    {"--text", false},       {"--answers", true},  {"--save-answers", true},
    {"--log", true},         {"--help", false},    {"--version", false},
};

// The runs without a window, the first given naming the run in messages.
constexpr const char *kWindowlessRuns[] = {"--help", "--version", "--unattended", "--dry-run",
                                           "--check"};

// getopt_long's table of every long option: the form's, from the field
// table, and the others.  An option's code is its place in names().
class OptionTable {
 public:
  OptionTable() {
    for (const FormField &field : kFormFields) {
      const bool flag = field.type == FieldType::kKind || field.type == FieldType::kYesNo;
      add(field.option, !flag);
    }
    for (const OtherOption &option : kOtherOptions)
      add(option.name, option.takesValue);
    options_.push_back({nullptr, 0, nullptr, 0});
  }
  const struct option *options() const { return options_.data(); }
  // The option of a code that getopt_long returned, with its "--".
  const std::string &name(int code) const {
    return names_.at(static_cast<std::size_t>(code - kFirstCode));
  }
  bool takesValue(const std::string &name) const {
    for (const struct option &option : options_) {
      if (option.name != nullptr && name == std::string("--") + option.name)
        return option.has_arg == required_argument;
    }
    return false;
  }
  // The options that begin with prefix (with its "--").
  std::vector<std::string> startingWith(const std::string &prefix) const {
    std::vector<std::string> found;
    for (const std::string &name : names_) {
      if (name.compare(0, prefix.size(), prefix) == 0) found.push_back(name);
    }
    return found;
  }

 private:
  // Above every character, so that no code is taken for a short option.
  static constexpr int kFirstCode = 0x100;
  void add(const char *name, bool takesValue) {
    names_.emplace_back(name);
    options_.push_back({name + 2, takesValue ? required_argument : no_argument, nullptr,
                        kFirstCode + static_cast<int>(names_.size()) - 1});
  }
  std::vector<std::string> names_;
  std::vector<struct option> options_;
};

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

// A path as the reader can find it: without "." and ".." steps.
std::string shownPath(const std::string &path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// "  path: P, option: O" for what a message is about, its path already
// resolved; empty for nothing.
std::string subjectLine(const MessageSubject &about) {
  std::string line;
  if (!about.path.empty()) line = "path: " + shownPath(about.path);
  std::string options;
  for (const Field field : about.fields)
    options += (options.empty() ? "" : ", ") + std::string(FieldRow(field).option);
  if (!options.empty()) line += (line.empty() ? "" : ", ") + std::string("option: ") + options;
  return line.empty() ? line : "  " + line;
}

// A field the form refuses, told as the procedure tells it, with the
// option that sets it; the command line is not taken.
int refusedField(const FormProblem &problem) {
  MessagePrinter printer;
  printer.print(problem.message.c_str());
  std::fprintf(stderr, "%s\n", subjectLine({"", problem.fields}).c_str());
  return kExitBadOptions;
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
    const std::string line = subjectLine({resolve(about.path), about.fields});
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
    if (!about.note.empty()) std::fprintf(stderr, "  %s\n", about.note.c_str());
    lastFields_ = about.fields;
  }

  // The fields of the last message shown.
  const std::vector<Field> &lastFields() const { return lastFields_; }

 private:
  MessagePrinter &printer_;
  std::vector<Field> lastFields_;
};

// Says, after a Full installation whose product directory came from
// --full stopped over it, that it was most often run outside the product
// directory.
void explainStop(const InstallForm &form, InstallOutcome outcome, bool kernelGiven,
                 const PrintingActions &printing) {
  const std::vector<Field> &fields = printing.lastFields();
  if (outcome == InstallOutcome::Stopped && form.full && !kernelGiven &&
      std::find(fields.begin(), fields.end(), Field::kKernel) != fields.end())
    std::fprintf(stderr, "%s\n", kFullTakesTheDirectory);
}

int badOptions(const std::string &problem) {
  // One fault a line; an answer file may have several.
  std::size_t start = 0;
  for (std::size_t end = problem.find('\n'); end != std::string::npos;
       start = end + 1, end = problem.find('\n', start))
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.substr(start, end - start).c_str());
  std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, problem.substr(start).c_str());
  return kExitBadOptions;
}

struct CommandLine {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  // The arguments that are not ours, in order: the window's X options
  // with their values, for the toolkit to parse, or strays.
  std::vector<char *> others;
  bool has(const char *flag) const { return flags.count(flag) != 0; }
  bool hasValue(const char *name) const { return values.count(name) != 0; }
  // Whether a value of the form is given (an option or an answer file).
  bool setsForm() const {
    if (has("--full") || has("--user") || has("--notify")) return true;
    for (const auto &[name, value] : values) {
      if (name != "--save-answers" && name != "--log") return true;
    }
    return false;
  }
};

// Our options are long ones and -h; any other argument is set aside for
// the toolkit, which knows the X options (and their values) and leaves
// the rest.
bool isOurs(const char *arg) {
  return std::strncmp(arg, "--", 2) == 0 || std::strcmp(arg, "-h") == 0;
}

// What getopt_long refused in arg: code is what it returned, missing the
// option whose value is missing or unwanted (0 for an unknown or
// ambiguous one).
std::string refusal(const OptionTable &table, const std::string &arg, int code, int missing) {
  if (code == ':') return "option " + table.name(missing) + " needs a value";
  if (missing != 0) return "option " + table.name(missing) + " takes no value";
  const std::vector<std::string> candidates = table.startingWith(arg.substr(0, arg.find('=')));
  if (candidates.size() < 2) return "unknown option '" + arg + "'";
  std::string list;
  for (const std::string &name : candidates)
    list += (list.empty() ? "" : ", ") + name;
  return "option '" + arg + "' is ambiguous (" + list + ")";
}

// Parses argv with getopt_long: unique abbreviations of the long options,
// and "--option=value" or the next argument as the value, even when that
// begins with "-" (compiler options do).  False with *problem set on
// anything unknown, ambiguous, repeated or missing its value.
bool parse(int argc, char **argv, CommandLine *line, std::string *problem) {
  const OptionTable table;
  opterr = 0;  // the problems are told below, in our words
  optind = 1;
  while (optind < argc) {
    if (!isOurs(argv[optind])) {
      line->others.push_back(argv[optind++]);
      continue;
    }
    const std::string arg = argv[optind];
    // "+": each call reads the one argument at optind and its value, and
    // moves nothing; ":": a missing value is told apart.
    const int code = getopt_long(argc, argv, "+:h", table.options(), nullptr);
    if (code == -1) {  // "--": nothing after it is ours
      while (optind < argc)
        line->others.push_back(argv[optind++]);
      break;
    }
    if (code == '?' || code == ':') {
      *problem = refusal(table, arg, code, optopt);
      return false;
    }
    const std::string name = code == 'h' ? std::string("--help") : table.name(code);
    const bool added = table.takesValue(name) ? line->values.emplace(name, optarg).second
                                              : line->flags.emplace(name, true).second;
    if (!added) {
      *problem = "option " + name + " given twice";
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

  const auto style = line.values.find(FieldRow(Field::kShellStyle).option);
  if (style != line.values.end()) {
    form->shellStyle = styleNumber(style->second);
    if (form->shellStyle == 0) {
      *problem = "--shell-style takes csh or ksh, not '" + style->second + "'";
      return false;
    }
    form->shellStyleGiven = true;
    // As picking a style in the window does: the path follows the style.
    form->shellPathGiven = false;
    const ShellRecord &record = shells[form->shellStyle - 1];
    if (!ShellPathText(std::getenv("SHELL"), record.name, record.options,
                       &form->text(Field::kShellPath)) &&
        line.values.count(FieldRow(Field::kShellPath).option) == 0)
      Nlm_Message(MSG_OK, "%s", kShellPathTooLong);
  }
  for (const FormField &field : kFormFields) {
    if (field.type != FieldType::kText) continue;
    const auto found = line.values.find(field.option);
    if (found == line.values.end()) continue;
    if (field.tuning && !form->has(field.id)) {
      *problem = std::string("the settings template has no ") + field.label + " setting for " +
                 field.option;
      return false;
    }
    form->text(field.id) = found->second;
    if (field.id == Field::kShellPath) form->shellPathGiven = true;
  }
  if (line.has("--notify")) form->noticeConsent = true;
  return true;
}

// What a run without the window needs besides its form.
struct Run {
  LogFile *log;      // open, or null
  bool kernelGiven;  // the product directory came from --kernel or an answer file
  RunContext context;
};

// Runs form with the actions of a kind of run, each message printed and,
// with a log, each action recorded; returns the exit status.  status(...)
// gives it from the outcome.  summary, when given, receives the record's
// summary.  A log that takes no line stops the run before it begins
// (status 2); one that fails later is told, and the status is not 0.
// lostLog is the status that a log lost this way gives a run that ended
// well.
template <typename Status>
int runWith(const InstallForm &form, Actions &actions, MessagePrinter &printer, const char *what,
            const Run &run, Status status, std::string *summary = nullptr,
            int lostLog = kExitStopped) {
  PrintingActions printing(actions, printer);
  RecordActions record(printing, form, what, run.log, run.context);
  if (run.log != nullptr && !run.log->ok()) {
    printer.print(run.log->close().c_str());
    return kExitBadOptions;
  }
  const InstallOutcome outcome = RunInstallation(form, record);
  record.finish(outcome);
  explainStop(form, outcome, run.kernelGiven, printing);
  if (summary != nullptr) *summary = record.summary();
  int result = status(outcome);
  const std::string lost = run.log != nullptr ? run.log->close() : std::string();
  if (!lost.empty()) {
    printer.print(lost.c_str());
    if (result == kExitDone) result = lostLog;
  }
  return result;
}

int endedOrStopped(InstallOutcome outcome) {
  return outcome == InstallOutcome::Ended ? kExitDone : kExitStopped;
}

// The procedure against a scratch settings file in a directory of its
// own; plan lines (and with diffs, what each would change) go to standard
// output.
int dryRun(const InstallForm &form, MessagePrinter &printer, const Run &run, bool diffs) {
  PlanActions plan(diffs);
  return runWith(form, plan, printer, "dry run", run, [&plan](InstallOutcome outcome) {
    for (const std::string &entry : plan.lines())
      std::printf("%s\n", entry.c_str());
    if (outcome == InstallOutcome::Ended) std::printf("end\n");
    return endedOrStopped(outcome);
  });
}

// The directory against what an installation of form would make of it;
// one line per difference on standard output, each followed by what would
// change when diffs are asked for.  As diff(1): 0 the same, 1 different,
// 2 not known, for a procedure that stopped cannot say what it would
// leave.
int check(const InstallForm &form, MessagePrinter &printer, const Run &run, bool diffs) {
  CheckActions check(diffs);
  // A check whose log was lost is one whose result is not all known.
  return runWith(
      form, check, printer, "check", run,
      [&check](InstallOutcome outcome) {
        if (outcome != InstallOutcome::Ended) return kExitNotChecked;
        for (std::size_t i = 0; i < check.differences().size(); ++i) {
          std::printf("%s\n", check.differences()[i].c_str());
          if (!check.diffs()[i].empty()) std::printf("%s\n", check.diffs()[i].c_str());
        }
        return check.differences().empty() ? kExitDone : kExitStopped;
      },
      nullptr, kExitNotChecked);
}

// An installation, its summary on standard output.
int install(const InstallForm &form, MessagePrinter &printer, const Run &run, const char *what) {
  RealActions real;
  std::string summary;
  const int status = runWith(form, real, printer, what, run, endedOrStopped, &summary);
  std::fputs(summary.c_str(), stdout);
  return status;
}

}  // namespace

CommandLineRun RunCommandLine(int argc, char **argv) {
  CommandLineRun run;
  auto finish = [&run](int status) {
    run.status = status;
    return run;
  };
  CommandLine line;
  std::string problem;
  if (!parse(argc, argv, &line, &problem)) return finish(badOptions(problem));
  const char *windowless = nullptr;
  for (const char *name : kWindowlessRuns) {
    if (windowless == nullptr && line.has(name)) windowless = name;
  }
  // A word before any X option is no option's value.
  if (!line.others.empty() && (windowless != nullptr || !isOption(line.others.front()))) {
    const std::string first = line.others.front();
    if (!isOption(first.c_str())) return finish(badOptions("unexpected argument '" + first + "'"));
    return finish(badOptions("unknown option '" + first +
                             "': X options are for the window, which " + windowless +
                             " does not open"));
  }
  if (windowless != nullptr && line.has("--choose-directory"))
    return finish(badOptions(std::string("--choose-directory is for the window, which ") +
                             windowless + " does not open"));
  if (line.has("--help")) {
    std::fputs(usage().c_str(), stdout);
    return finish(kExitDone);
  }
  if (line.has("--version")) {
    std::printf("%s\n", versionLine().c_str());
    return finish(kExitDone);
  }
  const int modes = line.has("--unattended") + line.has("--dry-run") + line.has("--check");
  if (line.has("--check") && modes > 1)
    return finish(badOptions("--check excludes --unattended and --dry-run"));
  if (line.has("--diff") && !line.has("--check") && !line.has("--dry-run"))
    return finish(badOptions("--diff goes with --check or --dry-run"));
  if (line.has("--text") && (modes > 0 || !line.others.empty() || line.has("--choose-directory")))
    return finish(badOptions("--text asks in the terminal: it excludes --unattended, --dry-run, "
                             "--check, --choose-directory and the X options"));
  RunContext context{versionLine(), quotedCommandLine(argc, argv),
                     line.hasValue("--answers") ? absolute(line.values.at("--answers")) : ""};

  if (modes == 0) {
    // The window, its X options for the toolkit, and the form preset.
    run.x.toolkitArgv.push_back(argv[0]);
    run.x.toolkitArgv.insert(run.x.toolkitArgv.end(), line.others.begin(), line.others.end());
    run.x.toolkitArgv.push_back(nullptr);
    InstallForm form;
    if (line.setsForm()) {
      if (!formFromOptions(line, &form, &problem, false)) return finish(badOptions(problem));
      if (const auto refused = CheckFields(form)) return finish(refusedField(*refused));
      run.window.preset = form;
    }
    // Absolute: the directory chooser may move the working directory.
    const auto path = [&line](const char *name) {
      const auto found = line.values.find(name);
      return found != line.values.end() ? absolute(found->second) : std::string();
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
  const MessageRoute route(printer);
  InstallForm form;
  if (!formFromOptions(line, &form, &problem, true)) return finish(badOptions(problem));
  if (const auto refused = CheckFields(form)) return finish(refusedField(*refused));
  const bool kernelGiven = line.hasValue("--kernel") || line.hasValue("--answers");
  // A check that cannot begin knows nothing about the directory.
  const int notBegun = line.has("--check") ? kExitNotChecked : kExitStopped;
  if (line.hasValue("--save-answers") &&
      !SaveAnswers(line.values.at("--save-answers"), form, &problem)) {
    printer.print(problem.c_str());
    return finish(notBegun);
  }
  std::optional<LogFile> log;
  if (line.hasValue("--log")) {
    log.emplace(line.values.at("--log"));
    if (!log->ok()) {
      printer.print(log->close().c_str());
      return finish(kExitBadOptions);
    }
  }
  const Run each{log ? &*log : nullptr, kernelGiven, context};
  int status;
  const bool diffs = line.has("--diff");
  if (line.has("--check")) {
    status = check(form, printer, each, diffs);
  } else if (line.has("--dry-run")) {
    status = dryRun(form, printer, each, diffs);
  } else {
    status = install(form, printer, each, "unattended");
  }
  std::fflush(stdout);
  return finish(status);
}

int RefuseWindowOptions(const std::string &problem) { return badOptions(problem); }

int RunTextSetup(const WindowStart &start) {
  MessagePrinter printer;
  const MessageRoute route(printer);
  // The window's start: shell detection says what it ran into even when
  // a preset replaces what it found.
  std::string problem;
  InstallForm form = InitialForm(false, &problem);
  if (!problem.empty()) printer.print(problem.c_str());
  if (start.preset) form = *start.preset;
  const std::optional<InstallForm> answered = AskForm(form);
  if (!answered) return kExitStopped;
  if (!start.saveAnswers.empty() && !SaveAnswers(start.saveAnswers, *answered, &problem)) {
    printer.print(problem.c_str());
    return kExitStopped;
  }
  std::optional<LogFile> log;
  if (!start.log.empty()) {
    log.emplace(start.log);
    if (!log->ok()) {
      printer.print(log->close().c_str());
      return kExitBadOptions;
    }
  }
  // The product directory was asked for: no option to point to.
  const Run run{log ? &*log : nullptr, true, start.context};
  const int status = install(*answered, printer, run, "terminal");
  std::fflush(stdout);
  return status;
}
