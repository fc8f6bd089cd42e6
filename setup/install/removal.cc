/*
 * removal.cc - removing what the record of an installation lists.
 */
#include "removal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "actions.h"
#include "atomic_file.h"
#include "install_record.h"
#include "utility.h"

namespace {

// The product's own files: no record makes them the installation's.
constexpr const char *kProductFiles[] = {"velorix", "autodif.cc", "classes.vel"};
constexpr char kSettingsBackups[] = VX_SETTINGS_FILE ".bak";

bool startsWith(const std::string &text, const std::string &start) {
  return text.compare(0, start.size(), start) == 0;
}

// Whether a file of that name is one the installation never removes: the
// product's own, a settings backup, a copy kept of a file changed by hand.
bool neverRemoved(const std::string &path) {
  const std::string name = std::filesystem::path(path).filename().string();
  for (const char *own : kProductFiles) {
    if (name == own) return true;
  }
  return startsWith(name, kSettingsBackups) || name.find(kKeptOldSuffix) != std::string::npos ||
         name.find(kKeptNewSuffix) != std::string::npos;
}

RemovalStep stepFor(const InstallRecord &record, const RecordEntry &entry) {
  RemovalStep step{RemovalStep::Kind::kRemove, entry.path, record.shown(entry.path)};
  struct stat st;
  if (lstat(entry.path.c_str(), &st) != 0) {
    step.kind = RemovalStep::Kind::kGone;
  } else if (neverRemoved(entry.path) || entry.path == record.file()) {
    step.kind = RemovalStep::Kind::kNotOurs;
  } else {
    // Through a link, what it reaches is compared; the link is what goes.
    struct stat reached;
    const auto bytes = ReadWholeFile(entry.path);
    if (stat(entry.path.c_str(), &reached) != 0 || !S_ISREG(reached.st_mode) || !bytes) {
      step.kind = RemovalStep::Kind::kNotOurs;
    } else if (Sha256Hex(*bytes) != entry.digest) {
      step.kind = RemovalStep::Kind::kChanged;
    }
  }
  return step;
}

}  // namespace

bool RemovalPlan::removesAll() const {
  for (const RemovalStep &step : steps) {
    if (step.kind == RemovalStep::Kind::kChanged || step.kind == RemovalStep::Kind::kNotOurs)
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
  plan->recorded = true;
  for (const RecordEntry &entry : record->entries())
    plan->steps.push_back(stepFor(*record, entry));
  plan->steps.push_back(
      {RemovalStep::Kind::kRemove, record->file(), record->shown(record->file())});
  return {};
}

Result RemoveInstallation(const std::string &directory, RemovalPlan *done) {
  DirectoryLock lock;
  if (Result locked = lock.acquire(directory); !locked.ok()) {
    *done = RemovalPlan();
    done->directory = directory;
    return locked;
  }
  if (Result planned = PlanRemoval(directory, done); !planned.ok()) return planned;
  for (std::size_t i = 0; i < done->steps.size(); ++i) {
    const RemovalStep &step = done->steps[i];
    if (step.kind != RemovalStep::Kind::kRemove) continue;
    if (unlink(step.path.c_str()) != 0 && errno != ENOENT) {
      const std::string why = std::strerror(errno);
      done->steps.resize(i);
      return Result::Failed(Fault::kNotWritten,
                            "Cannot remove file '" + step.shown + "' (" + why +
                                ").\nThe rest of the installation and its record are left.",
                            {step.path});
    }
  }
  return {};
}

std::string RemovalLine(const RemovalStep &step, bool done) {
  switch (step.kind) {
    case RemovalStep::Kind::kRemove:
      return (done ? "removed " : "remove ") + step.shown;
    case RemovalStep::Kind::kChanged:
      return (done ? "kept " : "keep ") + step.shown + ": changed since the last installation";
    case RemovalStep::Kind::kNotOurs:
      return (done ? "kept " : "keep ") + step.shown + ": not a file the installation removes";
    case RemovalStep::Kind::kGone:
      return step.shown + ": missing already";
  }
  return {};
}
