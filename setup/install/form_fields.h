/*
 * form_fields.h - the one table of the Setup form's fields, and the form
 * record the installation works on.
 *
 * Every place that reads, checks, stores or saves a field goes through
 * kFormFields: the command line (its options), answer files (their keys),
 * the window (reading and presetting its controls), the check of the form
 * before anything is written, and the check that the generated lines stay
 * short.  A rule about a field is a column here, so that it holds
 * everywhere at once.  A Tuning field is added by one row (with a Tuning
 * label and help text) and its line in the settings template.
 */
#ifndef VELORIX_SETUP_FORM_FIELDS_H
#define VELORIX_SETUP_FORM_FIELDS_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "form_tables.h"
#include "utility.h"

// The form's fields; the value is the field's row in kFormFields.
enum class Field {
  kKind,
  kKernel,
  kInclude,
  kLibraries,
  kCppName,
  kCppOptions,
  kPrinter,
  kPreviewer,
  kDifferentiator,
  kShellStyle,
  kShellPath,
  kNotify,
};

enum class FieldType {
  kText,        // a text field
  kKind,        // the installation switch: full or user
  kShellStyle,  // the shell style switch: a shells record
  kYesNo,       // the notice consent box
};

// What a text field refuses, as bits of FormField::refuses.
enum FieldRefusal : unsigned {
  // Blanks, backslashes, commas, control characters and every character
  // that the generated scripts' shells would interpret: the product
  // directory is written into the compile script as it stands.
  kRefusesShellText = 1u << 0,
  // The settings file's line-break mark "~": it would read back as a line
  // break.
  kRefusesLineBreakMark = 1u << 1,
  // The empty mark "`": it would vanish on reading.
  kRefusesEmptyMark = 1u << 2,
  // "$(": it would read back as a reference.
  kRefusesReferences = 1u << 3,
  // Both marks: what a one-line field stored in the settings refuses.
  kRefusesMarks = kRefusesLineBreakMark | kRefusesEmptyMark,
};

// Longest text accepted from a form field.
constexpr std::size_t kFieldLimit = 16384;
// The C++ options and the autodif compile command each live in 500-byte
// buffers.
constexpr std::size_t kCppOptionsLimit = VX_PARBUF_SIZE - 1;
// The compile script's first line is "#! ", the shell path and a line
// feed, and must fit the settings buffer with its NUL.
constexpr std::size_t kShellPathLimit = VX_PARBUF_SIZE - 5;

struct FormField {
  Field id;
  FieldType type;
  const char *option;     // command-line option; for the kind, the Full one
  const char *answerKey;  // key in an answer file
  const char *label;      // the field as messages name it
  const char *section;    // where its value is stored in the settings, or
  const char *key;        //   nullptr when it is not stored as typed
  std::size_t limit;      // longest text (text fields)
  bool fullOnly;          // enabled only for a Full installation
  unsigned refuses;       // FieldRefusal bits
  // The text the window starts with; nullptr for a Tuning field (its
  // settings template value) and for the shell path (detected).
  const char *initial;
  bool tuning;                  // a field of the Tuning group
  const char *const *helpText;  // its help window's text
};

// clang-format off
inline constexpr FormField kFormFields[] = {
  {Field::kKind, FieldType::kKind, "--full", "kind", "Installation", nullptr, nullptr,
   0, false, 0, nullptr, false, &kInstallationHelp},
  {Field::kKernel, FieldType::kText, "--kernel", "kernel", "VELORIX directory", "Paths", "KERNEL",
   kFieldLimit, false,
   kRefusesShellText | kRefusesLineBreakMark | kRefusesEmptyMark | kRefusesReferences,
   "", false, &kDirectoryHelp},
  {Field::kInclude, FieldType::kText, "--include", "include", "C compiler: Include",
   "Compiler", "INCLUDE", kFieldLimit, true, kRefusesMarks, "", false, &kCCompilerHelp},
  {Field::kLibraries, FieldType::kText, "--libs", "libs", "C compiler: Libraries",
   "Compiler", "LIB", kFieldLimit, true, kRefusesMarks, "-lc -lm", false,
   &kCCompilerHelp},
  {Field::kCppName, FieldType::kText, "--cpp-name", "cpp-name", "C++ compiler: Name",
   "Compiler", "CPPNAME", kFieldLimit, true, kRefusesMarks, "c++", false, &kCppCompilerHelp},
  // The leading blank is part of the initial text.
  {Field::kCppOptions, FieldType::kText, "--cpp-options", "cpp-options", "C++ compiler: Options",
   "Compiler", "CPPLIB", kCppOptionsLimit, true, kRefusesMarks, " -O2 -fPIC -lc -lm", false,
   &kCppCompilerHelp},
  {Field::kPrinter, FieldType::kText, "--printer", "printer", "Printer command",
   "Visual", "HCPRINTER", kFieldLimit, false, kRefusesMarks, nullptr, true, &kPrinterHelp},
  {Field::kPreviewer, FieldType::kText, "--previewer", "previewer", "PostScript previewer",
   "Visual", "HCVIEWER", kFieldLimit, false, kRefusesMarks, nullptr, true, &kPreviewerHelp},
  {Field::kDifferentiator, FieldType::kText, "--differentiator", "differentiator",
   "External differentiator", "Compiler", "EXTDIFF", kFieldLimit, false, kRefusesMarks, nullptr,
   true,
   &kDifferentiatorHelp},
  {Field::kShellStyle, FieldType::kShellStyle, "--shell-style", "shell-style", "Shell style",
   nullptr, nullptr, 0, true, 0, nullptr, false, &kShellHelp},
  {Field::kShellPath, FieldType::kText, "--shell-path", "shell-path", "Shell path",
   nullptr, nullptr, kShellPathLimit, true, 0, nullptr, false, &kShellHelp},
  {Field::kNotify, FieldType::kYesNo, "--notify", "notify", "Registration", nullptr, nullptr,
   0, false, 0, nullptr, false, nullptr},
};
// clang-format on

