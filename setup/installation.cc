/*
 * installation.cc - the installation procedure behind "Setup".
 *
 * RunInstallation takes the form's values and does, in this order: checks
 * the product directory, writes the settings file from its template and
 * stores the form's values in it, makes sure the names file exists, writes
 * the installation-wide files and compiles the symbolic-differentiation
 * object (Full) or looks for that object in the product directory (User),
 * removes the visuals file, writes the palette file, records the current
 * class and, with the user's consent, sends the installation notice.
 *
 * A failure that makes the rest meaningless shows a message and returns
 * Stopped; nothing done before it is undone, and the next run starts again
 * from the settings template.  Every other failure shows a message and the
 * procedure goes on.  Paths come from the settings file just written and
 * are read with GetParamString: a product directory may hold "%", which
 * must stay literal, so no path is ever used as a printf format.
 */
#include "installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "file_writing.h"
#include "templates.h"
#include "utility.h"

// The autodif compile command; after the compile step it is the line
// buffer for the class description file.
char CompAutodif[VX_PARBUF_SIZE];

// Nobody reads the notice but the maintainers; they are one address here
// so that changing them is a one-line edit.
const char *const kNoticeRecipients = "velorix-install@velorix.org";

namespace {

// The notice command; "?" becomes the installation-kind letter and
// RECIPIENTS the addresses above.  "\n" is a line feed inside the quotes.
constexpr char kNoticeHead[] =
    "echo '\nVELORIX 1.5? installed on'>del1;uname -a>del2;cat del1 del2|mail";
constexpr char kNoticeTail[] = ";rm del1 del2";

constexpr char kSettingsDirectory[] = ".";
constexpr char kSettingsName[] = ".velorixrc";
constexpr char kProductExecutable[] = "velorix";
constexpr char kSettingsPermissions[] = "rw-r--r--";
constexpr char kReadOnlyPermissions[] = "r--r--r--";
constexpr char kPalettePermissions[] = "rw-r--r--";
constexpr mode_t kNamesFileMode = 0644;
constexpr char kNamesFileContent = '-';
constexpr char kEmptyMarkText[] = "`";
constexpr char kDisabledOption[] = "-";
constexpr char kAutodifObject[] = "autodif.o";
constexpr char kAutodifC[] = "autodif.c";
constexpr char kAutodifCpp[] = "autodif.cc";
constexpr char kProductObject[] = "$(Paths.KERNEL)autodif$(Extensions.OBJ)";
constexpr char kHierarchyLine[] = "&hierarchy";
constexpr char kSectionMark = '&';

constexpr char kMsgNoDirectory[] = "Specify full path to the VELORIX's home directory";
constexpr char kMsgNoExecutable[] = "The path you've specified does not contain VELORIX executable";
constexpr char kMsgCompileFailed[] =
    "Cannot compile autodif.cc.\nSymbolical differentiation feature will be "
    "disabled.\nPlease check the name of C++ compiler\nand ensure it is "
    "accessable via the PATH variable";
constexpr char kMsgNoProductObject[] =
    "Could not run C++ compiler during the full installation.\nSymbolical "
    "differentiation feature will be disabled.";

InstallPlan *gPlan = nullptr;  // set while a dry run is in progress

// Clears gPlan however RunInstallation returns.
class PlanScope {
 public:
  explicit PlanScope(InstallPlan *plan) { gPlan = plan; }
  ~PlanScope() { gPlan = nullptr; }
  PlanScope(const PlanScope &) = delete;
  PlanScope &operator=(const PlanScope &) = delete;
};

// Every message of the procedure: a modal box with OK.  The text is never
// a format.
void Show(const std::string &text) { Nlm_Message(MSG_OK, "%s", text.c_str()); }

void Plan(const std::string &line) { gPlan->lines.push_back(line); }

std::string SettingsPath() { return std::string(kSettingsDirectory) + "/" + kSettingsName; }

// The directory with "/" appended unless it already ends in one.
std::string WithSlash(const std::string &directory) {
  if (!directory.empty() && directory.back() == '/') return directory;
  return directory + "/";
}

// Where path lies for the file system: a dry run runs from a scratch
// directory, so its relative paths belong to the planned directory.
std::string Resolve(const std::string &path) {
  if (gPlan == nullptr || path.empty() || path[0] == '/') return path;
  return WithSlash(gPlan->workDir) + path;
}

bool Exists(const std::string &path) { return access(Resolve(path).c_str(), F_OK) == 0; }

// True when source was modified strictly later than object; a source whose
// time cannot be read is not newer.
bool Newer(const char *source, const char *object) {
  struct stat s, o;
  if (stat(Resolve(source).c_str(), &s) != 0) return false;
  if (stat(Resolve(object).c_str(), &o) != 0) return true;
  return difftime(s.st_mtime, o.st_mtime) > 0;
}

void ShowMissingKey(const char *section, const char *key) {
  Show("The settings file '" + SettingsPath() + "' has no usable value for [" + section + "] " +
       key + ".\nThe installation has been stopped.");
}

// Reads [section] key expanded but not formatted (paths may hold "%").
// False after a message when the key is missing or does not expand.
bool ReadSetting(const char *section, const char *key, std::string &out) {
  const char *value = GetParamString(section, key);
  if (value == nullptr) {
    ShowMissingKey(section, key);
    return false;
  }
  out = value;
  return true;
}

// Stores value under [section] key.  False when the settings file does not
// take it; SetParam has told the user why, and the installation stops,
// since a setting it needs is missing.
bool Store(const char *section, const char *key, const std::string &value) {
  if (gPlan != nullptr) Plan(std::string("store [") + section + "] " + key + "=" + value);
  std::string buffer = value;  // SetParam converts line feeds in place
  return SetParam(section, key, buffer.data()) != FALSE;
}

// Writes a template, or plans it.  CreateFile reports its own failures.
void WriteTemplate(const std::string &path, const char *const *lines, const char *permissions,
                   bool expand, const char *what) {
  if (gPlan != nullptr) {
    Plan("write " + path + " (" + permissions + ") from the " + what);
    return;
  }
  CreateFile(path.c_str(), lines, permissions, expand ? TRUE : FALSE);
}

// ---- checks before anything is written --------------------------------

bool CheckLength(const std::string &text, std::size_t limit, const char *field) {
  if (text.size() <= limit) return true;
  Show(std::string("The text of the field '") + field + "' is longer than " +
       std::to_string(limit) + " characters.\nPlease shorten it.");
  return false;
}

// A stored value must leave its settings line within kSettingsLineLimit.
bool CheckLine(const char *key, std::size_t valueLength, const char *field) {
  if (std::strlen(key) + 1 + valueLength <= kSettingsLineLimit) return true;
  Show(std::string("The text of the field '") + field +
       "' is too long for the settings file:\na settings line holds at most " +
       std::to_string(kSettingsLineLimit) + " characters.");
  return false;
}

std::string TrimmedTuning(const std::string &text) {
  std::string buffer = text;
  StrTrim(buffer.data());
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer.empty() ? std::string(kEmptyMarkText) : buffer;
}

// Refuses, before anything is written, every text that would be cut, would
// overflow a buffer or would break the settings file.
bool CheckForm(const InstallForm &form) {
  if (!CheckLength(form.kernel, kFieldLimit, "VELORIX directory") ||
      !CheckLength(form.include, kFieldLimit, "C compiler: Include") ||
      !CheckLength(form.lib, kFieldLimit, "C compiler: Libraries") ||
      !CheckLength(form.cppName, kFieldLimit, "C++ compiler: Name") ||
      !CheckLength(form.cppOptions, kCppOptionsLimit, "C++ compiler: Options"))
    return false;
  for (int i = 0; i < kAdjustRecords; ++i) {
    if (form.tuning[i] && !CheckLength(*form.tuning[i], kFieldLimit, Adjust[i].label)) return false;
  }
  // The settings file has no way to hold these literally in a path: "~"
  // reads back as a line break, "`" vanishes, "$(" starts a reference.
  if (form.kernel.find_first_of("~`") != std::string::npos ||
      form.kernel.find("$(") != std::string::npos) {
    Show("The VELORIX directory must not contain '~', '`' or '$(':\n"
         "the settings file cannot hold them in a path.");
    return false;
  }
  const std::string kernel = WithSlash(form.kernel);
  // INCLUDE is the include field, " -I" and the product directory.
  if (!CheckLine("KERNEL", kernel.size(), "VELORIX directory") ||
      !CheckLine("INCLUDE", form.include.size() + 3 + kernel.size(), "C compiler: Include") ||
      !CheckLine("LIB", form.lib.size(), "C compiler: Libraries") ||
      !CheckLine("CPPNAME", form.cppName.size(), "C++ compiler: Name") ||
      !CheckLine("CPPLIB", form.cppOptions.size(), "C++ compiler: Options"))
    return false;
  for (int i = 0; i < kAdjustRecords; ++i) {
    if (form.tuning[i] &&
        !CheckLine(Adjust[i].key, TrimmedTuning(*form.tuning[i]).size(), Adjust[i].label))
      return false;
  }
  if (form.full) {
    const int length = std::snprintf(nullptr, 0, "%s -c -o autodif.o autodif.cc %s",
                                     form.cppName.c_str(), form.cppOptions.c_str());
    if (length < 0 || static_cast<std::size_t>(length) > kCompileCommandLimit) {
      Show("The C++ compiler name and options are too long:\nthe command that "
           "compiles autodif.cc would exceed " +
           std::to_string(kCompileCommandLimit) + " characters.");
      return false;
    }
    // The compile script's first line; refused here, before the files
    // that come before the script are written.
    if (!CheckLength(form.shellPath, kShellPathLimit, "Shell path")) return false;
    if (form.shellStyle < 1 || form.shellStyle > kShellRecords) {
      Show("Choose a shell style for the compile script.");
      return false;
    }
  }
  return true;
}

// ---- the steps ----------------------------------------------------------

// Writes the settings template; the core library must forget the copy it
// parsed before, or its next write would bring the old values back.
bool WriteSettingsFile() {
  const std::string path = SettingsPath();
  if (gPlan != nullptr)
    Plan("write " + path + " (" + kSettingsPermissions + ") from the settings template");
  if (!CreateFile(path.c_str(), SetData, kSettingsPermissions, FALSE)) {
    Show("Cannot open settings file '" + path + "'");
    return false;
  }
  SettingsReload();
  return true;
}

bool StorePathsAndCompiler(const InstallForm &form) {
  if (!Store("Paths", "KERNEL", WithSlash(form.kernel)) ||
      !Store("Paths", "KERNELW", WithSlash(kSettingsDirectory)))
    return false;
  std::string kernel;
  if (!ReadSetting("Paths", "KERNEL", kernel)) return false;
  if (!Store("Compiler", "INCLUDE", form.include + " -I" + kernel) ||
      !Store("Compiler", "LIB", form.lib) || !Store("Compiler", "CPPNAME", form.cppName) ||
      !Store("Compiler", "CPPLIB", form.cppOptions))
    return false;
  // Only a Full installation runs it; CheckForm has made sure it fits then.
  const int length =
      std::snprintf(CompAutodif, sizeof CompAutodif, "%s -c -o autodif.o autodif.cc %s",
                    form.cppName.c_str(), form.cppOptions.c_str());
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof CompAutodif) CompAutodif[0] = '\0';
  return true;
}

