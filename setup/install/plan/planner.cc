/*
 * planner.cc - the plan of an installation, worked out in a scratch
 * directory.
 */
#include "planner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "action_messages.h"
#include "atomic_file.h"
#include "differences.h"
#include "file_writing.h"
#include "form.h"
#include "form_tables.h"
#include "process_guard.h"
#include "scratch_directory.h"
#include "templates.h"
#include "utility.h"

using namespace action_messages;

namespace {

constexpr mode_t kRecordMode = 0644;  // rw-r--r--

std::string withoutLastLineFeed(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

bool named(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A dry run and a check leave their scratch directories under names of
// their own, so that one left by a killed run tells what made it.
std::string scratchPattern(Planner::Compile compile) {
  return TemporaryDirectory() + "/" +
         (compile == Planner::Compile::kToKnow ? kCheckScratchPrefix : kPlanScratchPrefix) +
         kRandomPart;
}

}  // namespace

Planner::Planner(DiffDetail diffs, Compile compile)
    : ScratchActions(scratchPattern(compile)), compile_(compile) {
  plan_.diffs = diffs;
}

Planner::Planner(std::string pattern, Compile compile)
    : ScratchActions(std::move(pattern)), compile_(compile) {}

void Planner::startPlan() {
  plan_.keepChanged = keepChanged_;
  plan_.keepBackups = keepBackups_;
}

bool Planner::keepsTheirs(const std::string &path) const {
  return keepChanged_ || keepYours_.count(recordKey(path)) != 0;
}

PlanStep &Planner::add(StepKind kind, const std::string &path) {
  PlanStep &step = plan_.steps.emplace_back();
  step.kind = kind;
  step.path = path;
  step.shown = shown(path);
  return step;
}

Result Planner::begin() {
  startPlan();
  Result entered = enterScratch();
  if (!entered.ok()) return entered;
  return readRecord();
}

PlannedFile Planner::compare(const std::string &path, const std::string &made, mode_t mode,
                             bool data) {
  PlannedFile file;
  const std::string target = resolve(path);
  file.made = true;
  file.at = made;
  file.mode = mode;
  if (!data) noteKept(file, keptCopyFor(path, made));
  struct stat st, link;
  file.there = stat(target.c_str(), &st) == 0;
  // A file reached through a link keeps the mode its owner gave it.
  const bool throughLink = lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  file.regular = file.there && S_ISREG(st.st_mode);
  file.has = file.there ? st.st_mode & 07777 : 0;
  file.given = file.there ? NarrowedMode(mode, &st, throughLink) : mode;
  // Never read whole: one far larger than ours differs by its size alone.
  // Only a file is read: a pipe or a device in its place differs, and is
  // not opened to find that out.
  if (file.there && !file.regular) {
    if (!S_ISDIR(st.st_mode)) file.same = false;
  } else if (const auto bytes = ReadWholeFile(made)) {
    file.same = FileHolds(target, *bytes);
  }
  file.unchangedInPlace = WriteLeavesUnchanged(target, made, mode);
  file.unchanged = file.unchangedInPlace;
  std::string where = target;
  if (!file.kept.empty() && keepsTheirs(path)) {
    // The run leaves the user's copy, and writes the new one beside it.
    file.keepsTheirs = true;
    where = target + kKeptNewSuffix;
    struct stat beside;
    file.besideHolds =
        stat(where.c_str(), &beside) == 0 && S_ISREG(beside.st_mode) && SameFiles(where, made);
    file.unchanged = WriteLeavesUnchanged(where, made, mode);
  }
  struct stat at;
  const bool atThere = stat(where.c_str(), &at) == 0;
  const bool atLink = lstat(where.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  predict(path, made, atThere ? NarrowedMode(mode, &at, atLink) : mode, data);
  return file;
}

void Planner::noteKept(PlannedFile &file, const std::string &kept) const {
  file.kept = kept;
  if (kept.empty()) return;
  file.keptShown = shown(kept);
  file.keptThere = named(resolve(kept));
}

Result Planner::diffOf(const std::string &path, const std::string &made, std::string *diff) const {
  if (plan_.diffs == DiffDetail::kNone) return {};
  if (plan_.diffs == DiffDetail::kSized && access(resolve(path).c_str(), F_OK) != 0) {
    *diff = NewFileLine(shown(path), ReadWholeFile(made).value_or(""));
    return {};
  }
  const auto found = UnifiedDiff(resolve(path), made, shown(path));
  if (!found) {
    return Result::Failed(
        Fault::kNotOpened,
        "Cannot compare '" + path + "' with what the installation writes: diff did not run.",
        {resolve(path)});
  }
  *diff = withoutLastLineFeed(*found);
  return {};
}

Result Planner::take(const FileStep &step) {
  switch (step.kind) {
    case StepKind::kFile:
      return planFile(step);
    case StepKind::kCreate:
      return planCreate(step);
    case StepKind::kRename:
      return planRename(step);
    case StepKind::kRemove:
      return planRemoval(step);
    case StepKind::kCompile:
      return planCompile(step);
    case StepKind::kSettings:
    case StepKind::kStore:
    case StepKind::kNotice:
      break;
  }
  return Result::Failed(Fault::kRefused, "Not a step that touches a file.");
}

Result Planner::planFile(const FileStep &step) {
  // What a real run would meet where it writes.
  const Result place = step.writer == Writer::kTemplate ? wouldWriteTemplate(step.path)
                       : step.writer == Writer::kScript ? wouldWriteScript(step.path)
                                                        : wouldWriteFile(step.path);
  const std::string made = renderPath();
  const Result rendered = step.make(made);
  const std::size_t index = plan_.steps.size();
  add(StepKind::kFile, step.path).words = step.words;
  plan_.steps[index].writer = step.writer;
  if (rendered.ok())
    plan_.steps[index].file =
        compare(step.path, made, ModeFromPermissions(step.permissions.c_str()), false);
  // Where the run could not write, it says so and goes on or stops: the
  // plan does the same.
  if (!place.ok()) {
    plan_.steps[index].blocked = true;
    return place;
  }
  if (!rendered.ok()) return rendered;
  return diffOf(step.path, made, &plan_.steps[index].file.diff);
}

Result Planner::writeSettingsFile(const std::string &path, const char *permissions) {
  add(StepKind::kSettings, path).words =
      std::string("(") + permissions + ") from the settings template";
  // The scratch copy: the steps read back what they store in it.
  return ScratchActions::writeSettingsFile(path, permissions);
}

Result Planner::store(const char *section, const char *key, const std::string &value) {
  add(StepKind::kStore, kSettingsName).words =
      std::string("[") + section + "] " + key + "=" + value;
  return ScratchActions::store(section, key, value);
}

Result Planner::planCreate(const FileStep &step) {
  const std::size_t index = plan_.steps.size();
  add(StepKind::kCreate, step.path).words = step.words;
  // An existing file is kept as it is.
  struct stat st;
  if (stat(resolve(step.path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return {};
  if (Result place = wouldWriteFile(step.path); !place.ok()) {
    plan_.steps[index].blocked = true;
    return place;
  }
  const std::string made = renderPath();
  Result written = step.make(made);
  if (written.ok()) written = diffOf(step.path, made, &plan_.steps[index].file.diff);
  if (!written.ok()) return written;
  PlannedFile &file = plan_.steps[index].file;
  file.made = true;
  file.at = made;
  file.mode = ModeFromPermissions(step.permissions.c_str());
  predict(step.path, made, file.mode, true);
  return {};
}

Result Planner::planRename(const FileStep &step) {
  PlanStep &planned = add(StepKind::kRename, step.path);
  planned.to = step.to;
  planned.toShown = shown(step.to);
  Result place = wouldRename(step.path, step.to);
  planned.blocked = !place.ok();
  return place;
}

Result Planner::planRemoval(const FileStep &step) {
  next_.erase(recordKey(step.path));
  if (!exists(resolve(step.path))) return {};
  PlanStep &planned = add(StepKind::kRemove, step.path);
  noteKept(planned.file, keptCopyFor(step.path, {}));
  Result place = wouldRemove(step.path);
  planned.blocked = !place.ok();
  return place;
}

std::string Planner::outputName(const std::string &target) {
  // Named as a file written whole is named while it is written, so that
  // a compile that was killed is told by its name; free, not made: the
  // compiler makes it with the mode it gives its objects.
  std::string name =
      scratch_ + "/." + std::filesystem::path(target).filename().string() + ".vx-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return renderPath();
  close(fd);
  unlink(name.c_str());
  return name;
}

Result Planner::planCompile(const FileStep &step) {
  const std::string &target = step.path;
  const std::size_t index = plan_.steps.size();
  {
    PlanStep &planned = add(StepKind::kCompile, target);
    planned.why = step.why;
    planned.command = step.command(target);
  }
  Result place = wouldWriteFile(target);
  plan_.steps[index].blocked = !place.ok();
  if (compile_ == Compile::kNo || !place.ok()) {
    noteKept(plan_.steps[index].file, keptCopyFor(target, {}));
    return place;
  }
  // Compiled as the run would, into the scratch directory: only then is
  // it known whether the run would leave an object.  Its path may hold
  // blanks (TMPDIR's).
  const std::string output = outputName(target);
  Result compiled = runCompiler(step.command, target, output, ShellWord(output));
  if (!compiled.ok()) return compiled;
  PlanStep &planned = plan_.steps[index];
  planned.compiled = true;
  struct stat made, there;
  const std::string installed = resolve(target);
  const bool existed = stat(installed.c_str(), &there) == 0;
  const mode_t mode =
      stat(output.c_str(), &made) == 0 ? made.st_mode & 07777 : static_cast<mode_t>(0644);
  planned.file.made = true;
  planned.file.at = output;
  planned.file.mode = mode;
  predict(target, output, NarrowedMode(mode, existed ? &there : nullptr), false);
  noteKept(planned.file, keptCopyFor(target, output));
  planned.file.keepsTheirs = !planned.file.kept.empty() && keepsTheirs(target);
  return {};
}

Result Planner::sendNotice(const std::string &command) {
  add(StepKind::kNotice, {}).command = command;
  return {};
}

Result Planner::planSettings(PlannedEnd &end) {
  end.settingsShown = shown(kSettingsName);
  const std::string final = resolve(kSettingsName);
  const auto content = ReadWholeFile(scratchSettings());
  if (!content) {
    return Result::Failed(Fault::kNotOpened,
                          "Cannot read the settings file the installation would write.",
                          {scratchSettings()});
  }
  // One far larger than the installation writes is not read: it is kept
  // whatever it holds.
  end.tooLarge = TooLargeToCompare(final, end.settingsShown);
  const auto old = end.tooLarge ? std::nullopt : ReadWholeFile(final);
  end.newFile = !old && !end.tooLarge;
  end.newFileLine = NewFileLine(end.settingsShown, *content);
  if (!end.tooLarge) end.changes = SettingsChanges(old.value_or(""), *content);
  end.settings =
      compare(kSettingsName, scratchSettings(), ModeFromPermissions(kSettingsPermissions), true);
  // The same values in other words: only a diff of the lines tells.
  if (end.settings.there && end.settings.same == false && end.changes.empty()) {
    if (Result diffed = diffOf(kSettingsName, scratchSettings(), &end.lineDiff); !diffed.ok())
      return diffed;
  }
  // What the run does to the backups beside it.
  std::optional<std::string> replaced;
  if (end.tooLarge) replaced.emplace();
  if (old && SettingsNeedBackup(*old, *content)) replaced = *old;
  const SettingsBackups backups = PlanSettingsBackups(final, replaced, plan_.keepBackups);
  for (const std::string &oldest : backups.removals)
    end.backupRemovals.push_back(shown(oldest));
  for (const auto &[from, to] : backups.renames)
    end.backupRenames.push_back({shown(from), shown(to), named(to)});
  end.backup = backups.backup.empty() ? std::string() : shown(backups.backup);
  end.backupReused = backups.reused;
  end.backupThere = !backups.backup.empty() && named(backups.backup);
  // The record last, as the run writes it, the settings file in it.
  end.recordShown = shown(kRecordName);
  const std::string record = renderPath();
  if (Result rendered = WriteWholeFile(record, recordLeft().text(), kRecordMode); !rendered.ok())
    return rendered;
  end.record = compare(kRecordName, record, kRecordMode, false);
  return {};
}

Result Planner::end(bool keepSettings) {
  // A procedure that stopped has said why; its settings are not planned.
  Result planned;
  if (keepSettings) {
    PlannedEnd end;
    planned = planSettings(end);
    if (planned.ok()) plan_.end = std::move(end);
  }
  leaveScratch();
  return planned;
}
