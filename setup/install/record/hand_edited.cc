/*
 * hand_edited.cc - the files an installation would replace although
 * their user changed them since the last one.
 */
#include "hand_edited.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "actions.h"
#include "install_record.h"
#include "installation.h"
#include "plan_report.h"
#include "planner.h"

namespace {

// Runs a check and shows none of its messages: the installation that
// follows shows them.
class QuietActions : public ForwardingActions {
 public:
  using ForwardingActions::ForwardingActions;
  void show(const std::string &, const MessageSubject &) override {}
  void advise(const std::string &, const MessageSubject &) override {}
};

// Whether the record in the current directory lists a file that its
// user changed since the installation that wrote it.
bool anyChangedByHand() {
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  std::optional<InstallRecord> record;
  if (error || !ReadInstallRecord(here, &record).ok() || !record) return false;
  std::string digest;
  for (const RecordEntry &entry : record->entries()) {
    if (ChangedSinceRecorded(&*record, entry.path, &digest)) return true;
  }
  return false;
}

}  // namespace

std::vector<HandEdited> HandEditedFiles(const InstallForm &form, DiffDetail diffs) {
  if (!anyChangedByHand()) return {};
  Planner planner(diffs, Planner::Compile::kToKnow);
  QuietActions quiet(planner);
  (void)RunInstallation(form, quiet);
  return PlanHandEdited(planner.plan());
}
