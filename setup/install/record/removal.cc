/*
 * removal.cc - removing what the record of an installation lists.
 */
#include "removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "actions.h"
#include "install_record.h"
#include "record_reach.h"
#include "utility.h"

namespace {

constexpr char kSettingsBackups[] = VX_SETTINGS_FILE ".bak";
constexpr char kWhyBackup[] =
    "a settings backup (the settings an installation replaced), never removed";
constexpr char kWhyKeptOld[] =
    "your copy of a file changed by hand, kept when an installation replaced it; never removed";
constexpr char kWhyKeptNew[] =
    "the new file an installation wrote beside one you kept; never removed";
constexpr char kWhyRecordKept[] = "it names files that are not removed";

bool startsWith(const std::string &text, const std::string &start) {
  return text.compare(0, start.size(), start) == 0;
}

// Where a step of kind kRemove is removed, and what was there when it
// was planned.
struct Target {
  int directory = -1;
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
};

RemovalStep stepFor(const InstallRecord &record, const RecordReach &reach,
                    const RecordEntry &entry, Target *target) {
  RemovalStep step{RemovalStep::Kind::kRemove, entry.path, record.shown(entry.path), {}};
  const EntryPlace place = reach.place(entry);
  if (place.reach != Reach::kOurs) {
    step.kind = RemovalStep::Kind::kRefused;
    if (!entry.named.empty()) step.shown = entry.named;
    step.why = ReachWhy(place.reach);
    return step;
  }
  struct stat st;
  if (fstatat(place.directory, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    step.kind = RemovalStep::Kind::kGone;
    return step;
  }
  // Through a link, what it reaches is compared; the link is what goes.
  struct stat reached;
  const int fd = OpenRegularFile(place.directory, place.name, true, &reached);
  const auto digest = fd >= 0 ? FdSha256Hex(fd) : std::nullopt;
  if (fd >= 0) close(fd);
  if (!digest) {
    step.kind = RemovalStep::Kind::kNotOurs;
  } else if (*digest != entry.digest) {
    step.kind = RemovalStep::Kind::kChanged;
  } else {
    *target = {place.directory, place.name, st.st_dev, st.st_ino};
  }
  return step;
}

// Why the entry name stays whatever the record says; nothing for a name
// of no backup or kept copy.
const char *staysBecause(const std::string &name, bool working) {
  if (working && startsWith(name, kSettingsBackups)) return kWhyBackup;
  if (name.find(kKeptOldSuffix) != std::string::npos) return kWhyKeptOld;
  if (name.find(kKeptNewSuffix) != std::string::npos) return kWhyKeptNew;
  return nullptr;
}

// The settings backups and kept copies in the directory open at fd.
void addStaying(int fd, const std::string &path, bool working, const InstallRecord &record,
                std::vector<RemovalStep> *steps) {
  const int copy = dup(fd);
  if (copy < 0) return;
  DIR *dir = fdopendir(copy);
  if (dir == nullptr) {
    close(copy);
    return;
  }
  rewinddir(dir);
  std::vector<RemovalStep> found;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const char *why = staysBecause(name, working);
    if (why == nullptr || name == kRecordName) continue;
    const std::string full = path + "/" + name;
    found.push_back({RemovalStep::Kind::kStays, full, record.shown(full), why});
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const RemovalStep &a, const RemovalStep &b) { return a.path < b.path; });
  steps->insert(steps->end(), found.begin(), found.end());
}

