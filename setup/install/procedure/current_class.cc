/*
 * current_class.cc - the class the installation records as current: the
 * first entry after "&hierarchy" in the class description file, and the
 * path of that class's own description file.
 */
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "procedure.h"
#include "templates.h"

namespace install_procedure {

namespace {

std::vector<std::string> words(const char *line) {
  std::vector<std::string> found;
  const char *p = line;
  while (*p != '\0') {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    const char *start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p)))
      ++p;
    if (p > start) found.emplace_back(start, p);
  }
  return found;
}

// Expands a piece of the CLASSFILECUR pattern: "%%" is one "%", references
// are replaced.  False when it does not expand.
bool expandPatternPiece(const std::string &piece, std::string &out) {
  std::string text;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    text += piece[i];
    if (piece[i] == '%' && i + 1 < piece.size() && piece[i + 1] == '%') ++i;
  }
  char buffer[VX_PARBUF_SIZE];
  if (text.size() >= sizeof buffer) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  if (!TranslateSized(buffer, sizeof buffer, "Files", "CLASSFILECUR")) return false;
  out = buffer;
  return true;
}

}  // namespace

// [Files] CLASSFILECUR with its one "%s" taken by base.  The pattern's own
// text is split at that directive before the references are expanded, so
// that a "%" in the product directory stays literal.
Result Procedure::classFilePath(const std::string &base, std::string &out) const {
  char raw[VX_PARBUF_SIZE];
  if (Nlm_GetAppParam(VX_SETTINGS_BASE, "Files", "CLASSFILECUR", "", raw,
                      static_cast<Nlm_Int2>(sizeof raw)) == 0)
    return missingKey("Files", "CLASSFILECUR");
  const std::string pattern = raw;
  std::size_t directive = std::string::npos;
  bool other = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
    } else if (i + 1 < pattern.size() && pattern[i + 1] == 's' && directive == std::string::npos) {
      directive = i++;
    } else {
      other = true;
    }
  }
  if (directive == std::string::npos || other) {
    return refused("The value of [Files] CLASSFILECUR in the settings file '" + settingsPath() +
                       "' is not a path pattern with one %s.\nThe installation has been stopped.",
                   {settingsPath()});
  }
  std::string head, tail;
  CaughtMessages messages;
  if (!expandPatternPiece(pattern.substr(0, directive), head) ||
      !expandPatternPiece(pattern.substr(directive + 2), tail))
    return messages.into(missingKey("Files", "CLASSFILECUR"));
  out = head + base + tail;
  return messages.into({});
}

// The first entry of "&hierarchy" names the current class and, second,
// the base name of its description file.  An entry with fewer than two
// words, or none at all, stores nothing: the two keys belong together.
// A file without "&hierarchy" names no class, and that is no fault; but a
// "&hierarchy" with no usable entry after it is a broken file, and said.
Result Procedure::storeCurrentClass() {
  std::string path;
  if (Result r = readSetting("Files", "CLASSFILE", path); !r.ok()) return r;
  std::vector<std::string> entry;
  bool found = false;
  bool last = false;
  Result read;
  {
    CaughtMessages messages;
    if (!DescOpen(act_.resolve(path).c_str())) {
      DescClose();
      return messages.into(refused(kMsgNoClassFile + path, {path, {Field::kKernel}}));
    }
    if (FindLine(kHierarchyLine) != -1) {
      found = true;
      std::array<char, VX_PARBUF_SIZE> line;
      const char *text = GetLineSized(line.data(), line.size());
      last = text == nullptr;
      if (text != nullptr && text[0] != kSectionMark) entry = words(text);
    }
    DescClose();
    read = messages.into({});
  }
  // What the reader said of the file (an include skipped) is told, once
  // nothing catches messages any more.
  tell(read);
  if (found && entry.size() < 2) {
    tell(Result::Notice(
        last ? "The class description file\n" + path + "\nends with its line " + kHierarchyLine +
                   ": no class entry follows it.\nThe current class has not been stored."
             : "The entry after " + std::string(kHierarchyLine) + " in\n" + path +
                   "\nis not a class and the name of its description file (two words)."
                   "\nThe current class has not been stored.",
        {path}));
  }
  if (entry.size() < 2) return {};

  std::string classFile;
  if (Result r = classFilePath(entry[1], classFile); !r.ok()) return r;
  if (std::strlen("CLASSCUR=") + entry[0].size() > kSettingsLineLimit ||
      std::strlen("CLASSFILECUR=") + classFile.size() > kSettingsLineLimit) {
    tell(Result::Notice("The class entry after " + std::string(kHierarchyLine) + " in\n" + path +
                            "\nis too long for the settings file.\nThe current class has not "
                            "been stored.",
                        {path}));
    return {};
  }
  return storeTogether([&]() -> Result {
    if (Result r = store("Currents", "CLASSCUR", entry[0]); !r.ok()) return r;
    return store("Files", "CLASSFILECUR", classFile);
  });
}

}  // namespace install_procedure
