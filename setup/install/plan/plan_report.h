/*
 * plan_report.h - what a plan (install_plan.h) says to its reader: the dry
 * run's list of steps, the check's list of differences, and the files
 * changed by hand that a run would replace.
 */
#ifndef VELORIX_SETUP_PLAN_REPORT_H
#define VELORIX_SETUP_PLAN_REPORT_H

#include <string>
#include <vector>

#include "install_plan.h"

// The dry run: one line per step in procedure order, each followed (with
// diffs) by what it would change; a file that the run would leave as it
// is says "unchanged" where a file written says "write".
std::vector<std::string> PlanLines(const InstallPlan &plan);

// One difference between the directory and what the run would leave, and
// (with diffs) what exactly would change, without its last line feed.
struct Difference {
  std::string line;
  std::string diff;
};
// The check: every difference, naming its file by its absolute path; none
// when the run would change nothing.
std::vector<Difference> PlanDifferences(const InstallPlan &plan);

// A file that the run would replace or remove although its user changed
// it since the last installation.
struct HandEdited {
  std::string path;   // absolute, as RecordKey gives it
  std::string shown;  // as the procedure names it
  std::string kept;   // where the run would keep the user's copy
  std::string diff;   // with diffs: the user's copy against the new one
};
std::vector<HandEdited> PlanHandEdited(const InstallPlan &plan);

#endif
