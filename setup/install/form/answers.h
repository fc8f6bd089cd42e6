/*
 * answers.h - answer files: the values of the Setup form saved as an INI
 * file, to fill the form again or to install from it unattended.
 *
 *   ; velorix-setup answers
 *   [form]
 *   kind = user
 *   kernel = "/opt/velorix"
 *   cpp-options = " -O2 -fPIC -lc -lm"
 *   shell-style = ksh
 *   notify = no
 *
 * One key per control of the form, named as its command-line option
 * without the dashes: kind (full or user), kernel, include, libs,
 * cpp-name, cpp-options, printer, previewer, differentiator, shell-style
 * (csh, ksh or auto), shell-path (a text or auto), notify (yes or no).
 * The shell style and path depend on the host: "auto" (what a form saves
 * unless its user changed them) is detected on the host that reads the
 * file, from SHELL and "shells.vel", as the window detects them; a path
 * left to auto follows the style.  A text value is written in
 * double quotes, so that its blanks stay; inside them \" is a quote, \\ a
 * backslash, \; a semicolon (a bare one after a blank would start a
 * comment), \n, \t and \xHH control characters.  A value longer than one
 * line goes on in quoted pieces on the lines below, each indented.  Keys
 * left out keep the value the form starts with.
 *
 * The keys come from the form's field table (form_fields.h), and each
 * value is checked as the form checks it (form.h), on the text it will be
 * stored as.  The file is read with inih; every problem is reported with
 * the file's name and its line, in line order, and nothing is taken from a
 * file that has one.
 */
#ifndef VELORIX_SETUP_ANSWERS_H
#define VELORIX_SETUP_ANSWERS_H

#include <array>
#include <optional>
#include <string>

#include "form_fields.h"
#include "result.h"

// The values an answer file gives; a key it leaves out stays empty.
struct Answers {
  std::string file;  // where they were read, for messages
  std::optional<bool> full;
  std::array<std::optional<std::string>, kFieldCount> texts;  // by Field
  std::optional<int> shellStyle;  // 1-based record of shells, or kAutoShellStyle
  bool autoShellPath = false;     // shell-path = auto
  std::optional<bool> notify;
  std::array<int, kFieldCount> lineOf{};  // the line of each key given
};

// Answers::shellStyle for "auto".
constexpr int kAutoShellStyle = 0;

// Reads the answer file at path.  Refused (Fault::kRefused), with one line
// per fault in line order ("FILE:LINE: what is wrong"), or "FILE: why it
// cannot be read", on anything unknown, repeated or malformed.
Result ReadAnswers(const std::string &path, Answers *answers);

// Puts the values answers gives into form, the kind aside (the caller
// chooses it: options win over it); a Tuning value for a field that the
// form lacks is left out.  Refused, with form unchanged, when the form
// refuses a value ("FILE:LINE: the value of KEY ..."); a notice when a
// shell path could not be detected for the style given.
Result ApplyAnswers(const Answers &answers, InstallForm *form);

// The answer file of form.
std::string AnswersText(const InstallForm &form);

// One text value as an answer file writes it: key = "value", going on in
// quoted pieces on indented lines below when it is long; ends with a line
// feed.
std::string AnswerTextLine(const char *key, const std::string &value);

// Writes the answer file of form to path, whole or not at all; refused
// when path is there and is not a regular file (or a link to one).
Result SaveAnswers(const std::string &path, const InstallForm &form);

#endif
