/*
 * record_reach.cc - the files a record may name, and how they are reached.
 */
#include "record_reach.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "install_record.h"
#include "link_trust.h"
#include "product_files.h"
#include "settings_lines.h"
#include "templates.h"
#include "utility.h"

namespace {

// The files the procedure writes under names the settings template gives
// them: [section] key, after the directory of [dirSection] dirKey when
// the name alone does not hold it (the system header).
struct TemplateFile {
  const char *section;
  const char *key;
  const char *dirSection = nullptr;
  const char *dirKey = nullptr;
};
constexpr TemplateFile kTemplateFiles[] = {
    {"Files", "NAMES"},   {"Files", "INITFILE"},
    {"Compiler", "BATCH"}, {"Compiler", "HEADERF", "Paths", "INCLUDE"},
    {"Files", "PALETTE"},
};
// The files it writes under names of its own, in the working directory.
constexpr const char *kOwnNames[] = {VX_SETTINGS_FILE, kProductObject, kAutodifCommandFile};
// Where the template puts a file: the product directory or the working one.
constexpr std::string_view kProductDirectory = "$(Paths.KERNEL)";
constexpr std::string_view kWorkingDirectory = "$(Paths.KERNELW)";
constexpr std::string_view kExtensions = "Extensions";
constexpr char kEmptyMark = '`';
// The settings file is read for the product directory only up to this.
constexpr std::size_t kSettingsLimit = 1 << 20;

// The value of [section] key in the settings template.
std::string templateValue(std::string_view section, std::string_view key) {
  bool in = false;
  for (const char *const *line = SetData; *line != nullptr; ++line) {
    const std::string_view text(*line);
    if (!text.empty() && text.front() == '[') {
      in = text.size() == section.size() + 2 && text.substr(1, section.size()) == section;
      continue;
    }
    if (in && text.size() > key.size() && text.substr(0, key.size()) == key &&
        text[key.size()] == '=') {
      const std::string_view value = text.substr(key.size() + 1);
      return value == std::string_view(&kEmptyMark, 1) ? std::string() : std::string(value);
    }
  }
  return {};
}

// value with its $(Extensions.X) references expanded from the template.
std::string withExtensions(std::string value) {
  const std::string mark = "$(" + std::string(kExtensions) + ".";
  for (std::size_t at; (at = value.find(mark)) != std::string::npos;) {
    const std::size_t end = value.find(')', at);
    if (end == std::string::npos) break;
    const std::string key = value.substr(at + mark.size(), end - at - mark.size());
    value.replace(at, end + 1 - at, templateValue(kExtensions, key));
  }
  return value;
}

struct Names {
  std::vector<std::string> work;
  std::vector<std::string> product;
};

const Names &names() {
  static const Names table = [] {
    Names made;
    for (const char *own : kOwnNames)
      made.work.emplace_back(own);
    for (const TemplateFile &file : kTemplateFiles) {
      std::string value = templateValue(file.section, file.key);
      if (file.dirSection != nullptr) value = templateValue(file.dirSection, file.dirKey) + value;
      value = withExtensions(value);
      const bool inProduct = value.compare(0, kWorkingDirectory.size(), kWorkingDirectory) != 0;
      const std::string_view prefix = inProduct ? kProductDirectory : kWorkingDirectory;
      if (value.compare(0, prefix.size(), prefix) == 0) value.erase(0, prefix.size());
      made.work.push_back(value);
      if (inProduct) made.product.push_back(value);
    }
    return made;
  }();
  return table;
}

bool listed(const std::vector<std::string> &list, const std::string &name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// The product directory the settings file in directory names ([Paths]
// KERNEL), without "." and ".." steps; empty when it names none.
std::string productDirectoryOf(int directory) {
  std::string text;
  if (ReadRegularFile(directory, VX_SETTINGS_FILE, kSettingsLimit, true, &text) != ReadOutcome::kRead)
    return {};
  // Read as the core library reads it, but bounded: a huge or planted
  // settings file is not read whole for one key.
  bool inPaths = false;
  std::string kernel;
  vx::ForEachSettingsLine(text, [&](std::string_view piece) {
    const vx::SettingsLine line = vx::ReadSettingsLine(piece);
    if (line.kind == vx::SettingsLine::Kind::kSection) {
      inPaths = vx::SameSettingsName(line.name, "Paths");
    } else if (inPaths && kernel.empty() && line.kind == vx::SettingsLine::Kind::kKey &&
               line.hasEquals && vx::SameSettingsName(line.name, "KERNEL")) {
      kernel = std::string(line.value);
    }
  });
  if (kernel.empty() || kernel.front() != '/') return {};
  return RecordKey(kernel);
}

// Whether name has a ".." step.
bool climbs(const std::string &name) {
  for (const auto &step : std::filesystem::path(name)) {
    if (step == "..") return true;
  }
  return false;
}

// The groups of user uid, its own first; none when it has no entry.
std::vector<gid_t> groupsOf(uid_t uid) {
  std::vector<char> buffer(16384);
  struct passwd entry, *found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<std::size_t>(count));
  if (groups.empty()) groups.push_back(found->pw_gid);
  return groups;
}

}  // namespace