bool StoreTuning(const InstallForm &form) {
  for (int i = 0; i < kAdjustRecords; ++i) {
    if (!form.tuning[i]) continue;
    if (!Store(Adjust[i].section, Adjust[i].key, TrimmedTuning(*form.tuning[i]))) return false;
  }
  return true;
}

// A new names file holds one "-".  O_EXCL: an existing file is never
// emptied, even one that appeared since the existence test.
void CreateNamesFile(const std::string &path) {
  if (gPlan != nullptr) {
    Plan("create " + path + " (rw-r--r--) holding \"-\"");
    return;
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, kNamesFileMode);
  if (fd < 0) {
    // An existing file is left alone; a dangling link is not a names file.
    if (errno == EEXIST && Exists(path)) return;
    Show("Cannot create names file '" + path + "'");
    return;
  }
  const bool written = write(fd, &kNamesFileContent, 1) == 1;
  const bool closed = close(fd) == 0;
  chmod(path.c_str(), kNamesFileMode);
  if (!written || !closed) Show("Cannot write names file '" + path + "'");
}

bool EnsureNamesFile() {
  std::string names;
  if (!ReadSetting("Files", "NAMES", names)) return false;
  bool present = Exists(names);
  if (!present) {
    std::string former;
    if (!ReadSetting("Files", "NAMES1.2", former)) return false;
    if (Exists(former)) {
      if (gPlan != nullptr) {
        Plan("rename " + former + " to " + names);
        present = true;
      } else {
        std::rename(former.c_str(), names.c_str());
        present = Exists(names);
      }
    }
  }
  if (!present) CreateNamesFile(names);
  return true;
}

