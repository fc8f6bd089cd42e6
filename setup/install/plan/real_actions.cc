/*
 * real_actions.cc - the actions of a real run: the files written, kept,
 * renamed and removed, the object compiled, the settings file and the
 * record put in place at the end, the notice sent.
 */
#include "real_actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "action_messages.h"
#include "atomic_file.h"
#include "file_transaction.h"
#include "file_writing.h"
#include "form.h"
#include "form_tables.h"
#include "scratch_directory.h"
#include "settings_lines.h"
#include "templates.h"
#include "utility.h"

using namespace action_messages;

namespace {

constexpr char kMailCommand[] = "mail";
constexpr char kRecordPermissions[] = "rw-r--r--";

// Whether an executable named name is found on PATH.
bool onPath(const char *name) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

// A settings file's values by "section.key" (names in lower case, as the
// core library compares them without regard to case; the first of two
// equal keys counts), trimmed as the core library reads them.
using SettingsValues = std::map<std::string, std::string>;

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void addLine(SettingsValues &values, std::string &section, std::string_view text) {
  const vx::SettingsLine line = vx::ReadSettingsLine(text);
  if (line.kind == vx::SettingsLine::Kind::kSection) {
    section = lowered(line.name);
  } else if (line.kind == vx::SettingsLine::Kind::kKey && line.hasEquals && !section.empty()) {
    values.emplace(section + "." + lowered(line.name), std::string(line.value));
  }
}

// Whether the settings file at path is whole: it ends with a line feed and
// holds every value of the template and every value stored since, as they
// were stored.  The core library rewrites the whole file at each change
// and says nothing when a full disk cuts it short.
bool settingsComplete(const std::string &path, const SettingsValues &stored) {
  const auto text = ReadWholeFile(path);
  if (!text || text->empty() || text->back() != '\n') return false;
  SettingsValues expected;
  std::string section;
  for (std::size_t i = 0; SetData[i] != nullptr; ++i)
    addLine(expected, section, SetData[i]);
  for (const auto &[name, value] : stored)
    expected[name] = value;
  SettingsValues held;
  section.clear();
  vx::ForEachSettingsLine(*text, [&](std::string_view line) { addLine(held, section, line); });
  for (const auto &[name, value] : expected) {
    const auto found = held.find(name);
    if (found == held.end() || found->second != value) return false;
  }
  return true;
}

// Keeps the file at path as kept when the run's files are put in place
// (files): a second name for the same file where the file system allows
// it (so that it keeps its owner, mode and times), a copy with its owner
// and mode otherwise.  *made: the name is to be made, and is to be dropped
// should the file not be replaced after all.  A directory that cannot
// take the name is told now.
Result keepCopy(FileTransaction &files, const std::string &path, const std::string &kept,
                bool *made, FileTransaction::FaultFor fault) {
  *made = false;
  if (exists(kept)) return {};  // holds the same bytes already (KeptCopyName)
  const std::string directory = std::filesystem::path(kept).parent_path().string();
  if (access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) != 0)
    return Result::Failed(Fault::kNotWritten, "", {path}, std::strerror(errno));
  files.link(path, kept, std::move(fault));
  *made = true;
  return {};
}

