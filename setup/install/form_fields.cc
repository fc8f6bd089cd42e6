/*
 * form_fields.cc - the form's initial values and what its fields refuse.
 */
#include "form_fields.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "shell_detection.h"
#include "templates.h"
#include "tuning_fields.h"

namespace {

const std::string kNoText;

}  // namespace

const std::string &InstallForm::text(Field field) const {
  const auto &slot = texts[static_cast<std::size_t>(field)];
  return slot ? *slot : kNoText;
}

std::string &InstallForm::text(Field field) {
  auto &slot = texts[static_cast<std::size_t>(field)];
  if (!slot) slot.emplace();
  return *slot;
}

std::string CurrentDirectoryText(std::string *problem) {
  std::error_code error;
  const std::filesystem::path cwd = std::filesystem::current_path(error);
  if (!error) return cwd.string();
  if (problem != nullptr) {
    *problem = "The current directory cannot be read (" + error.message() +
               ").\nPlease type the VELORIX directory in.";
  }
  return {};
}

std::string DetectedShellPath(int shellStyle) {
  const ShellRecord &record = shells[shellStyle - 1];
  std::string path;
  ShellPathText(std::getenv("SHELL"), record.name, record.options, &path);
  return path;
}

InstallForm InitialForm(bool full, std::string *problem) {
  InstallForm form;
  std::string found;
  for (const FormField &field : kFormFields) {
    if (field.type != FieldType::kText) continue;
    if (field.initial != nullptr) {
      form.text(field.id) = field.initial;
    } else if (field.section != nullptr) {
      // A key found twice makes two fields; the form keeps the last.
      const std::vector<const char *> values =
          TemplateValues(SetData, kSetDataLines, field.section, field.key);
      if (!values.empty()) form.text(field.id) = values.back();
    }
  }
  form.full = full;
  if (full) form.text(Field::kKernel) = CurrentDirectoryText(&found);
  const char *shell = std::getenv("SHELL");
  const ShellDetection detected = DetectShellStyle(kShellListFile, shell);
  if (found.empty()) found = detected.problem;
  form.shellStyle = detected.style;
  const ShellRecord &record = shells[form.shellStyle - 1];
  if (!ShellPathText(shell, record.name, record.options, &form.text(Field::kShellPath)) &&
      found.empty())
    found = kShellPathTooLong;
  if (problem != nullptr) *problem = found;
  return form;
}

std::optional<std::string> RefusalOf(Field field, const std::string &text) {
  const unsigned refuses = FieldRow(field).refuses;
  if ((refuses & kRefusesLineBreakMark) != 0 && text.find(VX_LINE_BREAK_MARK) != std::string::npos)
    return std::string("must not contain '~':\nthe settings file reads it as a line break.");
  if ((refuses & kRefusesEmptyMark) != 0 && text.find(VX_EMPTY_MARK) != std::string::npos)
    return std::string("must not contain '`':\nthe settings file reads it as an empty mark.");
  if ((refuses & kRefusesReferences) != 0 && text.find("$(") != std::string::npos)
    return std::string("must not contain '$(':\nthe settings file reads it as a reference.");
  if ((refuses & kRefusesShellText) != 0 && FindRefusedPathCharacter(text) != std::string::npos)
    return std::string("must not contain blanks, backslashes, commas,\ncontrol characters or "
                       "any of ") +
           kShellSpecialCharacters + ":\nthe compile script's shell would interpret them.";
  return std::nullopt;
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
  if (!FieldRow(field).tuning) return text;
  std::string buffer = text;
  StrTrim(buffer.data());
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer.empty() ? std::string(1, VX_EMPTY_MARK) : buffer;
}

std::optional<FormProblem> CheckFields(const InstallForm &form) {
  const std::string kernel = WithSlash(form.text(Field::kKernel));
  for (const FormField &field : kFormFields) {
    if (!form.has(field.id)) continue;
    // A field that only a Full installation uses and that is not stored
    // (the shell path) does not matter to a User one.
    if (field.fullOnly && field.section == nullptr && !form.full) continue;
    const std::string &text = form.text(field.id);
    const std::string name = std::string("The text of the field '") + field.label + "' ";
    if (text.size() > field.limit) {
      return FormProblem{name + "is longer than " + std::to_string(field.limit) +
                             " characters.\nPlease shorten it.",
                         {field.id}};
    }
    if (const auto refusal = RefusalOf(field.id, text))
      return FormProblem{name + *refusal, {field.id}};
    // A stored value must leave its settings line within the line limit.
    if (field.key != nullptr &&
        std::strlen(field.key) + 1 + StoredText(form, field.id, kernel).size() >
            VX_SETTINGS_LINE_MAX) {
      return FormProblem{name +
                             "is too long for the settings file:\na settings line holds at most " +
                             std::to_string(VX_SETTINGS_LINE_MAX) + " characters.",
                         {field.id}};
    }
  }
  return std::nullopt;
}

const FormField *FieldByOption(const std::string &name) {
  for (const FormField &field : kFormFields) {
    if (name == field.option) return &field;
  }
  return nullptr;
}

const FormField *FieldByAnswerKey(const std::string &name) {
  for (const FormField &field : kFormFields) {
    if (name == field.answerKey) return &field;
  }
  return nullptr;
}
