/*
 * session.cc - the answers, the log, the procedure and its record.
 */
#include "session.h"

#include <optional>

#include "answers.h"
#include "site_defaults.h"

SessionResult RunSession(const InstallForm &form, Actions &actions,
                         const SessionRequest &request) {
  SessionResult result;
  // A lab shares what its Full installation was made with.
  if (!request.saveSiteDefaults.empty() && !form.full) {
    actions.show("--save-site-defaults saves the values of a Full installation, and this is a "
                 "User one.\nNothing was done.",
                 {"", {Field::kKind}});
    result.end = SessionEnd::kRefused;
    return result;
  }
  if (!request.saveAnswers.empty()) {
    const Result saved = SaveAnswers(request.saveAnswers, form);
    if (!saved.ok()) {
      actions.show(saved.message(), saved.about());
      result.end = SessionEnd::kAnswersNotSaved;
      return result;
    }
  }
  std::optional<LogFile> log;
  if (!request.log.empty()) log.emplace(request.log);
  RecordActions record(actions, form, request.what, log ? &*log : nullptr, request.context);
  // A log that cannot take even its header stops the run before it begins.
  if (log && !log->ok()) {
    const Result closed = log->close();
    actions.show(closed.message(), closed.about());
    result.end = SessionEnd::kLogUnusable;
    return result;
  }
  const InstallOutcome outcome = RunInstallation(form, record);
  record.finish(outcome);
  result.end = outcome == InstallOutcome::Ended     ? SessionEnd::kEnded
               : outcome == InstallOutcome::Refused ? SessionEnd::kRefused
                                                    : SessionEnd::kStopped;
  result.summary = record.summary();
  if (outcome == InstallOutcome::Ended && !request.saveSiteDefaults.empty()) {
    bool unchanged = false;
    const Result saved = SaveSiteDefaults(request.saveSiteDefaults, form, &unchanged);
    if (saved.ok()) {
      result.summary += std::string("Site defaults ") + (unchanged ? "unchanged" : "written") +
                        ": " + request.saveSiteDefaults + "\n";
    } else {
      actions.show(saved.message(), saved.about());
      result.siteDefaultsLost = true;
    }
  }
  if (log) {
    const Result closed = log->close();
    if (!closed.ok()) {
      actions.show(closed.message(), closed.about());
      result.logLost = true;
    }
  }
  return result;
}
