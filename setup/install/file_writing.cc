/*
 * file_writing.cc - writing the built-in templates to files.
 *
 * CreateFile writes one template to one file, either line by line as it
 * stands or with each line expanded through the settings (references,
 * "~" and "`" resolved), and then gives the file its final permissions.
 * The compile-script writer is the same expanding loop with a first line
 * of its own, "#! " and the shell path from the form.
 *
 * Expanding a line means storing it as [TMP] TMP and reading it back; the
 * [TMP] section is removed when the file is done.  Each expansion rewrites
 * the settings file, which is cheap for the few dozen lines concerned.
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

#include "atomic_file.h"
#include "templates.h"
#include "utility.h"
#include "form_tables.h"

namespace {

// Longest file name accepted: PATH_MAX less the terminating NUL.
constexpr std::size_t kMaxNameLength = 4095;
using NameBuffer = std::array<char, kMaxNameLength + 1>;

// Longest template line that fits the settings buffer when expanded.
constexpr std::size_t kMaxLineLength = VX_PARBUF_SIZE - 1;

// The compile script's first line is "#! ", the shell path and a line
// feed, and must fit the settings buffer with its NUL.
constexpr char kShebang[] = "#! ";
constexpr std::size_t kShebangLength = sizeof kShebang - 1;
constexpr std::size_t kMaxShellPathLength = VX_PARBUF_SIZE - kShebangLength - 2;
static_assert(kMaxShellPathLength == kShellPathLimit, "the installation checks this limit");

constexpr mode_t kScriptMode =  // 0755, rwxr-xr-x
    S_IRWXU | S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH;

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

// Copies name into copy.  False, after a message, when it is too long.
bool copyName(const char *name, NameBuffer &copy) {
  if (name == nullptr) name = "";
  const std::size_t length = strnlen(name, kMaxNameLength + 1);
  if (length > kMaxNameLength) {
    Nlm_Message(MSG_OK, "Cannot open file: its name is longer than %d characters",
                static_cast<int>(kMaxNameLength));
    return false;
  }
  std::memcpy(copy.data(), name, length);
  copy[length] = '\0';
  return true;
}

// The mode a new file gets without a permission string: what fopen
// would give it under the process's umask.
mode_t defaultMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Whether path is a file that the core library may hold parsed.
bool isSettingsFile(const char *path) {
  const char *slash = std::strrchr(path, '/');
  const char *base = slash != nullptr ? slash + 1 : path;
  if (std::strcmp(base, kSettingsLocalName) == 0 || std::strcmp(base, kSettingsSharedName) == 0) {
    return true;
  }
  // Another name for the local settings file (a link to it).
  struct stat written, local;
  return stat(path, &written) == 0 && stat(kSettingsLocalPath, &local) == 0 &&
         written.st_dev == local.st_dev && written.st_ino == local.st_ino;
}

// One output file, written whole or not at all (atomic_file.h), with the
// line-by-line interface the writers need.  Write failures are sticky, so
// that a full disk found at the final flush is reported like one found at
// a line.
class OutputFile {
 public:
  explicit OutputFile(const char *path) : file_(path) { open_ = file_.open(); }

  bool isOpen() const { return open_; }

  // Writes text and a line feed; false when the stream has failed.
  bool writeLine(const char *text) {
    if (std::fprintf(file_.stream(), "%s\n", text) < 0) failed_ = true;
    return !failed_;
  }

  // Puts the file into place with mode; false, with the final name
  // untouched, when anything written was lost.
  bool close(mode_t mode) {
    if (failed_) {
      file_.discard();
      return false;
    }
    return file_.commit(mode);
  }

 private:
  AtomicFile file_;
  bool open_ = false;
  bool failed_ = false;
};

// The scratch key [TMP] TMP through which lines are expanded.  The
// section is removed by remove(), or at the end of the scope, once a line
// has been stored in it.  When the settings file refuses the key, the
// settings code has said so and the remaining lines are not tried: each
// would only repeat the same messages.
class ScratchKey {
 public:
  ScratchKey() = default;
  ~ScratchKey() { remove(); }
  ScratchKey(const ScratchKey &) = delete;
  ScratchKey &operator=(const ScratchKey &) = delete;

  // Expands line.  Returns ParBuf holding the expanded text, or nullptr
  // when it cannot be expanded; the settings code or this function has
  // told the user why.  number and path name the line in the message.
  const char *expand(const char *line, int number, const char *path) {
    std::array<char, VX_PARBUF_SIZE> value{};
    const std::size_t length = strnlen(line, kMaxLineLength + 1);
    lost_ = true;  // until the line has come back
    if (length > kMaxLineLength) {
      Nlm_Message(MSG_OK,
                  "Line %d of file '%s' is longer than %d characters and cannot be expanded",
                  number, path, static_cast<int>(kMaxLineLength));
      return nullptr;
    }
    if (refused_) return nullptr;
    std::memcpy(value.data(), line, length);
    if (!SetParam(kScratchSection, kScratchKey, value.data())) {
      refused_ = true;
      return nullptr;
    }
    used_ = true;
    const char *text = GetParamString(kScratchSection, kScratchKey);
    if (text != nullptr) lost_ = false;
    anyLost_ = anyLost_ || lost_;
    return text;
  }

  // Whether a line could not be expanded (and was written empty).
  bool anyLost() const { return anyLost_ || lost_; }

  void remove() {
    if (used_) SetParam(kScratchSection, nullptr, nullptr);
    used_ = false;
  }

 private:
  bool used_ = false;
  bool refused_ = false;
  bool lost_ = false;
  bool anyLost_ = false;
};

// Writes lines (up to their NULL entry) to out, each expanded through
// scratch unless it is nullptr; first is the number of the first line,
// for messages.  A line whose expansion fails is written as an empty line,
// so that the file keeps one line for each template line and a script
// never runs half a command.  Stops at the first write failure, after
// "Cannot write file", and returns false then.
bool writeLines(OutputFile &out, const char *const *lines, ScratchKey *scratch, int first,
                const char *path) {
  int number = first;
  for (const char *const *line = lines; *line != nullptr; ++line, ++number) {
    const char *text = *line;
    if (scratch != nullptr) {
      text = scratch->expand(*line, number, path);
      if (text == nullptr) text = "";
    }
    if (!out.writeLine(text)) {
      Nlm_Message(MSG_OK, "Cannot write file '%s'", path);
      return false;
    }
  }
  return true;
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

WriteResult WriteTemplateFile(const char *name, const char *const *lines, const char *permissions,
                              bool expand, const char *shownAs) {
  NameBuffer path, shown;
  if (!copyName(name, path) || !copyName(shownAs != nullptr ? shownAs : name, shown))
    return WriteResult::kNotOpened;

  OutputFile out(path.data());
  if (!out.isOpen()) {
    Nlm_Message(MSG_OK, "Cannot open file '%s'", shown.data());
    return WriteResult::kNotOpened;
  }
  ScratchKey scratch;
  bool written = true;
  if (lines != nullptr) {
    written = writeLines(out, lines, expand ? &scratch : nullptr, 1, shown.data());
  }
  const mode_t mode = permissions != nullptr ? ModeFromPermissions(permissions) : defaultMode();
  if (!out.close(mode)) {
    if (written) Nlm_Message(MSG_OK, "Cannot write file '%s'", shown.data());
    written = false;
  }
  // The core library would otherwise write its old parsed copy over the
  // file at the next change of a setting.
  if (written && isSettingsFile(path.data())) SettingsReload();
  scratch.remove();
  if (!written) return WriteResult::kNotWritten;
  return scratch.anyLost() ? WriteResult::kLinesLost : WriteResult::kWritten;
}

Nlm_Boolean CreateFile(const char *name, const char *const *lines, const char *permissions,
                       Nlm_Boolean expand) {
  return WriteTemplateFile(name, lines, permissions, expand != FALSE) != WriteResult::kNotOpened
             ? TRUE
             : FALSE;
}

WriteResult WriteCompileScriptFile(const char *path, int shellStyle, const char *shellPath,
                                   const char *shownAs) {
  NameBuffer script, shown;
  if (!copyName(path, script) || !copyName(shownAs != nullptr ? shownAs : path, shown))
    return WriteResult::kNotOpened;
  if (shellStyle < 1 || shellStyle > kShellRecords || shells[shellStyle - 1].script == nullptr) {
    Nlm_Message(MSG_OK, "Unknown shell style %d: the compile script cannot be written", shellStyle);
    return WriteResult::kNotOpened;
  }
  const char *const *lines = shells[shellStyle - 1].script;
  if (shellPath == nullptr) shellPath = "";
  if (std::strlen(shellPath) > kMaxShellPathLength) {
    Nlm_Message(MSG_OK,
                "The shell path is longer than %d characters: the compile script cannot be written",
                static_cast<int>(kMaxShellPathLength));
    return WriteResult::kNotOpened;
  }

  OutputFile out(script.data());
  if (!out.isOpen()) return WriteResult::kNotOpened;

  ScratchKey scratch;
  std::array<char, VX_PARBUF_SIZE> first{};
  std::snprintf(first.data(), first.size(), "%s%s", kShebang, shellPath);
  bool written = out.writeLine(first.data());
  if (!written) {
    Nlm_Message(MSG_OK, "Cannot write file '%s'", shown.data());
  } else if (lines[0] != nullptr) {
    // The template's first line is a placeholder for the one above.
    written = writeLines(out, lines + 1, &scratch, 2, shown.data());
  }
  if (!out.close(kScriptMode)) {
    if (written) Nlm_Message(MSG_OK, "Cannot write file '%s'", shown.data());
    written = false;
  }
  scratch.remove();
  if (!written) return WriteResult::kNotWritten;
  return scratch.anyLost() ? WriteResult::kLinesLost : WriteResult::kWritten;
}

Nlm_Boolean WriteCompileScript(const char *path, int shellStyle, const char *shellPath) {
  return WriteCompileScriptFile(path, shellStyle, shellPath) != WriteResult::kNotOpened ? TRUE
                                                                                        : FALSE;
}
