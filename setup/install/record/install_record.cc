/*
 * install_record.cc - the record of an installation: its text, the
 * digests, the copies kept of files changed by hand, and --verify.
 */
#include "install_record.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "atomic_file.h"

namespace {

constexpr const char *kHeader[] = {
    "# velorix-setup: the files of the installation in this directory.",
    "# Check them with: sha256sum -c .velorix-setup.sha256 (or velorix-setup --verify)",
    "# Before each file its mode, owner:group and size; \"data\": the program changes it.",
};
constexpr char kDataMark[] = "data";
constexpr std::size_t kDigestChars = 2 * SHA256_DIGEST_SIZE;
// Kept copies of one file beyond this many are refused, not made.
constexpr int kMaxKeptCopies = 99;

// As sha256sum -c takes them: in either case.
bool isHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

std::string lowered(std::string_view hex) {
  std::string text(hex);
  for (char &c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Reads the file open at fd into *text when it holds at most limit bytes.
ReadOutcome readBounded(int fd, std::size_t limit, std::string *text) {
  text->clear();
  std::array<char, 65536> piece;
  for (;;) {
    const ssize_t got = read(fd, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadOutcome::kFailed;
    if (got == 0) return ReadOutcome::kRead;
    if (text->size() + static_cast<std::size_t>(got) > limit) return ReadOutcome::kTooLarge;
    text->append(piece.data(), static_cast<std::size_t>(got));
  }
}

// A name as sha256sum writes it: a backslash or a line break in it is
// escaped, and the line then begins with a backslash.
std::string escapedName(const std::string &name, bool *escaped) {
  std::string out;
  *escaped = false;
  for (const char c : name) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
      continue;
    }
    *escaped = true;
  }
  return out;
}

// The name of an escaped line; false when an escape is not one of
// sha256sum's.
bool unescapedName(std::string_view text, std::string *name) {
  name->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *name += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        *name += '\\';
        break;
      case 'n':
        *name += '\n';
        break;
      case 'r':
        *name += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

// "# MODE UID:GID SIZE[ data]": the description of the next file.
bool describedBy(std::string_view line, RecordEntry *entry) {
  unsigned mode = 0;
  unsigned long uid = 0, gid = 0;
  long long size = 0;
  char mark[8] = "";
  int used = 0;
  const std::string text(line);
  const int got = std::sscanf(text.c_str(), "# %4o %lu:%lu %lld%n %7s%n", &mode, &uid, &gid, &size,
                              &used, mark, &used);
  if (got < 4 || static_cast<std::size_t>(used) != text.size()) return false;
  if (got == 5 && std::strcmp(mark, kDataMark) != 0) return false;
  if (size < 0) return false;
  entry->described = true;
  entry->mode = static_cast<mode_t>(mode & kModeBits);
  entry->uid = static_cast<uid_t>(uid);
  entry->gid = static_cast<gid_t>(gid);
  entry->size = size;
  entry->data = got == 5;
  return true;
}

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & kModeBits);
  return text;
}

bool inDirectory(const std::string &path, const std::string &directory) {
  return path.size() > directory.size() + 1 && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size()] == '/';
}

// The digest that context has come to, in lower-case hexadecimal.
std::string hexOf(sha256_ctx &context) {
  std::array<uint8_t, SHA256_DIGEST_SIZE> digest;
  sha256_digest(&context, digest.size(), digest.data());
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xf];
  }
  return hex;
}

}  // namespace

std::string RecordKey(const std::string &path) {
  std::string text = std::filesystem::path(path).lexically_normal().string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string Sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t *>(bytes.data()));
  return hexOf(context);
}

int OpenRegularFile(int directory, const std::string &name, bool follow, struct stat *st) {
  const int fd = openat(directory, name.c_str(),
                        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    errno = ENOTSUP;
    return -1;
  }
  return fd;
}

