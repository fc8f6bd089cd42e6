/*
 * window.cc - builds the Setup window and runs the event loop.
 *
 * RunSetupWindow makes every control once, top to bottom: the directory
 * row, the C and C++ compiler groups, the Tuning group (its fields found in
 * the settings template), the switch row (installation, shell style, shell
 * path), the Registration group with the notice preview, and the button
 * row; it then aligns the fields, shows the window and hands over to
 * Vibrant's event loop.  The controls' actions live in window_actions.cc;
 * the handles and tables in tables.cc.
 */
#include <cstdlib>

#include "form_defaults.h"
#include "help.h"
#include "notice_preview.h"
#include "shell_detection.h"
#include "templates.h"
#include "tuning_fields.h"
#include "window.h"

namespace {

const char *const kWindowTitle = "velorix 1.5 setup";
// Negative placement centres the window: Vibrant puts it at that
// percentage of the free screen space.
constexpr Nlm_Int2 kCentred = -50;
// Negative size: sized to fit its contents with 10-pixel margins.
constexpr Nlm_Int2 kFitWithMargin = -10;
constexpr Nlm_Int2 kFieldChars = 25;     // width of the form's text fields
constexpr Nlm_Int2 kShellPathChars = 1;  // widened by the alignment
constexpr Nlm_Int2 kFormColumns = 2;     // prompt and field
constexpr Nlm_Int2 kSwitchRowColumns = 5;
constexpr Nlm_Int2 kButtonRowColumns = 3;
constexpr int kButtonGaps = 3;      // before, between and after the buttons
constexpr Nlm_Int2 kUserValue = 2;  // the installation switch's "User"
constexpr Nlm_Int2 kFullValue = 1;

struct Spacing {
  Nlm_Int2 h;  // half the standard character width
  Nlm_Int2 v;  // half the standard font height
};

// Vibrant copies every title it is given but declares it writable.
Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

void SetMarginsAndSpacing(Nlm_GrouP group, Spacing s) {
  Nlm_SetGroupMargins(group, s.h, s.v);
  Nlm_SetGroupSpacing(group, s.h, s.v);
}

// A field's label, as high as a dialog text so that the two line up.
void FieldPrompt(Nlm_GrouP group, const char *label) {
  Nlm_StaticPrompt(group, Title(label), 0, Nlm_dialogTextHeight, Nlm_systemFont, 'l');
}

Nlm_TexT Field(Nlm_GrouP group, const char *label, const char *initial,
               Nlm_TxtActnProc action = nullptr) {
  FieldPrompt(group, label);
  return Nlm_DialogText(group, Title(initial), kFieldChars, action);
}

Nlm_GrouP FormGroup(Nlm_WindoW window, const char *title, Spacing s) {
  Nlm_GrouP group = Nlm_NormalGroup(window, kFormColumns, 0, Title(title), nullptr, nullptr);
  SetMarginsAndSpacing(group, s);
  return group;
}

// One field and one Help item per Adjust record whose key the settings
// template holds in the record's section.
void MakeTuningFields() {
  for (int i = 0; i < kAdjustRecords; ++i) {
    AdjustRecord &record = Adjust[i];
    record.field = nullptr;
    for (const char *value : TemplateValues(SetData, kSetDataLines, record.section, record.key)) {
      FieldPrompt(gAdjust, record.label);
      record.field = Nlm_DialogText(gAdjust, Title(value), kFieldChars, nullptr);
      record.help = Nlm_CommandItem(mAdjust, Title(record.label), HelpProc);
    }
  }
}

// Detects the shell style, selects it and fills the shell path field.
void ApplyShellDetection() {
  const ShellDetection detected = DetectShellStyle(kShellListFile, std::getenv("SHELL"));
  if (!detected.problem.empty()) Nlm_Message(MSG_OK, "%s", detected.problem.c_str());
  Nlm_SetValue(gShellStyle, static_cast<Nlm_Int2>(detected.style));
  ShellStyleProc(gShellStyle);
  if (Nlm_GetValue(gInst) != kFullValue) {
    Nlm_Hide(gShellStyle);
    Nlm_Hide(gShellPath);
  }
}

// Width of a button with this title, measured by making it and removing it.
Nlm_Int2 ButtonWidth(Nlm_GrouP row, const char *title) {
  Nlm_ButtoN probe = Nlm_PushButton(row, Title(title), nullptr);
  Nlm_RecT r;
  Nlm_GetPosition(probe, &r);
  Nlm_Remove(probe);
  return static_cast<Nlm_Int2>(r.right - r.left);
}

// The button row spreads "Setup" and "Cancel" over the directory row's
// width, with equal gaps before, between and after them.
void MakeButtonRow(Nlm_WindoW window, Nlm_GrouP directoryRow, Spacing s) {
  Nlm_RecT r;
  Nlm_GetPosition(directoryRow, &r);
  int room = r.right - r.left;
  gTerm = Nlm_HiddenGroup(window, kButtonRowColumns, 0, nullptr);
  room -= ButtonWidth(gTerm, "Setup");
  room -= ButtonWidth(gTerm, "Cancel");
  // Integer division truncates toward zero; a row narrower than the two
  // buttons (never with these widths) gets no gaps rather than negative ones.
  const Nlm_Int2 gap = static_cast<Nlm_Int2>(room > 0 ? room / kButtonGaps : 0);
  Nlm_SetGroupMargins(gTerm, gap, s.v);
  Nlm_SetGroupSpacing(gTerm, gap, s.v);
  Nlm_PushButton(gTerm, Title("Setup"), SetupProc);
  Nlm_PushButton(gTerm, Title("Cancel"), CancelProc);
}

// Each list ends at its first NULL handle, so a missing Tuning field or
// consent box simply shortens it.
void AlignControls() {
  for (int i = 0; i < kAdjustRecords; ++i) {
    Nlm_AlignObjects(ALIGN_JUSTIFY, static_cast<Nlm_Handle>(tKernel),
                     static_cast<Nlm_Handle>(tInclude), static_cast<Nlm_Handle>(tLib),
                     static_cast<Nlm_Handle>(tCppName), static_cast<Nlm_Handle>(tCppLib),
                     static_cast<Nlm_Handle>(Adjust[i].field), static_cast<Nlm_Handle>(nullptr));
  }
  Nlm_AlignObjects(ALIGN_RIGHT, static_cast<Nlm_Handle>(tKernel),
                   static_cast<Nlm_Handle>(tShellPath), static_cast<Nlm_Handle>(bReg),
                   static_cast<Nlm_Handle>(nullptr));
  Nlm_AlignObjects(ALIGN_LOWER, static_cast<Nlm_Handle>(gInst),
                   static_cast<Nlm_Handle>(gShellStyle), static_cast<Nlm_Handle>(gShellPath),
                   static_cast<Nlm_Handle>(nullptr));
}

}  // namespace

