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
 * Every step returns a Result.  A failure that makes the rest meaningless
 * stops the run: its message is shown and the run returns Stopped;
 * nothing done before it is undone, and the next run starts again from the
 * settings template.  Every other failure is shown and the procedure goes
 * on.  Each message is shown once, by the procedure (tell()), the support
 * library's included: those are caught into the Result of the step that
 * raised them.  Paths come from the settings file just written and
 * are read with GetParamString: a product directory may hold "%", which
 * must stay literal, so no path is ever used as a printf format.
 */
#include "installation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "actions.h"
#include "atomic_file.h"
#include "file_writing.h"
#include "form.h"
#include "link_trust.h"
#include "form_tables.h"
#include "message_route.h"
#include "notice.h"
#include "object_file.h"
#include "product_files.h"
#include "setting_up.h"
#include "shell_detection.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsDirectory[] = ".";
constexpr char kSettingsName[] = VX_SETTINGS_FILE;
constexpr char kNamesFileContent[] = "-";
// An expanded line is read back into the settings buffer.
constexpr std::size_t kExpandedLineLimit = VX_PARBUF_SIZE - 1;
// Room to measure a line that expands to more than that.
constexpr std::size_t kMeasureSize = 8 * VX_PARBUF_SIZE;
constexpr char kEmptyMarkText[] = "`";
constexpr char kDisabledOption[] = "-";
constexpr char kAutodifObject[] = "autodif.o";
constexpr char kAutodifC[] = "autodif.c";
// Beside the object, the command that made it (as kbuild keeps
// ".NAME.o.cmd"): a changed option leaves every time as it was, and only
// the command tells that the object is not what the form asks for.
constexpr const char *kAutodifRecord = kAutodifCommandFile;
constexpr char kRecordPermissions[] = "rw-r--r--";
constexpr char kKernelObject[] = "$(Paths.KERNEL)autodif$(Extensions.OBJ)";
constexpr char kHierarchyLine[] = "&hierarchy";

// A path that the steps below read from the settings: [section] key, and
// then the value of [then] thenKey appended to it when given (the system
// header's name after its directory).
struct SettingPath {
  const char *section;
  const char *key;
  bool fullOnly;
  const char *then = nullptr;
  const char *thenKey = nullptr;
};
// Every one the steps read, in their order.
constexpr SettingPath kSettingPaths[] = {
    {"Files", "NAMES", false},
    {"Files", "NAMES1.2", false},
    {"Files", "INITFILE", true},
    {"Compiler", "BATCH", true},
    {"Paths", "INCLUDE", true, "Compiler", "HEADERF"},
    {"Files", "VN", false},
    {"Files", "PALETTE", false},
    {"Files", "CLASSFILE", false},
    {"Files", "CLASSFILECUR", false},
};
constexpr char kSectionMark = '&';

constexpr char kMsgNoDirectory[] = "Specify full path to the VELORIX's home directory";
constexpr char kMsgNoExecutable[] = "The path you've specified does not contain VELORIX executable";
constexpr char kMsgNoClassFile[] = "Cannot open class description file\n";
constexpr char kMsgNoProductObject[] =
    "Could not run C++ compiler during the full installation.\nSymbolical "
    "differentiation feature will be disabled.";

std::string settingsPath() { return std::string(kSettingsDirectory) + "/" + kSettingsName; }

const std::string &kernelOf(const InstallForm &form) { return form.text(Field::kKernel); }

// The command that compiles autodif.cc into output.
std::string compileCommand(const InstallForm &form, const std::string &output = kAutodifObject) {
  return form.text(Field::kCppName) + " -c -o " + output + " " + kAutodifSource + " " +
         form.text(Field::kCppOptions);
}

// What the record beside the object holds for the form's command.
std::string compileRecord(const InstallForm &form) {
  return std::string("cmd_") + kAutodifObject + " := " + compileCommand(form) + "\n";
}

// ---- checks before anything is written --------------------------------

Result refused(std::string message, MessageSubject about) {
  return Result::Failed(Fault::kRefused, std::move(message), std::move(about));
}

