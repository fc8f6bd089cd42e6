/*
 * session.h - one run of the installation, as every frontend starts it:
 * the form's values saved as answers when asked, the log opened, the
 * procedure run with each action recorded, and the summary.
 *
 * The window, the command line (installing, planning or checking) and the
 * questions in a terminal each run a form this way; they differ only in
 * the actions they hand it (which also show its messages: a box, or a
 * line on standard error) and in what they make of how it ended.
 */
#ifndef VELORIX_SETUP_SESSION_H
#define VELORIX_SETUP_SESSION_H

#include <optional>
#include <string>

#include "actions.h"
#include "form_fields.h"
#include "installation.h"
#include "record_actions.h"

struct SessionRequest {
  // The kind of run, for the log's header: "unattended", "window",
  // "terminal", "dry run", "check".
  const char *what = "";
  // Where to save the form's values as an answer file before anything is
  // done; empty for nowhere.
  std::string saveAnswers;
  // Where to save a Full installation's product directory and compiler
  // fields as the host's site defaults once it has ended; empty for
  // nowhere.
  std::string saveSiteDefaults;
  // The log to append to; empty for none.
  std::string log;
  // What the log's header names of the run.
  RunContext context;
};

// How a frontend that asks for the form (the window, the questions in a
// terminal) starts its sessions, from the command line.
struct SessionStart {
  // The form's values to start from instead of the usual ones (from an
  // answer file and form options), or nothing.
  std::optional<InstallForm> preset;
  // Where the answers are saved before installing; empty for nowhere.
  std::string saveAnswers;
  // Where a Full installation's values are saved as the host's site
  // defaults once it has ended; empty for nowhere.
  std::string saveSiteDefaults;
  // The log each installation appends to; empty for none.
  std::string log;
  // What the log's header names of the run.
  RunContext context;
  // How many backups of the settings file each installation keeps.
  int keepBackups = kDefaultSettingsBackups;
};

enum class SessionEnd {
  kAnswersNotSaved,  // nothing was done: the answer file could not be written
  kLogUnusable,      // nothing was done: the log cannot be opened or written
  kRefused,          // nothing was written: the procedure refused a text of the form
  kStopped,          // a message stopped the procedure
  kEnded,            // the procedure ran to its end
};

struct SessionResult {
  SessionEnd end = SessionEnd::kStopped;
  // The log lost a line on the way: what the run did is not all in it.
  bool logLost = false;
  // The installation ended, but the site defaults asked for were not
  // written.
  bool siteDefaultsLost = false;
  // What was installed and where, for a run that began; empty otherwise.
  std::string summary;
};

// Runs form through actions as request asks.  Every message, the
// session's own included, is shown through actions.
SessionResult RunSession(const InstallForm &form, Actions &actions, const SessionRequest &request);

#endif
