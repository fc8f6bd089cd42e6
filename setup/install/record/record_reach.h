/*
 * record_reach.h - which files a record may name, and how they are
 * reached.
 *
 * The record lies in a directory the user owns and may be edited by
 * anyone who can write there; --remove and --verify, often run as root,
 * act on a file it names only when that file is one an installation
 * writes:
 *
 *   - its name is one of the names the installation gives its files (the
 *     settings template's, the settings file, the object and its command
 *     file), named without "..";
 *   - it lies directly in the working directory, or, for the files a Full
 *     installation writes to the product directory, directly in the
 *     product directory that the working directory's settings name;
 *   - it is reached through no link below that directory: each directory
 *     is opened once and its entries are reached from it (openat with
 *     O_NOFOLLOW, unlinkat), so that no link can be swapped in meanwhile;
 *   - run as root in a directory that belongs to another user, only what
 *     that user could remove: the directory holding it is writable and
 *     searchable by them by its mode bits, and, when it is sticky, they
 *     own the file or the directory; a link in the file's place is
 *     followed (to compare what it leads to) only when its owner owns
 *     what it leads to, as the kernel's protected_symlinks has it.
 */
#ifndef VELORIX_SETUP_RECORD_REACH_H
#define VELORIX_SETUP_RECORD_REACH_H

#include <sys/types.h>

#include <string>
#include <vector>

class InstallRecord;
struct RecordEntry;

// Why an entry of a record is out of reach.
enum class Reach {
  kOurs,         // a file an installation writes, in its place
  kForeign,      // not a file an installation writes
  kNotTheOwners,  // one the owner of the working directory could not remove
  kLinkAway       // a link in its place that leads to another owner's file
};

// Where an entry lies: the opened directory and the name in it.
struct EntryPlace {
  Reach reach = Reach::kForeign;
  int directory = -1;  // an open directory (owned by the RecordReach)
  std::string name;    // one name, no "/" in it
};

class RecordReach {
 public:
  // Opens the working directory of record, and the product directory
  // that its settings name when it is another one.
  explicit RecordReach(const InstallRecord &record);
  ~RecordReach();
  RecordReach(const RecordReach &) = delete;
  RecordReach &operator=(const RecordReach &) = delete;

  EntryPlace place(const RecordEntry &entry) const;

  // The directories opened: the working one first.
  std::vector<std::pair<int, std::string>> directories() const;

 private:
  bool ownerMayRemove(int directory, const std::string &name) const;
  bool mayFollow(int directory, const std::string &name) const;

  std::string work_;
  std::string product_;  // empty unless it is another directory than work_
  int workFd_ = -1;
  int productFd_ = -1;
  bool asOwner_ = false;  // root acting for the working directory's owner
  uid_t owner_ = 0;
  std::vector<gid_t> groups_;
};

// The names an installation gives the files it writes: in the working
// directory (all of them, for a Full installation made there), and those
// a Full installation made elsewhere writes to the product directory.
const std::vector<std::string> &WorkingDirectoryNames();
const std::vector<std::string> &ProductDirectoryNames();

// Why reach keeps an entry, as the removal and --verify name it.
const char *ReachWhy(Reach reach);

#endif