// Interface-strings file, compile script and system header, all in the
// product directory.  Only an unwritable compile script stops.
bool WriteProductFiles(const InstallForm &form) {
  std::string path;
  if (!ReadSetting("Files", "INITFILE", path)) return false;
  WriteTemplate(path, init, kReadOnlyPermissions, false, "interface-strings template");

  if (!ReadSetting("Compiler", "BATCH", path)) return false;
  if (gPlan != nullptr) {
    Plan("write " + path + " (rwxr-xr-x), the " + shells[form.shellStyle - 1].name +
         " compile script, first line \"#! " + form.shellPath + "\"");
  } else if (!WriteCompileScript(path.c_str(), form.shellStyle, form.shellPath.c_str())) {
    Show("Cannot open batch file for compiler '" + path + "'");
    return false;
  }

  // The header lies in [Paths] INCLUDE, not in [Compiler] INCLUDE.
  if (!ReadSetting("Paths", "INCLUDE", path)) return false;
  if (GetParamAppend("Compiler", "HEADERF") == nullptr) {
    ShowMissingKey("Compiler", "HEADERF");
    return false;
  }
  path = ParBuf;
  WriteTemplate(path, IncludeRhs, kReadOnlyPermissions, true, "system header template");
  return true;
}

// Compiles autodif.o in the current directory when it is missing or older
// than one of its sources ("autodif.c" is compared first).
bool CompileAutodif() {
  const bool needed = !Exists(kAutodifObject) || Newer(kAutodifC, kAutodifObject) ||
                      Newer(kAutodifCpp, kAutodifObject);
  if (!needed) return true;
  if (gPlan != nullptr) {
    Plan(std::string("compile ") + kAutodifObject + ": " + CompAutodif);
    Plan(std::string("  should ") + kAutodifObject +
         " still be missing: store [Libraries] AUTODIFOPT=-");
    return true;
  }
  // The exit status says nothing reliable across compilers; the object
  // left on disk does.
  const int ignored = std::system(CompAutodif);
  (void)ignored;
  if (Exists(kAutodifObject)) return true;
  Show(kMsgCompileFailed);
  return Store("Libraries", "AUTODIFOPT", kDisabledOption);
}

