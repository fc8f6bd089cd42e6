/*
 * initial_form.cc - the form's starting texts: built in, from the settings
 * template, detected on the host, and the host's site defaults over them.
 */
#include "initial_form.h"

#include "form.h"
#include "site_defaults.h"
#include "templates.h"
#include "tuning_fields.h"

InstallForm InitialForm(bool full, Result *told) {
  InstallForm form;
  for (const FormField &field : kFormFields) {
    if (field.type != FieldType::kText) continue;
    if (field.initial != nullptr) {
      form.text(field.id) = field.initial;
    } else if (field.section != nullptr) {
      // A Tuning field whose key the settings template lacks is no field.
      const std::vector<const char *> values =
          TemplateValues(SetData, kSetDataLines, field.section, field.key);
      if (!values.empty()) form.text(field.id) = values.back();
    }
  }
  Result detected;
  form.shellStyle = DetectedShellStyle(&detected);
  Result path = DetectShellPath(form.shellStyle, &form.text(Field::kShellPath));
  // The host's own starting texts, over the built-in ones; the kind comes
  // after them, so that a Full installation still takes the current
  // directory.
  const Result site = ApplySiteDefaults(kSiteDefaultsFile, &form);
  // The first thing worth telling is told, after what the site defaults
  // had to say: that is for the administrator, whom the user may tell.
  Result first = ChooseKind(form, full);
  if (first.message().empty()) first = detected;
  if (first.message().empty()) first = path;
  if (!site.message().empty()) {
    first = first.message().empty()
                ? site
                : Result::Notice(site.message() + "\n" + first.message(), first.about());
  }
  if (told != nullptr) *told = first;
  return form;
}
