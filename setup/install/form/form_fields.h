/*
 * form_fields.h - the one table of the Setup form's fields, and the form
 * record the installation works on.
 *
 * Every place that reads, checks, stores, shows or saves a field goes
 * through kFormFields: the command line (its options and --help), answer
 * files (their keys), the window (its groups, prompts, controls, Help
 * items, tab order, alignment and what only a Full installation enables),
 * the questions in a terminal, the check of the form before anything is
 * written, and the check that the generated lines stay short.  A rule
 * about a field is a column here, so that it holds everywhere at once.  A
 * field is added by its Field, one row, its help text (help_texts.cc and
 * form_tables.h) and its line in the settings template; what the form does
 * with the fields is form.h's.  The Ansible module, the manual page and
 * the reference name the options by hand: tests/test_surfaces.py fails
 * until they name a new one.
 */
#ifndef VELORIX_SETUP_FORM_FIELDS_H
#define VELORIX_SETUP_FORM_FIELDS_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>

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
// Characters of a text field in the window; the shell path's is widened
// by the alignment.
constexpr int kFieldColumns = 25;
constexpr int kNarrowColumns = 1;

// The groups of the Setup window, in the order in which they stand: top to
// bottom, and the row of switches left to right.
enum class FormGroup {
  kDirectory,
  kCCompiler,
  kCppCompiler,
  kTuning,
  kInstallation,
  kShellStyle,
  kShellPath,
  kRegistration,
};

// How a group stands in the window.
enum class GroupFrame {
  kRow,     // an untitled row of prompts and fields
  kBox,     // a titled box of prompts and fields
  kSwitch,  // a titled box in the row of switches, aligned at the bottom
  kNotice,  // the notice consent box and the notice's lines
};

struct GroupRow {
  FormGroup id;
  GroupFrame frame;
  const char *title;  // nullptr for an untitled group
  // Its item in the Help menu, nullptr for none; with perField, a submenu
  // of that title with one item per field, named as the field's prompt.
  const char *helpItem;
  bool perField;
};

// clang-format off
inline constexpr GroupRow kFormGroups[] = {
  {FormGroup::kDirectory, GroupFrame::kRow, nullptr, "VELORIX directory", false},
  {FormGroup::kCCompiler, GroupFrame::kBox, "C compiler", "C compiler", false},
  {FormGroup::kCppCompiler, GroupFrame::kBox, "C++ compiler", "C++ compiler", false},
  {FormGroup::kTuning, GroupFrame::kBox, "Tuning", "Tuning", true},
  {FormGroup::kInstallation, GroupFrame::kSwitch, "Installation", "Installation", false},
  {FormGroup::kShellStyle, GroupFrame::kSwitch, "Shell style", nullptr, false},
  {FormGroup::kShellPath, GroupFrame::kSwitch, "Shell path", "Shell", false},
  {FormGroup::kRegistration, GroupFrame::kNotice, "Registration", nullptr, false},
};
// clang-format on

constexpr std::size_t kGroupCount = sizeof kFormGroups / sizeof kFormGroups[0];

constexpr const GroupRow &GroupOf(FormGroup group) {
  return kFormGroups[static_cast<std::size_t>(group)];
}

// How a field's control is aligned with others in the window, as bits of
// FormField::align.
enum WindowAlign : unsigned {
  // Left and right edges with the other fields so marked: the form's
  // column of text fields (a Tuning field joins the others one at a
  // time).
  kAlignColumn = 1u << 0,
  // The right edge with the other controls so marked.
  kAlignRightEdge = 1u << 1,
};

struct FormField {
  Field id;
  FieldType type;
  const char *option;     // command-line option; for the kind, the Full one
  const char *answerKey;  // key in an answer file
  const char *label;      // the field as messages and questions name it
  const char *section;    // where its value is stored in the settings, or
  const char *key;        //   nullptr when it is not stored as typed
  std::size_t limit;      // longest text (text fields)
  bool fullOnly;          // enabled only for a Full installation
  unsigned refuses;       // FieldRefusal bits
  // The text the window starts with; nullptr for a Tuning field (its
  // settings template value) and for the shell path (detected).
  const char *initial;
  const char *const *helpText;  // its help window's text
  // The window: its group, the prompt beside it (nullptr for none: the
  // group's title names it), its width in characters, its alignment.
  FormGroup group;
  const char *prompt;
  int columns;
  unsigned align;
  // --help: the option's value, and what the option sets.
  const char *valueName;
  const char *usage;

  // A field of the Tuning group, whose initial text is the settings
  // template's.
  constexpr bool tuning() const { return group == FormGroup::kTuning; }
};

