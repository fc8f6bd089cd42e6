/*
 * plan_actions.cc - the actions of a dry run: a line for each, and
 * nothing changed outside the scratch directory.
 */
#include "actions.h"

#include <sys/stat.h>

#include <cstring>

#include "action_messages.h"
#include "atomic_file.h"
#include "differences.h"
#include "file_writing.h"
#include "form.h"
#include "form_tables.h"
#include "templates.h"
#include "utility.h"

using namespace action_messages;

namespace {

constexpr mode_t kRecordMode = 0644;  // rw-r--r--

}  // namespace

PlanActions::PlanActions(DiffDetail diffs)
    : ScratchActions(TemporaryDirectory() + "/" + kPlanScratchPrefix + kRandomPart),
      diffs_(diffs) {}

std::string PlanActions::keptLine(const std::string &path, const std::string &kept) const {
  if (keepChanged_)
    return "leave " + shown(path) + " as it is (changed since the last installation), and write "
           "the new one to " + shown(path + kKeptNewSuffix);
  return "keep " + shown(path) + " as " + shown(kept) + " (changed since the last installation)";
}

Result PlanActions::addDiff(const std::string &path, Result made, const std::string &rendered) {
  if (!made.ok()) return made;
  if (diffs_ == DiffDetail::kSized && !exists(resolve(path))) {
    add(NewFileLine(shown(path), ReadWholeFile(rendered).value_or("")));
    return {};
  }
  const auto diff = UnifiedDiff(resolve(path), rendered, shown(path));
  if (!diff) return failed(Fault::kNotOpened, "Cannot compare '" + path + "': diff did not run.");
  if (!diff->empty()) add(diff->substr(0, diff->size() - 1));
  return {};
}

Result PlanActions::begin() {
  if (Result problem = wouldBegin(); !problem.ok()) return problem;
  Result entered = enterScratch();
  if (!entered.ok()) return entered;
  return readRecord();
}

std::string PlanActions::writeVerb(const std::string &path, const std::string &made,
                                   mode_t mode, bool data) {
  if (made.empty()) return "write ";
  std::string target = resolve(path);
  // The run writes the new one beside a copy its user keeps.
  if (keepChanged_ && !keptCopyFor(path, made).empty()) target += kKeptNewSuffix;
  struct stat st, link;
  const bool there = stat(target.c_str(), &st) == 0;
  const bool throughLink = lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  predict(path, made, there ? NarrowedMode(mode, &st, throughLink) : mode, data);
  return WriteLeavesUnchanged(target, made, mode) ? "unchanged " : "write ";
}

std::string PlanActions::addKept(const std::string &path,
                                 const std::function<Result(const std::string &)> &make) {
  // Made whether or not it is shown: only what it holds tells whether the
  // run changes the file.
  const std::string made = renderPath();
  if (!make(made).ok()) return {};
  const std::string kept = keptCopyFor(path, made);
  if (!kept.empty()) add(keptLine(path, kept));
  return made;
}

Result PlanActions::end(bool keepSettings) {
  if (keepSettings) {
    const std::string final = WithSlash(workDir_) + kSettingsName;
    // One far larger than the installation writes is not read: it is kept
    // whatever it holds.
    const auto tooLarge = TooLargeToCompare(final, shown(kSettingsName));
    const auto old = tooLarge ? std::nullopt : ReadWholeFile(final);
    const auto content = ReadWholeFile(scratchSettings());
    std::optional<std::string> replaced;
    if (content && tooLarge) replaced.emplace();
    if (old && content && SettingsNeedBackup(*old, *content)) replaced = *old;
    const SettingsBackups backups = PlanSettingsBackups(final, replaced, keepBackups_);
    for (const std::string &oldest : backups.removals)
      add("remove " + shown(oldest) + " (" + BackupsKept(keepBackups_) + ")");
    for (const auto &[from, to] : backups.renames)
      add("rename " + shown(from) + " to " + shown(to));
    if (!backups.backup.empty())
      add("keep " + shown(kSettingsName) + " as " + shown(backups.backup));
    if (diffs_ != DiffDetail::kNone && tooLarge) {
      add(*tooLarge);
    } else if (diffs_ == DiffDetail::kSized && !old && content) {
      add(NewFileLine(shown(kSettingsName), *content));
    } else if (diffs_ != DiffDetail::kNone && content) {
      for (const std::string &change : SettingsChanges(old.value_or(""), *content))
        add(change);
    }
    // Told as the run tells them: the settings file and the record it
    // would leave, compared with those there.
    const mode_t settingsMode = ModeFromPermissions(kSettingsPermissions);
    const std::string settingsVerb = writeVerb(kSettingsName, scratchSettings(), settingsMode, true);
    if (settingsLine_ && settingsVerb != "write ")
      lines_[*settingsLine_] = settingsVerb + lines_[*settingsLine_].substr(std::strlen("write "));
    const std::string record = renderPath();
    const bool rendered = WriteWholeFile(record, recordLeft().text(), kRecordMode).ok();
    add((rendered && WriteLeavesUnchanged(resolve(kRecordName), record, kRecordMode)
             ? "unchanged "
             : "write ") +
        shown(kRecordName) + ", the record of the files of this installation");
  }
  leaveScratch();
  return {};
}

