/*
 * directory_lock.cc - the lock that keeps a second installation out of a
 * directory while one runs.
 */
#include "actions.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "action_messages.h"
#include "form.h"

using namespace action_messages;

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(100);

// Takes the lock of the file at path for lock, when nobody holds it:
// true, with fd set, when it is ours; false, with errno, when it is held
// (EWOULDBLOCK) or cannot be had.  create: the file is made when it is
// not there (the lock of a file system that cannot lock a directory).
bool lockFile(const std::string &path, bool create, int *fd) {
  // Never through a link, and never a pipe or a device: the lock file
  // cannot be renamed into place as the other files are.
  const int opened = open(
      path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (opened < 0) return false;
  struct stat held;
  if (fstat(opened, &held) != 0 || !S_ISREG(held.st_mode)) {
    close(opened);
    errno = EINVAL;
    return false;
  }
  if (flock(opened, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(opened);
    errno = error;
    return false;
  }
  // The holder before us removes the file as it ends: a lock on a file
  // that is no longer there keeps nobody out.
  struct stat named;
  if (lstat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    close(opened);
    errno = EWOULDBLOCK;
    return false;
  }
  *fd = opened;
  return true;
}

bool busy(int error) { return error == EWOULDBLOCK || error == EAGAIN; }

}  // namespace

Result DirectoryLock::acquire(const std::string &directory) {
  release();
  const std::string path = WithSlash(directory) + kLockFileName;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  // The directory itself is locked, so that a run makes nothing in it
  // that it does not install.  Where the file system cannot lock a
  // directory (NFS locks only files open for writing), a lock file in it.
  int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool withFile = directoryFd < 0;
  for (;;) {
    if (!withFile) {
      if (flock(directoryFd, LOCK_EX | LOCK_NB) == 0) {
        // A run of an earlier version holds the lock file instead: it is
        // ours only once that is free too, and goes as that run's would.
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || lockFile(path, false, &fd_)) {
          if (fd_ >= 0) path_ = path;
          directoryFd_ = directoryFd;
          return {};
        }
        const int error = errno;
        flock(directoryFd, LOCK_UN);
        if (!busy(error)) {
          close(directoryFd);
          return lockNotMade(path, error);
        }
      } else if (!busy(errno)) {
        close(directoryFd);
        directoryFd = -1;
        withFile = true;
        continue;
      }
    } else if (lockFile(path, true, &fd_)) {
      // Root in another user's directory leaves what that user could.
      struct stat held, place;
      if (geteuid() == 0 && fstat(fd_, &held) == 0 && held.st_uid == 0 &&
          stat(directory.c_str(), &place) == 0 && place.st_uid != 0)
        (void)!fchown(fd_, place.st_uid, place.st_gid);
      path_ = path;
      return {};
    } else if (!busy(errno)) {
      return lockNotMade(path, errno);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kLockPoll);
  }
  if (directoryFd >= 0) close(directoryFd);
  return failed(Fault::kRefused,
                "Another installation is running in the directory '" + directory +
                    "'.\nPlease wait until it has ended, and try again.",
                directory);
}

void DirectoryLock::release() {
  if (fd_ >= 0) {
    (void)unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
  }
  path_.clear();
  if (directoryFd_ >= 0) {
    close(directoryFd_);
    directoryFd_ = -1;
  }
}
