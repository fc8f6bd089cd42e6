/*
 * options.cc - the getopt_long table, --help, --version.
 */
#include "options.h"

#include <getopt.h>

#include <cstring>

#include "form.h"
#include "form_fields.h"
#include "process_guard.h"
#include "velorix_version.h"

namespace {

constexpr const char *kProgram = "velorix-setup";

// The options besides the form's own (the field table's), with
// getopt_long's no_argument, required_argument or optional_argument (a
// value only after "="), and what the value is, for the shell's completion.
struct OtherOption {
  const char *name;
  int value;
  const char *valueName;
};
constexpr OtherOption kOtherOptions[] = {
    {"--unattended", no_argument, nullptr},
    {"--dry-run", no_argument, nullptr},
    {"--check", no_argument, nullptr},
    {"--diff", optional_argument, "full"},
    {"--user", no_argument, nullptr},
    {"--choose-directory", no_argument, nullptr},
    {"--text", no_argument, nullptr},
    {"--answers", required_argument, "FILE"},
    {"--save-answers", required_argument, "FILE"},
    {"--save-site-defaults", no_argument, nullptr},
    {"--log", required_argument, "FILE"},
    {"--help", no_argument, nullptr},
    {"--version", no_argument, nullptr},
    {"--verify", no_argument, nullptr},
    {"--quiet", no_argument, nullptr},
    {"--remove", no_argument, nullptr},
    {"--keep-backups", required_argument, "N"},
    {"--changed-files", required_argument, "take|keep"},
    {"--no-notify", no_argument, nullptr},
};

// The option that chooses User, beside the kind's own (Full).
constexpr const char *kUserOption = "--user";

bool isFlag(const FormField &field) {
  return field.type == FieldType::kKind || field.type == FieldType::kYesNo;
}

// getopt_long's table of every long option: the form's, from the field
// table, and the others.  An option's code is its place in names().
class OptionTable {
 public:
  OptionTable() {
    for (const FormField &field : kFormFields)
      add(field.option, isFlag(field) ? no_argument : required_argument);
    for (const OtherOption &option : kOtherOptions)
      add(option.name, option.value);
    options_.push_back({nullptr, 0, nullptr, 0});
  }
  const struct option *options() const { return options_.data(); }
  // The option of a code that getopt_long returned, with its "--".
  const std::string &name(int code) const {
    return names_.at(static_cast<std::size_t>(code - kFirstCode));
  }
  // getopt_long's has_arg of the option name (with its "--").
  int value(const std::string &name) const {
    for (const struct option &option : options_) {
      if (option.name != nullptr && name == std::string("--") + option.name) return option.has_arg;
    }
    return no_argument;
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
  void add(const char *name, int value) {
    names_.emplace_back(name);
    options_.push_back(
        {name + 2, value, nullptr, kFirstCode + static_cast<int>(names_.size()) - 1});
  }
  std::vector<std::string> names_;
  std::vector<struct option> options_;
};

// Our options are long ones and -h; any other argument is set aside for
// the toolkit, which knows the X options (and their values) and leaves
// the rest.
bool isOurs(const char *arg) {
  return std::strncmp(arg, "--", 2) == 0 || std::strcmp(arg, "-h") == 0 ||
         std::strcmp(arg, "-q") == 0;
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

Result refused(const std::string &why) { return Result::Failed(Fault::kRefused, why); }

// ---- --help -------------------------------------------------------------

constexpr std::size_t kUsageWidth = 78;
constexpr std::size_t kUsageIndent = 24;  // where an option's description starts

// A default as --help names it.
std::string shownDefault(const char *initial) {
  return *initial == '\0' ? std::string("empty") : "\"" + std::string(initial) + "\"";
}

// One option of the form: its name and value, and what it sets, wrapped
// beside it.
std::string usageLine(const FormField &field) {
  std::string name = field.option;
  if (field.type == FieldType::kKind) name += std::string(" | ") + kUserOption;
  if (field.type == FieldType::kShellStyle) name += " " + ShellStyleNames("|");
  if (field.valueName != nullptr) name += std::string(" ") + field.valueName;
  // A default that is not the initial text is told by the row itself.
  std::string text = field.usage;
  const bool toldDefault = text.find("(default") != std::string::npos;
  if (!toldDefault && field.type == FieldType::kText && field.initial != nullptr)
    text += " (default: " + shownDefault(field.initial) + ")";
  if (!toldDefault && field.tuning()) text += " (default from the settings template)";

  std::string lines = "  " + name;
  std::size_t column = lines.size();
  const auto newLine = [&] {
    lines += "\n" + std::string(kUsageIndent, ' ');
    column = kUsageIndent;
  };
  if (column + 1 > kUsageIndent) {
    newLine();
  } else {
    lines += std::string(kUsageIndent - column, ' ');
    column = kUsageIndent;
  }
  std::size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!first && column + 1 + word.size() > kUsageWidth) {
      newLine();
    } else if (!first) {
      lines += " ";
      ++column;
    }
    lines += word;
    column += word.size();
    first = false;
    start = end + 1;
  }
  return lines + "\n";
}

}  // namespace

std::string CommandLine::value(const char *name) const {
  const auto found = values.find(name);
  return found != values.end() ? found->second : std::string();
}

bool CommandLine::setsForm() const {
  if (has(kUserOption) || has("--no-notify")) return true;
  for (const FormField &field : kFormFields) {
    if (isFlag(field) ? has(field.option) : hasValue(field.option)) return true;
  }
  return hasValue("--answers");
}

