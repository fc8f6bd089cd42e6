/*
 * settings_lines.cc - one line of a settings file as the core library
 * reads it.
 */
#include "settings_lines.h"

#include <strings.h>

#include <string>

namespace vx {

std::string_view TrimSettingsBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameSettingsName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

SettingsLine ReadSettingsLine(std::string_view line) {
  SettingsLine read;
  if (TrimSettingsBlanks(line).empty()) return read;
  if (line[0] == ';') {
    read.kind = SettingsLine::Kind::kComment;
    return read;
  }
  if (line[0] == '[') {
    read.kind = SettingsLine::Kind::kSection;
    const std::size_t close = line.find(']');
    read.name =
        line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    return read;
  }
  read.kind = SettingsLine::Kind::kKey;
  const std::size_t equals = line.find('=');
  read.hasEquals = equals != std::string_view::npos;
  read.rawKey = line.substr(0, equals);
  read.name = TrimSettingsBlanks(read.rawKey);
  read.value = read.hasEquals ? TrimSettingsBlanks(line.substr(equals + 1)) : read.name;
  return read;
}

}  // namespace vx
