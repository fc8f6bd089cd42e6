/*
 * settings_lines.h - the lines of a settings file as the core library
 * reads them, for the code that looks at a settings file or template
 * without it: the check that a rewrite reached the disk (settings_write.cc),
 * the installation's check that its settings file is whole, and the
 * window's Tuning values from the template.
 *
 * The core library splits the file at line feeds, ends a line at a
 * carriage return, reads at most VX_SETTINGS_LINE_MAX characters of a
 * physical line and takes the rest as a line of its own; a line beginning
 * with "[" is a section header, one beginning with ";" a comment; a key
 * line is split at its first "=", and key and value lose their outer
 * blanks and tabs.  Section and key names are compared without regard to
 * case.
 */
#ifndef VELORIX_SUPPORT_SETTINGS_LINES_H
#define VELORIX_SUPPORT_SETTINGS_LINES_H

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "utility.h"

namespace vx {

struct SettingsLine {
  enum class Kind { kBlank, kComment, kSection, kKey };
  Kind kind = Kind::kBlank;
  // kSection: the name between "[" and "]" (to the end without a "]");
  // kKey: the key, trimmed.
  std::string_view name;
  // kKey: the value after the first "=", trimmed; the key itself for a
  // line without "=", as the core library reads one.
  std::string_view value;
  // kKey: everything before the first "=" (the whole line without one).
  std::string_view rawKey;
  bool hasEquals = false;
};

// What one line (without its line feed) is.
SettingsLine ReadSettingsLine(std::string_view line);

// text without its outer blanks and tabs.
std::string_view TrimSettingsBlanks(std::string_view text);

// Whether two section or key names are the same to the core library.
bool SameSettingsName(std::string_view a, std::string_view b);

// Calls visit(line) for each line of text as the core library reads it:
// split at line feeds, a carriage return at the end dropped, and a line of
// more than VX_SETTINGS_LINE_MAX characters taken in pieces of that many.
template <typename Visit>
void ForEachSettingsLine(std::string_view text, Visit visit) {
  constexpr std::size_t kMaxLine = VX_SETTINGS_LINE_MAX;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::size_t piece = start;
    do {
      std::string_view line = text.substr(piece, std::min(end - piece, kMaxLine));
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      visit(line);
      piece += kMaxLine;
    } while (piece < end);
    start = end + 1;
  }
}

}  // namespace vx

#endif
