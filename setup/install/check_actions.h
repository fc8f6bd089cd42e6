/*
 * check_actions.h - compares a directory with what an installation would
 * make of it, and changes nothing.
 *
 * CheckActions runs the procedure as a plan does, with the settings file
 * in a scratch directory of its own, but writes each file the procedure
 * would write into that scratch directory too and compares it, byte for
 * byte and mode for mode, with the one in the installed directory; the
 * settings file is compared at the end.  Every difference is one line:
 * a file missing, different or with another mode, a file that would be
 * removed or renamed, an object file missing or older than its sources.
 */
#ifndef VELORIX_SETUP_CHECK_ACTIONS_H
#define VELORIX_SETUP_CHECK_ACTIONS_H

#include <string>
#include <vector>

#include "actions.h"

class CheckActions : public ScratchActions {
 public:
  CheckActions();

  // One line per difference, in procedure order.
  const std::vector<std::string> &differences() const { return differences_; }

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override;
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override;
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override;
  Result renameFile(const std::string &from, const std::string &to) override;
  Result removeFile(const std::string &path) override;
  Result compile(const CommandFor &command, const std::string &target) override;
  Result sendNotice(const std::string &command) override;

 private:
  // Compares the file made at made with path in the installed directory,
  // which should have mode.
  void compare(const std::string &path, const std::string &made, unsigned mode);
  std::string renderPath();
  void add(const std::string &line) { differences_.push_back(line); }

  int rendered_ = 0;
  std::vector<std::string> differences_;
};

#endif
