/*
 * atomic_file.cc - files written whole or not at all.
 */
#include "atomic_file.h"

#include "file_transaction.h"
#include "link_trust.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
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

// The directories whose syncs wait for the end of a BatchedSyncs, and the
// scratch directory that is not synced at all.
struct Batch {
  bool active = false;
  std::set<std::string> directories;
  std::string scratch;
};
Batch &batch() {
  static Batch pending;
  return pending;
}

void syncNow(const std::string &directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

// Whether the file at path ends in the scratch directory of the run.
bool inScratch(const std::string &path) {
  const std::string &scratch = batch().scratch;
  if (scratch.empty()) return false;
  std::unique_ptr<char, void (*)(void *)> directory(realpath(directoryOf(path).c_str(), nullptr),
                                                    std::free);
  return directory && scratch == directory.get();
}

// Makes the directory's entry of a renamed file durable, now or at the end
// of the batch; a directory that cannot be opened or synced (some file
// systems) loses nothing by it.
void syncDirectory(const std::string &path) {
  if (inScratch(path)) return;
  std::unique_ptr<char, void (*)(void *)> directory(realpath(directoryOf(path).c_str(), nullptr),
                                                    std::free);
  const std::string name = directory ? directory.get() : directoryOf(path);
  if (batch().active) {
    batch().directories.insert(name);
  } else {
    syncNow(name);
  }
}

// The mode a new file gets under the process's umask, as fopen would give
// it.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Who a new file at path belongs to when it is not the writer: run as
// root in another user's directory, that user and the directory's group,
// so that the file is theirs as if they had made it.
std::optional<FileOwner> directoryOwner(const std::string &path) {
  if (geteuid() != 0) return std::nullopt;
  struct stat directory;
  if (stat(directoryOf(path).c_str(), &directory) != 0 || directory.st_uid == geteuid())
    return std::nullopt;
  return FileOwner{directory.st_uid, directory.st_gid};
}

std::string lowered(const char *text) {
  std::string out = text;
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

FileOwner NewFileOwner(const std::string &path) {
  if (const auto given = directoryOwner(path)) return *given;
  struct stat directory;
  const bool handsOn =
      stat(directoryOf(path).c_str(), &directory) == 0 && (directory.st_mode & S_ISGID);
  return {geteuid(), handsOn ? directory.st_gid : getegid()};
}

mode_t NarrowedMode(mode_t mode, const struct stat *old, bool throughLink) {
  if (old == nullptr || !S_ISREG(old->st_mode)) return mode;
  const mode_t held = old->st_mode & 07777;
  if (throughLink) return mode & held;
  constexpr mode_t kGroupAndOthers = 0077;
  return (mode & ~kGroupAndOthers) | (mode & held & kGroupAndOthers);
}

Result WriteWholeFile(const std::string &path, const std::string &content, mode_t mode,
                      const std::string &shownAs, Placement placement,
                      std::optional<FileOwner> owner) {
  AtomicFile file(path, shownAs);
  if (owner) file.setOwner(*owner);
  if (placement == Placement::kAnew) file.placeAnew();
  Result written = file.open();
  if (!written.ok()) return written;
  if (std::fwrite(content.data(), 1, content.size(), file.stream()) != content.size()) {
    file.discard();
    return Result::Failed(Fault::kNotWritten,
                          "Cannot write file '" + (shownAs.empty() ? path : shownAs) + "'", {path},
                          "a write failed");
  }
  return placement == Placement::kIfAbsent ? file.commitNew(mode) : file.commit(mode);
}

std::optional<std::string> ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

namespace {

// Compared a piece of this size at a time.
constexpr std::size_t kComparePiece = 64 * 1024;

// A file opened for reading, closed when it goes; a pipe is not waited on.
struct ReadFd {
  explicit ReadFd(const std::string &path)
      : fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  explicit ReadFd(int opened) : fd(opened) {}
  ~ReadFd() {
    if (fd >= 0) close(fd);
  }
  ReadFd(const ReadFd &) = delete;
  ReadFd &operator=(const ReadFd &) = delete;
  int fd;
};

// Reads up to size bytes into buffer, as many as there are; -1 on an
// error.
ssize_t readPiece(int fd, char *buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

std::optional<bool> FileHolds(const std::string &path, std::string_view content) {
  const ReadFd file(path);
  struct stat st;
  if (file.fd < 0 || fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  if (S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) != content.size())
    return false;
  std::vector<char> piece(kComparePiece);
  for (std::size_t at = 0;; at += piece.size()) {
    const ssize_t got = readPiece(file.fd, piece.data(), piece.size());
    if (got < 0) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(got);
    if (content.substr(at < content.size() ? at : content.size(), length) !=
        std::string_view(piece.data(), length))
      return false;
    if (length < piece.size()) return at + length == content.size();
  }
}

Result CopyWholeFile(const std::string &from, const std::string &path, mode_t mode,
                     const std::string &shownAs, Placement placement,
                     std::optional<FileOwner> owner) {
  const std::string &shown = shownAs.empty() ? path : shownAs;
  // Without blocking: a pipe put in its place is refused, not waited on.
  const ReadFd source(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (source.fd < 0 || fstat(source.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string why =
        source.fd < 0 ? lowered(std::strerror(errno)) : std::string("not a regular file");
    return Result::Failed(Fault::kNotOpened, "Cannot open file '" + from + "'", {from}, why);
  }
  AtomicFile file(path, shownAs);
  if (owner) file.setOwner(*owner);
  if (placement == Placement::kAnew) file.placeAnew();
  Result opened = file.open();
  if (!opened.ok()) return opened;
  std::vector<char> piece(kComparePiece);
  const std::vector<char> zeros(kComparePiece, '\0');
  off_t size = 0;
  bool hole = false;  // the copy ends in a piece not written
  for (;;) {
    const ssize_t got = readPiece(source.fd, piece.data(), piece.size());
    const std::size_t length = got > 0 ? static_cast<std::size_t>(got) : 0;
    // A piece of zeros is skipped, not written: a sparse file stays sparse,
    // as cp keeps it.
    const bool skipped = length > 0 && std::memcmp(piece.data(), zeros.data(), length) == 0;
    const bool wrote = got >= 0 && (skipped ? std::fseek(file.stream(), static_cast<long>(length),
                                                         SEEK_CUR) == 0
                                            : std::fwrite(piece.data(), 1, length,
                                                          file.stream()) == length);
    if (!wrote) {
      file.discard();
      return Result::Failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", {path},
                            got < 0 ? "a read failed" : "a write failed");
    }
    size += static_cast<off_t>(length);
    if (length > 0) hole = skipped;
    if (length < piece.size()) break;
  }
  if (hole && (std::fflush(file.stream()) != 0 || ftruncate(fileno(file.stream()), size) != 0)) {
    file.discard();
    return Result::Failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", {path},
                          "a write failed");
  }
  return placement == Placement::kIfAbsent ? file.commitNew(mode) : file.commit(mode);
}

bool SameFiles(const std::string &a, const std::string &b) {
  const ReadFd first(a), second(b);
  struct stat one, two;
  if (first.fd < 0 || second.fd < 0 || fstat(first.fd, &one) != 0 || fstat(second.fd, &two) != 0 ||
      !S_ISREG(one.st_mode) || !S_ISREG(two.st_mode))
    return false;
  if (one.st_size != two.st_size) return false;
  std::vector<char> left(kComparePiece), right(kComparePiece);
  for (;;) {
    const ssize_t got = readPiece(first.fd, left.data(), left.size());
    if (got < 0 || readPiece(second.fd, right.data(), right.size()) != got) return false;
    const std::size_t length = static_cast<std::size_t>(got);
    if (std::memcmp(left.data(), right.data(), length) != 0) return false;
    if (length < left.size()) return true;
  }
}

bool WriteLeavesUnchanged(const std::string &path, const std::string &made, mode_t mode) {
  struct stat link, st;
  if (lstat(path.c_str(), &link) != 0 || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  const mode_t given = NarrowedMode(mode, &st, S_ISLNK(link.st_mode));
  return (st.st_mode & 07777) == given && SameFiles(made, path);
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

BatchedSyncs::BatchedSyncs(std::string scratchDirectory) {
  batch().active = true;
  std::unique_ptr<char, void (*)(void *)> scratch(realpath(scratchDirectory.c_str(), nullptr),
                                                  std::free);
  batch().scratch = scratch ? scratch.get() : std::string();
}

BatchedSyncs::~BatchedSyncs() {
  flush();
  batch().active = false;
  batch().scratch.clear();
}

void BatchedSyncs::flush() {
  for (const std::string &directory : batch().directories)
    syncNow(directory);
  batch().directories.clear();
}

AtomicFile::~AtomicFile() { discard(); }

Result AtomicFile::failed(Fault fault, const char *why) {
  const char *verb = fault == Fault::kNotOpened ? "Cannot open file '" : "Cannot write file '";
  return Result::Failed(fault, verb + shown_ + "'", {target_.empty() ? path_ : target_}, why);
}

Result AtomicFile::failed(Fault fault, int error) {
  return failed(fault, lowered(std::strerror(error)).c_str());
}

Result AtomicFile::examine() {
  target_ = path_;
  struct stat link;
  if (anew_) {
    // The name alone is replaced: only a regular file there is one that
    // this file takes the place of.
    if (lstat(path_.c_str(), &link) != 0) {
      if (errno != ENOENT) return failed(Fault::kNotOpened, errno);
    } else if (S_ISDIR(link.st_mode)) {
      return failed(Fault::kNotOpened, "it is a directory");
    } else if (S_ISREG(link.st_mode)) {
      old_ = link;
      existed_ = true;
    }
    return {};
  }
  if (lstat(path_.c_str(), &link) == 0) {
    if (S_ISLNK(link.st_mode)) {
      throughLink_ = true;
      std::unique_ptr<char, void (*)(void *)> resolved(realpath(path_.c_str(), nullptr), std::free);
      if (!resolved) return failed(Fault::kNotOpened, "it is a link to a file that does not exist");
      target_ = resolved.get();
    }
    if (stat(target_.c_str(), &old_) != 0) return failed(Fault::kNotOpened, errno);
    if (throughLink_ && !LinkMayBeFollowed(link, &old_))
      return failed(Fault::kNotOpened,
                    "it is a link of another user's to a file that is not theirs");
    existed_ = true;
    if (S_ISDIR(old_.st_mode)) return failed(Fault::kNotOpened, "it is a directory");
    if (!S_ISREG(old_.st_mode)) {
      if (throughLink_)
        return failed(Fault::kNotOpened, "it is a link to something other than a regular file");
      // A device or a pipe is written as it is: there is nothing to
      // replace, and its permissions belong to the system.
      inPlace_ = true;
    }
  } else if (errno != ENOENT) {
    return failed(Fault::kNotOpened, errno);
  }
  return {};
}

Result AtomicFile::check() {
  Result examined = examine();
  if (!examined.ok()) return examined;
  const std::string &place = inPlace_ ? target_ : directoryOf(target_);
  if (access(place.c_str(), inPlace_ ? W_OK : W_OK | X_OK) != 0)
    return failed(Fault::kNotOpened, errno);
  return {};
}

Result AtomicFile::makeTemporary() {
  RemoveStaleTemporaries(target_);
  const std::string prefix = temporaryDirectory_.empty()
                                 ? temporaryPrefix(target_)
                                 : temporaryDirectory_ + "/." + baseOf(target_) + kTemporaryMark;
  std::string pattern = prefix + std::string(kRandomChars, 'X');
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return failed(Fault::kNotOpened, errno);
  temporary_ = pattern;
  (void)fchmod(fd, kPrivateMode);
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    discard();
    return failed(Fault::kNotOpened, error);
  }
  return {};
}

Result AtomicFile::open() {
  Result examined = examine();
  if (!examined.ok()) return examined;
  if (!inPlace_) return makeTemporary();
  // Without blocking: a pipe that nobody reads is refused, not waited on.
  const int fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed(Fault::kNotOpened, errno);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    close(fd);
    return failed(Fault::kNotOpened, error);
  }
  return {};
}

Result AtomicFile::openForProgram() {
  Result examined = examine();
  if (!examined.ok()) return examined;
  if (inPlace_) return failed(Fault::kNotOpened, "it is not a regular file");
  Result made = makeTemporary();
  if (!made.ok()) return made;
  // The program makes the file itself, with the mode it gives it, so that
  // whether it made one can be told; the name stays ours.
  std::fclose(stream_);
  stream_ = nullptr;
  (void)unlink(temporary_.c_str());
  return {};
}

Result AtomicFile::place(mode_t mode, bool replace) {
  if (temporary_.empty() && stream_ == nullptr) return failed(Fault::kNotWritten, "not open");
  std::FILE *stream = stream_;
  stream_ = nullptr;
  int error = 0;
  int fd = -1;
  if (stream != nullptr) {
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) error = errno != 0 ? errno : EIO;
    fd = fileno(stream);
  } else {
    // Written by another program: what it left, made durable.
    fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = errno;
  }
  bool same = false;
  if (!inPlace_ && fd >= 0) {
    mode_t wanted = mode;
    if (mode == kModeAsWritten) {
      struct stat written;
      wanted = fstat(fd, &written) == 0 ? written.st_mode & 07777 : newFileMode();
    }
    const mode_t final = NarrowedMode(wanted, existed_ ? &old_ : nullptr, throughLink_);
    // The same bytes with the same mode: the file stays as it is.  Not for
    // a program's output, whose new time may be what it was made for.
    if (error == 0 && stream != nullptr && existed_ && S_ISREG(old_.st_mode))
      same = WriteLeavesUnchanged(path_, temporary_, wanted);
    // A file replaced keeps its owner and group, as one rewritten in place
    // would, and a new one takes the owner it was given; only root can
    // give a file away, and without it the file is the writer's anyway.
    std::optional<FileOwner> owner = owner_;
    if (!owner && existed_ && S_ISREG(old_.st_mode)) owner = FileOwner{old_.st_uid, old_.st_gid};
    if (!owner) owner = directoryOwner(target_);
    if (error == 0 && owner && geteuid() == 0 && fchown(fd, owner->uid, owner->gid) != 0)
      error = errno;
    if (error == 0 && fchmod(fd, final) != 0) error = errno;
    // After the owner and mode, so that the sync makes them durable too.
    if (error == 0 && !same && !inScratch(target_) && fsync(fd) != 0) error = errno;
  }
  if (stream != nullptr) {
    if (std::fclose(stream) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  } else if (fd >= 0) {
    close(fd);
  }
  if (inPlace_) return error == 0 ? Result() : failed(Fault::kNotWritten, error);
  if (error == 0 && same) {
    discard();
    return {};
  }
  if (error == 0 && FileTransaction::open() != nullptr && !inScratch(target_)) {
    // Whole and durable under its temporary name; put in place with the
    // run's other files at its end.
    FileTransaction::open()->stage(temporary_, target_, replace, [shown = shown_,
                                                                  about = target_](int failure) {
      return Result::Failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", {about},
                            lowered(std::strerror(failure)));
    });
    temporary_.clear();
    return {};
  }
  if (error == 0) {
    if (replace) {
      if (std::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    } else if (link(temporary_.c_str(), target_.c_str()) != 0 && errno != EEXIST) {
      error = errno;
    }
  }
  if (error != 0) {
    discard();
    return failed(Fault::kNotWritten, error);
  }
  if (!replace) (void)unlink(temporary_.c_str());
  temporary_.clear();
  syncDirectory(target_);
  return {};
}

Result AtomicFile::commit(mode_t mode) { return place(mode, true); }

Result AtomicFile::commitNew(mode_t mode) { return place(mode, false); }

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
