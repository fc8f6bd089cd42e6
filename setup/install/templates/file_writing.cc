/*
 * file_writing.cc - writing the built-in templates to files.
 *
 * CreateFile writes one template to one file, either line by line as it
 * stands or with each line expanded through the settings (references,
 * "~" and "`" resolved), and gives the file its final permissions.  The
 * compile-script writer is the same expanding loop with a first line of
 * its own, "#! " and the shell path from the form.
 *
 * A line is expanded in memory, as the settings code reads a value back,
 * against the settings as they stand: the settings file is not touched.
 *
 * A file is written whole under a temporary name beside it, gets its final
 * permissions and only then replaces the old one (atomic_file.h), so a
 * read-only file left by an earlier run is replaced as well, and a full
 * disk or a killed run never leaves half a file behind.  A path that names
 * a device (say /dev/null) is written to as it is and never chmod-ed,
 * since its permissions belong to the system.
 */
#include "file_writing.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "atomic_file.h"
#include "form_tables.h"
#include "utility.h"

namespace {

// Longest file name accepted: PATH_MAX less the terminating NUL.
constexpr std::size_t kMaxNameLength = 4095;

// An expanded line fits the settings buffer.
constexpr std::size_t kMaxLineLength = VX_PARBUF_SIZE - 1;

// The compile script's first line is "#! ", the shell path and a line
// feed, and must fit the settings buffer with its NUL.
constexpr char kShebang[] = "#! ";
static_assert(sizeof kShebang - 1 + kShellPathLimit + 2 == VX_PARBUF_SIZE,
              "the form refuses a longer shell path");

constexpr mode_t kScriptMode =  // 0755, rwxr-xr-x
    S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH;

// An expanded line is reported as if it were the scratch key it once went
// through, [TMP] TMP.
constexpr char kScratchSection[] = "TMP";
constexpr char kScratchKey[] = "TMP";

// The settings file as the core library names it: ".velorixrc" in the
// working or home directory, "velorixrc" in $NCBI.
constexpr char kSettingsLocalName[] = VX_SETTINGS_FILE;
constexpr char kSettingsSharedName[] = VX_SETTINGS_BASE "rc";
constexpr char kSettingsLocalPath[] = "./" VX_SETTINGS_FILE;

constexpr int kPermissionChars = 9;
struct PermissionBit {
  char letter;
  mode_t bit;
};
constexpr std::array<PermissionBit, kPermissionChars> kPermissionBits = {{
    {'r', S_IRUSR},
    {'w', S_IWUSR},
    {'x', S_IXUSR},
    {'r', S_IRGRP},
    {'w', S_IWGRP},
    {'x', S_IXGRP},
    {'r', S_IROTH},
    {'w', S_IWOTH},
    {'x', S_IXOTH},
}};

// The mode a new file gets without a permission string: what fopen
// would give it under the process's umask.
mode_t defaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Whether path is a file that the core library may hold parsed.
bool isSettingsFile(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base == kSettingsLocalName || base == kSettingsSharedName) return true;
  // Another name for the local settings file (a link to it).
  struct stat written, local;
  return stat(path.c_str(), &written) == 0 && stat(kSettingsLocalPath, &local) == 0 &&
         written.st_dev == local.st_dev && written.st_ino == local.st_ino;
}

Result nameTooLong(const std::string &shown) {
  return Result::Failed(
      Fault::kNotOpened,
      "Cannot open file: its name is longer than " + std::to_string(kMaxNameLength) + " characters",
      {shown.substr(0, kMaxNameLength)});
}

// A compile script that cannot be opened is told as one.
Result scriptNotOpened(Result written, const std::string &shown) {
  if (written.fault() != Fault::kNotOpened) return written;
  return Result::Failed(Fault::kNotOpened, "Cannot open batch file for compiler '" + shown + "'",
                        written.about(), written.detail());
}

