/*
 * unattended.cc - velorix-setup driven from the command line.
 *
 * With --unattended the tool fills the installation record from options,
 * starting from the very values that the Setup window starts with, runs
 * the same installation procedure, prints each message to standard error
 * and exits 0 when the installation ended, 1 when a message stopped it.
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
             "Usage: velorix-setup                 open the Setup window (needs an X display)\n"
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
         "Messages go to standard error, one block each.  Exit status: 0 installed,\n"
         "1 stopped by a message, 2 options not understood.\n";
}

// Options that take a value; the Tuning ones name their Adjust record.
struct ValueOption {
  const char *name;
  int tuning;  // index into Adjust, or -1
};
constexpr ValueOption kValueOptions[] = {
    {"--kernel", -1},      {"--include", -1},    {"--libs", -1},     {"--cpp-name", -1},
    {"--cpp-options", -1}, {"--printer", 0},     {"--previewer", 1}, {"--differentiator", 2},
    {"--shell-style", -1}, {"--shell-path", -1},
};
constexpr const char *kFlagOptions[] = {"--unattended", "--dry-run", "--full",   "--user",
                                        "--notify",     "--help",    "--version"};

bool gMessagePrinted = false;

// Every message of the procedure, as one block on standard error.
MsgAnswer LIBCALLBACK PrintMessage(MsgKey, ErrSev, const char *, const char *message) {
  if (gMessagePrinted) std::fputc('\n', stderr);
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  gMessagePrinted = true;
  return ANS_OK;
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
InstallOutcome DryRun(const InstallForm &form) {
  PlanActions plan;
  const InstallOutcome outcome = RunInstallation(form, plan);
  for (const std::string &entry : plan.lines()) std::printf("%s\n", entry.c_str());
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
  const InstallOutcome outcome = line.Has("--dry-run") ? DryRun(form) : RunInstallation(form);
  std::fflush(stdout);
  return outcome == InstallOutcome::Ended ? kExitDone : kExitStopped;
}
