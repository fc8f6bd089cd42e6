/*
 * tuning_fields.cc - looks up a key's value in a template of settings
 * lines, the way the Setup window finds the Tuning fields' initial texts.
 */
#include "tuning_fields.h"

#include <cstring>
#include <string>

#include "settings_lines.h"

std::vector<const char *> TemplateValues(const char *const *lines, std::size_t maxLines,
                                         const char *section, const char *key) {
  std::vector<const char *> values;
  if (lines == nullptr || section == nullptr || key == nullptr) return values;
  // Stricter than the core library: the section line is compared byte for
  // byte, and the key must begin the line with "=" right after it.
  const std::string header = std::string("[") + section + "]";
  const char *currentSection = nullptr;
  for (std::size_t i = 0; i < maxLines && lines[i] != nullptr; ++i) {
    const vx::SettingsLine line = vx::ReadSettingsLine(lines[i]);
    if (line.kind == vx::SettingsLine::Kind::kSection) {
      currentSection = lines[i];
    } else if (line.kind == vx::SettingsLine::Kind::kKey && line.hasEquals && line.rawKey == key &&
               currentSection != nullptr && header == currentSection) {
      values.push_back(lines[i] + line.rawKey.size() + 1);
    }
  }
  return values;
}
