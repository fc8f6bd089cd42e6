/*
 * form_options.h - the form from the command line: the window's initial
 * values, then an answer file's, then the options', each given the way
 * the form takes it (form.h).
 */
#ifndef VELORIX_SETUP_COMMAND_LINE_FORM_OPTIONS_H
#define VELORIX_SETUP_COMMAND_LINE_FORM_OPTIONS_H

#include <vector>

#include "form_fields.h"
#include "options.h"
#include "result.h"

// Builds *form from line over the values the window starts with; options
// win over the answer file.  Refused, saying why, for a value the form
// does not take; *notices receives what the form had to tell on the way
// (detection's own notice only when withDetection is set: the window tells
// that itself).
Result FormFromCommandLine(const CommandLine &line, bool withDetection, InstallForm *form,
                           std::vector<Result> *notices);

#endif
