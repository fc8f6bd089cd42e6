/*
 * directory_lock.cc - the lock that keeps a second installation out of a
 * directory while one runs.
 */
#include "actions.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "action_messages.h"
#include "form.h"

using namespace action_messages;

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(100);

}  // namespace

Result DirectoryLock::acquire(const std::string &directory) {
  release();
  const std::string path = WithSlash(directory) + kLockFileName;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  for (;;) {
    // Never through a link, and never a pipe or a device: the lock file
    // cannot be renamed into place as the other files are.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return lockNotMade(path, errno);
    struct stat held;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      close(fd);
      return lockNotMade(path, EINVAL);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The holder before us removes the file as it ends: a lock on a
      // file that is no longer there keeps nobody out.
      struct stat named;
      if (lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        // Root in another user's directory leaves what that user could.
        struct stat place;
        if (geteuid() == 0 && held.st_uid == 0 && stat(directory.c_str(), &place) == 0 &&
            place.st_uid != 0)
          (void)!fchown(fd, place.st_uid, place.st_gid);
        fd_ = fd;
        path_ = path;
        return {};
      }
      close(fd);
      continue;
    }
    close(fd);
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kLockPoll);
  }
  return failed(Fault::kRefused,
                "Another installation is running in the directory '" + directory +
                    "'.\nPlease wait until it has ended, and try again.",
                directory);
}

void DirectoryLock::release() {
  if (fd_ < 0) return;
  (void)unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
}
