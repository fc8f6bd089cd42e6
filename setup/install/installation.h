/*
 * installation.h - the installation procedure behind "Setup".
 *
 * The procedure works on a plain record of the form's values, so that the
 * Setup window (setup_action.cc), the unattended mode (unattended.cc) and
 * the tests drive the very same code.  It writes the settings file
 * "./.velorixrc" and the working files into the current directory, and for
 * a Full installation the installation-wide files into the product
 * directory.  Every message goes through Nlm_Message with MSG_OK.
 */
#ifndef VELORIX_SETUP_INSTALLATION_H
#define VELORIX_SETUP_INSTALLATION_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "form_tables.h"
#include "utility.h"

class Actions;

// Longest text accepted from a form field.
constexpr std::size_t kFieldLimit = 16384;
// Longest C++ options text and longest autodif compile command: both live
// in 500-byte buffers.
constexpr std::size_t kCppOptionsLimit = 499;
constexpr std::size_t kCompileCommandLimit = 499;
// A settings line (key, "=" and value) longer than this is broken in two
// when the file is read again, so no stored value may make one longer.
constexpr std::size_t kSettingsLineLimit = VX_SETTINGS_LINE_MAX;

// Values of the Setup form, as the installation needs them.
struct InstallForm {
  std::string kernel;      // product directory field
  std::string include;     // C include field
  std::string lib;         // C libraries field
  std::string cppName;     // C++ name field
  std::string cppOptions;  // C++ options field
  // One entry per Adjust record; empty when that Tuning field does not exist.
  std::array<std::optional<std::string>, kAdjustRecords> tuning;
  bool full = false;      // installation switch shows Full
  int shellStyle = 1;     // 1-based shells record (csh, ksh)
  std::string shellPath;  // shell path field
  bool noticeBoxExists = false;
  bool noticeConsent = false;
};

enum class InstallOutcome {
  Stopped,  // a message was shown; the form stays for another try
  Ended     // done; the caller ends the program
};

// Runs the installation for form, each step carried out by actions
// (actions.h): RealActions installs, PlanActions only lists.
InstallOutcome RunInstallation(const InstallForm &form, Actions &actions);

// Runs the installation for form with RealActions.
InstallOutcome RunInstallation(const InstallForm &form);

#endif