int RunSetupWindow(void) {
  // The notice's shell runs while the controls before the Registration
  // group are made: it is the slowest part of the start-up.
  StartNoticeCommand();
  const Spacing s{static_cast<Nlm_Int2>(Nlm_stdCharWidth >> 1),
                  static_cast<Nlm_Int2>(Nlm_stdFontHeight >> 1)};

  // The window has no close action: the program ends through "Cancel" or
  // through the installation.
  Nlm_WindoW window = Nlm_FixedWindow(kCentred, kCentred, kFitWithMargin, kFitWithMargin,
                                      Title(kWindowTitle), nullptr);
  Nlm_MenU help = Nlm_PulldownMenu(window, Title("Help"));

  Nlm_GrouP directoryRow = Nlm_HiddenGroup(window, kFormColumns, 0, nullptr);
  SetMarginsAndSpacing(directoryRow, s);
  tKernel = Field(directoryRow, "VELORIX directory", kInitialKernel, PathCheckProc);
  iKernel = Nlm_CommandItem(help, Title("VELORIX directory"), HelpProc);

  gC = FormGroup(window, "C compiler", s);
  tInclude = Field(gC, "Include", kInitialInclude);
  tLib = Field(gC, "Libraries", kInitialLibraries);
  iC = Nlm_CommandItem(help, Title("C compiler"), HelpProc);

  gCpp = FormGroup(window, "C++ compiler", s);
  tCppName = Field(gCpp, "Name", kInitialCppName);
  tCppLib = Field(gCpp, "Options", kInitialCppOptions);
  iCpp = Nlm_CommandItem(help, Title("C++ compiler"), HelpProc);

  gAdjust = FormGroup(window, "Tuning", s);
  mAdjust = Nlm_SubMenu(help, Title("Tuning"));
  MakeTuningFields();

  Nlm_GrouP switchRow = Nlm_HiddenGroup(window, kSwitchRowColumns, 0, nullptr);
  Nlm_SetGroupSpacing(switchRow, s.h, s.v);

  gInst = Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Installation"), nullptr, InstActnProc);
  SetMarginsAndSpacing(gInst, s);
  iInst = Nlm_CommandItem(help, Title("Installation"), HelpProc);
  Nlm_RadioButton(gInst, Title("Full"));
  Nlm_RadioButton(gInst, Title("User"));
  Nlm_SetValue(gInst, kUserValue);
  InstActnProc(gInst);

  gShellStyle =
      Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Shell style"), nullptr, ShellStyleProc);
  SetMarginsAndSpacing(gShellStyle, s);
  for (int i = 0; i < kShellRecords; ++i)
    Nlm_RadioButton(gShellStyle, Title(shells[i].name));

  gShellPath = Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Shell path"), nullptr, nullptr);
  Nlm_SetGroupMargins(gShellPath, s.h, s.v);
  tShellPath = Nlm_DialogText(gShellPath, Title(""), kShellPathChars, nullptr);
  iShell = Nlm_CommandItem(help, Title("Shell"), HelpProc);

  ApplyShellDetection();
  MakeNoticePreview(window, s.h, s.v);
  InstActnProc(gInst);  // now every control it switches exists
  MakeButtonRow(window, directoryRow, s);
  AlignControls();

  Nlm_Show(window);
  Nlm_ProcessEvents();
  return 0;
}
