/*
 * install_plan.h - every step of an installation as data: what a run
 * would do to the directory, worked out before anything is touched.
 *
 * A Planner (planner.h) runs the procedure against a scratch copy of the
 * settings file and notes each step here: each file with its bytes (made
 * in the scratch directory while the plan is made), its mode and its
 * state against the disk, each removal and rename, the compile and why it
 * is due, the notice, and at the end the settings file, its backups and
 * the record.  The dry run prints the plan, the check lists its
 * differences (plan_report.h): both read the same steps, so that what the
 * one calls "unchanged" the other does not count.
 */
#ifndef VELORIX_SETUP_INSTALL_PLAN_H
#define VELORIX_SETUP_INSTALL_PLAN_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "actions.h"
#include "file_step.h"

// A file the run leaves, against what is there now.
struct PlannedFile {
  bool made = false;   // its bytes were made, and compared
  std::string at;      // where: a file in the run's scratch directory
  mode_t mode = 0;     // the mode the run writes it with
  mode_t given = 0;    // the mode it would have (a file reached through a link keeps its own)
  bool there = false;  // something is at its path now
  bool regular = false;
  mode_t has = 0;                 // the mode of what is there
  std::optional<bool> same;       // whether that holds the run's bytes; nothing: not read
  bool unchanged = false;         // writing it where the run writes changes nothing
  bool unchangedInPlace = false;  // the same at its own path (not beside a copy kept)
  bool besideHolds = false;       // NAME.velorix-new holds the run's bytes already
  // Its user keeps their copy, changed by hand: the new one goes beside it.
  bool keepsTheirs = false;
  // Where the copy its user changed since the last installation is kept
  // (as the procedure names it); empty for none.
  std::string kept;
  std::string keptShown;
  bool keptThere = false;
  // With diffs: what would change, without its last line feed.
  std::string diff;
};

struct PlanStep {
  StepKind kind = StepKind::kFile;
  std::string path;   // as the procedure names it
  std::string shown;  // absolute, without "." steps
  // The dry run's words after the path: "(rw-r--r--) from the ... template".
  std::string words;
  PlannedFile file;
  // A real run could not take this step: the plan has told why.
  bool blocked = false;
  Writer writer = Writer::kBytes;
  // kRename: where to; kCompile: why it is due, and its command; kStore:
  // "[section] KEY=value"; kNotice: its command.
  std::string to;
  std::string toShown;
  std::string why;
  std::string command;
  // kCompile: compiled into the scratch directory, and it made an object.
  bool compiled = false;
};

// How the run would leave the settings file, its backups and the record,
// when every step ran.
struct PlannedEnd {
  std::string settingsShown;
  PlannedFile settings;
  std::optional<std::string> tooLarge;  // the line that stands for a file too large to compare
  bool newFile = false;                 // no settings file there to compare with
  std::string newFileLine;              // NewFileLine of the new one
  std::vector<std::string> changes;     // one line per setting that changes
  std::string lineDiff;                 // with diffs: the same values in other words
  struct Move {
    std::string from, to;
    bool toThere = false;
  };
  std::vector<std::string> backupRemovals;
  std::vector<Move> backupRenames;
  std::string backup;
  bool backupReused = false;
  bool backupThere = false;
  std::string recordShown;
  PlannedFile record;
};

struct InstallPlan {
  DiffDetail diffs = DiffDetail::kNone;
  bool keepChanged = false;  // files changed by hand stay, the new ones go beside them
  int keepBackups = kDefaultSettingsBackups;
  std::vector<PlanStep> steps;
  // Set when the procedure ran to its end with the settings file whole.
  std::optional<PlannedEnd> end;
};

#endif