ReadOutcome ReadRegularFile(int directory, const std::string &name, std::size_t limit, bool follow,
                         std::string *text) {
  struct stat st;
  const int fd = OpenRegularFile(directory, name, follow, &st);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
        return ReadOutcome::kMissing;
      case ELOOP:
        return ReadOutcome::kLink;
      case ENOTSUP:
      case EISDIR:
      case ENXIO:
        return ReadOutcome::kNotRegular;
      default:
        return ReadOutcome::kFailed;
    }
  }
  const ReadOutcome read = static_cast<std::size_t>(st.st_size) > limit ? ReadOutcome::kTooLarge
                                                                      : readBounded(fd, limit, text);
  close(fd);
  return read;
}

std::optional<std::string> FileSha256Hex(const std::string &path) {
  struct stat st;
  const int fd = OpenRegularFile(AT_FDCWD, path, true, &st);
  if (fd < 0) return std::nullopt;
  auto digest = FdSha256Hex(fd);
  close(fd);
  return digest;
}

std::optional<std::string> FdSha256Hex(int fd) {
  sha256_ctx context;
  sha256_init(&context);
  std::array<uint8_t, 65536> piece;
  for (;;) {
    const ssize_t got = read(fd, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    sha256_update(&context, static_cast<std::size_t>(got), piece.data());
  }
  return hexOf(context);
}

std::optional<RecordEntry> DescribeFile(const std::string &path, bool data) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  auto digest = FileSha256Hex(path);
  if (!digest) return std::nullopt;
  RecordEntry entry;
  entry.path = RecordKey(path);
  entry.digest = std::move(*digest);
  entry.described = true;
  entry.mode = st.st_mode & kModeBits;
  entry.uid = st.st_uid;
  entry.gid = st.st_gid;
  entry.size = static_cast<long long>(st.st_size);
  entry.data = data;
  return entry;
}

RecordEntry PredictedEntry(const std::string &path, std::string_view bytes, mode_t mode,
                           bool data) {
  RecordEntry entry;
  entry.path = RecordKey(path);
  entry.digest = Sha256Hex(bytes);
  entry.described = true;
  entry.mode = mode & kModeBits;
  entry.size = static_cast<long long>(bytes.size());
  entry.data = data;
  // A file replaced keeps its owner; a new one gets the one a file made
  // there gets.
  struct stat st;
  const FileOwner owner =
      stat(path.c_str(), &st) == 0 ? FileOwner{st.st_uid, st.st_gid} : NewFileOwner(path);
  entry.uid = owner.uid;
  entry.gid = owner.gid;
  return entry;
}

std::string InstallRecord::file() const { return directory_ + "/" + kRecordName; }

const RecordEntry *InstallRecord::find(const std::string &path) const {
  for (const RecordEntry &entry : entries_) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

void InstallRecord::put(RecordEntry entry) {
  erase(entry.path);
  entries_.push_back(std::move(entry));
  settle();
}

void InstallRecord::settle() {
  // The working directory's files first: they are the ones a reader of
  // the record looks for.  Sorted by key, once, and moved once.
  struct Key {
    bool here;
    const std::string *path;
    std::size_t at;
  };
  std::vector<Key> keys;
  keys.reserve(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i)
    keys.push_back({inDirectory(entries_[i].path, directory_), &entries_[i].path, i});
  std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
    if (a.here != b.here) return a.here;
    return *a.path < *b.path;
  });
  // Of entries of one path, the last one written counts, as in put().
  std::vector<RecordEntry> sorted;
  sorted.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i + 1 < keys.size() && *keys[i + 1].path == *keys[i].path) continue;
    sorted.push_back(std::move(entries_[keys[i].at]));
  }
  entries_ = std::move(sorted);
}

void InstallRecord::erase(const std::string &path) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&path](const RecordEntry &entry) { return entry.path == path; }),
                 entries_.end());
}

std::string InstallRecord::shown(const std::string &path) const {
  if (inDirectory(path, directory_)) return "./" + path.substr(directory_.size() + 1);
  return path;
}

std::string InstallRecord::text() const {
  std::string out;
  for (const char *line : kHeader)
    out += std::string(line) + "\n";
  for (const RecordEntry &entry : entries_) {
    if (entry.described) {
      out += "# " + octal(entry.mode) + " " + std::to_string(entry.uid) + ":" +
             std::to_string(entry.gid) + " " + std::to_string(entry.size) +
             (entry.data ? std::string(" ") + kDataMark : "") + "\n";
    }
    bool escaped = false;
    const std::string name = escapedName(shown(entry.path), &escaped);
    out += (escaped ? "\\" : "") + entry.digest + "  " + name + "\n";
  }
  return out;
}

