/*
 * shell_detection.h - which shell style the Setup window starts with, and
 * the text of the shell path field.
 *
 * The style comes from the base name of SHELL looked up in the shell list
 * file "shells.vel": lines of a shell's base name, blanks and a style
 * letter ("c" for csh, "k" for ksh, either case); lines that do not start
 * with a letter are comments; the last matching line with a known letter
 * decides.  When no line decides, the shell's own family does: a script in
 * the other family's syntax would not run under it.  Nothing here needs a
 * display, so it is tested on its own.
 */
#ifndef VELORIX_SETUP_SHELL_DETECTION_H
#define VELORIX_SETUP_SHELL_DETECTION_H

#include <cstddef>
#include <string>

constexpr int kShellStyleCsh = 1;  // 1-based records of shells
constexpr int kShellStyleKsh = 2;
constexpr const char *kShellListFile = "shells.vel";
constexpr std::size_t kShellBaseNameMax = 43;  // characters of SHELL's base name
constexpr std::size_t kShellNameWordMax = 31;  // characters of a list file's name word
constexpr long kShellListMaxBytes = 1 << 20;   // a shell list file larger than this is not read
// Where the shell is assumed to live when SHELL is not set.
constexpr const char *kDefaultShellDirectory = "/bin/";

struct ShellDetection {
  int style = kShellStyleCsh;
  // Empty, or a message for the user about a value that was ignored
  // because it is too long to be a shell's name.
  std::string problem;
};

// Detects the style for shellValue (the value of SHELL; NULL when unset)
// from the shell list file at listPath.  When the file does not exist or
// cannot be read, or no line of it decides, the style is the family of
// SHELL's base name (ShellFamilyStyle), and csh for a shell of neither
// family or an unset SHELL.  A base name over kShellBaseNameMax characters
// matches nothing; a line whose name word is over kShellNameWordMax
// characters is skipped; both are described in problem.
ShellDetection DetectShellStyle(const char *listPath, const char *shellValue);

// The style whose syntax the shell with this base name runs: ksh for the
// Bourne family (sh, bash, dash, ksh, mksh, zsh, ash), csh for csh and
// tcsh, 0 for any other name.
int ShellFamilyStyle(const std::string &baseName);

// The shell that a shell path field's text starts with: its first word
// (the options follow it); empty for a blank text.
std::string ShellPathCommand(const std::string &shellPath);

// The family style (as ShellFamilyStyle) of the base name of
// ShellPathCommand; 0 when the text names no shell of either family.
int ShellPathFamilyStyle(const std::string &shellPath);

// The shell path field's text: shellValue followed by options; when SHELL
// is unset or empty, kDefaultShellDirectory and defaultName stand for it.
// FALSE, with *text empty, when the result would exceed limit characters.
bool ShellPathText(const char *shellValue, const char *defaultName, const char *options,
                   std::size_t limit, std::string *text);

#endif
