/*
 * link_trust.cc - the links a run follows, and the ones it refuses.
 */
#include "link_trust.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

constexpr char kNothingWritten[] = "\nNothing has been written.";

// "ann", or "the user with id 1234" when the id has no name.
std::string userName(uid_t uid) {
  std::array<char, 1024> buffer;
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return std::string("'") + found->pw_name + "'";
  return "the user with id " + std::to_string(uid);
}

// What the link at path says, for a message.
std::string pointsTo(const std::string &path) {
  std::array<char, 4096> buffer;
  const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return "?";
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

Result refuse(const std::string &path, std::string message) {
  return Result::Failed(Fault::kRefused, std::move(message) + kNothingWritten, {path});
}

// Checks the link at path, whose own status is link.
Result checkLink(const std::string &path, const struct stat &link) {
  struct stat target;
  const bool reached = stat(path.c_str(), &target) == 0;
  if (!LinkMayBeFollowed(link, reached ? &target : nullptr)) {
    if (!reached) {
      return refuse(path, "The link '" + path + "' belongs to " + userName(link.st_uid) +
                              " and points to '" + pointsTo(path) +
                              "', which does not exist: nothing is made through it.");
    }
    return refuse(path, "The link '" + path + "' belongs to " + userName(link.st_uid) +
                            ", but what it points to ('" + pointsTo(path) + "') belongs to " +
                            userName(target.st_uid) +
                            ": it is not followed, since following it would reach further "
                            "than its owner can.");
  }
  return {};
}

}  // namespace

bool LinkMayBeFollowed(const struct stat &link, const struct stat *target) {
  if (link.st_uid == geteuid()) return true;
  return target != nullptr && target->st_uid == link.st_uid;
}

Result CheckLinksOnPath(const std::string &given, LastPart last) {
  // Without "." steps, which change nothing but how a message reads.
  std::string path = given;
  for (std::size_t dot; (dot = path.find("/./")) != std::string::npos;)
    path.erase(dot, 2);
  // Each leading part of the path in turn, the whole last.
  std::size_t end = 0;
  while (end < path.size()) {
    end = path.find('/', end + 1);
    if (end == std::string::npos) end = path.size();
    if (path[end - 1] == '/') continue;  // "//", or the root
    const bool isLast = path.find_first_not_of('/', end) == std::string::npos;
    if (isLast && last == LastPart::kNamed) return {};
    const std::string part = path.substr(0, end);
    struct stat st;
    // What is not there yet holds no link; what cannot be looked at, the
    // writer tells in its own words.
    if (lstat(part.c_str(), &st) != 0) return {};
    if (S_ISLNK(st.st_mode)) {
      if (Result checked = checkLink(part, st); !checked.ok()) return checked;
    }
    if (isLast) return {};
  }
  return {};
}

Result CheckLockPlace(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  const char *what = S_ISLNK(st.st_mode) ? "a link" : "not a regular file";
  return refuse(path, "Cannot create the lock file '" + path + "': in its place is " + what +
                          ", and the lock is never taken through one.\nPlease remove it and "
                          "try again.");
}
