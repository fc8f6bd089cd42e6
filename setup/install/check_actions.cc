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
#include "scratch_directory.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
constexpr unsigned kScriptMode = 0755;

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode);
  return text;
}

std::string scratchPattern() { return TemporaryDirectory() + "/" + kCheckScratchPrefix + "XXXXXX"; }

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

CheckActions::CheckActions(bool diffs) : ScratchActions(scratchPattern()), withDiffs_(diffs) {}

Result CheckActions::begin() {
  if (Result problem = wouldBegin(); !problem.ok()) return problem;
  return enterScratch();
}

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
  if (!withDiffs_) return {};
  const auto found = UnifiedDiff(resolve(path), made, path);
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
  if (!want) {
    return Result::Failed(Fault::kNotOpened,
                          "Cannot read the file '" + path + "' as the installation would write it.",
                          {made});
  }
  // The installed file is never read whole: one far larger than ours
  // differs by its size alone.
  const std::optional<bool> same = FileHolds(installed, *want);
  struct stat st;
  std::string diff;
  if (!same || stat(installed.c_str(), &st) != 0) {
    Result diffed = diffOf(path, made, &diff);
    add(path + ": missing", diff);
    return diffed;
  }
  Result diffed;
  if (!*same) {
    diffed = diffOf(path, made, &diff);
    add(path + ": contents differ from what the installation writes", diff);
  }
  struct stat link;
  // A file reached through a link keeps the mode its owner gave it.
  const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  const mode_t given = NarrowedMode(mode, &st, throughLink);
  if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != given)
    add(path + ": mode " + octal(st.st_mode & 07777) + ", the installation gives it " +
        octal(given));
  return diffed;
}

// The settings file, told key by key: the installation stores values, and
// a reader wants to know which.
Result CheckActions::compareSettings() {
  const std::string path = std::string("./") + kSettingsName;
  const std::string installed = resolve(path);
  const auto want = ReadWholeFile(scratchSettings());
  if (!want) {
    return Result::Failed(Fault::kNotOpened,
                          "Cannot read the settings file the installation would write.",
                          {scratchSettings()});
  }
  const std::optional<bool> same = FileHolds(installed, *want);
  struct stat st;
  const bool there = same && stat(installed.c_str(), &st) == 0;
  if (!there) {
    add(path + ": missing", withDiffs_ ? joined(SettingsChanges("", *want)) : "");
  } else if (!*same) {
    // Compared key by key when it is of a size the installation writes;
    // one far larger is told in a line.
    const auto have = TooLargeToCompare(installed, path) ? std::nullopt : ReadWholeFile(installed);
    const std::vector<std::string> changes =
        have ? SettingsChanges(*have, *want) : std::vector<std::string>();
    std::string diff;
    if (changes.empty()) {
      // The same values in other words: only a diff of the lines tells.
      Result diffed = diffOf(path, scratchSettings(), &diff);
      if (!diffed.ok()) return diffed;
    } else if (withDiffs_) {
      diff = joined(changes);
    }
    add(path + ": contents differ from what the installation writes" +
            (changes.empty() ? "" : " (" + ChangedKeys(changes) + ")"),
        diff);
    // The run keeps the file it replaces.
    const std::string here = WithSlash(workDir_);
    const std::string backup = SettingsBackupName(here + kSettingsName);
    if (st.st_size > 0 && !SameFiles(backup, installed)) {
      add("./" + backup.substr(here.size()) + ": " +
          (access(backup.c_str(), F_OK) == 0 ? "replaced" : "missing") +
          " (the installation keeps the settings file it replaces there)");
    }
  }
  if (there) {
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
  if (Result problem = wouldWriteTemplate(path); !problem.ok()) return problem;
  const std::string made = renderPath();
  Result written = CreateFile(made, lines, permissions, expand, path);
  if (!written.ok()) return written;
  return compare(path, made, ModeFromPermissions(permissions));
}

Result CheckActions::writeCompileScript(const std::string &path, int shellStyle,
                                        const std::string &shellPath) {
  if (Result problem = wouldWriteScript(path); !problem.ok()) return problem;
  const std::string made = renderPath();
  Result written = WriteCompileScript(made, shellStyle, shellPath, path);
  if (!written.ok()) return written;
  return compare(path, made, kScriptMode);
}

Result CheckActions::createFile(const std::string &path, const std::string &content,
                                const char *permissions) {
  // Called only for a file that is not there.
  if (Result problem = wouldWriteFile(path); !problem.ok()) return problem;
  std::string diff;
  if (withDiffs_) {
    const std::string made = renderPath();
    Result written = WriteWholeFile(made, content, ModeFromPermissions(permissions));
    if (written.ok()) written = diffOf(path, made, &diff);
    if (!written.ok()) return written;
  }
  add(path + ": missing", diff);
  return {};
}

Result CheckActions::writeFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  if (Result problem = wouldWriteFile(path); !problem.ok()) return problem;
  const std::string made = renderPath();
  Result written = WriteWholeFile(made, content, ModeFromPermissions(permissions), path);
  if (!written.ok()) return written;
  return compare(path, made, ModeFromPermissions(permissions));
}

Result CheckActions::renameFile(const std::string &from, const std::string &to) {
  add(to + ": missing (the installation would rename " + from + " to it)");
  return wouldRename(from, to);
}

Result CheckActions::removeFile(const std::string &path) {
  if (access(resolve(path).c_str(), F_OK) == 0)
    add(path + ": present (the installation removes it)");
  return wouldRemove(path);
}

Result CheckActions::compile(const CommandFor &command, const std::string &target,
                             const std::string &why) {
  // Compiled as the run would, into the scratch directory: only then is
  // it known whether the run would leave an object.
  if (Result problem = wouldWriteFile(target); !problem.ok()) return problem;
  const std::string output = renderPath();
  Result compiled = runCompiler(command, target, output, shellWord(output));
  if (compiled.ok()) add(target + ": " + why);
  return compiled;
}

Result CheckActions::sendNotice(const std::string &) { return {}; }
