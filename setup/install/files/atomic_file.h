/*
 * atomic_file.h - a file written under a temporary name beside its final
 * one and renamed into place only once it is complete: the one way the
 * setup tool writes a file.
 *
 * A run that fails or is killed half-way thus leaves either the old file or
 * the new one under the final name, never a piece of one.  The temporary
 * name is ".NAME.vx-XXXXXX" in the final file's directory; one left by a
 * killed run is removed the next time that file is written.
 *
 * What the final name is decides how the file is written:
 *  - absent, or a regular file: replaced as above;
 *  - a symbolic link to a regular file: the file it points to is replaced
 *    the same way; its mode is never widened, so a private file stays
 *    private;
 *  - another kind of file (a device such as /dev/null): written in place,
 *    its permissions left as the system has them;
 *  - a link to anything but a regular file, a dangling link, a directory:
 *    refused;
 *  - a link that belongs to another user than the writer, to a file that
 *    is not that user's: refused (link_trust.h), since following it would
 *    reach further than the link's owner can.
 * A file the run makes anew (placeAnew(): a backup, a kept copy, the
 * record) replaces its name itself: a link there is replaced, not
 * followed, and a pipe or a device is never opened.
 *
 * The content comes from this program (open(), then stream()) or from
 * another one that is handed the temporary name (openForProgram(), say a
 * compiler's -o).
 *
 * A file replaced keeps its owner and group (a run as root does not take a
 * user's file away), and is never made more open to its group or to
 * others than it was: a settings file its owner made private stays
 * private.  A new file that root makes in another user's directory is
 * that user's, with the directory's group, as if they had made it.  A file
 * that already holds the same bytes with the same mode is left as it is,
 * time and all.
 */
#ifndef VELORIX_SETUP_ATOMIC_FILE_H
#define VELORIX_SETUP_ATOMIC_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

// For commit(): keep the mode that the writing program gave the file.
constexpr mode_t kModeAsWritten = static_cast<mode_t>(-1);

// Who a file belongs to.
struct FileOwner {
  uid_t uid;
  gid_t gid;
};

class AtomicFile {
 public:
  // shownAs: how messages name the file; the path when empty.  The
  // temporary file lies beside the file, or in temporaryDirectory when one
  // is given (on the same file system).
  explicit AtomicFile(std::string path, std::string shownAs = {},
                      std::string temporaryDirectory = {})
      : path_(std::move(path)),
        shown_(shownAs.empty() ? path_ : std::move(shownAs)),
        temporaryDirectory_(std::move(temporaryDirectory)) {}
  ~AtomicFile();
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;

  // Opens the file for writing: "Cannot open file '...'" when it cannot be.
  Result open();

  // Finds a free temporary name for another program to write (temporary()
  // names it; nothing is made there); commit() then takes what that
  // program left.  Fails as open() does.
  Result openForProgram();

  // Whether open() would succeed, as far as can be told without making a
  // file: what the final name is, and whether its directory may be
  // written.
  Result check();

  // The stream to write to; null unless open() succeeded.
  std::FILE *stream() const { return stream_; }

  // The temporary file's path; empty before opening and after commit.
  const std::string &temporary() const { return temporary_; }

  // Flushes, syncs and puts the file into place with mode (narrowed as
  // above; a device keeps its own):
  // "Cannot write file '...'" when anything written was lost, and the final
  // name is left untouched.
  Result commit(mode_t mode);

  // As commit(), but a file that is at the final name by now is kept and
  // this one dropped.
  Result commitNew(mode_t mode);

  // Drops what was written; the final name keeps what it had.
  void discard();

  // The owner the file is to have in place of the one it replaces (or,
  // for a new file, the writer): a copy kept of another user's file is
  // theirs.  Only root gives a file away; for anyone else it is the
  // writer's.
  void setOwner(FileOwner owner) { owner_ = owner; }

  // The file is made anew: whatever is at the final name (a link, a pipe)
  // is replaced, never followed or opened.  Before open().
  void placeAnew() { anew_ = true; }

  // The path written in the end: the final name, or the file a link at
  // the final name points to.
  const std::string &target() const { return target_; }