// Refuses every text that would be cut, would overflow a buffer or would
// not read back from the settings file as it was typed.
Result checkForm(const InstallForm &form) {
  if (Result checked = CheckFields(form); !checked.ok()) return checked;
  if (!form.full) return {};
  if (compileCommand(form).size() > kCompileCommandLimit) {
    return refused("The C++ compiler name and options are too long:\nthe command that compiles "
                   "autodif.cc would exceed " +
                       std::to_string(kCompileCommandLimit) + " characters.",
                   {"", {Field::kCppName, Field::kCppOptions}});
  }
  // The compiler runs by its name: without one, the object and the
  // compile script's derivative step could only fail.
  if (form.text(Field::kCppName).find_first_not_of(" \t") == std::string::npos) {
    return refused(std::string("The text of the field '") + FieldRow(Field::kCppName).label +
                       "' is empty:\nthe symbolic-differentiation object is compiled with it.",
                   {"", {Field::kCppName}});
  }
  // The compile script's first line; refused here, before the files that
  // come before the script are written.
  if (form.text(Field::kShellPath).find_first_not_of(" \t") == std::string::npos) {
    return refused(std::string("The text of the field '") + FieldRow(Field::kShellPath).label +
                       "' is empty:\nthe compile script's first line needs the path of a shell.",
                   {"", {Field::kShellPath}});
  }
  if (form.shellStyle < 1 || form.shellStyle > kShellRecords)
    return refused("Choose a shell style for the compile script.", {"", {Field::kShellStyle}});
  return {};
}

// The compile script runs under the shell of its first line, and a shell
// of the other family cannot run it.  Told before anything is written, as
// a notice only: both values are the user's to choose.
Result shellMismatch(const InstallForm &form) {
  const std::string &path = form.text(Field::kShellPath);
  const int family = ShellPathFamilyStyle(path);
  if (family == 0 || family == form.shellStyle) return {};
  const std::string shell = ShellPathCommand(path);
  return Result::Notice(std::string("The shell style is ") + ShellStyleName(form.shellStyle) +
                            ", but the shell path " + shell + " names a shell of the " +
                            ShellStyleName(family) +
                            " family:\nthe compile script may fail when it runs.",
                        {shell, {Field::kShellStyle}});
}

std::vector<std::string> words(const char *line) {
  std::vector<std::string> found;
  const char *p = line;
  while (*p != '\0') {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    const char *start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    if (p > start) found.emplace_back(start, p);
  }
  return found;
}

