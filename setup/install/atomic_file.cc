/*
 * atomic_file.cc - files written whole or not at all.
 */
#include "atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

constexpr char kTemporaryMark[] = ".vx-";
constexpr std::size_t kRandomChars = 6;  // the XXXXXX of mkstemp
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

std::string directoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".NAME.vx-" in path's directory.
std::string temporaryPrefix(const std::string &path) {
  const std::string directory = directoryOf(path);
  return (path.find('/') == std::string::npos ? std::string() : directory + "/") + "." +
         baseOf(path) + kTemporaryMark;
}

// Makes the directory's entry of a renamed file durable; a directory that
// cannot be opened or synced (some file systems) loses nothing by it.
void syncDirectory(const std::string &path) {
  const int fd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

void RemoveStaleTemporaries(const std::string &path) {
  const std::string prefix = "." + baseOf(path) + kTemporaryMark;
  const std::string directory = directoryOf(path);
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(directory.c_str()), closedir);
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent *entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() == prefix.size() + kRandomChars && name.compare(0, prefix.size(), prefix) == 0)
      stale.push_back(directory + "/" + name);
  }
  for (const std::string &name : stale) {
    struct stat st;
    if (lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)unlink(name.c_str());
  }
}

bool IsTemporaryName(const std::string &name) {
  const std::size_t mark = name.rfind(kTemporaryMark);
  return name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1 &&
         name.size() == mark + std::strlen(kTemporaryMark) + kRandomChars;
}

std::string TemporaryNameBeside(const std::string &path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned long n = static_cast<unsigned long>(getpid());
  std::string random;
  for (std::size_t i = 0; i < kRandomChars; ++i) {
    random += kLetters[n % (sizeof kLetters - 1)];
    n /= sizeof kLetters - 1;
  }
  return temporaryPrefix(path) + random;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::fail(int error) {
  problem_ = std::strerror(error);
  for (char &c : problem_)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return false;
}

bool AtomicFile::examine() {
  problem_.clear();
  target_ = path_;
  struct stat link;
  if (lstat(path_.c_str(), &link) == 0) {
    if (S_ISLNK(link.st_mode)) {
      throughLink_ = true;
      std::unique_ptr<char, void (*)(void *)> resolved(realpath(path_.c_str(), nullptr), std::free);
      if (!resolved) {
        problem_ = "it is a link to a file that does not exist";
        return false;
      }
      target_ = resolved.get();
    }
    if (stat(target_.c_str(), &old_) != 0) return fail(errno);
    existed_ = true;
    if (S_ISDIR(old_.st_mode)) {
      problem_ = "it is a directory";
      return false;
    }
    if (!S_ISREG(old_.st_mode)) {
      if (throughLink_) {
        problem_ = "it is a link to something other than a regular file";
        return false;
      }
      // A device or a pipe is written as it is: there is nothing to
      // replace, and its permissions belong to the system.
      inPlace_ = true;
    }
  } else if (errno != ENOENT) {
    return fail(errno);
  }
  return true;
}

bool AtomicFile::check() {
  if (!examine()) return false;
  if (inPlace_) return access(target_.c_str(), W_OK) == 0 || fail(errno);
  return access(directoryOf(target_).c_str(), W_OK | X_OK) == 0 || fail(errno);
}

bool AtomicFile::open() {
  if (!examine()) return false;
  if (inPlace_) {
    stream_ = std::fopen(target_.c_str(), "w");
    return stream_ != nullptr || fail(errno);
  }
  RemoveStaleTemporaries(target_);
  std::string pattern = temporaryPrefix(target_) + std::string(kRandomChars, 'X');
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return fail(errno);
  temporary_ = pattern;
  (void)fchmod(fd, kPrivateMode);
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    discard();
    return fail(error);
  }
  return true;
}

bool AtomicFile::commit(mode_t mode) {
  if (stream_ == nullptr) return false;
  std::FILE *stream = stream_;
  stream_ = nullptr;
  int error = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream) != 0) error = errno != 0 ? errno : EIO;
  const int fd = fileno(stream);
  if (!inPlace_) {
    if (error == 0 && fsync(fd) != 0) error = errno;
    // Through a link the file keeps its owner and is never made more
    // readable than it was.
    mode_t final = mode;
    if (throughLink_ && existed_) {
      final &= old_.st_mode & 07777;
      if (geteuid() == 0) (void)fchown(fd, old_.st_uid, old_.st_gid);
    }
    if (error == 0 && fchmod(fd, final) != 0) error = errno;
  }
  if (std::fclose(stream) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (inPlace_) return error == 0 || fail(error);
  if (error == 0 && std::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    discard();
    return fail(error);
  }
  temporary_.clear();
  syncDirectory(target_);
  return true;
}

void AtomicFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    (void)unlink(temporary_.c_str());
    temporary_.clear();
  }
}