Result PlanActions::writeSettingsFile(const std::string &path, const char *permissions) {
  settingsLine_ = lines_.size();
  add("write " + shown(path) + " (" + permissions + ") from the settings template");
  // The scratch copy: the steps read back what they store in it.
  return ScratchActions::writeSettingsFile(path, permissions);
}

Result PlanActions::store(const char *section, const char *key, const std::string &value) {
  add(std::string("store [") + section + "] " + key + "=" + value);
  return ScratchActions::store(section, key, value);
}

Result PlanActions::writeTemplate(const std::string &path, const char *const *lines,
                                  const char *permissions, bool expand) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = CreateFile(where, lines, permissions, expand, path);
  });
  add(writeVerb(path, made, ModeFromPermissions(permissions)) + shown(path) + " (" + permissions +
      ") from the " + TemplateName(lines));
  if (Result problem = wouldWriteTemplate(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::writeCompileScript(const std::string &path, int shellStyle,
                                       const std::string &shellPath) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = WriteCompileScript(where, shellStyle, shellPath, path);
  });
  add(writeVerb(path, made, ModeFromPermissions(kScriptPermissions)) + shown(path) + " (" +
      kScriptPermissions + "), the " + shells[shellStyle - 1].name +
      " compile script, first line \"#! " + shellPath + "\"");
  if (Result problem = wouldWriteScript(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::createFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  add("create " + shown(path) + " (" + permissions + ") holding \"" + content + "\"");
  struct stat st;
  if (stat(resolve(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return {};
  const std::string made = renderPath();
  if (WriteWholeFile(made, content, ModeFromPermissions(permissions)).ok())
    predict(path, made, ModeFromPermissions(permissions), true);
  return wouldWriteFile(path);
}

Result PlanActions::writeFile(const std::string &path, const std::string &content,
                              const char *permissions) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = WriteWholeFile(where, content, ModeFromPermissions(permissions));
  });
  add(writeVerb(path, made, ModeFromPermissions(permissions)) + shown(path) + " (" + permissions +
      ")");
  if (Result problem = wouldWriteFile(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::renameFile(const std::string &from, const std::string &to) {
  add("rename " + shown(from) + " to " + shown(to));
  return wouldRename(from, to);
}

Result PlanActions::removeFile(const std::string &path) {
  next_.erase(recordKey(path));
  if (!exists(resolve(path))) return {};
  const std::string kept = keptCopyFor(path, {});
  add(kept.empty() ? "remove " + shown(path)
                   : "keep " + shown(path) + " as " + shown(kept) +
                         " (changed since the last installation)");
  return wouldRemove(path);
}

Result PlanActions::compile(const CommandFor &command, const std::string &target,
                            const std::string &why) {
  const std::string kept = keptCopyFor(target, {});
  if (!kept.empty()) add(keptLine(target, kept));
  add("compile " + shown(target) + " (" + why + "): " + command(target));
  return wouldWriteFile(target);
}

Result PlanActions::sendNotice(const std::string &command) {
  add("send the installation notice: " + command);
  return {};
}
