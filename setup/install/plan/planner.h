/*
 * planner.h - works out the plan of an installation (install_plan.h) and
 * changes nothing outside its scratch directory.
 *
 * The procedure runs against it as against a real run: each file is made
 * in the scratch directory and compared, byte for byte and mode for mode,
 * with the one it would replace; where a real run could not write, the
 * plan fails as the run would, with its message.  An object due to be
 * compiled is compiled into the scratch directory only when the outcome is
 * wanted (a check, a real run): only then is it known whether the run
 * leaves one.
 */
#ifndef VELORIX_SETUP_PLANNER_H
#define VELORIX_SETUP_PLANNER_H

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>

#include "actions.h"
#include "install_plan.h"

class Planner : public ScratchActions {
 public:
  enum class Compile {
    kNo,     // the plan says that it would compile, and why
    kToKnow  // compiled into scratch, so that a compile that fails is known to change nothing
  };
  Planner(DiffDetail diffs, Compile compile);

  // The plan, complete once the procedure has ended.
  const InstallPlan &plan() const { return plan_; }

  // The files (absolute, as RecordKey gives them) whose user keeps the
  // copy they changed since the last installation: the new one goes
  // beside it, as keepChanged() does for every file.
  void keepYours(std::set<std::string> paths) { keepYours_ = std::move(paths); }

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  Result take(const FileStep &step) override;
  Result sendNotice(const std::string &command) override;

 protected:
  // pattern: the scratch directory's path, ending in XXXXXX.
  Planner(std::string pattern, Compile compile);
  // Notes the options of the run in the plan, before its first step.
  void startPlan();
  // Whether the user keeps their copy of path, changed by hand.
  bool keepsTheirs(const std::string &path) const;

  InstallPlan plan_;

 private:
  PlanStep &add(StepKind kind, const std::string &path);
  // A file step, its bytes made in the scratch directory by step.make.
  Result planFile(const FileStep &step);
  Result planCreate(const FileStep &step);
  Result planRename(const FileStep &step);
  Result planRemoval(const FileStep &step);
  Result planCompile(const FileStep &step);
  // A free name in the scratch directory for the object compiled for
  // target.
  std::string outputName(const std::string &target);
  // Compares the file made at made with path, which the run gives mode,
  // and notes it in the record the run would leave.
  PlannedFile compare(const std::string &path, const std::string &made, mode_t mode, bool data);
  // Notes where the run keeps the copy of file that its user changed.
  void noteKept(PlannedFile &file, const std::string &kept) const;
  // With diffs: what would change in path when made replaces it.
  Result diffOf(const std::string &path, const std::string &made, std::string *diff) const;
  Result planSettings(PlannedEnd &end);

  Compile compile_;
  std::set<std::string> keepYours_;
};

#endif
