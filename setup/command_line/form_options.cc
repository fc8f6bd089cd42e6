/*
 * form_options.cc - options and an answer file into the form.
 */
#include "form_options.h"

#include "answers.h"
#include "form.h"
#include "initial_form.h"

namespace {

constexpr const char *kUserOption = "--user";
constexpr const char *kNoNotifyOption = "--no-notify";

Result refused(const std::string &why) { return Result::Failed(Fault::kRefused, why); }

void keep(std::vector<Result> *notices, Result told) {
  if (!told.message().empty()) notices->push_back(std::move(told));
}

}  // namespace

Result FormFromCommandLine(const CommandLine &line, bool withDetection, InstallForm *form,
                           std::vector<Result> *notices) {
  const char *fullOption = FieldRow(Field::kKind).option;
  if (line.has(fullOption) && line.has(kUserOption))
    return refused(std::string(fullOption) + " and " + kUserOption + " exclude each other");
  const char *notifyOption = FieldRow(Field::kNotify).option;
  if (line.has(notifyOption) && line.has(kNoNotifyOption))
    return refused(std::string(notifyOption) + " and " + kNoNotifyOption + " exclude each other");
  Answers answers;
  if (line.hasValue("--answers")) {
    if (Result read = ReadAnswers(line.value("--answers"), &answers); !read.ok()) return read;
  }
  bool full = answers.full.value_or(false);
  if (line.has(fullOption) || line.has(kUserOption)) full = line.has(fullOption);
  Result detected;
  InstallForm built = InitialForm(full, &detected);
  if (withDetection) keep(notices, detected);
  built.noticeBoxExists = true;
  Result applied = ApplyAnswers(answers, &built);
  if (!applied.ok()) return applied;
  keep(notices, applied);

  for (const FormField &field : kFormFields) {
    if (field.type != FieldType::kText || !line.hasValue(field.option)) continue;
    if (field.tuning() && !built.has(field.id)) {
      return refused(std::string("the settings template has no ") + field.label +
                     " setting for " + field.option);
    }
    built.text(field.id) = line.value(field.option);
    if (field.id == Field::kShellPath) built.shellPathGiven = true;
  }
  const char *styleOption = FieldRow(Field::kShellStyle).option;
  if (line.hasValue(styleOption)) {
    const int style = ShellStyleByName(line.value(styleOption));
    if (style == 0) {
      return refused(std::string(styleOption) + " takes " + ShellStyleNames(" or ") + ", not '" +
                     line.value(styleOption) + "'");
    }
    keep(notices, ChooseShellStyle(built, style));
  }
  if (line.has(notifyOption)) built.noticeConsent = true;
  if (line.has(kNoNotifyOption)) built.noticeConsent = false;
  *form = built;
  return {};
}