const std::vector<std::string> &WorkingDirectoryNames() { return names().work; }
const std::vector<std::string> &ProductDirectoryNames() { return names().product; }

const char *ReachWhy(Reach reach) {
  switch (reach) {
    case Reach::kOurs:
      return "";
    case Reach::kForeign:
      return "not a file an installation writes";
    case Reach::kNotTheOwners:
      return "not a file the owner of the directory could remove";
    case Reach::kLinkAway:
      return "a symbolic link to a file its owner does not own";
  }
  return "";
}

RecordReach::RecordReach(const InstallRecord &record) : work_(RecordKey(record.directory())) {
  // The directories themselves may be reached through links: each is
  // resolved once, here.
  workFd_ = open(work_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (workFd_ < 0) return;
  struct stat st;
  if (geteuid() == 0 && fstat(workFd_, &st) == 0 && st.st_uid != 0) {
    asOwner_ = true;
    owner_ = st.st_uid;
    groups_ = groupsOf(owner_);
  }
  const std::string product = productDirectoryOf(workFd_);
  if (!product.empty() && product != work_) {
    productFd_ = open(product.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (productFd_ >= 0) product_ = product;
  }
}

RecordReach::~RecordReach() {
  if (workFd_ >= 0) close(workFd_);
  if (productFd_ >= 0) close(productFd_);
}

std::vector<std::pair<int, std::string>> RecordReach::directories() const {
  std::vector<std::pair<int, std::string>> opened;
  if (workFd_ >= 0) opened.emplace_back(workFd_, work_);
  if (productFd_ >= 0) opened.emplace_back(productFd_, product_);
  return opened;
}

EntryPlace RecordReach::place(const RecordEntry &entry) const {
  EntryPlace where;
  if (climbs(entry.named) || entry.path.find('\0') != std::string::npos) return where;
  const std::filesystem::path path(entry.path);
  const std::string parent = path.parent_path().string();
  where.name = path.filename().string();
  if (parent == work_ && workFd_ >= 0 && listed(WorkingDirectoryNames(), where.name)) {
    where.directory = workFd_;
  } else if (!product_.empty() && parent == product_ &&
             listed(ProductDirectoryNames(), where.name)) {
    where.directory = productFd_;
  } else {
    return where;
  }
  where.reach = !ownerMayRemove(where.directory, where.name) ? Reach::kNotTheOwners
                : !mayFollow(where.directory, where.name)    ? Reach::kLinkAway
                                                             : Reach::kOurs;
  return where;
}

bool RecordReach::ownerMayRemove(int directory, const std::string &name) const {
  if (!asOwner_) return true;
  struct stat dir, file;
  if (fstat(directory, &dir) != 0) return false;
  mode_t needed = S_IWOTH | S_IXOTH;
  if (dir.st_uid == owner_) {
    needed = S_IWUSR | S_IXUSR;
  } else if (std::find(groups_.begin(), groups_.end(), dir.st_gid) != groups_.end()) {
    needed = S_IWGRP | S_IXGRP;
  }
  if ((dir.st_mode & needed) != needed) return false;
  if ((dir.st_mode & S_ISVTX) == 0 || dir.st_uid == owner_) return true;
  // Sticky: only the file's owner may remove it.
  if (fstatat(directory, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  return file.st_uid == owner_;
}

bool RecordReach::mayFollow(int directory, const std::string &name) const {
  struct stat link, target;
  if (!asOwner_ || fstatat(directory, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(link.st_mode))
    return true;
  return fstatat(directory, name.c_str(), &target, 0) != 0 || LinkMayBeFollowed(link, &target);
}
