/*
 * check_actions.cc - the check of an installed directory.
 */
#include "check_actions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

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
constexpr unsigned kRecordMode = 0644;

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

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
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

Result CheckActions::begin() {
  if (Result problem = wouldBegin(); !problem.ok()) return problem;
  Result entered = enterScratch();
  if (!entered.ok()) return entered;
  return readRecord();
}

Result CheckActions::end(bool keepSettings) {
  // A procedure that stopped has said why; its settings are not compared.
  Result compared = keepSettings ? compareSettings() : Result();
  if (keepSettings && compared.ok()) {
    // The record last, as the run writes it; what changes in it is what
    // the lines before tell, so it has no diff of its own.
    const std::string made = renderPath();
    compared = WriteWholeFile(made, recordLeft().text(), kRecordMode);
    const DiffDetail withDiffs = withDiffs_;
    withDiffs_ = DiffDetail::kNone;
    if (compared.ok()) compared = compare(std::string("./") + kRecordName, made, kRecordMode);
    withDiffs_ = withDiffs;
  }
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

Result CheckActions::compare(const std::string &path, const std::string &made, unsigned mode,
                             bool data) {
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
    predict(path, made, mode, data);
    Result diffed = diffOf(path, made, &diff);
    add(shown(path) + ": missing", diff);
    return diffed;
  }
  struct stat link;
  // A file reached through a link keeps the mode its owner gave it.
  const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  const mode_t given = NarrowedMode(mode, &st, throughLink);
  predict(path, made, given, data);
  if (WriteLeavesUnchanged(installed, made, mode)) return {};
  Result diffed;
  if (!*same) {
    diffed = diffOf(path, made, &diff);
    const std::string kept = data ? std::string() : keptCopyFor(path, made);
    if (kept.empty()) {
      add(shown(path) + ": contents differ from what the installation writes", diff);
    } else if (keepChanged_) {
      // Left as it is: only the new one beside it is the installation's.
      if (!SameFiles(installed + kKeptNewSuffix, made))
        add(shown(path) + ": changed since the last installation (the installation leaves it, "
                          "and writes the new one to " +
                shown(path + kKeptNewSuffix) + ")");
    } else {
      add(shown(path) + ": changed since the last installation (the installation keeps it as " +
              shown(kept) + ")",
          diff);
      handEdited_.push_back({RecordKey(installed), path, kept, diff});
      if (!exists(resolve(kept)))
        add(shown(kept) + ": missing (the installation keeps the changed " + shown(path) +
            " there)");
    }
  }
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
  if (!want) {
    return Result::Failed(Fault::kNotOpened,
                          "Cannot read the settings file the installation would write.",
                          {scratchSettings()});
  }
  const std::optional<bool> same = FileHolds(installed, *want);
  struct stat st;
  const bool there = same && stat(installed.c_str(), &st) == 0;
  // Read whole only when it is of a size the installation writes; one far
  // larger is told in a line, and kept whatever it holds.
  const bool tooLarge = there && !*same && TooLargeToCompare(installed, path);
  const auto have = there && !*same && !tooLarge ? ReadWholeFile(installed) : std::nullopt;
  if (!there) {
    const std::string diff = withDiffs_ == DiffDetail::kSized  ? NewFileLine(path, *want)
                             : withDiffs_ == DiffDetail::kFull ? joined(SettingsChanges("", *want))
                                                               : "";
    add(shown(path) + ": missing", diff);
  } else if (!*same) {
    const std::vector<std::string> changes =
        have ? SettingsChanges(*have, *want) : std::vector<std::string>();
    std::string diff;
    if (changes.empty()) {
      // The same values in other words: only a diff of the lines tells.
      Result diffed = diffOf(path, scratchSettings(), &diff);
      if (!diffed.ok()) return diffed;
    } else if (withDiffs_ != DiffDetail::kNone) {
      diff = joined(changes);
    }
    add(shown(path) + ": contents differ from what the installation writes" +
            (changes.empty() ? "" : " (" + ChangedKeys(changes) + ")"),
        diff);
  }
  // What the run does to the backups beside it.
  const std::string here = WithSlash(workDir_);
  std::optional<std::string> replaced;
  if (tooLarge) replaced.emplace();
  if (have && SettingsNeedBackup(*have, *want)) replaced = *have;
  const SettingsBackups backups = PlanSettingsBackups(here + kSettingsName, replaced, keepBackups_);
  for (const std::string &oldest : backups.removals)
    add(shown(oldest) + ": present (the installation removes it: " + BackupsKept(keepBackups_) +
        ")");
  for (const auto &[from, to] : backups.renames)
    add(shown(to) + ": " + (exists(to) ? "replaced" : "missing") + " (the installation moves " +
        shown(from) + " there)");
  if (!backups.backup.empty() && !backups.reused) {
    add(shown(backups.backup) + ": " + (exists(backups.backup) ? "replaced" : "missing") +
        " (the installation keeps the settings file it replaces there)");
  }
  mode_t given = ModeFromPermissions(kSettingsPermissions);
  if (there) {
    struct stat link;
    const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    given = NarrowedMode(given, &st, throughLink);
    if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != given)
      add(shown(path) + ": mode " + octal(st.st_mode & 07777) + ", the installation gives it " +
          octal(given));
  }
  predict(path, scratchSettings(), given, true);
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
  const std::string made = renderPath();
  Result written = WriteWholeFile(made, content, ModeFromPermissions(permissions));
  std::string diff;
  if (written.ok()) written = diffOf(path, made, &diff);
  if (!written.ok()) return written;
  predict(path, made, ModeFromPermissions(permissions), true);
  add(shown(path) + ": missing", diff);
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
  add(shown(to) + ": missing (the installation would rename " + shown(from) + " to it)");
  return wouldRename(from, to);
}

Result CheckActions::removeFile(const std::string &path) {
  const std::string key = recordKey(path);
  if (access(resolve(path).c_str(), F_OK) == 0) {
    const std::string kept = keptCopyFor(path, {});
    if (kept.empty()) {
      add(shown(path) + ": present (the installation removes it)");
    } else {
      add(shown(path) + ": changed since the last installation (the installation keeps it as " +
          shown(kept) + " instead of removing it)");
    }
  }
  next_.erase(key);
  return wouldRemove(path);
}

Result CheckActions::compile(const CommandFor &command, const std::string &target,
                             const std::string &why) {
  // Compiled as the run would, into the scratch directory: only then is
  // it known whether the run would leave an object.
  if (Result problem = wouldWriteFile(target); !problem.ok()) return problem;
  const std::string output = renderPath();
  Result compiled = runCompiler(command, target, output, shellWord(output));
  if (!compiled.ok()) return compiled;
  add(shown(target) + ": " + why);
  struct stat made, there;
  const std::string installed = resolve(target);
  const bool existed = stat(installed.c_str(), &there) == 0;
  const mode_t mode =
      stat(output.c_str(), &made) == 0 ? made.st_mode & 07777 : static_cast<mode_t>(0644);
  predict(target, output, NarrowedMode(mode, existed ? &there : nullptr), false);
  const std::string kept = keptCopyFor(target, output);
  if (!kept.empty()) {
    add(shown(target) + ": changed since the last installation (the installation keeps it as " +
        shown(kept) + ")");
    if (!exists(resolve(kept)))
      add(shown(kept) + ": missing (the installation keeps the changed " + shown(target) +
          " there)");
  }
  return {};
}

Result CheckActions::sendNotice(const std::string &) { return {}; }