// Whether path could be removed, as far as can be told without removing
// it: errno tells why not.
bool removable(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  const std::string directory = std::filesystem::path(path).parent_path().string();
  return access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

// ---- RealActions ----------------------------------------------------------

// Under TMPDIR, as a plan's: a run that changes nothing makes nothing in
// the installed directory, whose own time stays as it was.
RealActions::RealActions()
    : Planner(TemporaryDirectory() + "/" + kInstallScratchPrefix + kRandomPart, Compile::kToKnow) {}

RealActions::~RealActions() {
  transaction_.reset();
  leaveScratch();
  lock_.release();
}

Result RealActions::begin() {
  Result locked = lock_.acquire(workDir_);
  if (!locked.ok() && locked.fault() == Fault::kNotOpened &&
      access(workDir_.c_str(), W_OK | X_OK) != 0)
    return lockNotMadeIn(workDir_, WithSlash(workDir_) + kLockFileName, errno);
  if (!locked.ok()) return locked;
  // What a killed run left: the temporary files beside the files it
  // wrote here, and the scratch directory that earlier versions made
  // here.  Ours alone hold these names, and the lock keeps every other
  // run of ours out.
  std::error_code error;
  std::vector<std::filesystem::path> stale;
  for (const auto &entry : std::filesystem::directory_iterator(workDir_, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == std::strlen(kRunScratchPrefix) + std::strlen(kRandomPart) &&
        name.compare(0, std::strlen(kRunScratchPrefix), kRunScratchPrefix) == 0 &&
        entry.is_directory(error) && !entry.is_symlink(error)) {
      stale.push_back(entry.path());
    } else if (IsTemporaryName(name) && entry.is_regular_file(error) && !entry.is_symlink(error)) {
      stale.push_back(entry.path());
    }
  }
  for (const auto &path : stale) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  Result entered = enterScratch();
  if (!entered.ok()) {
    lock_.release();
    return entered;
  }
  // Open from here on, so that a signal that ends the tool removes the
  // scratch directory (and a lock file); the files are staged into it at
  // the end, when the run ends whole.
  transaction_ = std::make_unique<FileTransaction>();
  transaction_->removeOnSignal(scratch_, lock_.file());
  startPlan();
  return readRecord();
}

Result RealActions::end(bool keepSettings) {
  // The plan is complete: its files are staged beside their places, and
  // put there with the settings file.  A run that stops has made nothing
  // in the directory.
  Result installed = keepSettings ? stageAll() : Result();
  if (keepSettings && installed.ok()) installed = installSettings();
  // A run that stops leaves every file as it was.
  if (keepSettings && installed.ok()) installed = transaction_->commit();
  if (installed.ok() && keepSettings) {
    endNote_.record = WithSlash(workDir_) + kRecordName;
  } else {
    backup_.clear();
    endNote_ = {};
  }
  transaction_.reset();
  leaveScratch();
  lock_.release();
  return installed;
}

Result RealActions::prepareRecord(AtomicFile &record) {
  const std::string text = recordLeft().text();
  Result opened = record.open();
  if (opened.ok() && (std::fwrite(text.data(), 1, text.size(), record.stream()) != text.size() ||
                      std::fflush(record.stream()) != 0)) {
    opened = Result::Failed(Fault::kNotWritten, "", {}, std::strerror(errno));
  }
  if (opened.ok()) return {};
  record.discard();
  return failed(Fault::kNotWritten,
                "Cannot write the record of this installation '" + record.target() + "' (" +
                    opened.detail() + ").\nNothing in the directory has changed.",
                record.target());
}

// Puts the settings file built in the scratch directory in place in one
// step, after keeping the one it replaces.
Result RealActions::installSettings() {
  const std::string shown = std::string("./") + kSettingsName;
  const std::string final = WithSlash(workDir_) + kSettingsName;
  const auto content = ReadWholeFile(scratchSettings());
  if (!content) {
    return failed(Fault::kNotWritten,
                  "Cannot read the new settings file '" + scratchSettings() + "'.",
                  scratchSettings());
  }
  if (!settingsComplete(scratchSettings(), stored_)) {
    return failed(Fault::kNotWritten,
                  "The settings file '" + shown +
                      "' could not be written whole (is the disk full?).\nThe directory keeps the "
                      "settings it had.",
                  final);
  }
  const mode_t mode = ModeFromPermissions(kSettingsPermissions);
  struct stat st, link;
  const bool regular = stat(final.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  // The record of the installation, the settings file in it as it will be,
  // is written beside its place first and put there last: a disk too full
  // for it stops the run before the settings change.  A run that stops
  // leaves the record of the last installation.
  const bool throughLink = lstat(final.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  next_.put(PredictedEntry(final, *content,
                           NarrowedMode(mode, regular ? &st : nullptr, throughLink), true));
  const std::string recordPath = WithSlash(workDir_) + kRecordName;
  AtomicFile record(recordPath, std::string("./") + kRecordName);
  record.placeAnew();
  // A record that holds this one already is left as it is, time and all.
  const std::string recordMade = renderPath();
  struct stat recordStat;
  const bool recordHeld =
      lstat(recordPath.c_str(), &recordStat) == 0 && S_ISREG(recordStat.st_mode) &&
      WriteWholeFile(recordMade, recordLeft().text(), ModeFromPermissions(kRecordPermissions))
          .ok() &&
      WriteLeavesUnchanged(recordPath, recordMade, ModeFromPermissions(kRecordPermissions));
  if (!recordHeld) {
    if (Result prepared = prepareRecord(record); !prepared.ok()) return prepared;
  }
  // Kept when it holds something, and something else; read a piece at a
  // time, so that a settings file of any size costs no more memory than
  // the new one.  One that cannot be read is not kept.
  const bool replacing = regular && st.st_size > 0 && !FileHolds(final, *content).value_or(true);
  const SettingsBackups backups = PlanSettingsBackups(
      final, replacing, [&final](const std::string &file) { return SameFiles(file, final); },
      keepBackups_);
  const auto cannot = [&shown](const std::string &what, const std::string &path) {
    return failed(Fault::kNotWritten,
                  "Cannot " + what + " (" + std::strerror(errno) +
                      ").\nThe new settings have not been stored in '" + shown + "'.",
                  path);
  };
  for (const std::string &oldest : backups.removals) {
    struct stat held;
    const std::time_t made = lstat(oldest.c_str(), &held) == 0 ? held.st_mtime : 0;
    const std::string what = "remove the old settings backup '" + oldest + "'";
    if (!removable(oldest)) return cannot(what, oldest);
    transaction_->remove(oldest, [cannot, what, oldest](int error) {
      errno = error;
      return cannot(what, oldest);
    });
    endNote_.backupsRemoved.push_back({oldest, made});
  }
  for (const auto &[from, to] : backups.renames) {
    // Into a free name only: no backup is ever written over.
    const std::string what = "move the settings backup '" + from + "' to '" + to + "'";
    transaction_->rename(from, to, true, [cannot, what, from = from](int error) {
      errno = error;
      return cannot(what, from);
    });
    endNote_.backupsMoved.emplace_back(from, to);
  }
  if (!backups.backup.empty() && !backups.reused) {
    // The backup keeps the owner and the permissions of the file it keeps.
    const Result kept = CopyWholeFile(final, backups.backup, st.st_mode & 0666, {},
                                      Placement::kAnew, FileOwner{st.st_uid, st.st_gid});
    if (!kept.ok()) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the settings file '" + shown + "' as '" + backups.backup + "' (" +
                        kept.detail() + ").\nThe new settings have not been stored.",
                    backups.backup);
    }
  }
  backup_ = backups.backup;
  if (!WriteLeavesUnchanged(final, scratchSettings(), mode) &&
      !WriteWholeFile(final, *content, mode, shown).ok())
    return failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", final);
  endNote_.settingsUnchanged = !transaction_->staged(final);
  const Result recorded =
      recordHeld ? Result() : record.commit(ModeFromPermissions(kRecordPermissions));
  if (!recorded.ok()) {
    return failed(Fault::kNotWritten,
                  "Cannot write the record of this installation '" + recordPath + "' (" +
                      recorded.detail() + ").\nNothing in the directory has changed.",
                  recordPath);
  }
  endNote_.recordUnchanged = !transaction_->staged(recordPath);
  return {};
}

Result RealActions::store(const char *section, const char *key, const std::string &value) {
  Result stored = Planner::store(section, key, value);
  if (!stored.ok()) return stored;
  // As the file holds it: line feeds become line-break marks.
  std::string held = value;
  for (char &c : held) {
    if (c == '\n') c = VX_LINE_BREAK_MARK;
  }
  stored_[lowered(section) + "." + lowered(key)] = std::string(vx::TrimSettingsBlanks(held));
  return {};
}

Result RealActions::place(
    const std::string &path, bool data,
    const std::function<Result(const std::string &where, Placement how)> &write) {
  lastFile_ = {};
  const std::string target = resolve(path);
  const std::string key = RecordKey(target);
  std::string digest;  // of the user's copy
  const bool changed = !data && ChangedSinceRecorded(prior(), target, &digest);
  if (changed && keepsTheirs(path)) {
    // The user's copy stays as it is; the new one goes beside it.
    const std::string fresh = target + kKeptNewSuffix;
    Result written = write(fresh, Placement::kAnew);
    if (!written.ok()) return written;
    auto entry = DescribeFile(transaction_->current(fresh), data);
    if (entry && entry->digest == digest) {
      // It holds nothing new.
      if (transaction_->staged(fresh)) {
        transaction_->drop(fresh);
      } else if (exists(fresh)) {
        transaction_->remove(fresh, [fresh](int error) { return notRemoved(fresh, fresh, error); });
      }
      lastFile_.unchanged = true;
    } else {
      lastFile_.keptNew = fresh;
      // Written by an earlier run as it is now.
      lastFile_.unchanged = !transaction_->staged(fresh);
    }
    // What the installation writes there: the user's copy is told apart
    // from it again next time.
    if (entry) {
      entry->path = key;
      next_.put(std::move(*entry));
    }
    return written;
  }
  std::string kept;
  bool made = false;
  if (changed) {
    const auto name = KeptCopyName(target, kKeptOldSuffix);
    const auto notKept = [path, target, name](const std::string &why) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the copy of '" + path +
                        "' that was changed since the last installation as '" +
                        (name ? *name : target + kKeptOldSuffix) + "' (" + why +
                        ").\nThe file has not been replaced.",
                    target);
    };
    Result keptCopy = name
                          ? keepCopy(*transaction_, target, *name, &made,
                                     [notKept](int error) { return notKept(std::strerror(error)); })
                          : Result::Failed(Fault::kNotWritten, "", {}, "every name is taken");
    if (!keptCopy.ok()) return notKept(keptCopy.detail());
    kept = *name;
  }
  Result written = write(target, Placement::kReplace);
  if (!written.ok()) {
    if (made) transaction_->drop(kept);
    return written;
  }
  lastFile_.unchanged = !transaction_->staged(target);
  auto entry = DescribeFile(transaction_->current(target), data);
  if (!kept.empty()) {
    if (entry && entry->digest == digest) {
      // The new one holds what the user made of it: nothing is lost.
      if (made) transaction_->drop(kept);
    } else {
      lastFile_.keptOld = kept;
    }
  }
  if (entry) {
    entry->path = key;
    next_.put(std::move(*entry));
  }
  return written;
}