// Appends lines (up to their NULL entry) to *text, each expanded unless
// expand is false; first is the number of the first line, for messages.
// A fault, with the first problem, when a line cannot be expanded: the
// settings code has said why (its message is raised here), and the file
// is not to be written, since a script must never run half a command.
Result renderLines(const char *const *lines, bool expand, int first, const std::string &shown,
                   std::string *text) {
  Result problem;
  int number = first;
  std::array<char, VX_PARBUF_SIZE> buffer;
  for (const char *const *line = lines; *line != nullptr; ++line, ++number) {
    if (!expand) {
      *text += *line;
      *text += '\n';
      continue;
    }
    const std::size_t length = strnlen(*line, kMaxLineLength + 1);
    bool expanded = false;
    if (length > kMaxLineLength) {
      if (problem.ok())
        problem = Result::Failed(Fault::kNotWritten,
                                 "Line " + std::to_string(number) + " of file '" + shown +
                                     "' is longer than " + std::to_string(kMaxLineLength) +
                                     " characters and cannot be expanded");
    } else {
      std::memcpy(buffer.data(), *line, length + 1);
      expanded =
          TranslateSized(buffer.data(), buffer.size(), kScratchSection, kScratchKey) != FALSE;
      if (!expanded && problem.ok()) problem = Result::Failed(Fault::kNotWritten, "");
    }
    if (expanded) *text += buffer.data();
    *text += '\n';
  }
  return problem;
}

// Writes the template to path whole, the first line (when given) before
// it, with mode; nothing is written when a line cannot be expanded.
Result writeTemplate(const std::string &path, const char *firstLine, const char *const *lines,
                     int first, bool expand, mode_t mode, const std::string &shown,
                     Placement placement) {
  std::string text;
  if (firstLine != nullptr) text = std::string(firstLine) + "\n";
  if (lines != nullptr) {
    Result rendered = renderLines(lines, expand, first, shown, &text);
    if (!rendered.ok())
      return Result::Failed(rendered.fault(), rendered.message(), {path}, rendered.detail());
  }
  Result written = WriteWholeFile(path, text, mode, shown, placement);
  // The core library would otherwise write its old parsed copy over the
  // file at the next change of a setting.
  if (written.ok() && isSettingsFile(path)) SettingsReload();
  return written;
}

}  // namespace

mode_t ModeFromPermissions(const char *permissions) {
  mode_t mode = 0;
  if (permissions == nullptr) return mode;
  for (int i = 0; i < kPermissionChars && permissions[i] != '\0'; ++i) {
    if (permissions[i] == kPermissionBits[i].letter) mode |= kPermissionBits[i].bit;
  }
  return mode;
}

Result CreateFile(const std::string &path, const char *const *lines, const char *permissions,
                  bool expand, const std::string &shownAs, Placement placement) {
  const std::string &shown = shownAs.empty() ? path : shownAs;
  if (path.size() > kMaxNameLength) return nameTooLong(shown);
  const mode_t mode = permissions != nullptr ? ModeFromPermissions(permissions) : defaultMode();
  return writeTemplate(path, nullptr, lines, 1, expand, mode, shown, placement);
}

Result CheckTemplatePlace(const std::string &path, const std::string &shownAs) {
  const std::string &shown = shownAs.empty() ? path : shownAs;
  if (path.size() > kMaxNameLength) return nameTooLong(shown);
  return AtomicFile(path, shown).check();
}

Result CheckCompileScriptPlace(const std::string &path, const std::string &shownAs) {
  return scriptNotOpened(CheckTemplatePlace(path, shownAs), shownAs.empty() ? path : shownAs);
}

Result WriteCompileScript(const std::string &path, int shellStyle, const std::string &shellPath,
                          const std::string &shownAs, Placement placement) {
  const std::string &shown = shownAs.empty() ? path : shownAs;
  if (path.size() > kMaxNameLength) return nameTooLong(shown);
  if (shellStyle < 1 || shellStyle > kShellRecords || shells[shellStyle - 1].script == nullptr) {
    return Result::Failed(Fault::kNotOpened,
                          "Unknown shell style " + std::to_string(shellStyle) +
                              ": the compile script cannot be written",
                          {path});
  }
  if (shellPath.size() > kShellPathLimit) {
    return Result::Failed(Fault::kNotOpened,
                          "The shell path is longer than " + std::to_string(kShellPathLimit) +
                              " characters: the compile script cannot be written",
                          {path});
  }
  const char *const *lines = shells[shellStyle - 1].script;
  const std::string first = kShebang + shellPath;
  // The template's first line is a placeholder for the one above.
  Result written = writeTemplate(path, first.c_str(), lines[0] != nullptr ? lines + 1 : nullptr, 2,
                                 true, kScriptMode, shown, placement);
  return scriptNotOpened(std::move(written), shown);
}
