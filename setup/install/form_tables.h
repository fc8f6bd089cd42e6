/*
 * form_tables.h - the data tables of the Setup form that the window, the
 * installation procedure and the help windows all read: the Tuning
 * settings (Adjust), the shell styles (shells), the help texts, and the
 * permissions of the files an installation writes.
 *
 * Plain data without a GUI include: the window keeps the handles of the
 * controls it makes from these tables in its own record (window.h).
 */
#ifndef VELORIX_SETUP_FORM_TABLES_H
#define VELORIX_SETUP_FORM_TABLES_H

#include <string>

constexpr int kAdjustRecords = 3;  // Tuning settings
constexpr int kShellRecords = 2;   // shell styles

// The installation switch's values: the 1-based radio button number.
constexpr int kFullValue = 1;
constexpr int kUserValue = 2;

// The names by which messages refer to the form's fields; a Tuning field
// goes by its Adjust label.
constexpr const char *kFieldKernel = "VELORIX directory";
constexpr const char *kFieldInclude = "C compiler: Include";
constexpr const char *kFieldLibraries = "C compiler: Libraries";
constexpr const char *kFieldCppName = "C++ compiler: Name";
constexpr const char *kFieldCppOptions = "C++ compiler: Options";
constexpr const char *kFieldShellStyle = "Shell style";
constexpr const char *kFieldShellPath = "Shell path";

// One Tuning setting: a field of the Tuning group and its Help item.
struct AdjustRecord {
  const char *label;     // prompt and Help item label
  const char *section;   // settings section, without brackets
  const char *key;       // settings key
  const char *helpText;  // shown by the Help item
};
extern const AdjustRecord Adjust[kAdjustRecords + 1];  // ends with an all-NULL record

// One shell style: radio button label, options appended to $SHELL, and the
// compile-script template.
struct ShellRecord {
  const char *name;
  const char *options;
  const char *const *script;
};
extern const ShellRecord shells[kShellRecords + 1];  // ends with an all-NULL record

// The texts of the field help windows.  Each line feed starts a new line
// of the window.
extern const char *const kDirectoryHelp;
extern const char *const kCCompilerHelp;
extern const char *const kCppCompilerHelp;
extern const char *const kPrinterHelp;
extern const char *const kPreviewerHelp;
extern const char *const kDifferentiatorHelp;
extern const char *const kInstallationHelp;
extern const char *const kShellHelp;

// Permission strings of the files an installation writes.
constexpr char kSettingsPermissions[] = "rw-r--r--";
constexpr char kReadOnlyPermissions[] = "r--r--r--";  // interface strings, header
constexpr char kPalettePermissions[] = "rw-r--r--";
constexpr char kScriptPermissions[] = "rwxr-xr-x";  // compile script
constexpr char kNamesPermissions[] = "rw-r--r--";

// Characters that the product directory may not hold: the window refuses
// them as they are typed, the command line refuses them in --kernel, and
// the installation refuses a form that holds one.  Besides blanks,
// backslashes and commas, every character that the generated scripts'
// shells would interpret, and the control characters.
constexpr const char *kShellSpecialCharacters = ";&|<>()'\"*?[]#!{}$";
constexpr const char *kRefusedPathCharacters = " \\,;&|<>()'\"*?[]#!{}$";

// Whether the product directory may not hold c.
constexpr bool IsRefusedPathCharacter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x20 || u == 0x7f) return true;
  for (const char *p = kRefusedPathCharacters; *p != '\0'; ++p) {
    if (*p == c) return true;
  }
  return false;
}

// The position of the first character of text that the product directory
// may not hold, or std::string::npos.
inline std::size_t FindRefusedPathCharacter(const std::string &text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsRefusedPathCharacter(text[i])) return i;
  }
  return std::string::npos;
}

#endif
