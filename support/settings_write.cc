/*
 * settings_write.cc - storing settings values.
 *
 * The core library reports success for a value it kept in memory but
 * could not write, so every write is verified on the file itself; names
 * and values that it would store but could not read back as they were are
 * refused before they reach it.
 */
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "settings_lines.h"
#include "settings_messages.h"
#include "utility.h"

namespace {

using vx::kNoKey;
using vx::reportOn;
using vx::shown;

constexpr const char *kFileName = VX_SETTINGS_FILE;

// The file that the core library reads and rewrites, found as it finds
// it: the current directory, the home directory of the password database,
// then the NCBI directory; with none of them, the home directory, where a
// write creates it.
std::string settingsFilePath() {
  auto exists = [](const std::string &path) { return access(path.c_str(), F_OK) == 0; };
  const struct passwd *user = getpwuid(getuid());
  const std::string home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
  const std::string homeFile = home + "/" + kFileName;
  if (std::getenv("NCBI_DONT_USE_LOCAL_CONFIG") == nullptr) {
    if (exists(kFileName)) return kFileName;
    if (!home.empty() && exists(homeFile)) return homeFile;
  }
  const char *ncbi = std::getenv("NCBI");
  const std::string ncbiDir = ncbi != nullptr ? ncbi : "/etc/ncbi";
  for (const std::string &name : {ncbiDir + "/" + (kFileName + 1), ncbiDir + "/" + kFileName}) {
    if (exists(name)) return name;
  }
  return homeFile;
}

// True when path (or, when it does not exist yet, its directory) may be
// written.
bool writable(const std::string &path) {
  if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  return access(dir.c_str(), W_OK) == 0;
}

bool sameName(std::string_view a, const char *b) {
  return b != nullptr && vx::SameSettingsName(a, b);
}

// What the file on disk says about [section] key: how often the section
// header occurs, whether the key is there, and its value as written.  The
// first of two equal sections or keys counts, as in the core library.
struct OnDisk {
  int sections = 0;
  bool key = false;
  std::string value;
};

// What a settings file holds, counted as the core library reads it.
// Comment lines, blank lines and lines before the first section are not
// counted (the core library drops the last two when it rewrites).
struct Census {
  int sections = 0;
  int keys = 0;
  bool sectionThere = false;  // [section] occurs
  int sameSections = 0;       // how often
  bool keyThere = false;      // key occurs in the first [section]
  int keysInSection = 0;      // keys of the first [section]
};

// Reads text once for both: what it says about [section] key, and how
// much it holds.
void survey(std::string_view text, const char *section, const char *key, OnDisk *found,
            Census *census) {
  bool inFirst = false;
  bool firstDone = false;
  vx::ForEachSettingsLine(text, [&](std::string_view raw) {
    const vx::SettingsLine line = vx::ReadSettingsLine(raw);
    if (line.kind == vx::SettingsLine::Kind::kSection) {
      const bool same = sameName(line.name, section);
      ++census->sections;
      found->sections += same ? 1 : 0;
      if (inFirst) firstDone = true;
      inFirst = same && !firstDone && !census->sectionThere;
      census->sectionThere = census->sectionThere || same;
      census->sameSections += same ? 1 : 0;
      return;
    }
    if (line.kind != vx::SettingsLine::Kind::kKey || census->sections == 0) return;
    ++census->keys;
    if (!inFirst) return;
    ++census->keysInSection;
    if (!sameName(line.name, key)) return;
    census->keyThere = true;
    if (line.hasEquals && !found->key) {
      found->key = true;
      // As written: the value's own blanks are part of what was stored.
      found->value = std::string(raw.substr(raw.find('=') + 1));
    }
  });
}

// The whole of the file at path, or nothing when it cannot be read.
std::optional<std::string> readText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

// The file the core library would rewrite, when it is one it may rewrite:
// a regular file (or none yet) that it can read back whole.  Otherwise
// the user is told why it is left as it is, and nothing is written.
bool rewritable(const std::string &path, const char *section, const char *key,
                std::optional<std::string> *text) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return true;  // made by the write
  if (!S_ISREG(st.st_mode)) {
    reportOn(section, key,
             "\n'%.*s' is not a regular file; it was left as it is, and the value was not "
             "stored.",
             vx::kShownName, path.c_str());
    return false;
  }
  *text = readText(path);
  if (!*text) return true;  // the core library's own read says what is wrong
  const std::string &held = **text;
  if (held.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    reportOn(section, key,
             "\n'%.*s' begins with a byte-order mark, which would be read as part of the first "
             "section's name; it was left as it is, and the value was not stored.",
             vx::kShownName, path.c_str());
    return false;
  }
  if (held.find('\0') != std::string::npos) {
    reportOn(section, key,
             "\n'%.*s' holds a NUL byte, after which the rest of the file would be lost; it was "
             "left as it is, and the value was not stored.",
             vx::kShownName, path.c_str());
    return false;
  }
  return true;
}