Result ParseCommandLine(int argc, char **argv, CommandLine *line) {
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
    const int code = getopt_long(argc, argv, "+:hq", table.options(), nullptr);
    if (code == -1) {  // "--": nothing after it is ours
      while (optind < argc)
        line->others.push_back(argv[optind++]);
      break;
    }
    if (code == '?' || code == ':') return refused(refusal(table, arg, code, optopt));
    const std::string name = code == 'h'   ? std::string("--help")
                             : code == 'q' ? std::string("--quiet")
                                           : table.name(code);
    const int value = table.value(name);
    // An optional value is a flag that may carry one.
    const bool added = value == required_argument ? line->values.emplace(name, optarg).second
                                                  : line->flags.emplace(name, true).second;
    if (!added) return refused("option " + name + " given twice");
    if (value == optional_argument && optarg != nullptr) line->values.emplace(name, optarg);
  }
  return {};
}

std::string UsageText() {
  std::string form;
  for (const FormField &field : kFormFields)
    form += usageLine(field);
  return "Prepares the current directory for the Velorix analysis program: in the\n"
         "Setup window on an X display, or without a window with --unattended.\n"
         "\n"
         "Usage: velorix-setup [OPTION]... [X OPTION]...  the Setup window, its form\n"
         "                                                preset by the options given\n"
         "       velorix-setup --unattended [OPTION]...   install without a window\n"
         "       velorix-setup --dry-run [--diff[=full]] [OPTION]...\n"
         "       velorix-setup --check [--diff[=full]] [OPTION]...\n"
         "       velorix-setup --text [OPTION]...         ask the form's questions in the\n"
         "                                                terminal\n"
         "       velorix-setup --verify [-q]              compare the installed files\n"
         "                                                with the record of them\n"
         "       velorix-setup --remove [--dry-run | --text] [--log FILE]\n"
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
         "  --diff[=full]         with --check or --dry-run: show what would change,\n"
         "                        a unified diff of each text file and a line per\n"
         "                        setting of the settings file; a file that is not\n"
         "                        there yet is one line (\"new file, 29 lines\"),\n"
         "                        unless =full\n"
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
         "  --save-site-defaults  root, with a Full installation: once it has ended,\n"
         "                        save its product directory and compiler fields as\n"
         "                        the starting values of every user's form on this\n"
         "                        host (/etc/velorix-setup/defaults)\n"
         "  --log FILE            append what each run does to FILE\n"
         "  --keep-backups N      keep at most N backups of the settings file (0 to 99,\n"
         "                        default 5): the newest is .velorixrc.bak, the one\n"
         "                        before it .velorixrc.bak.1, and so on; the oldest go\n"
         "                        first\n"
         "  --changed-files take|keep\n"
         "                        a file changed by hand since the last installation:\n"
         "                        take the new one and keep the changed copy as\n"
         "                        NAME.velorix-old (take, the default), or leave it as\n"
         "                        it is and write the new one to NAME.velorix-new\n"
         "                        (keep); with --unattended, --dry-run or --check\n"
         "  --verify              compare the files of the installation here with the\n"
         "                        record the last one left (.velorix-setup.sha256), one\n"
         "                        line per file missing or whose bytes, mode or owner\n"
         "                        differ (files of data only when missing), or one\n"
         "                        line when all hold: status 0 when all hold, 1 when\n"
         "                        not, 2 without a record\n"
         "  -q, --quiet           with --verify: no line when all hold\n"
         "  --remove              remove the files of the installation here that still\n"
         "                        hold what it wrote, then its record; a file changed\n"
         "                        since, or one the record names that no installation\n"
         "                        writes, is kept and named, and settings backups and\n"
         "                        kept copies stay: status 0 when all went, 1 when\n"
         "                        some were kept; with --dry-run, only say what would\n"
         "                        go and what would stay; with --text, ask first\n" +
         form +
         "  --no-notify           do not send the installation notice (over an answer\n"
         "                        file's notify = yes)\n"
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
         "A file that was changed since the last installation (its record says so) is\n"
         "kept as NAME.velorix-old when the installation replaces it (see\n"
         "--changed-files); --text asks.\n"
         "\n"
         "Exit status: 0 installed (the window: the installation ended; --check: the\n"
         "directory matches), 1 stopped by a message (the window: \"Cancel\" or the close\n"
         "box, the directory chooser's too) or, for --check, a difference found, or,\n"
         "for --text, no yes to \"Set up now?\" (Ctrl-C, end of input), 2 options or\n"
         "answer file not understood (--check: could not check), 3 no X display for\n"
         "the window.\n";
}

std::string CompletionTable() {
  std::string table;
  const auto row = [&table](const std::string &name, const std::string &value) {
    table += name + (value.empty() ? "" : " " + value) + "\n";
  };
  for (const FormField &field : kFormFields) {
    if (field.type == FieldType::kShellStyle) {
      row(field.option, ShellStyleNames("|"));
    } else {
      row(field.option, isFlag(field) ? "" : field.valueName);
    }
  }
  for (const OtherOption &option : kOtherOptions) {
    const std::string value = option.valueName != nullptr ? option.valueName : "";
    row(option.name, option.value == optional_argument ? "[=" + value + "]" : value);
  }
  return table;
}

std::string VersionLine() {
  const std::string description = VX_GIT_DESCRIPTION;
  return std::string(kProgram) + " " + VX_VERSION +
         (description.empty() ? "" : " (git " + description + ")");
}

std::string QuotedCommandLine(int argc, char **argv) {
  // An argument is quoted when it holds anything but letters, digits and
  // a few harmless marks.
  constexpr const char *kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool plain = !arg.empty() && arg.find_first_not_of(kPlain) == std::string::npos;
    line += (i == 0 ? "" : " ") + (plain ? arg : ShellWord(arg));
  }
  return line;
}

bool IsOption(const char *arg) { return (arg[0] == '-' || arg[0] == '+') && arg[1] != '\0'; }
