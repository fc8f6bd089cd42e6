/*
 * hand_edited.h - the files an installation would replace although their
 * user changed them since the last one.
 *
 * Every frontend that asks about them (the terminal's questions, the
 * window) learns them here, so that they ask about the same files; the
 * answers go into the run through Planner::keepYours.
 */
#ifndef VELORIX_SETUP_INSTALL_PROCEDURE_HAND_EDITED_H
#define VELORIX_SETUP_INSTALL_PROCEDURE_HAND_EDITED_H

#include <vector>

#include "actions.h"
#include "form_fields.h"
#include "plan_report.h"

// The files that installing form in the current directory would replace
// although the record says their user changed them; none when there is
// no record or no such file.  Runs the check only when the record names
// a changed file, since the check compiles the object when that is due.
// diffs: whether each comes with its diff.
std::vector<HandEdited> HandEditedFiles(const InstallForm &form, DiffDetail diffs);

#endif