// A User installation links against the object that the Full one made.
// The reference stays in [TMP] TMP.
bool CheckProductObject() {
  std::string path;
  if (!Store("TMP", "TMP", kProductObject) || !ReadSetting("TMP", "TMP", path)) return false;
  if (Exists(path)) return true;
  Show(kMsgNoProductObject);
  return Store("Libraries", "AUTODIFOPT", kDisabledOption);
}

bool RemoveVisualsAndWritePalette() {
  std::string path;
  if (!ReadSetting("Files", "VN", path)) return false;
  if (gPlan != nullptr) {
    if (Exists(path)) Plan("remove " + path);
  } else {
    unlink(path.c_str());
  }
  if (!ReadSetting("Files", "PALETTE", path)) return false;
  WriteTemplate(path, Palette, kPalettePermissions, false, "palette template");
  return true;
}

std::vector<std::string> Words(const char *line) {
  std::vector<std::string> words;
  const char *p = line;
  while (*p != '\0') {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    const char *start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    if (p > start) words.emplace_back(start, p);
  }
  return words;
}

// Expands a piece of the CLASSFILECUR pattern: "%%" is one "%", references
// are replaced.  False after a message.
bool ExpandPatternPiece(std::string piece, std::string &out) {
  std::string text;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    text += piece[i];
    if (piece[i] == '%' && i + 1 < piece.size() && piece[i + 1] == '%') ++i;
  }
  char buffer[VX_PARBUF_SIZE];
  if (text.size() >= sizeof buffer) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  if (!TranslateSized(buffer, sizeof buffer, "Files", "CLASSFILECUR")) return false;
  out = buffer;
  return true;
}

