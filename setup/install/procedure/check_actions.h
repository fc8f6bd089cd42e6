/*
 * check_actions.h - compares a directory with what an installation would
 * make of it, and changes nothing.
 *
 * CheckActions runs the procedure as a plan does, with the settings file
 * in a scratch directory of its own, but writes each file the procedure
 * would write into that scratch directory too and compares it, byte for
 * byte and mode for mode, with the one in the installed directory; the
 * settings file is compared at the end, key by key.  An object that the
 * run would compile is compiled into the scratch directory, so that a
 * compile that would fail is known to change nothing.  Every difference
 * is one line, naming the file by its absolute path: a file missing,
 * different or with another mode, a file that would be removed or
 * renamed, an object that would be compiled, a file changed by hand since
 * the last installation (and the copy of it that the run would keep), the
 * settings backups the run would make, move or remove, and the record of
 * the installation, which it works out as the run would.
 * With diffs, each line may carry what exactly would change: a unified
 * diff, or one line per setting; a file that is not there yet, one line
 * that counts its lines (unless DiffDetail::kFull).
 */
#ifndef VELORIX_SETUP_CHECK_ACTIONS_H
#define VELORIX_SETUP_CHECK_ACTIONS_H

#include <string>
#include <vector>

#include "actions.h"

class CheckActions : public ScratchActions {
 public:
  explicit CheckActions(DiffDetail diffs = DiffDetail::kNone);

  // One line per difference, in procedure order.
  const std::vector<std::string> &differences() const { return differences_; }
  // For each difference (by index), what would change, without its last
  // line feed; empty where there is nothing to show, and without diffs.
  const std::vector<std::string> &diffs() const { return diffs_; }

  // A file that the run would replace or remove although its user changed
  // it since the last installation.
  struct HandEdited {
    std::string path;   // absolute, as RecordKey gives it
    std::string shown;  // as the differences name it
    std::string kept;   // where the run would keep the user's copy
    std::string diff;   // with diffs: the user's copy against the new one
  };
  const std::vector<HandEdited> &handEdited() const { return handEdited_; }

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override;
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override;
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override;
  Result writeFile(const std::string &path, const std::string &content,
                   const char *permissions) override;
  Result renameFile(const std::string &from, const std::string &to) override;
  Result removeFile(const std::string &path) override;
  Result compile(const CommandFor &command, const std::string &target,
                 const std::string &why) override;
  Result sendNotice(const std::string &command) override;

 private:
  // Compares the file made at made with path in the installed directory,
  // which should have mode, and notes it for the record; a fault when diff
  // could not tell how they differ.  data: the analysis program changes
  // it in use.
  Result compare(const std::string &path, const std::string &made, unsigned mode,
                 bool data = false);
  Result compareSettings();
  // The diff of path against made, when diffs are wanted.
  Result diffOf(const std::string &path, const std::string &made, std::string *diff) const;
  void add(const std::string &line, const std::string &diff = {});

  DiffDetail withDiffs_;
  std::vector<std::string> differences_;
  std::vector<std::string> diffs_;
  std::vector<HandEdited> handEdited_;
};

#endif