// Expands a piece of the CLASSFILECUR pattern: "%%" is one "%", references
// are replaced.  False when it does not expand.
bool expandPatternPiece(const std::string &piece, std::string &out) {
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

// Hands every action on, each with the messages the support library raises
// while it works caught into its Result: the procedure shows them with the
// step's own, once.
class CatchingActions : public ForwardingActions {
 public:
  using ForwardingActions::ForwardingActions;

  Result begin() override { return caught([&] { return ForwardingActions::begin(); }); }
  Result end(bool keep) override {
    return caught([&] { return ForwardingActions::end(keep); });
  }
  Result writeSettingsFile(const std::string &path, const char *permissions) override {
    return caught([&] { return ForwardingActions::writeSettingsFile(path, permissions); });
  }
  Result store(const char *section, const char *key, const std::string &value) override {
    return caught([&] { return ForwardingActions::store(section, key, value); });
  }
  Result writeStores() override {
    return caught([&] { return ForwardingActions::writeStores(); });
  }
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override {
    return caught(
        [&] { return ForwardingActions::writeTemplate(path, lines, permissions, expand); });
  }
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override {
    return caught(
        [&] { return ForwardingActions::writeCompileScript(path, shellStyle, shellPath); });
  }
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override {
    return caught([&] { return ForwardingActions::createFile(path, content, permissions); });
  }
  Result writeFile(const std::string &path, const std::string &content,
                   const char *permissions) override {
    return caught([&] { return ForwardingActions::writeFile(path, content, permissions); });
  }
  Result renameFile(const std::string &from, const std::string &to) override {
    return caught([&] { return ForwardingActions::renameFile(from, to); });
  }
  Result removeFile(const std::string &path) override {
    return caught([&] { return ForwardingActions::removeFile(path); });
  }
  Result compile(const CommandFor &command, const std::string &target,
                 const std::string &why) override {
    return caught([&] { return ForwardingActions::compile(command, target, why); });
  }
  Result sendNotice(const std::string &command) override {
    return caught([&] { return ForwardingActions::sendNotice(command); });
  }
  Result claimFile(const std::string &path) override {
    return caught([&] { return ForwardingActions::claimFile(path); });
  }
  Result claimData(const std::string &path, const std::string &made) override {
    return caught([&] { return ForwardingActions::claimData(path, made); });
  }

 private:
  template <typename Step>
  static Result caught(Step step) {
    CaughtMessages messages;
    Result result = step();
    return messages.into(std::move(result));
  }
};

// ---- the steps ----------------------------------------------------------

// One run of the procedure: the form, and the actions that carry the
// steps out.  Every step returns a Result: done, to go on, or the fault
// that stops the run; the run shows each message once (tell()).
class Procedure {
 public:
  Procedure(const InstallForm &form, Actions &actions) : form_(form), act_(actions) {}

  InstallOutcome run();

 private:
  bool exists(const std::string &path) const {
    return access(act_.resolve(path).c_str(), F_OK) == 0;
  }
  bool newer(const char *source, const char *object) const;
  Result missingKey(const char *section, const char *key) const;
  std::vector<MissingFile> missingFiles() const {
    return MissingProductFiles(form_,
                               [this](const std::string &path) { return act_.resolve(path); });
  }
  Result readSetting(const char *section, const char *key, std::string &out) const;
  // Tells that the step named what begins, for a frontend that shows it.
  void step(const char *what) { act_.progress(what); }
  // Shows what result has to tell, if anything: the one place where the
  // procedure's messages are shown.  True when the step is done.
  bool tell(const Result &result) {
    if (!result.message().empty()) act_.show(result.message(), result.about());
    return result.ok();
  }
  // A store that the settings file does not take leaves it unsound: the
  // installation stops, since a setting it needs is missing.
  Result store(const char *section, const char *key, const std::string &value) {
    Result stored = act_.store(section, key, value);
    if (!stored.ok()) settingsSound_ = false;
    return stored;
  }
  // Notes how a write went: the procedure goes on after a file that was
  // not written, as it always has, but does not end as if all was well.
  void wrote(const Result &result) { failed_ = !tell(result) || failed_; }

  void adviseWhere();
  Result steps();
  Result writeSettingsFile();
  Result settingsNotOpened(const Result &opened);
  Result checkExpandedTexts();
  Field longestField(const char *line) const;
  Result storeFields();
  Result storeTogether(const std::function<Result()> &stores);
  Result checkReferences();
  Result ensureNamesFile();
  Result checkPlaces();
  Result headerPath(std::string &path);
  Result writeProductFiles();
  std::string compileReason() const;
  Result compileAutodif();
  Result checkKernelObject();
  Result removeVisualsAndWritePalette();
  Result classFilePath(const std::string &base, std::string &out) const;
  Result storeCurrentClass();
  void sendNotice();

  const InstallForm &form_;
  CatchingActions act_;
  bool settingsWritten_ = false;  // the template is in the scratch settings file
  bool settingsSound_ = true;     // and every value was stored in it
  bool failed_ = false;           // a file was not written whole
  bool refused_ = false;          // the form was refused before anything was written
};

// True when source was modified strictly later than object; a source whose
// time cannot be read is not newer.
bool Procedure::newer(const char *source, const char *object) const {
  struct stat s, o;
  if (stat(act_.resolve(source).c_str(), &s) != 0) return false;
  if (stat(act_.resolve(object).c_str(), &o) != 0) return true;
  return difftime(s.st_mtime, o.st_mtime) > 0;
}

Result Procedure::missingKey(const char *section, const char *key) const {
  return Result::Failed(Fault::kRefused,
                        "The settings file '" + settingsPath() + "' has no usable value for [" +
                            section + "] " + key + ".\nThe installation has been stopped.",
                        {settingsPath()});
}

// Reads [section] key expanded but not formatted (paths may hold "%").
// Refused, with what the settings code said, when the key is missing or
// does not expand.
Result Procedure::readSetting(const char *section, const char *key, std::string &out) const {
  CaughtMessages messages;
  const char *value = GetParamString(section, key);
  if (value == nullptr) return messages.into(missingKey(section, key));
  out = value;
  return messages.into({});
}

Result Procedure::writeSettingsFile() {
  const std::string path = settingsPath();
  const Result written = act_.writeSettingsFile(path, kSettingsPermissions);
  if (written.ok()) {
    settingsWritten_ = true;
    return written;
  }
  if (written.fault() != Fault::kNotOpened) return written;
  return settingsNotOpened(written);
}

// Two messages, the file's and then the settings file's.
Result Procedure::settingsNotOpened(const Result &opened) {
  tell(opened);
  return Result::Failed(Fault::kNotOpened, "Cannot open settings file '" + settingsPath() + "'",
                        opened.about());
}

// Runs stores, whose values go into the settings file with one rewrite
// (the core library rewrites the whole file for each value otherwise);
// done when stores succeeded and the file holds every value.
Result Procedure::storeTogether(const std::function<Result()> &stores) {
  act_.holdStores();
  const Result stored = stores();
  // What was stored before a refusal is written all the same, as it
  // would have been one by one.
  Result written = act_.writeStores();
  if (!written.ok()) {
    settingsSound_ = false;
    tell(stored);
    return written;
  }
  return stored;
}

// The form's values, in table order; the installed directory itself goes
// in right after the product directory.
Result Procedure::storeFields() {
  return storeTogether([this]() -> Result {
    std::string kernel;
    for (const FormField &field : kFormFields) {
      if (field.section == nullptr || !form_.has(field.id)) continue;
      if (Result r = store(field.section, field.key, StoredText(form_, field.id, kernel)); !r.ok())
        return r;
      if (field.id != Field::kKernel) continue;
      if (Result r = store("Paths", "KERNELW", WithSlash(kSettingsDirectory)); !r.ok()) return r;
      if (Result r = readSetting("Paths", "KERNEL", kernel); !r.ok()) return r;
    }
    return {};
  });
}

// The first "$(" of text that does not begin a reference which resolves in
// the settings as they now stand; empty when every one does.  What the
// settings code says of it is dropped: the caller names the field.
std::string unresolvedReference(const std::string &text) {
  CaughtMessages ignored;
  for (std::size_t at = text.find("$("); at != std::string::npos; at = text.find("$(", at + 2)) {
    const std::size_t dot = text.find('.', at + 2);
    const std::size_t close = dot == std::string::npos ? dot : text.find(')', dot + 1);
    if (close == std::string::npos || dot == at + 2 || close == dot + 1) return text.substr(at);
    const std::string reference = text.substr(at, close + 1 - at);
    std::array<char, VX_PARBUF_SIZE> buffer{};
    if (reference.size() >= buffer.size()) return reference;
    std::memcpy(buffer.data(), reference.c_str(), reference.size() + 1);
    if (!TranslateSized(buffer.data(), buffer.size(), nullptr, nullptr)) return reference;
  }
  return {};
}

// A field may refer to a setting, "-I$(Paths.KERNEL)inc", but only to one
// that the settings written hold: anything else would not read back as the
// user typed it.  Refused before anything is written in the directory.
Result Procedure::checkReferences() {
  for (const FormField &field : kFormFields) {
    if (field.section == nullptr || !form_.has(field.id)) continue;
    const std::string wrong = unresolvedReference(form_.text(field.id));
    if (wrong.empty()) continue;
    const std::string given = form_.origin(field.id);
    return refused(
        std::string("The text of the field '") + field.label +
            "' holds a reference that the settings cannot resolve:\n" + wrong +
            "\nOnly references to settings that exist may be used, such as "
            "$(Paths.KERNEL).",
        {"", {field.id}, given.empty() ? "" : given + ": the value of " + field.answerKey});
  }
  return {};
}

// A new names file holds one "-"; an existing one, or the one of an
// earlier version renamed, is kept.
Result Procedure::ensureNamesFile() {
  std::string names;
  if (Result r = readSetting("Files", "NAMES", names); !r.ok()) return r;
  // A directory of that name is no names file: createFile says so.
  struct stat st;
  bool present = stat(act_.resolve(names).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  if (!present) {
    std::string former;
    if (Result r = readSetting("Files", "NAMES1.2", former); !r.ok()) return r;
    // Only a file is taken over: a directory, a device or a link to
    // nowhere under that name is the user's to sort out.
    struct stat link, file;
    const std::string formerPath = act_.resolve(former);
    const bool named = lstat(formerPath.c_str(), &link) == 0;
    const bool reached = named && stat(formerPath.c_str(), &file) == 0;
    if (named && (!reached || !S_ISREG(file.st_mode))) {
      const char *what = !reached                ? "a link to nothing"
                         : S_ISDIR(file.st_mode) ? "a directory"
                                                 : "not a regular file";
      return refused("The names file of an earlier version, '" + former + "', is " + what +
                         ".\nIt has not been taken over as the names file '" + names +
                         "'; please move it away and try again.",
                     {formerPath});
    }
    // A rename that fails leaves the former file as it was; a new names
    // file is made below.
    if (exists(former)) present = act_.renameFile(former, names).ok();
  }
  if (!present) {
    wrote(act_.createFile(names, kNamesFileContent, kNamesPermissions));
  } else {
    // The program's data: the installation's only when one made it.
    tell(act_.claimData(names, kNamesFileContent));
  }
  return {};
}

// Every link on the way to a file that the run writes, renames or removes
// is one it may follow (link_trust.h): refused before anything is written.
// A path that cannot be read from the settings is left to the step that
// reads it, which says why.
Result Procedure::checkPlaces() {
  struct Place {
    const char *section;
    const char *key;
    bool fullOnly;
    LastPart last;
  };
  constexpr Place kPlaces[] = {
      {"Files", "NAMES", false, LastPart::kFollowed},
      {"Files", "NAMES1.2", false, LastPart::kNamed},
      {"Files", "INITFILE", true, LastPart::kFollowed},
      {"Compiler", "BATCH", true, LastPart::kFollowed},
      {"Files", "VN", false, LastPart::kNamed},
      {"Files", "PALETTE", false, LastPart::kFollowed},
  };
  std::vector<std::pair<std::string, LastPart>> places;
  if (form_.full) {
    places.emplace_back(kAutodifObject, LastPart::kFollowed);
    places.emplace_back(kAutodifRecord, LastPart::kFollowed);
    std::string header;
    if (headerPath(header).ok()) places.emplace_back(header, LastPart::kFollowed);
  }
  for (const Place &place : kPlaces) {
    std::string path;
    if (place.fullOnly && !form_.full) continue;
    if (readSetting(place.section, place.key, path).ok()) places.emplace_back(path, place.last);
  }
  for (const auto &[path, last] : places) {
    if (Result checked = CheckLinksOnPath(act_.resolve(path), last); !checked.ok())
      return checked;
  }
  return {};
}

// The system header's path: [Paths] INCLUDE (not [Compiler] INCLUDE)
// with the file name appended before the whole is expanded.
Result Procedure::headerPath(std::string &path) {
  if (Result r = readSetting("Paths", "INCLUDE", path); !r.ok()) return r;
  CaughtMessages messages;
  if (GetParamAppend("Compiler", "HEADERF") == nullptr)
    return messages.into(missingKey("Compiler", "HEADERF"));
  path = ParBuf;
  return messages.into({});
}

// Interface-strings file, compile script and system header, all in the
// product directory.  Only a compile script that cannot be opened stops.
Result Procedure::writeProductFiles() {
  std::string path;
  if (Result r = readSetting("Files", "INITFILE", path); !r.ok()) return r;
  wrote(act_.writeTemplate(path, init, kReadOnlyPermissions, false));

  if (Result r = readSetting("Compiler", "BATCH", path); !r.ok()) return r;
  const Result script =
      act_.writeCompileScript(path, form_.shellStyle, form_.text(Field::kShellPath));
  if (script.fault() == Fault::kNotOpened) {
    failed_ = true;
    return script;
  }
  wrote(script);

  if (Result r = headerPath(path); !r.ok()) return r;
  wrote(act_.writeTemplate(path, IncludeRhs, kReadOnlyPermissions, true));
  return {};
}

// Whether text, expanded through the settings as they stand, fits the
// settings buffer the way every reader of the installation expands it:
// the whole text, with each reference still to expand, must fit at every
// step, so that a line may be refused though what it ends as is shorter.
// Too long when it fits only in a larger buffer; what does not expand for
// another reason is told by the step that reads it.
bool expandsTooLong(const char *text) {
  CaughtMessages ignored;
  std::array<char, VX_PARBUF_SIZE> buffer{};
  if (std::strlen(text) < buffer.size()) {
    std::memcpy(buffer.data(), text, std::strlen(text) + 1);
    if (TranslateSized(buffer.data(), buffer.size(), nullptr, nullptr)) return false;
  }
  std::vector<char> larger(kMeasureSize, '\0');
  std::strncpy(larger.data(), text, larger.size() - 1);
  return TranslateSized(larger.data(), larger.size(), nullptr, nullptr) != FALSE;
}

// The raw value of [section] key, as the settings file holds it.
std::string rawSetting(const char *section, const char *key) {
  std::array<char, VX_PARBUF_SIZE> raw{};
  Nlm_GetAppParam(VX_SETTINGS_BASE, section, key, "", raw.data(),
                  static_cast<Nlm_Int2>(raw.size()));
  return raw.data();
}

// Every text that the installation expands through the settings buffer,
// measured as it will be expanded once the form's values are stored: each
// expanded line of the compile script and of the system header, and each
// path the steps read from the settings.  One that does not fit would
// leave a file unwritten half-way through the run; it is refused before
// anything is written, naming the field that makes it long.
Result Procedure::checkExpandedTexts() {
  const auto refuse = [this](const std::string &what, const std::string &text) {
    const FormField &field = FieldRow(longestField(text.c_str()));
    return refused(what + " would be longer than " + std::to_string(kExpandedLineLimit) +
                       " characters with the values of the form.\nPlease shorten the field '" +
                       field.label + "'.",
                   {"", {field.id}});
  };
  const auto measureLines = [&](const char *const *lines, int first, const char *file) -> Result {
    for (int i = 0; lines[i] != nullptr; ++i) {
      if (expandsTooLong(lines[i]))
        return refuse("Line " + std::to_string(first + i) + " of " + file, lines[i]);
    }
    return {};
  };
  if (form_.full) {
    // The script's first line is the form's shell line, which the form
    // measures itself.
    const char *const *script = shells[form_.shellStyle - 1].script;
    if (script[0] != nullptr) {
      if (Result r = measureLines(script + 1, 2, "the compile script"); !r.ok()) return r;
    }
    if (Result r = measureLines(IncludeRhs, 1, "the system header"); !r.ok()) return r;
  }
  for (const SettingPath &path : kSettingPaths) {
    if (path.fullOnly && !form_.full) continue;
    std::string text = rawSetting(path.section, path.key);
    if (path.then != nullptr) text += rawSetting(path.then, path.thenKey);
    if (expandsTooLong(text.c_str()))
      return refuse(std::string("The path in [") + path.section + "] " + path.key, text);
  }
  if (!form_.full && expandsTooLong(kKernelObject))
    return refuse("The path of the product's object", kKernelObject);
  return {};
}

// The form field with the longest text among those whose stored values
// the line refers to; the product directory when it refers to none.  The
// include options carry the product directory as well.
Field Procedure::longestField(const char *line) const {
  Field longest = Field::kKernel;
  std::size_t length = 0;
  auto consider = [&](Field field) {
    if (form_.text(field).size() <= length) return;
    longest = field;
    length = form_.text(field).size();
  };
  for (const FormField &field : kFormFields) {
    if (field.section == nullptr || !form_.has(field.id)) continue;
    const std::string reference = std::string("$(") + field.section + "." + field.key + ")";
    if (std::strstr(line, reference.c_str()) == nullptr) continue;
    if (field.id == Field::kInclude) consider(Field::kKernel);
    consider(field.id);
  }
  return longest;
}

// Why autodif.o in the current directory is to be compiled: it is
// missing, no object, older than one of its sources ("autodif.c" is
// compared first), or made by another command than the form's; empty when
// it is not.
std::string Procedure::compileReason() const {
  // Only a file is an object: a directory of that name is in the way, and
  // the placement says so.
  const std::string path = act_.resolve(kAutodifObject);
  struct stat object;
  if (stat(path.c_str(), &object) != 0 || !S_ISREG(object.st_mode)) return "missing";
  // An empty file, or a piece of one, would otherwise be trusted for ever.
  if (!IsRelocatableObject(path)) return "not an object file";
  if (newer(kAutodifC, kAutodifObject) || newer(kAutodifSource, kAutodifObject))
    return "older than its sources";
  if (!FileHolds(act_.resolve(kAutodifRecord), compileRecord(form_)).value_or(false))
    return "compiled with another command";
  return {};
}

// Compiles autodif.o when it is due, and records the command beside it.
// Without an object, symbolic differentiation is turned off; an object
// that a failed compile leaves from before goes too, since it was made
// from other sources or with other options, and the next run with the
// same answers then finds nothing to change.
Result Procedure::compileAutodif() {
  const std::string why = compileReason();
  if (why.empty()) {
    // Up to date: left as the installation's.
    tell(act_.claimFile(kAutodifObject));
    tell(act_.claimFile(kAutodifRecord));
    return {};
  }
  const CommandFor command = [this](const std::string &output) {
    return compileCommand(form_, output);
  };
  step("Compiling autodif.cc ...");
  const Result compiled = act_.compile(command, kAutodifObject, why).listing(missingFiles());
  // The user stopped it: the run stops, and what was there stays.
  if (compiled.fault() == Fault::kCancelled) return compiled;
  if (tell(compiled)) {
    wrote(act_.writeFile(kAutodifRecord, compileRecord(form_), kRecordPermissions));
    return {};
  }
  // An object that was made but could not be put in place is a file not
  // written; a compile that failed is the designed degradation.
  if (compiled.fault() != Fault::kCommandFailed) {
    failed_ = true;
  } else {
    // The record first: an object without one is compiled again.
    wrote(act_.removeFile(kAutodifRecord));
    wrote(act_.removeFile(kAutodifObject));
  }
  return store("Libraries", "AUTODIFOPT", kDisabledOption);
}

// A User installation links against the object that the Full one made;
// a file of that name that is no object is as good as none.  The
// reference stays in [TMP] TMP.
Result Procedure::checkKernelObject() {
  std::string path;
  if (Result r = store("TMP", "TMP", kKernelObject); !r.ok()) return r;
  if (Result r = readSetting("TMP", "TMP", path); !r.ok()) return r;
  if (IsRelocatableObject(act_.resolve(path))) return {};
  tell(Result::Notice(kMsgNoProductObject, {path, {Field::kKernel}}).listing(missingFiles()));
  return store("Libraries", "AUTODIFOPT", kDisabledOption);
}

Result Procedure::removeVisualsAndWritePalette() {
  std::string path;
  if (Result r = readSetting("Files", "VN", path); !r.ok()) return r;
  wrote(act_.removeFile(path));
  if (Result r = readSetting("Files", "PALETTE", path); !r.ok()) return r;
  wrote(act_.writeTemplate(path, Palette, kPalettePermissions, false));
  return {};
}

// [Files] CLASSFILECUR with its one "%s" taken by base.  The pattern's own
// text is split at that directive before the references are expanded, so
// that a "%" in the product directory stays literal.
Result Procedure::classFilePath(const std::string &base, std::string &out) const {
  char raw[VX_PARBUF_SIZE];
  if (Nlm_GetAppParam(VX_SETTINGS_BASE, "Files", "CLASSFILECUR", "", raw,
                      static_cast<Nlm_Int2>(sizeof raw)) == 0)
    return missingKey("Files", "CLASSFILECUR");
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
    return refused("The value of [Files] CLASSFILECUR in the settings file '" + settingsPath() +
                       "' is not a path pattern with one %s.\nThe installation has been stopped.",
                   {settingsPath()});
  }
  std::string head, tail;
  CaughtMessages messages;
  if (!expandPatternPiece(pattern.substr(0, directive), head) ||
      !expandPatternPiece(pattern.substr(directive + 2), tail))
    return messages.into(missingKey("Files", "CLASSFILECUR"));
  out = head + base + tail;
  return messages.into({});
}

// The first entry of "&hierarchy" names the current class and, second,
// the base name of its description file.  An entry with fewer than two
// words, or none at all, stores nothing: the two keys belong together.
// A file without "&hierarchy" names no class, and that is no fault; but a
// "&hierarchy" with no usable entry after it is a broken file, and said.
Result Procedure::storeCurrentClass() {
  std::string path;
  if (Result r = readSetting("Files", "CLASSFILE", path); !r.ok()) return r;
  std::vector<std::string> entry;
  bool found = false;
  bool last = false;
  Result read;
  {
    CaughtMessages messages;
    if (!DescOpen(act_.resolve(path).c_str())) {
      DescClose();
      return messages.into(refused(kMsgNoClassFile + path, {path, {Field::kKernel}}));
    }
    if (FindLine(kHierarchyLine) != -1) {
      found = true;
      std::array<char, VX_PARBUF_SIZE> line;
      const char *text = GetLineSized(line.data(), line.size());
      last = text == nullptr;
      if (text != nullptr && text[0] != kSectionMark) entry = words(text);
    }
    DescClose();
    read = messages.into({});
  }
  // What the reader said of the file (an include skipped) is told, once
  // nothing catches messages any more.
  tell(read);
  if (found && entry.size() < 2) {
    tell(Result::Notice(
        last ? "The class description file\n" + path + "\nends with its line " + kHierarchyLine +
                   ": no class entry follows it.\nThe current class has not been stored."
             : "The entry after " + std::string(kHierarchyLine) + " in\n" + path +
                   "\nis not a class and the name of its description file (two words)."
                   "\nThe current class has not been stored.",
        {path}));
  }
  if (entry.size() < 2) return {};

  std::string classFile;
  if (Result r = classFilePath(entry[1], classFile); !r.ok()) return r;
  if (std::strlen("CLASSCUR=") + entry[0].size() > kSettingsLineLimit ||
      std::strlen("CLASSFILECUR=") + classFile.size() > kSettingsLineLimit) {
    tell(Result::Notice("The class entry after " + std::string(kHierarchyLine) + " in\n" + path +
                            "\nis too long for the settings file.\nThe current class has not "
                            "been stored.",
                        {path}));
    return {};
  }
  return storeTogether([&]() -> Result {
    if (Result r = store("Currents", "CLASSCUR", entry[0]); !r.ok()) return r;
    return store("Files", "CLASSFILECUR", classFile);
  });
}

// A notice that cannot be sent has been reported; the installation itself
// is done all the same.
void Procedure::sendNotice() {
  if (!form_.noticeBoxExists || !form_.noticeConsent) return;
  step("Sending the installation notice ...");
  tell(act_.sendNotice(NoticeCommand(form_.full)));
}

InstallOutcome Procedure::run() {
  const PathResolver resolve = [this](const std::string &path) { return act_.resolve(path); };
  step("Checking the form ...");
  if (!tell(CheckBeforeWriting(form_, resolve))) return InstallOutcome::Stopped;
  if (form_.full) tell(shellMismatch(form_));
  if (form_.full) adviseWhere();
  step("Preparing the directory ...");
  // The lock is never taken through a link or in a pipe; the settings
  // file, checked first of the files written, before it is built.
  if (!tell(CheckLockPlace(act_.resolve(kLockFileName))) ||
      !tell(CheckLinksOnPath(act_.resolve(settingsPath()))))
    return InstallOutcome::Refused;
  // A directory that cannot be written holds no settings file of theirs.
  Result begun = act_.begin();
  if (begun.message() == "Cannot open file '" + settingsPath() + "'")
    begun = settingsNotOpened(begun);
  if (!tell(begun)) return InstallOutcome::Stopped;
  const Result stopped = steps();
  tell(stopped);
  // The settings file goes into the directory when every step has run
  // and it is whole.  After a step that stopped the procedure, the
  // directory keeps the settings it had: the files written before the
  // stop are what any run writes, but settings half-way through are not
  // what the analysis program may start from.
  InstallOutcome outcome = refused_                   ? InstallOutcome::Refused
                           : stopped.ok() && !failed_ ? InstallOutcome::Ended
                                                      : InstallOutcome::Stopped;
  const bool keep = outcome == InstallOutcome::Ended && settingsWritten_ && settingsSound_;
  if (keep) step("Putting the settings file in place ...");
  if (!tell(act_.end(keep))) outcome = InstallOutcome::Stopped;
  if (outcome == InstallOutcome::Ended) sendNotice();
  return outcome;
}

// Before anything is written, what a Full installation may not expect:
// that it runs outside its product directory, and an autodif.cc missing
// where the compile looks, listed as the other files are.  Neither stops
// it.
void Procedure::adviseWhere() {
  std::string here = std::filesystem::path(act_.resolve(".")).lexically_normal().string();
  if (here.size() > 1 && here.back() == '/') here.pop_back();
  const std::vector<MissingFile> missing = missingFiles();
  const std::string words = AdviceBeforeWriting(form_, here, missing);
  if (!words.empty()) act_.advise(words, {"", {}, {}, missing});
}

// The steps in their order; the fault that stops them, or done.
Result Procedure::steps() {
  step("Writing the settings file ...");
  if (Result r = writeSettingsFile(); !r.ok()) return r;
  step("Storing the form's values ...");
  if (Result r = storeFields(); !r.ok()) return r;
  // Both are the form's faults, found before anything reaches the
  // directory: refused, as the form's other checks are.
  if (Result r = checkReferences(); !r.ok()) {
    refused_ = true;
    return r;
  }
  if (Result r = checkExpandedTexts(); !r.ok()) {
    refused_ = true;
    return r;
  }
  if (Result r = checkPlaces(); !r.ok()) {
    refused_ = true;
    return r;
  }
  step("Writing the names file ...");
  if (Result r = ensureNamesFile(); !r.ok()) return r;
  if (form_.full) {
    step("Writing the files of the product directory ...");
    if (Result r = writeProductFiles(); !r.ok()) return r;
    if (Result r = compileAutodif(); !r.ok()) return r;
  } else {
    step("Looking for autodif.o in the product directory ...");
    if (Result r = checkKernelObject(); !r.ok()) return r;
  }
  step("Writing the palette file ...");
  if (Result r = removeVisualsAndWritePalette(); !r.ok()) return r;
  step("Storing the current class ...");
  return storeCurrentClass();
}

}  // namespace

