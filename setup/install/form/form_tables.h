/*
 * form_tables.h - the data tables of the Setup form beside its fields
 * (form_fields.h): the shell styles (shells), the help texts, and the
 * permissions of the files an installation writes.
 *
 * Plain data without a GUI include.
 */
#ifndef VELORIX_SETUP_FORM_TABLES_H
#define VELORIX_SETUP_FORM_TABLES_H

#include <string>

constexpr int kShellRecords = 2;  // shell styles

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
