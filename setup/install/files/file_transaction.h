/*
 * file_transaction.h - the files of a run staged beside their places and
 * put there together at its end, or not at all.
 *
 * While a FileTransaction is open, a file written whole (atomic_file.h)
 * outside the run's scratch directory is written, synced and left under
 * its temporary name; the links, renames and removals of the run are
 * noted, each checked as far as can be without doing it.  commit() then
 * does them all in the order they were asked for.  Should one fail, those
 * done are undone: each name replaced or removed was kept as a second name
 * (a hard link) until the end and is renamed back, each name made is
 * removed, so that every file is as it was, bytes, mode, owner and times.
 * A transaction that ends without commit() removes what it staged.
 *
 * Only one is open at a time: the real run's, from its begin to its end.
 * While it is open, SIGINT, SIGTERM and SIGHUP remove what it staged (and
 * the run's scratch directory and lock file, when told them) before they
 * end the tool; while commit() runs they wait for its end.
 */
#ifndef VELORIX_SETUP_FILE_TRANSACTION_H
#define VELORIX_SETUP_FILE_TRANSACTION_H

#include <functional>
#include <string>
#include <vector>

#include "result.h"

class FileTransaction {
 public:
  // A fault of a step, from the system's error: the message the step gave
  // before there were transactions.
  using FaultFor = std::function<Result(int error)>;

  FileTransaction();
  ~FileTransaction();
  FileTransaction(const FileTransaction &) = delete;
  FileTransaction &operator=(const FileTransaction &) = delete;

  // The transaction open now; null when none is.
  static FileTransaction *open();

  // A file written whole at temporary, to be renamed to target (replace)
  // or linked there when nothing is there by then (!replace).  The
  // transaction owns temporary from here on.
  void stage(const std::string &temporary, const std::string &target, bool replace,
             FaultFor fault);
  // A second name to for the file at from, never over another file.
  void link(const std::string &from, const std::string &to, FaultFor fault);
  // from renamed to to; with noReplace, never over another file.
  void rename(const std::string &from, const std::string &to, bool noReplace, FaultFor fault);
  // path removed.
  void remove(const std::string &path, FaultFor fault);

  // Whether a file is staged for path (or for the file a link at path
  // reaches).
  bool staged(const std::string &path) const;
  // Where what path will hold stands now: its staged file, or path.
  std::string current(const std::string &path) const;
  // Forgets what was asked for the name path: a file staged there is
  // removed, a link or rename to it is not done.
  void drop(const std::string &path);

  // Does every step; on a fault, undoes those done and returns the step's
  // fault, its message saying that the directory was put back.
  Result commit();
  // Removes what was staged, and forgets every step.
  void abandon();

  // What a signal that ends the tool removes besides the files staged:
  // the run's scratch directory (which holds files only) and its lock
  // file.
  void removeOnSignal(const std::string &scratchDirectory, const std::string &lockFile);

 private:
  enum class Kind { kPlace, kPlaceIfAbsent, kLink, kRename, kRenameNoReplace, kRemove };
  struct Step {
    Kind kind;
    std::string from;  // the staged file, or the name linked or renamed
    std::string to;    // the name made, replaced or removed
    FaultFor fault;
  };
  // A name changed by commit(): kept as saved until the end, or not there
  // before (saved empty).
  struct Changed {
    std::string name;
    std::string saved;
  };

  Result placeAll();
  const Step *find(const std::string &path) const;
  // Keeps what is at name before a step changes it; false (errno set) when
  // it could not be kept.
  bool keep(const std::string &name, std::vector<Changed> &changed) const;
  // The system's error of doing step; 0 when done.
  int apply(const Step &step, std::vector<Changed> &changed) const;
  static void undo(std::vector<Changed> &changed);

  std::vector<Step> steps_;
};

#endif
