/*
 * form_checks.cc - what the installation refuses before it writes
 * anything: the form's texts, the product directory, the references and
 * expanded lengths of what will be stored, and the links on the way to
 * each file the run writes.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "link_trust.h"
#include "procedure.h"
#include "shell_detection.h"
#include "templates.h"

namespace install_procedure {

namespace {

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

}  // namespace

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
    if (Result checked = CheckLinksOnPath(act_.resolve(path), last); !checked.ok()) return checked;
  }
  return {};
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

std::vector<MissingFile> MissingFrom(const InstallForm &form, const PathResolver &resolve) {
  if (kernelOf(form).empty()) return {};
  return MissingProductFiles(form, resolve);
}

Result CheckBeforeWriting(const InstallForm &form, const PathResolver &resolve,
                          const std::vector<MissingFile> &missing) {
  if (kernelOf(form).empty()) return refused(kMsgNoDirectory, {"", {Field::kKernel}});
  if (Result problem = checkForm(form); !problem.ok()) return problem;
  // The files the run needs from the product directory, each one that is
  // missing listed beneath the message of the first: all at once.
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

}  // namespace install_procedure

Result CheckBeforeWriting(const InstallForm &form, const PathResolver &resolve) {
  return install_procedure::CheckBeforeWriting(form, resolve,
                                               install_procedure::MissingFrom(form, resolve));
}
