/*
 * removal.h - an installation removed by its record (--remove).
 *
 * The files the record of the working directory lists (install_record.h)
 * go when they still hold what the installation wrote, the files of data
 * included when they are untouched since; a file changed since is kept
 * and named.  The record goes last.  Only files an installation writes,
 * in their places, reached as record_reach.h says, are ever removed: any
 * other entry is kept and named, and then the record stays too.  The
 * settings backups and the copies kept of files changed by hand are never
 * removed; the removal names those that stay.  Without a record nothing
 * is removed: removing twice is no error.
 */
#ifndef VELORIX_SETUP_REMOVAL_H
#define VELORIX_SETUP_REMOVAL_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "result.h"

// What becomes of one recorded file.
struct RemovalStep {
  enum class Kind {
    kRemove,      // it holds what the installation wrote: it goes
    kChanged,     // changed since the last installation: kept
    kNotOurs,     // not a regular file (a pipe, a device, a directory): kept
    kRefused,     // no file an installation writes, or out of reach: kept (why says)
    kGone,        // not there any more
    kRecordKept,  // the record, kept since it names files that stay unremoved
    kStays,       // a settings backup or a kept copy, which stays (why says)
  };
  Kind kind;
  std::string path;   // absolute
  std::string shown;  // as the record names it
  std::string why;    // for kRefused and kStays
};

struct RemovalPlan {
  std::string directory;
  bool recorded = false;           // the directory holds a record
  std::vector<RemovalStep> steps;  // the record itself after the files, then what stays

  // Whether every file that is there goes.
  bool removesAll() const;
};

// What removing the installation in directory (absolute) would do; a
// fault when its record cannot be read or is damaged.
Result PlanRemoval(const std::string &directory, RemovalPlan *plan);

// Removes the installation in directory as PlanRemoval plans it, taking
// the directory's lock first (the plan is made again under it); *done
// receives what was done, each step of kind kRemove done.  A fault, with
// *done as far as it went, when a file cannot be removed, is still there
// afterwards, or the lock cannot be had.
Result RemoveInstallation(const std::string &directory, RemovalPlan *done);

// A step as the dry run, the real run and the log tell it: "remove
// ./CompRhs", "kept ./vel_sys.h: changed since the last installation";
// done: what was done rather than what would be.
std::string RemovalLine(const RemovalStep &step, bool done);

#endif
