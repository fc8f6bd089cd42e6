/*
 * planner.h - works out the plan of an installation (install_plan.h) and
 * changes nothing outside its scratch directory.
 *
 * The procedure runs against it as against a real run: each file is made
 * in the scratch directory and compared, byte for byte and mode for mode,
 * with the one it would replace; where a real run could not write, the
 * plan fails as the run would, with its message.  An object due to be
 * compiled is compiled into the scratch directory only when the outcome is
 * wanted (a check): only then is it known whether the run leaves one.
 */
#ifndef VELORIX_SETUP_PLANNER_H
#define VELORIX_SETUP_PLANNER_H

#include <sys/types.h>

#include <functional>
#include <string>

#include "actions.h"
#include "install_plan.h"

class Planner : public ScratchActions {
 public:
  enum class Compile {
    kNo,    // the plan says that it would compile, and why
    kToKnow // compiled into scratch, so that a compile that fails is known to change nothing
  };
  Planner(DiffDetail diffs, Compile compile);

  // The plan, complete once the procedure has ended.
  const InstallPlan &plan() const { return plan_; }

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
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
  PlanStep &add(StepKind kind, const std::string &path);
  // A file step for path, its bytes made in the scratch directory by make;
  // place: what a real run would meet where it writes it.
  Result planFile(const std::string &path, const std::string &words, mode_t mode,
                  const std::function<Result(const std::string &made)> &make, const Result &place);
  // Compares the file made at made with path, which the run gives mode,
  // and notes it in the record the run would leave.
  PlannedFile compare(const std::string &path, const std::string &made, mode_t mode, bool data);
  // Notes where the run keeps the copy of file that its user changed.
  void noteKept(PlannedFile &file, const std::string &kept) const;
  // With diffs: what would change in path when made replaces it.
  Result diffOf(const std::string &path, const std::string &made, std::string *diff) const;
  Result planSettings(PlannedEnd &end);

  InstallPlan plan_;
  Compile compile_;
};

#endif
