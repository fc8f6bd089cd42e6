/*
 * atomic_file.h - a file written under a temporary name beside its final
 * one and renamed into place only once it is complete.
 *
 * A run that fails or is killed half-way thus leaves either the old file or
 * the new one under the final name, never a piece of one.  The temporary
 * name is ".NAME.vx-XXXXXX" in the final file's directory; one left by a
 * killed run is removed the next time that file is written.
 *
 * What the final name is decides how the file is written:
 *  - absent, or a regular file: replaced as above;
 *  - a symbolic link to a regular file: the file it points to is replaced
 *    the same way, and keeps its owner; its mode is never widened, so a
 *    private file stays private;
 *  - another kind of file (a device such as /dev/null): written in place,
 *    its permissions left as the system has them;
 *  - a link to anything but a regular file, a dangling link, a directory:
 *    refused.
 */
#ifndef VELORIX_SETUP_ATOMIC_FILE_H
#define VELORIX_SETUP_ATOMIC_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>

class AtomicFile {
 public:
  explicit AtomicFile(std::string path) : path_(std::move(path)) {}
  ~AtomicFile();
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;

  // Opens the file for writing.  False when it cannot be opened; problem()
  // then says why in a few words.
  bool open();

  // Whether open() would succeed, as far as can be told without making a
  // file: what the final name is, and whether its directory may be
  // written.  False with problem() set.
  bool check();

  // The stream to write to; null until open() succeeds.
  std::FILE *stream() const { return stream_; }

  // Flushes, syncs and puts the file into place with mode (never widened
  // for a file reached through a link; a device keeps its own).  False,
  // with the final name untouched, when anything written was lost.
  bool commit(mode_t mode);

  // Drops what was written; the final name keeps what it had.
  void discard();

  // The path written in the end: the final name, or the file a link at
  // the final name points to.
  const std::string &target() const { return target_; }

  // Why open() or commit() failed, in a few words ("no space left on
  // device"); empty when they did not.
  const std::string &problem() const { return problem_; }

 private:
  bool fail(int error);
  // The part of open() and check() before a file is made.  False when the
  // final name cannot be written; *inPlace for a device.
  bool examine();

  std::string path_;
  std::string target_;
  std::string temporary_;
  std::FILE *stream_ = nullptr;
  bool inPlace_ = false;  // a device: written directly
  bool throughLink_ = false;
  bool existed_ = false;
  struct stat old_ {};  // the replaced file's status, when existed_
  std::string problem_;
};

// The whole of the file at path, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string &path);

// Removes what a killed run may have left beside path: ".NAME.vx-XXXXXX".
void RemoveStaleTemporaries(const std::string &path);

// Whether a file name (without directory) is that of such a temporary file.
bool IsTemporaryName(const std::string &name);

// The name of a temporary file beside path, for a writer that cannot take
// an open stream (a compiler's -o): ".NAME.vx-" and six characters made
// from the process id.  Nothing is created.
std::string TemporaryNameBeside(const std::string &path);

#endif
