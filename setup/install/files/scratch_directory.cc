/*
 * scratch_directory.cc - locked scratch directories, and the sweep of
 * those whose run is gone.
 */
#include "scratch_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kRandomChars = 6;  // the XXXXXX of mkdtemp
// A directory that a sweep removes between our mkdtemp and our lock is
// made anew; this many times at most.
constexpr int kMakeAttempts = 8;

// Opens directory and takes its lock without waiting; -1 when either
// fails.  A link is not followed: what is locked is the directory itself.
int lockDirectory(const std::string &directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Whether path still names the directory that fd has open.
bool stillNamed(const std::string &path, int fd) {
  struct stat named, held;
  return lstat(path.c_str(), &named) == 0 && fstat(fd, &held) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

// Whether name is one that a run of ours gives its scratch directories.
bool scratchName(const std::string &name) {
  for (const char *prefix :
       {kCheckScratchPrefix, kPlanScratchPrefix, kInstallScratchPrefix, kNoticeScratchPrefix}) {
    const std::size_t length = std::strlen(prefix);
    if (name.size() == length + kRandomChars && name.compare(0, length, prefix) == 0) return true;
  }
  return false;
}

}  // namespace

std::string TemporaryDirectory() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool ScratchDirectory::make(const std::string &pattern) {
  remove();
  for (int attempt = 0; attempt < kMakeAttempts; ++attempt) {
    std::string name = pattern;
    if (mkdtemp(name.data()) == nullptr) return false;
    // A sweep may take the lock first and remove the directory: it is
    // ours only once it is locked and still there.
    const int fd = lockDirectory(name);
    if (fd >= 0 && stillNamed(name, fd)) {
      path_ = name;
      lock_ = fd;
      return true;
    }
    if (fd >= 0) close(fd);
  }
  errno = EAGAIN;
  return false;
}

void ScratchDirectory::remove() {
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
  }
  if (lock_ >= 0) {
    close(lock_);
    lock_ = -1;
  }
}

void RemoveStaleScratchDirectories(const std::string &directory) {
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(directory.c_str()), closedir);
  if (!dir) return;
  std::vector<std::string> candidates;
  while (const dirent *entry = readdir(dir.get())) {
    if (scratchName(entry->d_name)) candidates.push_back(directory + "/" + entry->d_name);
  }
  for (const std::string &path : candidates) {
    // Only a directory of this user's: another's is not ours to judge.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    const int fd = lockDirectory(path);
    if (fd < 0) continue;  // its run still lives
    if (stillNamed(path, fd)) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    close(fd);
  }
}