Result RealActions::take(const FileStep &step) {
  lastFile_ = {};
  const std::size_t planned = plan_.steps.size();
  Result result = Planner::take(step);
  // Staged at the end, once every step is planned; what the step will do
  // is known now.
  if (result.ok() && plan_.steps.size() > planned) lastFile_ = noteOf(plan_.steps.back());
  return result;
}

FileNote RealActions::noteOf(const PlanStep &step) const {
  FileNote note;
  const PlannedFile &file = step.file;
  const std::string target = resolve(step.path);
  switch (step.kind) {
    case StepKind::kFile:
    case StepKind::kCompile:
      if (step.kind == StepKind::kCompile && !step.compiled) break;
      note.unchanged = file.unchanged;
      note.bytes = file.unchanged ? target : file.at;
      note.mode = file.given;
      if (file.kept.empty()) break;
      if (file.keepsTheirs) {
        note.keptNew = target + kKeptNewSuffix;
        if (file.unchanged) note.bytes = note.keptNew;
        note.mode = file.mode;
      } else {
        note.keptOld = resolve(file.kept);
      }
      break;
    case StepKind::kCreate:
      note.unchanged = !file.made;
      note.bytes = file.made ? file.at : target;
      note.mode = file.mode;
      break;
    case StepKind::kRemove:
      if (!file.kept.empty()) note.keptOld = resolve(file.kept);
      break;
    case StepKind::kRename:
    case StepKind::kSettings:
    case StepKind::kStore:
    case StepKind::kNotice:
      break;
  }
  return note;
}

