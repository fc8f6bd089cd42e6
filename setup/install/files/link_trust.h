/*
 * link_trust.h - which symbolic links a run may follow where it writes.
 *
 * A link gives whoever follows it the reach of whoever made it point
 * there.  Followed by root in a user's directory, a link the user planted
 * towards one of root's files would let the user overwrite that file.  So,
 * as the kernel's protected_symlinks does in sticky directories, a link is
 * followed only when following it gives the run no more than the link's
 * owner has: the running user owns the link, or the link's owner owns what
 * it points to.  A user running setup in their own directory thus keeps
 * every link of theirs working.
 *
 * The lock file is never reached through a link at all, nor is a file the
 * run makes anew (atomic_file.h, Placement::kAnew): those replace the name.
 */
#ifndef VELORIX_SETUP_LINK_TRUST_H
#define VELORIX_SETUP_LINK_TRUST_H

#include <sys/stat.h>

#include <string>

#include "result.h"

// How the last part of a path is used.
enum class LastPart {
  kFollowed,  // written through: a link there is followed
  kNamed,     // renamed or removed: a link there is the file itself
};

// Whether the link whose own status is link may be followed to what has
// status target (nullptr: it points to nothing).
bool LinkMayBeFollowed(const struct stat &link, const struct stat *target);

// Checks every link on the way to path (absolute, or relative to the
// working directory), and the one at its end when last is kFollowed:
// Fault::kRefused naming the first one that may not be followed and why,
// as a run refuses before it writes anything; done otherwise.  A link of
// another user's that points to nothing is one of those: what it would
// make is not theirs to make.  The runner's own is left to the writer,
// which refuses to make a file through it.
Result CheckLinksOnPath(const std::string &path, LastPart last = LastPart::kFollowed);

// Checks the lock file's place, path: refused when something other than a
// regular file is there (a link, dangling or not, a pipe).
Result CheckLockPlace(const std::string &path);

#endif
