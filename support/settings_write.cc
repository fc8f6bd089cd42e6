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
#include <vector>

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

// A change to check on the file once it is written: [section] key set to
// value, or, without a value, removed; without a key, the whole section
// removed.
struct Change {
  const char *section;
  const char *key;
  const char *value;
  int sameSections;  // how often [section] occurred before
};

// What the file must hold, at least, once the changes are written: the
// sections and keys it held, and those the changes add.
struct Expected {
  int sections = 0;
  int keys = 0;
};

// Whether after, the file as rewritten, holds every change, and as many
// sections and keys as expected; the first change it lacks otherwise.
const Change *missingChange(const std::optional<std::string> &after,
                            const std::vector<Change> &changes,
                            const std::optional<Expected> &expected) {
  for (const Change &change : changes) {
    OnDisk disk;
    Census ignored;
    if (after) survey(*after, change.section, change.key, &disk, &ignored);
    bool stored = after.has_value();
    if (change.key == nullptr) {
      stored = stored && (disk.sections == 0 || disk.sections < change.sameSections);
    } else if (change.value == nullptr) {
      stored = stored && !disk.key;
    } else {
      stored = stored && disk.key && disk.value == change.value;
    }
    if (!stored) return &change;
  }
  // A rewrite cut short by a full disk may still hold the keys: it lacks
  // lines of what came after them, and most often its last line feed.
  if (expected && !changes.empty()) {
    OnDisk ignored;
    Census now;
    survey(*after, changes.front().section, changes.front().key, &ignored, &now);
    if (!(after->empty() || after->back() == '\n') || now.sections < expected->sections ||
        now.keys < expected->keys)
      return &changes.front();
  }
  return nullptr;
}

// A batch of stores (SettingsBatchBegin): the file as it was before its
// first value, and the values stored since, which the core library holds
// in memory only.
struct PendingValue {
  std::string section;
  std::string key;
  std::string value;
};
struct Batch {
  bool open = false;
  Nlm_Boolean cached = FALSE;  // the core library's caching before the batch
  std::string path;
  std::optional<std::string> before;
  Expected expected;
  std::vector<PendingValue> pending;
};

Batch &batch() {
  static Batch held;
  return held;
}

// Writes the batch's values with one rewrite and checks them on the file.
bool writePending(Batch &held) {
  if (held.pending.empty()) return true;
  Nlm_FlushAppParam();
  std::vector<Change> changes;
  for (const PendingValue &value : held.pending)
    changes.push_back({value.section.c_str(), value.key.c_str(), value.value.c_str(), 0});
  const auto after = readText(held.path);
  std::optional<Expected> expected;
  if (held.before) expected = held.expected;
  const Change *missing = missingChange(after, changes, expected);
  if (missing != nullptr) {
    // The copy in memory holds what the disk lacks: drop it.  Caching goes
    // off first, or freeing the copy would try to write it once more.
    Nlm_CacheAppParam(FALSE);
    Nlm_FreeConfigStruct();
    if (held.open) Nlm_CacheAppParam(TRUE);
    vx::reportNotWritten(held.path, missing->section, missing->key);
  }
  held.pending.clear();
  held.before.reset();
  return missing == nullptr;
}

// Keeps section's key = value for the batch; the checks of SetParam have
// passed.  before is the file as it was (read for the first value only).
void holdValue(Batch &held, const std::string &path, std::optional<std::string> before,
               const char *section, const char *key, const char *value) {
  const bool first = held.pending.empty();
  if (first) {
    held.path = path;
    held.before = std::move(before);
  }
  Census counted;
  if (held.before) {
    OnDisk ignored;
    survey(*held.before, section, key, &ignored, &counted);
  }
  if (first) held.expected = {counted.sections, counted.keys};
  bool newSection = !counted.sectionThere;
  bool newKey = !counted.keyThere;
  for (auto it = held.pending.begin(); it != held.pending.end(); ++it) {
    if (!sameName(it->section, section)) continue;
    newSection = false;
    if (!sameName(it->key, key)) continue;
    newKey = false;
    held.pending.erase(it);
    break;
  }
  held.expected.sections += newSection ? 1 : 0;
  held.expected.keys += newKey ? 1 : 0;
  held.pending.push_back({section, key, value});
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
  Batch &held = batch();
  const bool deferred = held.open && key != nullptr && value != nullptr;
  // A removal is not kept: what is pending goes first, then the removal,
  // written at once.
  if (held.open && !deferred) {
    if (!writePending(held)) return FALSE;
    Nlm_CacheAppParam(FALSE);
  }
  struct Recache {
    bool again;
    ~Recache() {
      if (again) Nlm_CacheAppParam(TRUE);
    }
  } recache{held.open && !deferred};
  const std::string path = settingsFilePath();
  if (deferred && path != held.path && !writePending(held)) return FALSE;
  std::optional<std::string> before;
  // Within a batch, the file is as it was at its first value.
  if ((!deferred || held.pending.empty()) && !rewritable(path, section, key, &before)) return FALSE;
  if (!writable(path)) {
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  OnDisk ignored;
  Census counted;
  // A kept value is counted when it is held.
  if (before && !deferred) survey(*before, section, key, &ignored, &counted);
  if (!Nlm_SetAppParam(VX_SETTINGS_BASE, section, key, key != nullptr ? value : nullptr)) {
    // Removing a section that is not there changes nothing: no failure to
    // tell the user about.
    if (key == nullptr && !counted.sectionThere) return FALSE;
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  if (deferred) {
    holdValue(held, path, std::move(before), section, key, value);
    return TRUE;
  }
  // The core library says TRUE once its copy in memory changed, whether
  // or not the file could be rewritten: look at the file itself.
  std::optional<Expected> expected;
  if (before) {
    expected = Expected{counted.sections, counted.keys};
    if (key == nullptr) {
      expected->sections -= counted.sectionThere ? 1 : 0;
      expected->keys -= counted.keysInSection;
    } else if (value == nullptr) {
      expected->keys -= counted.keyThere ? 1 : 0;
    } else {
      expected->sections += counted.sectionThere ? 0 : 1;
      expected->keys += counted.keyThere ? 0 : 1;
    }
  }
  const std::vector<Change> change{{section, key, value, counted.sameSections}};
  if (missingChange(readText(path), change, expected) != nullptr) {
    // The copy in memory now holds what the disk lacks; dropping it keeps
    // later reads and writes true to the file.
    Nlm_FreeConfigStruct();
    vx::reportNotWritten(path, section, key);
    return FALSE;
  }
  return TRUE;
}

void SettingsBatchBegin(void) {
  Batch &held = batch();
  if (held.open) return;
  held.open = true;
  held.cached = Nlm_CacheAppParam(TRUE);
}

Nlm_Boolean SettingsBatchEnd(void) {
  Batch &held = batch();
  if (!held.open) return TRUE;
  const bool written = writePending(held);
  held.open = false;
  Nlm_CacheAppParam(held.cached);
  return written ? TRUE : FALSE;
}

Nlm_Boolean GetConfigFilePath(void) { return access(kFileName, F_OK) == 0 ? TRUE : FALSE; }

}  // extern "C"