Result RealActions::stageAll() {
  for (const PlanStep &step : plan_.steps) {
    // A step the plan found the run could not take has stopped the run.
    if (step.blocked) continue;
    if (Result staged = stage(step); !staged.ok()) return staged;
  }
  return {};
}

Result RealActions::stage(const PlanStep &step) {
  const PlannedFile &file = step.file;
  const std::string target = resolve(step.path);
  const auto named = [&](const std::string &where) { return where == target ? step.path : where; };
  switch (step.kind) {
    case StepKind::kFile: {
      if (!file.made) return {};  // told when it was planned
      // Left as it is, time and all: nothing is written, not even beside
      // it, so that the directory's own time stays too.
      if (file.unchanged && file.kept.empty()) return leftAsItIs(target, false);
      const Result placed = place(step.path, false, [&](const std::string &where, Placement how) {
        Result written = CopyWholeFile(file.at, where, file.mode, named(where), how);
        return step.writer == Writer::kBytes ? withDetail(std::move(written)) : written;
      });
      return step.writer == Writer::kScript ? aboutScript(placed, target) : placed;
    }
    case StepKind::kCreate: {
      // An existing file is kept as it is; a directory in the way is not
      // one, and the plan has said so.
      if (!file.made) {
        lastFile_.unchanged = true;
        return {};
      }
      // A file that appeared meanwhile is kept, and is not the
      // installation's.
      Result made =
          withDetail(CopyWholeFile(file.at, target, file.mode, step.path, Placement::kIfAbsent));
      auto entry = made.ok() ? DescribeFile(transaction_->current(target), true) : std::nullopt;
      if (entry && entry->digest == FileSha256Hex(file.at).value_or("")) {
        entry->path = RecordKey(target);
        next_.put(std::move(*entry));
      }
      return made;
    }
    case StepKind::kRename:
      transaction_->rename(target, resolve(step.to), false,
                           [this, from = step.path, to = step.to](int error) {
                             return notRenamed(from, to, resolve(from), error);
                           });
      return {};
    case StepKind::kRemove:
      return stageRemoval(step);
    case StepKind::kCompile:
      // A compile that failed has been told, and leaves what was there.
      if (!step.compiled) return {};
      // The object the plan compiled into the scratch directory, put in
      // place as the compiler's output: with its new time, which is what
      // tells that it is up to date, even when it holds what the old one
      // held.
      return place(step.path, false, [&](const std::string &where, Placement how) -> Result {
        AtomicFile object(where, named(where));
        if (how == Placement::kAnew) object.placeAnew();
        Result opened = object.openForProgram();
        if (!opened.ok()) return withDetail(std::move(opened));
        std::error_code error;
        std::filesystem::copy_file(file.at, object.temporary(), error);
        if (error) {
          object.discard();
          return failed(Fault::kNotWritten,
                        "Cannot write file '" + named(where) + "' (" + error.message() + ")",
                        where);
        }
        return object.commit(kModeAsWritten);
      });
    case StepKind::kSettings:
    case StepKind::kStore:
    case StepKind::kNotice:
      break;
  }
  return {};
}