// clang-format off
inline constexpr FormField kFormFields[] = {
  {Field::kKind, FieldType::kKind, "--full", "kind", "Installation", nullptr, nullptr,
   0, false, 0, nullptr, &kInstallationHelp,
   FormGroup::kInstallation, nullptr, 0, 0,
   nullptr, "installation kind (default: --user)"},
  {Field::kKernel, FieldType::kText, "--kernel", "kernel", "VELORIX directory", "Paths", "KERNEL",
   kFieldLimit, false,
   kRefusesShellText | kRefusesLineBreakMark | kRefusesEmptyMark | kRefusesReferences,
   "", &kDirectoryHelp,
   FormGroup::kDirectory, "VELORIX directory", kFieldColumns, kAlignColumn | kAlignRightEdge,
   "DIR", "VELORIX directory (default for --full: the current directory; --user needs it)"},
  {Field::kInclude, FieldType::kText, "--include", "include", "C compiler: Include",
   "Compiler", "INCLUDE", kFieldLimit, true, kRefusesMarks, "", &kCCompilerHelp,
   FormGroup::kCCompiler, "Include", kFieldColumns, kAlignColumn,
   "TEXT", "C compiler include options"},
  {Field::kLibraries, FieldType::kText, "--libs", "libs", "C compiler: Libraries",
   "Compiler", "LIB", kFieldLimit, true, kRefusesMarks, "-lc -lm", &kCCompilerHelp,
   FormGroup::kCCompiler, "Libraries", kFieldColumns, kAlignColumn,
   "TEXT", "C compiler libraries"},
  {Field::kCppName, FieldType::kText, "--cpp-name", "cpp-name", "C++ compiler: Name",
   "Compiler", "CPPNAME", kFieldLimit, true, kRefusesMarks, "c++", &kCppCompilerHelp,
   FormGroup::kCppCompiler, "Name", kFieldColumns, kAlignColumn,
   "TEXT", "C++ compiler"},
  // The leading blank is part of the initial text.
  {Field::kCppOptions, FieldType::kText, "--cpp-options", "cpp-options", "C++ compiler: Options",
   "Compiler", "CPPLIB", kCppOptionsLimit, true, kRefusesMarks, " -O2 -fPIC -lc -lm",
   &kCppCompilerHelp,
   FormGroup::kCppCompiler, "Options", kFieldColumns, kAlignColumn,
   "TEXT", "C++ compiler options"},
  {Field::kPrinter, FieldType::kText, "--printer", "printer", "Printer command",
   "Visual", "HCPRINTER", kFieldLimit, false, kRefusesMarks, nullptr, &kPrinterHelp,
   FormGroup::kTuning, "Printer command", kFieldColumns, kAlignColumn,
   "TEXT", "printer command"},
  {Field::kPreviewer, FieldType::kText, "--previewer", "previewer", "PostScript previewer",
   "Visual", "HCVIEWER", kFieldLimit, false, kRefusesMarks, nullptr, &kPreviewerHelp,
   FormGroup::kTuning, "PostScript previewer", kFieldColumns, kAlignColumn,
   "TEXT", "PostScript previewer"},
  {Field::kDifferentiator, FieldType::kText, "--differentiator", "differentiator",
   "External differentiator", "Compiler", "EXTDIFF", kFieldLimit, false, kRefusesMarks, nullptr,
   &kDifferentiatorHelp,
   FormGroup::kTuning, "External differentiator", kFieldColumns, kAlignColumn,
   "TEXT", "external differentiator"},
  {Field::kShellStyle, FieldType::kShellStyle, "--shell-style", "shell-style", "Shell style",
   nullptr, nullptr, 0, true, 0, nullptr, &kShellHelp,
   FormGroup::kShellStyle, nullptr, 0, 0,
   nullptr, "style of the compile script (default: from SHELL and shells.vel, as the window "
   "detects it)"},
  {Field::kShellPath, FieldType::kText, "--shell-path", "shell-path", "Shell path",
   nullptr, nullptr, kShellPathLimit, true, 0, nullptr, &kShellHelp,
   FormGroup::kShellPath, nullptr, kNarrowColumns, kAlignRightEdge,
   "TEXT", "shell line of the compile script (default: SHELL and the style's options)"},
  {Field::kNotify, FieldType::kYesNo, "--notify", "notify", "Registration", nullptr, nullptr,
   0, false, 0, nullptr, nullptr,
   FormGroup::kRegistration, nullptr, 0, kAlignRightEdge,
   nullptr, "send the installation notice mail to the authors"},
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
    n += field.tuning() ? 1 : 0;
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
    if (field.tuning()) rows[n++] = &field;
  }
  return rows;
}
inline constexpr AdjustTable Adjust = tuningFields();

// Whether a group holds only fields that a Full installation alone uses:
// the window enables or shows it for Full alone.
constexpr bool GroupFullOnly(FormGroup group) {
  bool any = false;
  for (const FormField &field : kFormFields) {
    if (field.group != group) continue;
    if (!field.fullOnly) return false;
    any = true;
  }
  return any;
}

// The installation switch's values: the 1-based radio button number; and
// the kinds' names, in that order.
constexpr int kFullValue = 1;
constexpr int kUserValue = 2;
inline constexpr const char *kKindNames[] = {"Full", "User"};

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
  // The site defaults file the starting texts came from; empty when none
  // was read.
  std::string siteDefaults;

  // Where an answer file gave a text ("FILE:LINE"), with the text given
  // there: a refusal of the field names that line for as long as the field
  // still holds that text.
  struct Origin {
    std::string where;
    std::string text;
  };
  std::array<std::optional<Origin>, kFieldCount> origins;

  bool has(Field field) const { return texts[static_cast<std::size_t>(field)].has_value(); }
  // "FILE:LINE" of the answer file that gave the text field holds; empty
  // when the text came from elsewhere or was changed since.
  std::string origin(Field field) const;
  // The text of field; empty when the form has no such field.
  const std::string &text(Field field) const;
  // The text of field, made present.
  std::string &text(Field field);
};

// The row whose option (without a value) is name, or nullptr.
const FormField *FieldByOption(const std::string &name);
// The row whose answer-file key is name, or nullptr.
const FormField *FieldByAnswerKey(const std::string &name);

#endif