Result InstallRecord::Parse(const std::string &directory, std::string_view text,
                            InstallRecord *record) {
  InstallRecord read(directory);
  RecordEntry next;
  int number = 0;
  std::size_t start = 0;
  const auto damaged = [&read, &number](const char *why) {
    return Result::Failed(Fault::kRefused,
                          "The record '" + read.file() + "' is damaged: line " +
                              std::to_string(number) + " " + why + ".",
                          {read.file()});
  };
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    // Lines ended by CR LF, as sha256sum -c reads them.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line[0] == '#') {
      RecordEntry described;
      if (describedBy(line, &described)) next = described;
      continue;
    }
    const bool escaped = line[0] == '\\';
    const std::string_view rest = line.substr(escaped ? 1 : 0);
    const bool formed = rest.size() > kDigestChars + 2 && isHex(rest.substr(0, kDigestChars)) &&
                        rest[kDigestChars] == ' ' &&
                        (rest[kDigestChars + 1] == ' ' || rest[kDigestChars + 1] == '*');
    if (!formed) return damaged("is not a line of sha256sum");
    const std::string_view shown = rest.substr(kDigestChars + 2);
    std::string name;
    if (escaped) {
      if (!unescapedName(shown, &name)) return damaged("holds an escape that sha256sum does not write");
    } else {
      name = std::string(shown);
    }
    if (name.find('\0') != std::string::npos) return damaged("holds a NUL in its name");
    next.digest = lowered(rest.substr(0, kDigestChars));
    next.path = RecordKey(name[0] == '/' ? name : directory + "/" + name);
    next.named = std::move(name);
    read.entries_.push_back(std::move(next));
    next = RecordEntry();
  }
  // Sorted once: a record of many lines reads in time linear in them.
  read.settle();
  *record = std::move(read);
  return {};
}

Result ReadInstallRecord(const std::string &directory, std::optional<InstallRecord> *record) {
  record->reset();
  const std::string path = directory + "/" + kRecordName;
  std::string text;
  const auto notARecord = [&path](const std::string &why) {
    return Result::Failed(Fault::kRefused, "'" + path + "' is not a record: " + why + ".", {path});
  };
  switch (ReadRegularFile(AT_FDCWD, path, kMaxRecordSize, false, &text)) {
    case ReadOutcome::kRead:
      break;
    case ReadOutcome::kMissing:
      return {};
    case ReadOutcome::kLink:
      return notARecord("it is a symbolic link");
    case ReadOutcome::kNotRegular:
      return notARecord("it is not a regular file");
    case ReadOutcome::kTooLarge:
      return notARecord("it is larger than " + std::to_string(kMaxRecordSize) + " bytes");
    case ReadOutcome::kFailed:
      return Result::Failed(Fault::kNotOpened,
                            "Cannot read the record of the installation '" + path + "' (" +
                                std::strerror(errno) + ").",
                            {path});
  }
  InstallRecord read(directory);
  if (Result parsed = InstallRecord::Parse(directory, text, &read); !parsed.ok()) return parsed;
  record->emplace(std::move(read));
  return {};
}

bool ChangedSinceRecorded(const InstallRecord *record, const std::string &path,
                          std::string *digest) {
  if (record == nullptr) return false;
  const RecordEntry *entry = record->find(RecordKey(path));
  if (entry == nullptr || entry->data) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto found = FileSha256Hex(path);
  if (!found || *found == entry->digest) return false;
  *digest = std::move(*found);
  return true;
}

std::optional<std::string> KeptCopyName(const std::string &path, const char *suffix) {
  for (int n = 0; n <= kMaxKeptCopies; ++n) {
    const std::string name = path + suffix + (n == 0 ? "" : "." + std::to_string(n));
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) {
      if (errno == ENOENT) return name;
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (SameFiles(name, path)) return name;
  }
  return std::nullopt;
}
