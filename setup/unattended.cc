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

#include <cstdio>
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
#include "form_tables.h"

namespace {

constexpr const char *kProgram = "velorix-setup";
constexpr const char *kShellPathTooLong =
    "The value of SHELL and the shell options together are too long for the\n"
    "compile script's first line.  Give it with --shell-path.";

// The defaults that the usage text names come from form_defaults.h, so
// that the text cannot go on naming a value the window no longer starts with.
std::string Shown(const char *initial) {
  return *initial == '\0' ? std::string("empty") : "\"" + std::string(initial) + "\"";
}

std::string Usage() {
  return std::string(
             "Usage: velorix-setup [X OPTION]...   open the Setup window (needs an X display)\n"
             "       velorix-setup --unattended [OPTION]...\n"
             "       velorix-setup --dry-run [OPTION]...\n"
             "       velorix-setup --help | --version\n"
             "\n"
             "Installs Velorix into the current directory without a display.  Every\n"
             "option stands for a control of the Setup window; what is not given has\n"
             "the value that the window starts with.\n"
             "\n"
             "  --unattended          install without the window\n"
             "  --dry-run             print what would be written, removed, compiled and\n"
             "                        stored, and change nothing (implies --unattended)\n"
             "  --full | --user       installation kind (default: --user)\n"
             "  --kernel DIR          VELORIX directory (default for --full: the current\n"
             "                        directory; --user needs it)\n"
             "  --include TEXT        C compiler include options (default: ") +
         Shown(kInitialInclude) +
         ")\n"
         "  --libs TEXT           C compiler libraries (default: " +
         Shown(kInitialLibraries) +
         ")\n"
         "  --cpp-name TEXT       C++ compiler (default: " +
         Shown(kInitialCppName) +
         ")\n"
         "  --cpp-options TEXT    C++ compiler options (default: " +
         Shown(kInitialCppOptions) +
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
         "Exit status: 0 installed (the window: the installation ended), 1 stopped by a\n"
         "message (the window: \"Cancel\" or the close box), 2 options not understood,\n"
         "3 no X display for the window.\n";
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
};
constexpr const char *kFlagOptions[] = {"--unattended", "--dry-run", "--full",   "--user",
                                        "--notify",     "--help",    "--version"};

constexpr const char *kFullTakesTheDirectory =
    "  --full takes the current directory as the VELORIX directory unless --kernel is given";

bool gMessagePrinted = false;

// A message as one block on standard error, marked with the program's name.
void PrintMessageBlock(const char *message) {
  if (gMessagePrinted) std::fputc('\n', stderr);
  std::fprintf(stderr, "%s: %s\n", kProgram, message != nullptr ? message : "");
  gMessagePrinted = true;
}

// The messages that do not come through Actions: the settings code's own,
// and those of the command line before the procedure.
MsgAnswer LIBCALLBACK PrintMessage(MsgKey, ErrSev, const char *, const char *message) {
  PrintMessageBlock(message);
  return ANS_OK;
}

// The option that sets the form field named field, or NULL.
const char *OptionFor(const char *field) {
  if (field == nullptr) return nullptr;
  for (const ValueOption &option : kValueOptions) {
    const char *name = option.tuning >= 0 ? Adjust[option.tuning].label : option.field;
    if (std::strcmp(name, field) == 0) return option.name;
  }
  return nullptr;
}

// A path as the reader can find it: without "." and ".." steps.
std::string ShownPath(const std::string &path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// "  path: P, option: O" for what a message is about, its path already
// resolved; empty for nothing.
std::string SubjectLine(const MessageSubject &about) {
  std::string line;
  if (!about.path.empty()) line = "path: " + ShownPath(about.path);
  const char *option = OptionFor(about.field);
  if (option != nullptr) line += (line.empty() ? "option: " : ", option: ") + std::string(option);
  return line.empty() ? line : "  " + line;
}

// Shows the procedure's messages on standard error, each with the line
// that says what it is about; every other action is the inner one's.
class PrintingActions : public ForwardingActions {
 public:
  using ForwardingActions::ForwardingActions;

  void show(const std::string &text, const MessageSubject &about) override {
    PrintMessageBlock(text.c_str());
    // The run works in a scratch directory: a relative path belongs to
    // the directory being installed.
    const std::string line = SubjectLine({resolve(about.path), about.field});
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
    lastField_ = about.field;
  }

  // The field of the last message shown, or NULL.
  const char *lastField() const { return lastField_; }

 private:
  const char *lastField_ = nullptr;
};

// Runs the procedure, each message printed.  A Full installation whose
// product directory came from --full and that stops over it is most often
// one run outside the product directory: the last block says so.
InstallOutcome RunPrinting(const InstallForm &form, Actions &inner, bool kernelGiven) {
  PrintingActions printing(inner);
  const InstallOutcome outcome = RunInstallation(form, printing);
  const char *field = printing.lastField();
  if (outcome == InstallOutcome::Stopped && form.full && !kernelGiven && field != nullptr &&
      std::strcmp(field, kFieldKernel) == 0)
    std::fprintf(stderr, "%s\n", kFullTakesTheDirectory);
  return outcome;
}

int BadOptions(const std::string &problem) {
  std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, problem.c_str());
  return kExitBadOptions;
}

struct CommandLine {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  bool Has(const char *flag) const { return flags.count(flag) != 0; }
};

// Parses argv into options; false with *problem set on anything unknown,
// repeated or missing its value.
bool Parse(int argc, char **argv, CommandLine *line, std::string *problem) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h") arg = "--help";
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

int StyleNumber(const std::string &name) {
  for (int i = 0; i < kShellRecords; ++i) {
    if (name == shells[i].name) return i + 1;
  }
  return 0;
}

std::string WorkingDirectory() {
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? std::string() : cwd.string();
}

// Builds the record from the options over the window's initial values.
// False with *problem for a value that the window would not take.
bool FormFromOptions(const CommandLine &line, InstallForm *form, std::string *problem) {
  if (line.Has("--full") && line.Has("--user")) {
    *problem = "--full and --user exclude each other";
    return false;
  }
  std::string detectionProblem;
  *form = InitialForm(line.Has("--full"), &detectionProblem);
  if (!detectionProblem.empty()) Nlm_Message(MSG_OK, "%s", detectionProblem.c_str());

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
    form->shellStyle = StyleNumber(style->second);
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
  form->noticeBoxExists = true;
  form->noticeConsent = line.Has("--notify");
  return true;
}

// The procedure against a scratch settings file in a directory of its
// own; plan lines go to standard output.
InstallOutcome DryRun(const InstallForm &form, bool kernelGiven) {
  PlanActions plan;
  const InstallOutcome outcome = RunPrinting(form, plan, kernelGiven);
  for (const std::string &entry : plan.lines())
    std::printf("%s\n", entry.c_str());
  if (outcome == InstallOutcome::Ended) std::printf("end\n");
  return outcome;
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
  if (full) form.kernel = WorkingDirectory();
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

int RunCommandLine(int argc, char **argv) {
  CommandLine line;
  std::string problem;
  if (!Parse(argc, argv, &line, &problem)) return BadOptions(problem);
  if (line.Has("--help")) {
    std::fputs(Usage().c_str(), stdout);
    return kExitDone;
  }
  if (line.Has("--version")) {
    // The git description was taken when the program was built.
    const char *description = VX_GIT_DESCRIPTION;
    if (*description != '\0')
      std::printf("%s %s (git %s)\n", kProgram, VX_VERSION, description);
    else
      std::printf("%s %s\n", kProgram, VX_VERSION);
    return kExitDone;
  }
  if (!line.Has("--unattended") && !line.Has("--dry-run"))
    return BadOptions("options need --unattended or --dry-run");

  Nlm_SetMessageHook(PrintMessage);
  InstallForm form;
  if (!FormFromOptions(line, &form, &problem)) return BadOptions(problem);
  const bool kernelGiven = line.values.count("--kernel") != 0;
  RealActions real;
  const InstallOutcome outcome =
      line.Has("--dry-run") ? DryRun(form, kernelGiven) : RunPrinting(form, real, kernelGiven);
  std::fflush(stdout);
  return outcome == InstallOutcome::Ended ? kExitDone : kExitStopped;
}
