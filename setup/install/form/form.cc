/*
 * form.cc - the form's defaults, its two switches and the check of its
 * fields.
 */
#include "form.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "shell_detection.h"

namespace {

// The text of a refusal that names the field as the window does.
std::string fieldMessage(Field field, const std::string &reason) {
  return std::string("The text of the field '") + FieldRow(field).label + "' " + reason;
}

Result refusedField(Field field, const std::string &reason) {
  return Result::Failed(Fault::kRefused, fieldMessage(field, reason), {"", {field}}, reason);
}

}  // namespace

std::string FieldRefusal(Field field, const std::string &text) {
  // Every field: the settings, the scripts and the messages take a text
  // as C does, up to its first NUL.
  if (text.find('\0') != std::string::npos)
    return "must not contain a NUL byte:\nthe text would be cut there.";
  const unsigned refuses = FieldRow(field).refuses;
  if ((refuses & kRefusesLineBreakMark) != 0 && text.find(VX_LINE_BREAK_MARK) != std::string::npos)
    return "must not contain '~':\nthe settings file reads it as a line break.";
  if ((refuses & kRefusesEmptyMark) != 0 && text.find(VX_EMPTY_MARK) != std::string::npos)
    return "must not contain '`':\nthe settings file reads it as an empty mark.";
  if ((refuses & kRefusesReferences) != 0 && text.find("$(") != std::string::npos)
    return "must not contain '$(':\nthe settings file reads it as a reference.";
  if ((refuses & kRefusesShellText) != 0 && FindRefusedPathCharacter(text) != std::string::npos)
    return std::string("must not contain blanks, backslashes, commas,\ncontrol characters or "
                       "any of ") +
           kShellSpecialCharacters + ":\nthe compile script's shell would interpret them.";
  return {};
}

namespace {

// Said when SHELL and a style's options make a shell path too long.
Result shellPathTooLong() {
  return Result::Notice("The value of SHELL and the shell options together are longer than " +
                            std::to_string(FieldRow(Field::kShellPath).limit) +
                            " characters.\nPlease type the shell path in.",
                        {"", {Field::kShellPath}});
}

}  // namespace

Result ChooseKind(InstallForm &form, bool full) {
  form.full = full;
  if (!full) return {};
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (error) {
    return Result::Notice("The current directory cannot be read (" + error.message() +
                              ").\nPlease type the VELORIX directory in.",
                          {"", {Field::kKernel}});
  }
  form.text(Field::kKernel) = cwd.string();
  return {};
}

int DetectedShellStyle(Result *told) {
  const ShellDetection detected = DetectShellStyle(kShellListFile, std::getenv("SHELL"));
  if (told != nullptr) *told = Result::Notice(detected.problem, {"", {Field::kShellStyle}});
  return detected.style;
}

Result DetectShellPath(int style, std::string *path) {
  const ShellRecord &record = shells[style - 1];
  if (ShellPathText(std::getenv("SHELL"), record.name, record.options,
                    FieldRow(Field::kShellPath).limit, path))
    return {};
  return shellPathTooLong();
}

Result ChooseShellStyle(InstallForm &form, int style) {
  form.shellStyle = style;
  form.shellStyleGiven = true;
  if (form.shellPathGiven) return {};
  return DetectShellPath(style, &form.text(Field::kShellPath));
}

int ShellStyleByName(std::string_view name) {
  for (int i = 0; i < kShellRecords; ++i) {
    if (name == shells[i].name) return i + 1;
  }
  return 0;
}

const char *ShellStyleName(int style) { return shells[style - 1].name; }

std::string ShellStyleNames(const char *last) {
  std::string names;
  for (int i = 0; i < kShellRecords; ++i)
    names += std::string(i == 0 ? "" : i + 1 == kShellRecords ? last : ", ") + shells[i].name;
  return names;
}

std::string WithSlash(const std::string &directory) {
  if (!directory.empty() && directory.back() == '/') return directory;
  return directory + "/";
}

std::string StoredText(const InstallForm &form, Field field, const std::string &kernel) {
  const std::string &text = form.text(field);
  if (field == Field::kKernel) return WithSlash(text);
  if (field == Field::kInclude) return text + " -I" + kernel;
  // No libraries or no options is a choice: stored as the empty mark, it
  // reads back as empty, where an empty value would read as missing and
  // leave the compile script's line that names it empty.
  if ((field == Field::kLibraries || field == Field::kCppOptions) && text.empty())
    return std::string(1, VX_EMPTY_MARK);
  if (!FieldRow(field).tuning()) return text;
  std::string buffer = text;
  StrTrim(buffer.data());
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer.empty() ? std::string(1, VX_EMPTY_MARK) : buffer;
}

Result CheckField(const InstallForm &form, Field field) {
  const FormField &row = FieldRow(field);
  if (!form.has(field)) return {};
  // A field that only a Full installation uses and that is not stored (the
  // shell path) does not matter to a User one.
  if (row.fullOnly && row.section == nullptr && !form.full) return {};
  const std::string &text = form.text(field);
  if (text.size() > row.limit) {
    return refusedField(
        field, "is longer than " + std::to_string(row.limit) + " characters.\nPlease shorten it.");
  }
  if (const std::string refusal = FieldRefusal(field, text); !refusal.empty())
    return refusedField(field, refusal);
  // A stored value must leave its settings line within the line limit.
  if (row.key != nullptr) {
    const std::string stored = StoredText(form, field, WithSlash(form.text(Field::kKernel)));
    if (std::strlen(row.key) + 1 + stored.size() > VX_SETTINGS_LINE_MAX) {
      return refusedField(
          field, "is too long for the settings file:\na settings line holds at most " +
                     std::to_string(VX_SETTINGS_LINE_MAX) + " characters.\nPlease shorten it.");
    }
  }
  return {};
}

Result CheckFields(const InstallForm &form) {
  for (const FormField &field : kFormFields) {
    Result checked = CheckField(form, field.id);
    if (!checked.ok()) return checked;
  }
  return {};
}
