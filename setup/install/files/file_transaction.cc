/*
 * file_transaction.cc - a run's files put in place together, or not at all.
 */
#include "file_transaction.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>

#include "atomic_file.h"

namespace {

FileTransaction *openTransaction = nullptr;

constexpr char kNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNameTries = 100;

constexpr char kPutBack[] =
    "\nWhat had already been put in place has been put back: the directory is as it was.";
constexpr char kNotPutBack[] = "\nWhat had already been put in place could not all be put back.";

// ---- what a signal removes ------------------------------------------------
//
// A handler may only read what is whole: each path is copied into its slot
// before the slot is marked used, and unmarked before it is changed.

constexpr std::size_t kSignalSlots = 64;
constexpr std::size_t kSignalPath = 4096;
constexpr std::array<int, 3> kEndingSignals = {SIGINT, SIGTERM, SIGHUP};

struct SignalSlot {
  volatile sig_atomic_t used = 0;
  char path[kSignalPath] = {};
};
std::array<SignalSlot, kSignalSlots> stagedSlots;
SignalSlot scratchSlot, lockSlot;
std::array<struct sigaction, kEndingSignals.size()> formerActions;

void fill(SignalSlot &slot, const std::string &path) {
  slot.used = 0;
  if (path.empty() || path.size() >= kSignalPath)
    return;  // none, or left for the next run to sweep
  std::memcpy(slot.path, path.c_str(), path.size() + 1);
  slot.used = 1;
}

void noteStaged(const std::string &path) {
  for (SignalSlot &slot : stagedSlots) {
    if (slot.used == 0) {
      fill(slot, path);
      return;
    }
  }
}

void forgetStaged(const std::string &path) {
  for (SignalSlot &slot : stagedSlots) {
    if (slot.used != 0 && path == slot.path) slot.used = 0;
  }
}

// Empties a directory of files and removes it, with system calls alone.
void removeFlatDirectory(const char *path) {
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char entries[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, entries, sizeof entries);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      struct Entry {
        ino64_t inode;
        off64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
      };
      const auto *entry = reinterpret_cast<const Entry *>(entries + at);
      const char *name = entry->name;
      if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))))
        (void)unlinkat(fd, name, 0);
      at += entry->length;
    }
  }
  close(fd);
  (void)rmdir(path);
}

void endWithCleanup(int signal) {
  for (SignalSlot &slot : stagedSlots) {
    if (slot.used != 0) (void)unlink(slot.path);
  }
  if (scratchSlot.used != 0) removeFlatDirectory(scratchSlot.path);
  if (lockSlot.used != 0) (void)unlink(lockSlot.path);
  // Ended as the signal ends the tool, for whoever waits on it.
  ::signal(signal, SIG_DFL);
  (void)raise(signal);
}

void blockEndingSignals(int how) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kEndingSignals)
    sigaddset(&set, signal);
  sigprocmask(how, &set, nullptr);
}

std::string directoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A free name of the temporary kind beside path (".NAME.vx-XXXXXX"), which
// a run killed before its end leaves for the next one to remove.
std::string besideName(const std::string &path) {
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kNameChars - 2);
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string name = directoryOf(path) + "/." + base + ".vx-";
  for (int i = 0; i < 6; ++i)
    name += kNameChars[pick(random)];
  return name;
}

bool there(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string resolved(const std::string &path) {
  std::unique_ptr<char, void (*)(void *)> real(realpath(path.c_str(), nullptr), std::free);
  return real ? std::string(real.get()) : path;
}

}  // namespace

FileTransaction::FileTransaction() {
  openTransaction = this;
  struct sigaction ending {};
  ending.sa_handler = endWithCleanup;
  sigemptyset(&ending.sa_mask);
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &ending, &formerActions[i]);
}

FileTransaction::~FileTransaction() {
  abandon();
  scratchSlot.used = 0;
  lockSlot.used = 0;
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &formerActions[i], nullptr);
  if (openTransaction == this) openTransaction = nullptr;
}

void FileTransaction::removeOnSignal(const std::string &scratchDirectory,
                                     const std::string &lockFile) {
  fill(scratchSlot, scratchDirectory);
  fill(lockSlot, lockFile);
}

FileTransaction *FileTransaction::open() { return openTransaction; }

void FileTransaction::stage(const std::string &temporary, const std::string &target, bool replace,
                            FaultFor fault) {
  drop(target);
  noteStaged(temporary);
  steps_.push_back(
      {replace ? Kind::kPlace : Kind::kPlaceIfAbsent, temporary, target, std::move(fault)});
}

void FileTransaction::link(const std::string &from, const std::string &to, FaultFor fault) {
  steps_.push_back({Kind::kLink, from, to, std::move(fault)});
}

void FileTransaction::rename(const std::string &from, const std::string &to, bool noReplace,
                             FaultFor fault) {
  steps_.push_back(
      {noReplace ? Kind::kRenameNoReplace : Kind::kRename, from, to, std::move(fault)});
}

void FileTransaction::remove(const std::string &path, FaultFor fault) {
  steps_.push_back({Kind::kRemove, {}, path, std::move(fault)});
}

const FileTransaction::Step *FileTransaction::find(const std::string &path) const {
  const std::string real = resolved(path);
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    if (it->to == path || it->to == real) return &*it;
  }
  return nullptr;
}

