/*
 * tuning_fields.cc - looks up a key's value in a template of settings
 * lines, the way the Setup window finds the Tuning fields' initial texts.
 */
#include "tuning_fields.h"

#include <cstring>
#include <string>

std::vector<const char *> TemplateValues(const char *const *lines, std::size_t maxLines,
                                         const char *section, const char *key) {
  std::vector<const char *> values;
  if (lines == nullptr || section == nullptr || key == nullptr) return values;
  // Section lines are compared byte for byte with this.
  const std::string header = std::string("[") + section + "]";
  const std::size_t keyLength = std::strlen(key);
  const char *currentSection = nullptr;
  for (std::size_t i = 0; i < maxLines && lines[i] != nullptr; ++i) {
    const char *line = lines[i];
    if (line[0] == '[') {
      currentSection = line;
      continue;
    }
    if (std::strncmp(line, key, keyLength) != 0 || line[keyLength] != '=') continue;
    if (currentSection == nullptr || header != currentSection) continue;
    values.push_back(line + keyLength + 1);
  }
  return values;
}