 private:
  Result failed(Fault fault, int error);
  Result failed(Fault fault, const char *why);
  // The part of open() and check() before a file is made.
  Result examine();
  Result makeTemporary();
  Result place(mode_t mode, bool replace);

  std::string path_;
  std::string shown_;
  std::string temporaryDirectory_;
  std::string target_;
  std::string temporary_;
  std::FILE *stream_ = nullptr;
  bool inPlace_ = false;  // a device: written directly
  bool throughLink_ = false;
  bool existed_ = false;
  bool anew_ = false;
  struct stat old_ {};  // the replaced file's status, when existed_
  std::optional<FileOwner> owner_;
};

// While one lives, the files written are made durable as they go, but the
// directory entries of their renames only when it ends (or flush() is
// called): one sync per directory instead of one per file.  A run keeps
// one for its length and ends it before it reports success.  Files whose
// final place is the scratch directory named here are thrown away or
// copied before the run ends, and are not synced at all.
class BatchedSyncs {
 public:
  explicit BatchedSyncs(std::string scratchDirectory = {});
  ~BatchedSyncs();
  BatchedSyncs(const BatchedSyncs &) = delete;
  BatchedSyncs &operator=(const BatchedSyncs &) = delete;

  // Syncs every directory written since.
  void flush();
};

// Who a file made anew at path belongs to: root's in another user's
// directory is that user's, with the directory's group (as if they had
// made it); anyone else's is theirs, with the directory's group where the
// directory hands it on (set-group-ID) and their own otherwise.
FileOwner NewFileOwner(const std::string &path);

// The mode a file written with mode gets in place of one whose status is
// old (when it existed): never more open to the group or others than the
// old one; through a link, never more open to anyone.
mode_t NarrowedMode(mode_t mode, const struct stat *old, bool throughLink = false);

// What a file written whole does to what is at its final name by then.
enum class Placement {
  kReplace,   // replaces it (AtomicFile::commit)
  kIfAbsent,  // keeps it, and drops the new file (AtomicFile::commitNew)
  kAnew,      // replaces the name itself, never what a link there points to
              // (AtomicFile::placeAnew)
};

// Writes content to path whole, with mode: the one way the setup tool
// writes a file.  "Cannot open file '...'" or "Cannot write file '...'"
// (naming it shownAs, or path) when it cannot, with the system's reason as
// the detail.  owner, when given, is the file's owner (AtomicFile::setOwner).
Result WriteWholeFile(const std::string &path, const std::string &content, mode_t mode,
                      const std::string &shownAs = {}, Placement placement = Placement::kReplace,
                      std::optional<FileOwner> owner = std::nullopt);

// The whole of the file at path, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string &path);

// Whether the file at path holds exactly content: read a piece at a time,
// and not at all when its size tells, so that a file of any size costs no
// more memory than content; nothing when it cannot be read.
std::optional<bool> FileHolds(const std::string &path, std::string_view content);

// Copies the file at from to path whole (as WriteWholeFile), a piece at a
// time: a file of any size costs no more memory than a piece.  Only a
// regular file is copied; the messages name the file shownAs, or path.
Result CopyWholeFile(const std::string &from, const std::string &path, mode_t mode,
                     const std::string &shownAs = {}, Placement placement = Placement::kReplace,
                     std::optional<FileOwner> owner = std::nullopt);

// Whether the files at a and b hold the same bytes, compared a piece at a
// time; false when either cannot be read.
bool SameFiles(const std::string &a, const std::string &b);

// Whether writing the file made at made to path with mode leaves path as
// it is: path is a regular file, or a link to one, that holds the same
// bytes and has the mode the write gives it (NarrowedMode).  The one test
// by which a run leaves a file unchanged, a check finds no difference and
// a plan says "unchanged".
bool WriteLeavesUnchanged(const std::string &path, const std::string &made, mode_t mode);

// Removes what a killed run may have left beside path: ".NAME.vx-XXXXXX".
void RemoveStaleTemporaries(const std::string &path);

// Whether a file name (without directory) is that of such a temporary file.
bool IsTemporaryName(const std::string &name);

#endif
