/*
 * check_actions.cc - the check of an installed directory.
 */
#include "check_actions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "atomic_file.h"
#include "file_writing.h"
#include "form_tables.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
constexpr char kScratchPattern[] = "velorix-check-XXXXXX";
constexpr unsigned kScriptMode = 0755;

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode);
  return text;
}

std::string scratchPattern() {
  const char *tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + kScratchPattern;
}

}  // namespace

CheckActions::CheckActions() : ScratchActions(scratchPattern()) {}

Result CheckActions::begin() { return enterScratch(); }

Result CheckActions::end(bool keepSettings) {
  // A procedure that stopped has said why; its settings are not compared.
  if (keepSettings) {
    compare(std::string("./") + kSettingsName, scratchSettings(),
            ModeFromPermissions(kSettingsPermissions));
  }
  leaveScratch();
  return {};
}

std::string CheckActions::renderPath() {
  return std::string("rendered-") + std::to_string(++rendered_);
}

void CheckActions::compare(const std::string &path, const std::string &made, unsigned mode) {
  const std::string installed = resolve(path);
  const auto want = ReadWholeFile(made);
  const auto have = ReadWholeFile(installed);
  struct stat st;
  if (!have || stat(installed.c_str(), &st) != 0) {
    add(path + ": missing");
    return;
  }
  if (!want || *want != *have) add(path + ": contents differ from what the installation writes");
  struct stat link;
  // A file reached through a link keeps the mode its owner gave it.
  const bool throughLink = lstat(installed.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  const mode_t given = NarrowedMode(mode, &st, throughLink);
  if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != given)
    add(path + ": mode " + octal(st.st_mode & 07777) + ", the installation gives it " +
        octal(given));
}

Result CheckActions::writeTemplate(const std::string &path, const char *const *lines,
                                   const char *permissions, bool expand) {
  const std::string made = renderPath();
  Result written = CreateFile(made, lines, permissions, expand, path);
  if (written.ok()) compare(path, made, ModeFromPermissions(permissions));
  return written;
}

Result CheckActions::writeCompileScript(const std::string &path, int shellStyle,
                                        const std::string &shellPath) {
  const std::string made = renderPath();
  Result written = WriteCompileScript(made, shellStyle, shellPath, path);
  if (written.ok()) compare(path, made, kScriptMode);
  return written;
}

Result CheckActions::createFile(const std::string &path, const std::string &, const char *) {
  // Called only for a file that is not there.
  add(path + ": missing");
  return {};
}

Result CheckActions::renameFile(const std::string &from, const std::string &to) {
  add(to + ": missing (the installation would rename " + from + " to it)");
  return {};
}

Result CheckActions::removeFile(const std::string &path) {
  if (access(resolve(path).c_str(), F_OK) == 0)
    add(path + ": present (the installation removes it)");
  return {};
}

Result CheckActions::compile(const CommandFor &, const std::string &target) {
  // Called only for an object that is missing or older than its sources.
  add(target + ": " +
      (access(resolve(target).c_str(), F_OK) == 0 ? "older than its sources" : "missing"));
  return {};
}

Result CheckActions::sendNotice(const std::string &) { return {}; }