// [Files] CLASSFILECUR with its one "%s" taken by base.  The pattern's own
// text is split at that directive before the references are expanded, so
// that a "%" in the product directory stays literal.
bool ClassFilePath(const std::string &base, std::string &out) {
  char raw[VX_PARBUF_SIZE];
  if (Nlm_GetAppParam(VX_SETTINGS_BASE, "Files", "CLASSFILECUR", "", raw,
                      static_cast<Nlm_Int2>(sizeof raw)) == 0) {
    ShowMissingKey("Files", "CLASSFILECUR");
    return false;
  }
  const std::string pattern = raw;
  std::size_t directive = std::string::npos;
  bool other = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
    } else if (i + 1 < pattern.size() && pattern[i + 1] == 's' && directive == std::string::npos) {
      directive = i++;
    } else {
      other = true;
    }
  }
  if (directive == std::string::npos || other) {
    Show("The value of [Files] CLASSFILECUR in the settings file '" + SettingsPath() +
         "' is not a path pattern with one %s.\nThe installation has been stopped.");
    return false;
  }
  std::string head, tail;
  if (!ExpandPatternPiece(pattern.substr(0, directive), head) ||
      !ExpandPatternPiece(pattern.substr(directive + 2), tail)) {
    ShowMissingKey("Files", "CLASSFILECUR");
    return false;
  }
  out = head + base + tail;
  return true;
}

// The first entry of "&hierarchy" names the current class and, second,
// the base name of its description file.  An entry with fewer than two
// words, or none at all, stores nothing: the two keys belong together.
bool StoreCurrentClass() {
  std::string path;
  if (!ReadSetting("Files", "CLASSFILE", path)) return false;
  if (!DescOpen(Resolve(path).c_str())) {
    DescClose();
    Show("Cannot open class description file\n" + path);
    return false;
  }
  std::vector<std::string> words;
  if (FindLine(kHierarchyLine) != -1) {
    const char *line = GetLineSized(CompAutodif, sizeof CompAutodif);
    if (line != nullptr && line[0] != kSectionMark) words = Words(line);
  }
  DescClose();
  if (words.size() < 2) return true;

  std::string classFile;
  if (!ClassFilePath(words[1], classFile)) return false;
  if (std::strlen("CLASSCUR=") + words[0].size() > kSettingsLineLimit ||
      std::strlen("CLASSFILECUR=") + classFile.size() > kSettingsLineLimit) {
    Show("The class entry after " + std::string(kHierarchyLine) + " in\n" + path +
         "\nis too long for the settings file.\nThe current class has not been stored.");
    return true;
  }
  return Store("Currents", "CLASSCUR", words[0]) && Store("Files", "CLASSFILECUR", classFile);
}

void SendNotice(const InstallForm &form) {
  if (!form.noticeBoxExists || !form.noticeConsent) return;
  const std::string command = NoticeCommand(form.full);
  if (gPlan != nullptr) {
    Plan("send the installation notice: " + command);
    return;
  }
  const int ignored = std::system(command.c_str());
  (void)ignored;
}

}  // namespace

std::string NoticeCommand(bool full) {
  std::string command = std::string(kNoticeHead) + " " + kNoticeRecipients + kNoticeTail;
  const std::size_t mark = command.find('?');
  if (mark != std::string::npos) command[mark] = full ? 'm' : 'u';
  return command;
}

InstallOutcome RunInstallation(const InstallForm &form, InstallPlan *plan) {
  PlanScope scope(plan);
  if (form.kernel.empty()) {
    Show(kMsgNoDirectory);
    return InstallOutcome::Stopped;
  }
  if (!CheckForm(form)) return InstallOutcome::Stopped;
  if (!Exists(WithSlash(form.kernel) + kProductExecutable)) {
    Show(kMsgNoExecutable);
    return InstallOutcome::Stopped;
  }
  if (!WriteSettingsFile() || !StorePathsAndCompiler(form) || !StoreTuning(form) ||
      !EnsureNamesFile())
    return InstallOutcome::Stopped;
  if (form.full) {
    if (!WriteProductFiles(form) || !CompileAutodif()) return InstallOutcome::Stopped;
  } else if (!CheckProductObject()) {
    return InstallOutcome::Stopped;
  }
  if (!RemoveVisualsAndWritePalette() || !StoreCurrentClass()) return InstallOutcome::Stopped;
  SendNotice(form);
  return InstallOutcome::Ended;
}