// Plans the removal of the installation of record, reached through
// reach; targets[i] is where steps[i] is removed.
void planWith(const InstallRecord &record, const RecordReach &reach, RemovalPlan *plan,
              std::vector<Target> *targets) {
  plan->recorded = true;
  bool keepRecord = false;
  for (const RecordEntry &entry : record.entries()) {
    Target target;
    plan->steps.push_back(stepFor(record, reach, entry, &target));
    targets->push_back(target);
    const RemovalStep::Kind kind = plan->steps.back().kind;
    keepRecord = keepRecord || kind == RemovalStep::Kind::kRefused ||
                 kind == RemovalStep::Kind::kNotOurs;
  }
  const auto directories = reach.directories();
  RemovalStep last{keepRecord ? RemovalStep::Kind::kRecordKept : RemovalStep::Kind::kRemove,
                   record.file(), record.shown(record.file()), keepRecord ? kWhyRecordKept : ""};
  Target recordTarget;
  struct stat st;
  if (!keepRecord && !directories.empty() &&
      fstatat(directories.front().first, kRecordName, &st, AT_SYMLINK_NOFOLLOW) == 0)
    recordTarget = {directories.front().first, kRecordName, st.st_dev, st.st_ino};
  plan->steps.push_back(last);
  targets->push_back(recordTarget);
  for (std::size_t i = 0; i < directories.size(); ++i)
    addStaying(directories[i].first, directories[i].second, i == 0, record, &plan->steps);
  targets->resize(plan->steps.size());
}

}  // namespace

bool RemovalPlan::removesAll() const {
  for (const RemovalStep &step : steps) {
    if (step.kind == RemovalStep::Kind::kChanged || step.kind == RemovalStep::Kind::kNotOurs ||
        step.kind == RemovalStep::Kind::kRefused || step.kind == RemovalStep::Kind::kRecordKept)
      return false;
  }
  return true;
}

Result PlanRemoval(const std::string &directory, RemovalPlan *plan) {
  *plan = RemovalPlan();
  plan->directory = directory;
  std::optional<InstallRecord> record;
  if (Result read = ReadInstallRecord(directory, &record); !read.ok()) return read;
  if (!record) return {};
  const RecordReach reach(*record);
  std::vector<Target> targets;
  planWith(*record, reach, plan, &targets);
  return {};
}

Result RemoveInstallation(const std::string &directory, RemovalPlan *done) {
  *done = RemovalPlan();
  done->directory = directory;
  DirectoryLock lock;
  if (Result locked = lock.acquire(directory); !locked.ok()) return locked;
  std::optional<InstallRecord> record;
  if (Result read = ReadInstallRecord(directory, &record); !read.ok()) return read;
  if (!record) return {};
  const RecordReach reach(*record);
  std::vector<Target> targets;
  planWith(*record, reach, done, &targets);
  const auto cannot = [done](std::size_t i, const std::string &why) {
    const std::string shown = done->steps[i].shown;
    const std::string path = done->steps[i].path;
    done->steps.resize(i);
    return Result::Failed(Fault::kNotWritten,
                          "Cannot remove file '" + shown + "' (" + why +
                              ").\nThe rest of the installation and its record are left.",
                          {path});
  };
  for (std::size_t i = 0; i < done->steps.size(); ++i) {
    if (done->steps[i].kind != RemovalStep::Kind::kRemove) continue;
    const Target &target = targets[i];
    struct stat st;
    if (target.directory < 0 ||
        fstatat(target.directory, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (target.directory >= 0 && errno == ENOENT) continue;
      return cannot(i, target.directory < 0 ? "it cannot be reached" : std::strerror(errno));
    }
    // Only what was looked at: a file put in its place meanwhile stays.
    if (st.st_dev != target.device || st.st_ino != target.inode)
      return cannot(i, "it was replaced while it was removed");
    if (unlinkat(target.directory, target.name.c_str(), 0) != 0 && errno != ENOENT)
      return cannot(i, std::strerror(errno));
    // Never told as removed while it is still there.
    if (fstatat(target.directory, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      return cannot(i, "it is still there");
  }
  return {};
}

std::string RemovalLine(const RemovalStep &step, bool done) {
  const std::string keep = done ? "kept " : "keep ";
  switch (step.kind) {
    case RemovalStep::Kind::kRemove:
      return (done ? "removed " : "remove ") + step.shown;
    case RemovalStep::Kind::kChanged:
      return keep + step.shown + ": changed since the last installation";
    case RemovalStep::Kind::kNotOurs:
      return keep + step.shown + ": not a file the installation removes";
    case RemovalStep::Kind::kRefused:
    case RemovalStep::Kind::kRecordKept:
    case RemovalStep::Kind::kStays:
      return keep + step.shown + ": " + step.why;
    case RemovalStep::Kind::kGone:
      return step.shown + ": missing already";
  }
  return {};
}
