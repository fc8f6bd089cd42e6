/*
 * install_record.h - the record of what an installation wrote, and the
 * rule that keeps a user's hand edits.
 *
 * Each run leaves ".velorix-setup.sha256" in the working directory: one
 * line per file that it wrote or leaves as the installation's, in the
 * format of sha256sum, so that "sha256sum -c .velorix-setup.sha256" run
 * there verifies the installation with standard tools.  Files in the
 * working directory are named "./NAME", others by their absolute path.
 * Before each line a comment (which sha256sum skips) keeps what --verify
 * needs besides the bytes: the mode, the owner and group, the size, and
 * "data" for a file the analysis program changes in use (the settings
 * file and the names file):
 *
 *   # velorix-setup: the files of the installation in this directory.
 *   # Check them with: sha256sum -c .velorix-setup.sha256 (or velorix-setup --verify)
 *   # Before each file its mode, owner:group and size; "data": the program changes it.
 *   # 0644 1000:1000 7049 data
 *   0b5d...e1  ./.velorixrc
 *   # 0755 1000:1000 626
 *   7a1c...90  ./CompRhs
 *
 * The text holds nothing that changes from run to run (no time), so that
 * a second run with the same answers leaves the record as it was.
 *
 * A generated file (not data) whose bytes differ from the record was
 * changed by hand since the last installation: a run that replaces it
 * keeps the user's copy beside it as NAME.velorix-old, or, when the user
 * asked to keep theirs, leaves it and writes the new one to
 * NAME.velorix-new.  A file the record does not list is replaced as it
 * always was.
 */
#ifndef VELORIX_SETUP_INSTALL_RECORD_H
#define VELORIX_SETUP_INSTALL_RECORD_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

// The record, in the working directory.
constexpr char kRecordName[] = ".velorix-setup.sha256";
// Beside a file changed by hand since the last installation: the user's
// copy, kept when the new one replaces it; and the new one, when the user
// keeps theirs.
constexpr char kKeptOldSuffix[] = ".velorix-old";
constexpr char kKeptNewSuffix[] = ".velorix-new";

// The bits of a file's mode that a record holds and compares.
constexpr unsigned kModeBits = 07777;

// One file of the record.
struct RecordEntry {
  std::string path;    // absolute, without "." and ".." steps
  std::string named;   // as the record names it (unescaped): "./NAME" or absolute
  std::string digest;  // SHA-256 of its bytes, 64 lower-case hexadecimal digits
  // Its mode, owner, group and size; only when described (a record
  // written by hand for sha256sum may lack them).
  bool described = false;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  long long size = 0;
  // The analysis program changes it in use: only its absence is a
  // difference, and no copy of it is kept.
  bool data = false;
};

class InstallRecord {
 public:
  // directory: the absolute working directory the record lies in.
  explicit InstallRecord(std::string directory) : directory_(std::move(directory)) {}

  const std::string &directory() const { return directory_; }
  // The record file's own path.
  std::string file() const;

  // Its entries, those in the working directory first, each part in the
  // order of their paths.
  const std::vector<RecordEntry> &entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  // The entry of path (as RecordKey gives it); nullptr when it has none.
  const RecordEntry *find(const std::string &path) const;
  // Adds entry, in place of one of the same path.
  void put(RecordEntry entry);
  void erase(const std::string &path);

  // path as the record names it: "./NAME" in the working directory,
  // absolute elsewhere.
  std::string shown(const std::string &path) const;

  // The record file's text.
  std::string text() const;

  // Reads the text of the record in directory: a fault (Fault::kRefused)
  // naming the line that is not one of a record.
  static Result Parse(const std::string &directory, std::string_view text, InstallRecord *record);

 private:
  // Sorts the entries as put() keeps them, the last of each path kept.
  void settle();

  std::string directory_;
  std::vector<RecordEntry> entries_;
};

// A record is never larger: one that is, is not a record.
constexpr std::size_t kMaxRecordSize = 1 << 20;

// Reads the record in directory (absolute) into *record; nothing when
// there is none, a fault when it cannot be read or is damaged, and a
// refusal when it is not a record (a link, a pipe, a device or a
// directory in its place, or a file larger than kMaxRecordSize).  It is
// opened without blocking and read once, in time linear in its size.
Result ReadInstallRecord(const std::string &directory, std::optional<InstallRecord> *record);

// An absolute path as the record keys it: without "." and ".." steps.
std::string RecordKey(const std::string &path);

// SHA-256 of bytes, in lower-case hexadecimal.
std::string Sha256Hex(std::string_view bytes);

// SHA-256 of the file at path, read a piece at a time, so that a file of
// any size costs no more memory than a piece; nothing when it cannot be
// read or is not a regular file (a pipe is never waited on).
std::optional<std::string> FileSha256Hex(const std::string &path);
// The same of the file open at fd.
std::optional<std::string> FdSha256Hex(int fd);

// Opens name in the open directory (AT_FDCWD: the current one) for
// reading without waiting on a pipe, following a link in its last step
// only when follow; -1 (errno set, ENOTSUP for no regular file) unless it
// is a regular file.  *st receives its status.
int OpenRegularFile(int directory, const std::string &name, bool follow, struct stat *st);

// How reading a file with ReadRegularFile ended.
enum class ReadOutcome { kRead, kMissing, kLink, kNotRegular, kTooLarge, kFailed };

// Reads the regular file name in the open directory into *text, when it
// holds at most limit bytes.
ReadOutcome ReadRegularFile(int directory, const std::string &name, std::size_t limit, bool follow,
                         std::string *text);

// The entry of the regular file at path (reached through links) as it
// stands now: its digest, mode, owner and size; nothing when it is not a
// regular file that can be read.
std::optional<RecordEntry> DescribeFile(const std::string &path, bool data);

// The entry of a file that is to hold bytes with mode at path (absolute),
// as it will be once written: a file rewritten keeps its owner, a new one
// is this process's, in the group of a directory that hands its own on.
RecordEntry PredictedEntry(const std::string &path, std::string_view bytes, mode_t mode, bool data);

// Whether the file at path (absolute) was changed by hand since the
// installation recorded it: the record lists it, not as data, and it is a
// regular file whose bytes differ from the recorded ones.  The digest of
// its bytes goes to *digest when it was.  The file is never read whole.
bool ChangedSinceRecorded(const InstallRecord *record, const std::string &path,
                          std::string *digest);

// Where a copy of the file at path is kept with suffix: path+suffix, or,
// when that name holds something else already, path+suffix+".1", ".2" and
// so on, so that no copy kept before is ever lost; a name that holds the
// same bytes already is taken as it is.  Nothing when every name is taken.
std::optional<std::string> KeptCopyName(const std::string &path, const char *suffix);

#endif
