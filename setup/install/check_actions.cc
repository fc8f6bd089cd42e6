/*
 * check_actions.cc - the check of an installed directory.
 */
#include "check_actions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "atomic_file.h"
#include "differences.h"
#include "form.h"
#include "file_writing.h"
#include "form_tables.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
constexpr char kScratchPattern[] = "velorix-check-XXXXXX";
constexpr unsigned kScriptMode = 0755;

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode);
  return text;
}

std::string scratchPattern() {
  const char *tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + kScratchPattern;
}

// path as one word for the shell, whatever it holds.
std::string shellWord(const std::string &path) {
  std::string word = "'";
  for (const char c : path)
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::string withoutLastLineFeed(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

CheckActions::CheckActions(DiffDetail diffs)
    : ScratchActions(scratchPattern()), withDiffs_(diffs) {}

Result CheckActions::begin() { return enterScratch(); }

Result CheckActions::end(bool keepSettings) {
  // A procedure that stopped has said why; its settings are not compared.
  Result compared = keepSettings ? compareSettings() : Result();
  leaveScratch();
  return compared;
}

void CheckActions::add(const std::string &line, const std::string &diff) {
  differences_.push_back(line);
  diffs_.push_back(diff);
}

Result CheckActions::diffOf(const std::string &path, const std::string &made,
                            std::string *diff) const {
  if (withDiffs_ == DiffDetail::kNone) return {};
  if (withDiffs_ == DiffDetail::kSized && access(resolve(path).c_str(), F_OK) != 0) {
    *diff = NewFileLine(shown(path), ReadWholeFile(made).value_or(""));
    return {};
  }
  const auto found = UnifiedDiff(resolve(path), made, shown(path));
  if (!found) {
    return Result::Failed(
        Fault::kNotOpened,
        "Cannot compare '" + path + "' with what the installation writes: " + "diff did not run.",
        {resolve(path)});
  }
  *diff = withoutLastLineFeed(*found);
  return {};
}

Result CheckActions::compare(const std::string &path, const std::string &made, unsigned mode) {
  const std::string installed = resolve(path);
  const auto want = ReadWholeFile(made);
  const auto have = ReadWholeFile(installed);
  struct stat st;
  std::string diff;
  if (!have || stat(installed.c_str(), &st) != 0) {
    Result diffed = diffOf(path, made, &diff);
    add(shown(path) + ": missing", diff);
    return diffed;
  }
  Result diffed;
  if (!want || *want != *have) {
    diffed = diffOf(path, made, &diff);
    add(shown(path) + ": contents differ from what the installation writes", diff);
  }
  struct stat link;
  // A file reached through a link keeps the mode its owner gave it.
  const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  const mode_t given = NarrowedMode(mode, &st, throughLink);
  if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != given)
    add(shown(path) + ": mode " + octal(st.st_mode & 07777) + ", the installation gives it " +
        octal(given));
  return diffed;
}

// The settings file, told key by key: the installation stores values, and
// a reader wants to know which.
Result CheckActions::compareSettings() {
  const std::string path = shown(kSettingsName);
  const std::string installed = resolve(path);
  const auto want = ReadWholeFile(scratchSettings());
  const auto have = ReadWholeFile(installed);
  if (!want) {
    return Result::Failed(Fault::kNotOpened,
                          "Cannot read the settings file the installation would write.",
                          {scratchSettings()});
  }
  if (!have) {
    const std::string diff = withDiffs_ == DiffDetail::kSized  ? NewFileLine(path, *want)
                             : withDiffs_ == DiffDetail::kFull ? joined(SettingsChanges("", *want))
                                                               : "";
    add(path + ": missing", diff);
  } else if (*have != *want) {
    const std::vector<std::string> changes = SettingsChanges(*have, *want);
    std::string diff;
    if (changes.empty()) {
      // The same values in other words: only a diff of the lines tells.
      Result diffed = diffOf(path, scratchSettings(), &diff);
      if (!diffed.ok()) return diffed;
    } else if (withDiffs_ != DiffDetail::kNone) {
      diff = joined(changes);
    }
    add(path + ": contents differ from what the installation writes" +
            (changes.empty() ? "" : " (" + ChangedKeys(changes) + ")"),
        diff);
    // The run keeps the file it replaces.
    const std::string here = WithSlash(workDir_);
    const std::string backup = SettingsBackupName(here + kSettingsName, *have);
    const auto kept = ReadWholeFile(backup);
    if (!have->empty() && (!kept || *kept != *have)) {
      add(shown(backup) + ": " + (kept ? "replaced" : "missing") +
          " (the installation keeps the settings file it replaces there)");
    }
  }
  struct stat st;
  if (have && stat(installed.c_str(), &st) == 0) {
    struct stat link;
    const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    const mode_t given = NarrowedMode(ModeFromPermissions(kSettingsPermissions), &st, throughLink);
    if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != given)
      add(path + ": mode " + octal(st.st_mode & 07777) + ", the installation gives it " +
          octal(given));
  }
  return {};
}

Result CheckActions::writeTemplate(const std::string &path, const char *const *lines,
                                   const char *permissions, bool expand) {
  const std::string made = renderPath();
  Result written = CreateFile(made, lines, permissions, expand, path);
  if (!written.ok()) return written;
  return compare(path, made, ModeFromPermissions(permissions));
}

Result CheckActions::writeCompileScript(const std::string &path, int shellStyle,
                                        const std::string &shellPath) {
  const std::string made = renderPath();
  Result written = WriteCompileScript(made, shellStyle, shellPath, path);
  if (!written.ok()) return written;
  return compare(path, made, kScriptMode);
}

Result CheckActions::createFile(const std::string &path, const std::string &content,
                                const char *permissions) {
  // Called only for a file that is not there.
  std::string diff;
  if (withDiffs_ != DiffDetail::kNone) {
    const std::string made = renderPath();
    Result written = WriteWholeFile(made, content, ModeFromPermissions(permissions));
    if (written.ok()) written = diffOf(path, made, &diff);
    if (!written.ok()) return written;
  }
  add(shown(path) + ": missing", diff);
  return {};
}

Result CheckActions::writeFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  const std::string made = renderPath();
  Result written = WriteWholeFile(made, content, ModeFromPermissions(permissions), path);
  if (!written.ok()) return written;
  return compare(path, made, ModeFromPermissions(permissions));
}

Result CheckActions::renameFile(const std::string &from, const std::string &to) {
  add(shown(to) + ": missing (the installation would rename " + shown(from) + " to it)");
  return {};
}

Result CheckActions::removeFile(const std::string &path) {
  if (access(resolve(path).c_str(), F_OK) == 0)
    add(shown(path) + ": present (the installation removes it)");
  return {};
}

Result CheckActions::compile(const CommandFor &command, const std::string &target,
                             const std::string &why) {
  // Compiled as the run would, into the scratch directory: only then is
  // it known whether the run would leave an object.
  const std::string output = renderPath();
  Result compiled = runCompiler(command, target, output, shellWord(output));
  if (compiled.ok()) add(shown(target) + ": " + why);
  return compiled;
}

Result CheckActions::sendNotice(const std::string &) { return {}; }
