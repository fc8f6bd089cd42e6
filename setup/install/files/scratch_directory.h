/*
 * scratch_directory.h - the directories a run makes for its own files
 * (the settings file and the files of a plan, a check or an installation,
 * the notice's scratch files),
 * and the removal of those that a killed run left.
 *
 * A run removes what it makes when it ends, but a run that is killed
 * cannot.  So each directory is locked (flock) by its run while it lives,
 * and the kernel lets the lock go when the process ends, however it ends;
 * a later run removes every directory of ours whose lock it can take, as
 * it removes a killed run's leftovers in the installed directory.
 */
#ifndef VELORIX_SETUP_SCRATCH_DIRECTORY_H
#define VELORIX_SETUP_SCRATCH_DIRECTORY_H

#include <string>

// The beginnings of the names of the directories that runs make under
// TMPDIR; six random characters follow (mkdtemp).
constexpr char kCheckScratchPrefix[] = "velorix-check-";
constexpr char kPlanScratchPrefix[] = "velorix-dry-run-";
constexpr char kInstallScratchPrefix[] = "velorix-install-";
constexpr char kNoticeScratchPrefix[] = "velorix-notice-";

// TMPDIR, or /tmp when it is not set or empty.
std::string TemporaryDirectory();

class ScratchDirectory {
 public:
  ScratchDirectory() = default;
  ~ScratchDirectory() { remove(); }
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;

  // Makes a new directory named pattern (a path ending in XXXXXX) and
  // locks it for as long as this process holds it.  False, with errno
  // set, when it cannot be made; whatever was held before is removed
  // first.
  bool make(const std::string &pattern);

  // The directory's path; empty when there is none.
  const std::string &path() const { return path_; }

  // Removes the directory with all it holds, and lets its lock go.
  void remove();

 private:
  std::string path_;
  int lock_ = -1;
};

// Removes every directory directly under directory that a run made with
// one of the prefixes above and whose run is gone: one that is ours (the
// same user's), and whose lock nobody holds.
void RemoveStaleScratchDirectories(const std::string &directory = TemporaryDirectory());

#endif
