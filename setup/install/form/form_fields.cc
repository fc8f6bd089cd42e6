/*
 * form_fields.cc - the form record's texts and the table's lookups.
 */
#include "form_fields.h"

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

std::string InstallForm::origin(Field field) const {
  const auto &given = origins[static_cast<std::size_t>(field)];
  return given && has(field) && given->text == text(field) ? given->where : std::string();
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