Result RealActions::leftAsItIs(const std::string &target, bool data) {
  lastFile_.unchanged = true;
  if (auto entry = DescribeFile(target, data)) {
    entry->path = RecordKey(target);
    next_.put(std::move(*entry));
  }
  return {};
}

Result RealActions::stageRemoval(const PlanStep &step) {
  const std::string &path = step.path;
  const std::string target = resolve(path);
  std::string digest;
  if (ChangedSinceRecorded(prior(), target, &digest)) {
    // Changed by hand since the last installation: kept where a copy
    // replaced would be.
    const auto kept = KeptCopyName(target, kKeptOldSuffix);
    const auto notKept = [path, target, kept](const std::string &why) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the copy of '" + path +
                        "' that was changed since the last installation as '" +
                        (kept ? *kept : target + kKeptOldSuffix) + "' (" + why + ")",
                    target);
    };
    if (!kept) return notKept("every name is taken");
    if (!removable(target)) return notKept(std::strerror(errno));
    const auto fault = [notKept](int error) { return notKept(std::strerror(error)); };
    if (exists(*kept)) {
      transaction_->remove(target, fault);
    } else {
      transaction_->rename(target, *kept, true, fault);
    }
    lastFile_.keptOld = *kept;
    return {};
  }
  // A file that stays would be read as if it belonged to this installation.
  if (!removable(target)) return notRemoved(path, target, errno);
  struct stat st;
  if (lstat(target.c_str(), &st) == 0)
    transaction_->remove(target,
                         [path, target](int error) { return notRemoved(path, target, error); });
  return {};
}

Result RealActions::sendNotice(const std::string &command) {
  if (!onPath(kMailCommand))
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: no mail command was found.");
  // The notice's scratch files are made in a directory of its own, never
  // beside the user's files.
  ScratchDirectory directory;
  if (!directory.make(TemporaryDirectory() + "/" + kNoticeScratchPrefix + kRandomPart))
    return failed(Fault::kNotOpened,
                  "The installation notice was not sent: no scratch directory could be made.");
  const int status = run(directory.path(), command);
  directory.remove();
  if (status == -1)
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: the shell could not be started.");
  return {};
}
