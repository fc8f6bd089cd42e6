/*
 * installation.h - the installation procedure behind "Setup".
 *
 * The procedure works on a plain record of the form's values, so that the
 * Setup window (setup_action.cc), the unattended mode (unattended.cc) and
 * the tests drive the very same code.  It writes the settings file
 * "./.velorixrc" and the working files into the current directory, and for
 * a Full installation the installation-wide files into the product
 * directory.  Every message is shown through the actions (actions.h).
 */
#ifndef VELORIX_SETUP_INSTALLATION_H
#define VELORIX_SETUP_INSTALLATION_H

#include <cstddef>
#include <string>

#include "form_fields.h"
#include "path_resolver.h"
#include "result.h"
#include "utility.h"

class Actions;

// Longest autodif compile command: it lives in a 500-byte buffer.
constexpr std::size_t kCompileCommandLimit = VX_PARBUF_SIZE - 1;
// A settings line (key, "=" and value) longer than this is broken in two
// when the file is read again, so no stored value may make one longer.
constexpr std::size_t kSettingsLineLimit = VX_SETTINGS_LINE_MAX;

enum class InstallOutcome {
  Refused,  // a text of the form was refused before anything was written
  Stopped,  // a message was shown; the form stays for another try
  Ended     // done; the caller ends the program
};

// What the procedure refuses before it writes anything, in the order in
// which it tells it: an empty product directory, a field the form refuses
// (CheckFields), a Full installation's compile command, shell line or
// shell style that cannot work, and a product directory without the
// product's executable or its class description file (their paths placed
// by resolve).  A refusal (Fault::kRefused) carries the message and what
// it is about; one about the product directory lists every file the run
// needs that is missing (product_files.h).
Result CheckBeforeWriting(const InstallForm &form, const PathResolver &resolve);

// Runs the installation for form, each step carried out by actions
// (actions.h): RealActions installs, a Planner (planner.h) plans.
InstallOutcome RunInstallation(const InstallForm &form, Actions &actions);

// Runs the installation for form with RealActions.
InstallOutcome RunInstallation(const InstallForm &form);

#endif
