/*
 * actions.cc - the real installation actions and the planning ones.
 */
#include "actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "file_writing.h"
#include "form_tables.h"
#include "templates.h"
#include "utility.h"

namespace {

// Every message of the procedure: a modal box with OK.  The text is never
// a format.
void show(const std::string &text) { Nlm_Message(MSG_OK, "%s", text.c_str()); }

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

bool storeSetting(const char *section, const char *key, const std::string &value) {
  std::string buffer = value;  // SetParam converts line feeds in place
  return SetParam(section, key, buffer.data()) != FALSE;
}

bool writeSettingsTemplate(const std::string &path, const char *permissions) {
  if (!CreateFile(path.c_str(), SetData, permissions, FALSE)) return false;
  // The core library must forget the copy it parsed before, or its next
  // write would bring the old values back.
  SettingsReload();
  return true;
}

}  // namespace

std::string WithSlash(const std::string &directory) {
  if (!directory.empty() && directory.back() == '/') return directory;
  return directory + "/";
}

void Actions::show(const std::string &text, const MessageSubject &) { ::show(text); }

// ---- RealActions ----------------------------------------------------------

bool RealActions::writeSettingsFile(const std::string &path, const char *permissions) {
  return writeSettingsTemplate(path, permissions);
}

bool RealActions::store(const char *section, const char *key, const std::string &value) {
  return storeSetting(section, key, value);
}

void RealActions::writeTemplate(const std::string &path, const char *const *lines,
                                const char *permissions, bool expand, const char *) {
  CreateFile(path.c_str(), lines, permissions, expand ? TRUE : FALSE);
}

bool RealActions::writeCompileScript(const std::string &path, int shellStyle,
                                     const std::string &shellPath) {
  return WriteCompileScript(path.c_str(), shellStyle, shellPath.c_str()) != FALSE;
}

void RealActions::createFile(const std::string &path, const std::string &content,
                             const char *permissions, const char *what) {
  const mode_t mode = ModeFromPermissions(permissions);
  // O_EXCL: an existing file is never emptied, even one that appeared
  // since the caller looked.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
  if (fd < 0) {
    // An existing file is left alone; a dangling link is not one.
    if (errno == EEXIST && exists(path)) return;
    this->show(std::string("Cannot create ") + what + " '" + path + "'", {path});
    return;
  }
  const bool written =
      write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  const bool closed = close(fd) == 0;
  chmod(path.c_str(), mode);
  if (!written || !closed)
    this->show(std::string("Cannot write ") + what + " '" + path + "'", {path});
}

bool RealActions::renameFile(const std::string &from, const std::string &to) {
  std::rename(from.c_str(), to.c_str());
  return exists(to);
}

void RealActions::removeFile(const std::string &path) { unlink(path.c_str()); }

bool RealActions::compile(const std::string &command, const std::string &target,
                          const std::string &) {
  // The exit status says nothing reliable across compilers; the object
  // left on disk does.
  const int ignored = std::system(command.c_str());
  (void)ignored;
  return exists(target);
}

void RealActions::sendNotice(const std::string &command) {
  const int ignored = std::system(command.c_str());
  (void)ignored;
}

// ---- PlanActions ----------------------------------------------------------

std::string PlanActions::resolve(const std::string &path) const {
  if (path.empty() || path[0] == '/') return path;
  return WithSlash(workDir_) + path;
}

bool PlanActions::writeSettingsFile(const std::string &path, const char *permissions) {
  add("write " + path + " (" + permissions + ") from the settings template");
  // The scratch copy: the steps read back what they store in it.
  return writeSettingsTemplate(path, permissions);
}

bool PlanActions::store(const char *section, const char *key, const std::string &value) {
  add(std::string("store [") + section + "] " + key + "=" + value);
  return storeSetting(section, key, value);
}

void PlanActions::writeTemplate(const std::string &path, const char *const *,
                                const char *permissions, bool, const char *what) {
  add("write " + path + " (" + permissions + ") from the " + what);
}

bool PlanActions::writeCompileScript(const std::string &path, int shellStyle,
                                     const std::string &shellPath) {
  add("write " + path + " (" + kScriptPermissions + "), the " + shells[shellStyle - 1].name +
      " compile script, first line \"#! " + shellPath + "\"");
  return true;
}

void PlanActions::createFile(const std::string &path, const std::string &content,
                             const char *permissions, const char *) {
  add("create " + path + " (" + permissions + ") holding \"" + content + "\"");
}

bool PlanActions::renameFile(const std::string &from, const std::string &to) {
  add("rename " + from + " to " + to);
  return true;
}

void PlanActions::removeFile(const std::string &path) {
  if (exists(resolve(path))) add("remove " + path);
}

bool PlanActions::compile(const std::string &command, const std::string &target,
                          const std::string &onFailure) {
  add("compile " + target + ": " + command);
  add("  should " + target + " still be missing: " + onFailure);
  return true;
}

void PlanActions::sendNotice(const std::string &command) {
  add("send the installation notice: " + command);
}
