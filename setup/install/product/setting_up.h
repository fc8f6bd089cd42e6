/*
 * setting_up.h - what a run sets up and where, in the words every
 * frontend uses before anything is written.
 *
 * A Full installation may be run from a directory other than its product
 * directory: it then writes the installation-wide files into the product
 * directory but compiles autodif.o in the directory it is run in, from
 * the autodif.cc there.  That is allowed, but never a surprise: the
 * command line and the terminal say so before the run writes, and the
 * window says it on its status line while it waits.
 */
#ifndef VELORIX_SETUP_SETTING_UP_H
#define VELORIX_SETUP_SETTING_UP_H

#include <array>
#include <string>
#include <vector>

#include "form_fields.h"
#include "result.h"

// Whether form is a Full installation whose product directory is not
// here (the directory it is run in, absolute).  A product directory that
// cannot be looked at is told apart by the procedure's own checks.
bool FullFromElsewhere(const InstallForm &form, const std::string &here);

// What a Full installation from elsewhere does, and what to do instead,
// in a few lines; empty when form is none.
std::string FullFromElsewhereWords(const InstallForm &form, const std::string &here);

// What a Full installation of form says before it writes anything, or
// nothing: that it runs outside its product directory, or else that
// autodif.cc is missing where it compiles; missing is every file the run
// needs and lacks (product_files.h), listed beneath these words.
std::string AdviceBeforeWriting(const InstallForm &form, const std::string &here,
                                const std::vector<MissingFile> &missing);

// The window's status lines while it waits: the directory set up and the
// kind ("Setting up /home/ann/work (User installation)"), and for a Full
// installation from elsewhere, on the second line, where the rest goes
// and what to do instead; the second line is empty otherwise.
std::array<std::string, 2> SettingUpLines(const InstallForm &form, const std::string &here);

#endif