// Refuses names and values that the core library would store but could
// not read back as they were.
bool storable(const char *section, const char *key, const char *value) {
  if (section == nullptr || section[0] == '\0') {
    reportOn(nullptr, nullptr, " a value cannot be stored without a section name.");
    return false;
  }
  // Without a key the core library removes the whole section: only a
  // caller that gives no value either asks for that.
  if (key == nullptr && value != nullptr) {
    reportOn(section, nullptr,
             " a value cannot be stored without a key; the section was left as it is.");
    return false;
  }
  if (std::strpbrk(section, "]\n") != nullptr ||
      (key != nullptr && std::strpbrk(key, "=\n") != nullptr)) {
    reportOn(section, shown(key, kNoKey),
             "\na section name may not hold \"]\" and a key may not hold \"=\".");
    return false;
  }
  // A key line that begins with "[" reads back as a section header, taking
  // the keys after it along, and one that begins with ";" as a comment;
  // outer blanks are cut on reading, so the key would not be found again.
  const std::size_t keyLength = key != nullptr ? std::strlen(key) : 0;
  if (keyLength > 0 && (key[0] == '[' || key[0] == ';' || key[0] == ' ' || key[0] == '\t' ||
                        key[keyLength - 1] == ' ' || key[keyLength - 1] == '\t')) {
    reportOn(section, key,
             "\na key may not begin with \"[\" or \";\" nor begin or end with a blank.");
    return false;
  }
  // The core library ends a line at a carriage return as it reads, so a
  // value holding one would come back cut.
  if (value != nullptr && std::strchr(value, '\r') != nullptr) {
    reportOn(section, shown(key, kNoKey),
             "\na value may not hold a carriage return, which would not read back; it was not "
             "stored.");
    return false;
  }
  const std::size_t header = std::strlen(section) + 2;
  const std::size_t line =
      key != nullptr && value != nullptr ? std::strlen(key) + 1 + std::strlen(value) : 0;
  if (header > VX_SETTINGS_LINE_MAX || line > VX_SETTINGS_LINE_MAX) {
    reportOn(section, shown(key, kNoKey),
             "\nthe line would be longer than %d characters and would not read back whole; it "
             "was not stored.",
             VX_SETTINGS_LINE_MAX);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

Nlm_Boolean SetParam(const char *section, const char *key, Nlm_CharPtr value) {
  if (key != nullptr && key[0] == '\0') key = nullptr;
  if (value != nullptr) {
    for (char *p = value; *p != '\0'; ++p) {
      if (*p == '\n') *p = VX_LINE_BREAK_MARK;
    }
  }
  if (!storable(section, key, value)) return FALSE;
  const std::string path = settingsFilePath();
  std::optional<std::string> before;
  if (!rewritable(path, section, key, &before)) return FALSE;
  if (!writable(path)) {
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  OnDisk ignored;
  Census counted;
  if (before) survey(*before, section, key, &ignored, &counted);
  if (!Nlm_SetAppParam(VX_SETTINGS_BASE, section, key, key != nullptr ? value : nullptr)) {
    // Removing a section that is not there changes nothing: no failure to
    // tell the user about.
    if (key == nullptr && !counted.sectionThere) return FALSE;
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  // The core library says TRUE once its copy in memory changed, whether
  // or not the file could be rewritten: look at the file itself.
  const auto after = readText(path);
  OnDisk disk;
  Census now;
  if (after) survey(*after, section, key, &disk, &now);
  bool stored = after.has_value();
  if (key == nullptr) {
    stored = stored && (disk.sections == 0 || disk.sections < counted.sameSections);
  } else if (value == nullptr) {
    stored = stored && !disk.key;
  } else {
    stored = stored && disk.key && disk.value == value;
  }
  // A rewrite cut short by a full disk may still hold the key: it lacks
  // lines of what came after it, and most often its last line feed.
  if (stored && before) {
    Census expected = counted;
    if (key == nullptr) {
      expected.sections -= counted.sectionThere ? 1 : 0;
      expected.keys -= counted.keysInSection;
    } else if (value == nullptr) {
      expected.keys -= counted.keyThere ? 1 : 0;
    } else {
      expected.sections += counted.sectionThere ? 0 : 1;
      expected.keys += counted.keyThere ? 0 : 1;
    }
    stored = (after->empty() || after->back() == '\n') && now.sections >= expected.sections &&
             now.keys >= expected.keys;
  }
  if (!stored) {
    // The copy in memory now holds what the disk lacks; dropping it keeps
    // later reads and writes true to the file.
    Nlm_FreeConfigStruct();
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  return TRUE;
}

Nlm_Boolean GetConfigFilePath(void) { return access(kFileName, F_OK) == 0 ? TRUE : FALSE; }

}  // extern "C"
