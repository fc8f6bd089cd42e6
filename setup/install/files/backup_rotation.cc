/*
 * backup_rotation.cc - the backups of the settings file: which are kept,
 * moved up one name, or removed when a settings file is replaced.
 */
#include "actions.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace {

// The backups of the settings file at path: by the number in their
// names, path.bak being 0.
std::map<int, std::string> settingsBackups(const std::string &path) {
  std::map<int, std::string> found;
  const std::filesystem::path file(path);
  const std::string first = file.filename().string() + kSettingsBackupSuffix;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, first.size(), first) != 0) continue;
    if (name.size() == first.size()) {
      found[0] = path + kSettingsBackupSuffix;
      continue;
    }
    const std::string number = name.substr(first.size() + 1);
    if (name[first.size()] != '.' || number.empty() || number.size() > 4 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    found[std::stoi(number)] = path + kSettingsBackupSuffix + "." + number;
  }
  return found;
}

}  // namespace

SettingsBackups PlanSettingsBackups(const std::string &path,
                                    const std::optional<std::string> &replaced, int keep) {
  return PlanSettingsBackups(
      path, replaced.has_value(),
      [&replaced](const std::string &file) { return FileHolds(file, *replaced).value_or(false); },
      keep);
}

SettingsBackups PlanSettingsBackups(const std::string &path, bool replacing,
                                    const std::function<bool(const std::string &)> &holdsReplaced,
                                    int keep) {
  SettingsBackups plan;
  const std::map<int, std::string> held = settingsBackups(path);
  const std::string newest = path + kSettingsBackupSuffix;
  const auto slot = [&newest](int n) { return n == 0 ? newest : newest + "." + std::to_string(n); };
  bool making = replacing && keep > 0;
  if (making && held.count(0) != 0) {
    struct stat st;
    plan.reused = lstat(newest.c_str(), &st) == 0 && S_ISREG(st.st_mode) && holdsReplaced(newest);
    making = !plan.reused;
  }
  // The backups below the first free name move up one to make room.
  int free = 0;
  while (making && held.count(free) != 0)
    ++free;
  std::map<int, std::string> after;  // the number each backup will have, to its name now
  for (const auto &[number, name] : held)
    after[making && number < free ? number + 1 : number] = name;
  for (auto it = after.rbegin(); it != after.rend(); ++it) {
    if (it->first >= keep) plan.removals.push_back(it->second);
  }
  for (int n = free - 1; n >= 0 && making; --n) {
    if (n + 1 < keep) plan.renames.emplace_back(slot(n), slot(n + 1));
  }
  if (making || plan.reused) plan.backup = newest;
  return plan;
}

std::string BackupsKept(int keep) {
  return "at most " + std::to_string(keep) +
         (keep == 1 ? " settings backup is kept" : " settings backups are kept");
}