constexpr std::size_t kFieldCount = sizeof kFormFields / sizeof kFormFields[0];

constexpr bool rowsInFieldOrder() {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (static_cast<std::size_t>(kFormFields[i].id) != i) return false;
  }
  return true;
}
static_assert(rowsInFieldOrder(), "kFormFields holds one row per Field, in Field's order");

constexpr const FormField &FieldRow(Field field) {
  return kFormFields[static_cast<std::size_t>(field)];
}

constexpr std::size_t countTuningFields() {
  std::size_t n = 0;
  for (const FormField &field : kFormFields)
    n += field.tuning ? 1 : 0;
  return n;
}

// The Tuning fields (the window's Tuning group and Help submenu), in table
// order.
constexpr std::size_t kAdjustRecords = countTuningFields();
using AdjustTable = std::array<const FormField *, kAdjustRecords>;
constexpr AdjustTable tuningFields() {
  AdjustTable rows{};
  std::size_t n = 0;
  for (const FormField &field : kFormFields) {
    if (field.tuning) rows[n++] = &field;
  }
  return rows;
}
inline constexpr AdjustTable Adjust = tuningFields();

// The installation switch's values: the 1-based radio button number.
constexpr int kFullValue = 1;
constexpr int kUserValue = 2;

// Values of the Setup form, as the installation needs them.
struct InstallForm {
  // The text of each text field, by Field; nothing for a field that is
  // not text, and for a Tuning field whose key the settings template
  // lacks (the window makes no field for it).
  std::array<std::optional<std::string>, kFieldCount> texts;
  bool full = false;   // installation switch shows Full
  int shellStyle = 1;  // 1-based shells record (csh, ksh)
  bool noticeBoxExists = false;
  bool noticeConsent = false;
  // Whether the user gave the shell style, and the shell path, rather than
  // taking what SHELL and "shells.vel" make of them on this host: an
  // answer file saves a detected one as "auto", to be detected anew on
  // the host that replays it.
  bool shellStyleGiven = false;
  bool shellPathGiven = false;

  bool has(Field field) const { return texts[static_cast<std::size_t>(field)].has_value(); }
  // The text of field; empty when the form has no such field.
  const std::string &text(Field field) const;
  // The text of field, made present.
  std::string &text(Field field);
};

// The form as the Setup window starts it, switched to Full or User the
// way the installation switch does it: Full puts the current directory
// into the product directory.  Shell style and path come from SHELL and
// "shells.vel"; the Tuning values from the settings template.  problem
// receives a message from shell detection or about the current directory,
// if any.
InstallForm InitialForm(bool full, std::string *problem);

// Said when SHELL and the style's options make a shell path too long.
constexpr const char *kShellPathTooLong =
    "The value of SHELL and the shell options together are too long for the\n"
    "compile script's first line.  Give it with --shell-path.";

// The shell path field's text for the shell style, as the window fills it
// when that style is picked: SHELL and the style's options.  Empty when
// that would be too long.
std::string DetectedShellPath(int shellStyle);

// The current directory as the product directory field shows it; empty,
// with *problem set, when it cannot be told.
std::string CurrentDirectoryText(std::string *problem);

// Why text may not be the value of field, in words that follow the
// field's name or option ("must not contain ..."); nothing when it may.
// A reference "$(" in a field that takes one is not judged here: whether it
// resolves depends on the settings (UnresolvedReference).
std::optional<std::string> RefusalOf(Field field, const std::string &text);

// What is wrong with the form's fields, for the user: the message and the
// fields it is about.
struct FormProblem {
  std::string message;
  std::vector<Field> fields;
};

// The first field of form whose text is too long, holds what the field
// refuses, or would make its settings line too long; nothing when all are
// right.
std::optional<FormProblem> CheckFields(const InstallForm &form);

// What the settings file gets for field: the product directory with its
// "/", the include options with the product directory after them (as
// kernel, the stored product directory, reads back), a Tuning field
// trimmed (the empty mark when nothing is left), any other text as typed.
std::string StoredText(const InstallForm &form, Field field, const std::string &kernel);

// The directory with "/" appended unless it already ends in one.
std::string WithSlash(const std::string &directory);

// The row whose option (without a value) is name, or nullptr.
const FormField *FieldByOption(const std::string &name);
// The row whose answer-file key is name, or nullptr.
const FormField *FieldByAnswerKey(const std::string &name);

#endif