bool FileTransaction::staged(const std::string &path) const {
  const Step *step = find(path);
  return step != nullptr && (step->kind == Kind::kPlace || step->kind == Kind::kPlaceIfAbsent);
}

std::string FileTransaction::current(const std::string &path) const {
  return staged(path) ? find(path)->from : path;
}

void FileTransaction::drop(const std::string &path) {
  for (auto it = steps_.begin(); it != steps_.end();) {
    if (it->to != path) {
      ++it;
      continue;
    }
    if (it->kind == Kind::kPlace || it->kind == Kind::kPlaceIfAbsent) {
      (void)unlink(it->from.c_str());
      forgetStaged(it->from);
    }
    it = steps_.erase(it);
  }
}

bool FileTransaction::keep(const std::string &name, std::vector<Changed> &changed) const {
  for (const Changed &done : changed) {
    if (done.name == name) return true;
  }
  if (!there(name)) {
    changed.push_back({name, {}});
    return true;
  }
  for (int i = 0; i < kNameTries; ++i) {
    const std::string saved = besideName(name);
    // The name itself: a link there is kept as a link.
    if (linkat(AT_FDCWD, name.c_str(), AT_FDCWD, saved.c_str(), 0) == 0) {
      changed.push_back({name, saved});
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

int FileTransaction::apply(const Step &step, std::vector<Changed> &changed) const {
  if (!keep(step.to, changed)) return errno;
  if (step.kind == Kind::kRename || step.kind == Kind::kRenameNoReplace) {
    if (!keep(step.from, changed)) return errno;
  }
  switch (step.kind) {
    case Kind::kPlace:
      return std::rename(step.from.c_str(), step.to.c_str()) == 0 ? 0 : errno;
    case Kind::kPlaceIfAbsent: {
      // A file that appeared meanwhile is kept, and this one dropped.
      const int error =
          ::link(step.from.c_str(), step.to.c_str()) == 0 || errno == EEXIST ? 0 : errno;
      (void)unlink(step.from.c_str());
      return error;
    }
    case Kind::kLink: {
      if (linkat(AT_FDCWD, step.from.c_str(), AT_FDCWD, step.to.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
      // Where the file system has no second names: a copy with the
      // file's owner and mode.
      struct stat st;
      if (stat(step.from.c_str(), &st) != 0) return errno;
      const Result copied = CopyWholeFile(step.from, step.to, st.st_mode & 07777, step.to,
                                          Placement::kIfAbsent, FileOwner{st.st_uid, st.st_gid});
      return copied.ok() ? 0 : EIO;
    }
    case Kind::kRename:
      return std::rename(step.from.c_str(), step.to.c_str()) == 0 || there(step.to) ? 0 : errno;
    case Kind::kRenameNoReplace:
      if (renameat2(AT_FDCWD, step.from.c_str(), AT_FDCWD, step.to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
      if (errno != EINVAL) return errno;
      if (there(step.to)) return EEXIST;
      return std::rename(step.from.c_str(), step.to.c_str()) == 0 ? 0 : errno;
    case Kind::kRemove:
      return unlink(step.to.c_str()) == 0 || errno == ENOENT ? 0 : errno;
  }
  return EINVAL;
}

void FileTransaction::undo(std::vector<Changed> &changed) {
  for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
    if (it->saved.empty()) {
      (void)unlink(it->name.c_str());
    } else {
      (void)std::rename(it->saved.c_str(), it->name.c_str());
    }
  }
}

Result FileTransaction::commit() {
  // A signal waits until the directory is whole again, one way or the
  // other.
  blockEndingSignals(SIG_BLOCK);
  const Result committed = placeAll();
  for (SignalSlot &slot : stagedSlots)
    slot.used = 0;
  blockEndingSignals(SIG_UNBLOCK);
  return committed;
}

Result FileTransaction::placeAll() {
  // What the steps write themselves goes straight to its place.
  openTransaction = nullptr;
  std::vector<Changed> changed;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const int error = apply(steps_[i], changed);
    if (error == 0) continue;
    const Result fault = steps_[i].fault(error);
    undo(changed);
    bool putBack = true;
    for (const Changed &done : changed) {
      if (!done.saved.empty() && there(done.saved)) putBack = false;
    }
    // Those not done, this one among them, leave nothing.
    steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(i));
    abandon();
    openTransaction = this;
    return Result::Failed(fault.fault(), fault.message() + (putBack ? kPutBack : kNotPutBack),
                          fault.about(), fault.detail());
  }
  std::set<std::string> directories;
  for (const Changed &done : changed) {
    if (!done.saved.empty()) (void)unlink(done.saved.c_str());
    directories.insert(directoryOf(done.name));
  }
  // The renames made durable, once per directory.
  for (const std::string &directory : directories) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    (void)fsync(fd);
    close(fd);
  }
  steps_.clear();
  openTransaction = this;
  return {};
}

void FileTransaction::abandon() {
  for (const Step &step : steps_) {
    if (step.kind == Kind::kPlace || step.kind == Kind::kPlaceIfAbsent) {
      (void)unlink(step.from.c_str());
      forgetStaged(step.from);
    }
  }
  steps_.clear();
}