Result CheckBeforeWriting(const InstallForm &form, const PathResolver &resolve) {
  if (kernelOf(form).empty()) return refused(kMsgNoDirectory, {"", {Field::kKernel}});
  if (Result problem = checkForm(form); !problem.ok()) return problem;
  // The files the run needs from the product directory, each one that is
  // missing listed beneath the message of the first: all at once.
  const std::vector<MissingFile> missing = MissingProductFiles(form, resolve);
  const std::string executable = ProductFilePath(form, kProductExecutable, resolve);
  if (access(executable.c_str(), F_OK) != 0)
    return refused(kMsgNoExecutable, {executable, {Field::kKernel}, {}, missing});
  // Read only at the end of the procedure, but looked for now, so that
  // nothing is written for a product directory without one.
  const std::string classFile = ProductFilePath(form, kProductClassFile, resolve);
  if (access(classFile.c_str(), F_OK) != 0 || !ClassFileProblem(classFile).path.empty())
    return refused(kMsgNoClassFile + WithSlash(kernelOf(form)) + kProductClassFile,
                   {classFile, {Field::kKernel}, {}, missing});
  return {};
}

InstallOutcome RunInstallation(const InstallForm &form, Actions &actions) {
  return Procedure(form, actions).run();
}

InstallOutcome RunInstallation(const InstallForm &form) {
  RealActions actions;
  return RunInstallation(form, actions);
}
