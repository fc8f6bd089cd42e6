/*
 * window.cc - builds the Setup window and runs the event loop.
 *
 * RunSetupWindow first asks, when the command line says so, which
 * directory to set up (directory_chooser.c).  It then makes every control
 * once, top to bottom: the directory row, the C and C++ compiler groups,
 * the Tuning group (its fields found in the settings template), the switch
 * row (installation, shell style, shell path), the Registration group with
 * the notice preview, and the button row; it then aligns the fields, sets
 * up the keyboard (the caret in the product directory field, Return for
 * "Setup", Escape for "Cancel", Tab through every control in the order
 * they stand), places the window as the command line's X options ask,
 * shows it and hands over to Vibrant's event loop.  The controls' actions
 * live in window_actions.cc; the keyboard conventions and X resources that
 * Vibrant has no call for in motif_conventions.c.
 */
#include <array>
#include <cstdlib>
#include <vector>

#include "directory_chooser.h"
#include "exit_status.h"
#include "help.h"
#include "motif_conventions.h"
#include "notice_preview.h"
#include "form.h"
#include "templates.h"
#include "tuning_fields.h"
#include "window.h"

namespace {

const char *const kWindowTitle = "velorix 1.5 setup";
const char *const kChooserTitle = "velorix 1.5 setup: the directory to set up";
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
constexpr int kButtonGaps = 3;  // before, between and after the buttons

struct Spacing {
  Nlm_Int2 h;  // half the standard character width
  Nlm_Int2 v;  // half the standard font height
};

void setMarginsAndSpacing(Nlm_GrouP group, Spacing s) {
  Nlm_SetGroupMargins(group, s.h, s.v);
  Nlm_SetGroupSpacing(group, s.h, s.v);
}

// A field's label, as high as a dialog text so that the two line up.
void fieldPrompt(Nlm_GrouP group, const char *label) {
  Nlm_StaticPrompt(group, Title(label), 0, Nlm_dialogTextHeight, Nlm_systemFont, 'l');
}

Nlm_TexT field(Nlm_GrouP group, const char *label, const char *initial,
               Nlm_TxtActnProc action = nullptr) {
  fieldPrompt(group, label);
  return Nlm_DialogText(group, Title(initial), kFieldChars, action);
}

Nlm_GrouP formGroup(Nlm_WindoW window, const char *title, Spacing s) {
  Nlm_GrouP group = Nlm_NormalGroup(window, kFormColumns, 0, Title(title), nullptr, nullptr);
  setMarginsAndSpacing(group, s);
  return group;
}

// One field and one Help item per Adjust record whose key the settings
// template holds in the record's section.
void makeTuningFields(SetupControls &c) {
  for (std::size_t i = 0; i < kAdjustRecords; ++i) {
    const FormField &record = *Adjust[i];
    c.adjustField[i] = nullptr;
    for (const char *value : TemplateValues(SetData, kSetDataLines, record.section, record.key)) {
      fieldPrompt(c.gAdjust, record.label);
      c.adjustField[i] = Nlm_DialogText(c.gAdjust, Title(value), kFieldChars, nullptr);
      c.adjustHelp[i] = Nlm_CommandItem(c.mAdjust, Title(record.label), HelpProc);
    }
  }
}

// Selects the detected shell style and fills the shell path field; says
// what detection ran into.
void applyShellDetection(const SetupControls &c, const InstallForm &initial,
                         const Result &told) {
  if (!told.message().empty()) Nlm_Message(MSG_OK, "%s", told.message().c_str());
  Nlm_SetValue(c.gShellStyle, static_cast<Nlm_Int2>(initial.shellStyle));
  Nlm_SetTitle(c.tShellPath, Title(initial.text(Field::kShellPath).c_str()));
  if (Nlm_GetValue(c.gInst) != kFullValue) {
    Nlm_Hide(c.gShellStyle);
    Nlm_Hide(c.gShellPath);
  }
}

using ButtonMaker = Nlm_ButtoN (*)(Nlm_GrouP, Nlm_CharPtr, Nlm_BtnActnProc);

// Width of a button with this title, measured by making it and removing it.
Nlm_Int2 buttonWidth(Nlm_GrouP row, ButtonMaker make, const char *title) {
  Nlm_ButtoN probe = make(row, Title(title), nullptr);
  Nlm_RecT r;
  Nlm_GetPosition(probe, &r);
  Nlm_Remove(probe);
  return static_cast<Nlm_Int2>(r.right - r.left);
}

struct ButtonRow {
  Nlm_ButtoN setup = nullptr;
  Nlm_ButtoN cancel = nullptr;
};

// The button row spreads "Setup" and "Cancel" over the directory row's
// width, with equal gaps before, between and after them.  "Setup" is the
// default button: drawn as such, and pressed by Return in a text field.
ButtonRow makeButtonRow(SetupControls &c, Nlm_WindoW window, Nlm_GrouP directoryRow, Spacing s) {
  Nlm_RecT r;
  Nlm_GetPosition(directoryRow, &r);
  int room = r.right - r.left;
  c.gTerm = Nlm_HiddenGroup(window, kButtonRowColumns, 0, nullptr);
  room -= buttonWidth(c.gTerm, Nlm_DefaultButton, "Setup");
  room -= buttonWidth(c.gTerm, Nlm_PushButton, "Cancel");
  // Integer division truncates toward zero; a row narrower than the two
  // buttons (never with these widths) gets no gaps rather than negative ones.
  const Nlm_Int2 gap = static_cast<Nlm_Int2>(room > 0 ? room / kButtonGaps : 0);
  Nlm_SetGroupMargins(c.gTerm, gap, s.v);
  Nlm_SetGroupSpacing(c.gTerm, gap, s.v);
  ButtonRow row;
  row.setup = Nlm_DefaultButton(c.gTerm, Title("Setup"), SetupProc);
  row.cancel = Nlm_PushButton(c.gTerm, Title("Cancel"), CancelProc);
  return row;
}

// The radio buttons of the two switches, in the order they are made.
struct RadioButtons {
  Nlm_ButtoN full = nullptr, user = nullptr;
  std::array<Nlm_ButtoN, kShellRecords> styles{};
};

// Tab visits the controls in the order in which they stand, top to bottom
// and left to right, which is the order in which they are made.
void setTabOrder(const SetupControls &c, const RadioButtons &radio, const ButtonRow &buttons) {
  std::vector<Nlm_Handle> order = {c.tKernel, c.tInclude, c.tLib, c.tCppName, c.tCppLib};
  for (Nlm_TexT field : c.adjustField)
    order.push_back(field);
  order.push_back(radio.full);
  order.push_back(radio.user);
  for (Nlm_ButtoN style : radio.styles)
    order.push_back(style);
  order.push_back(c.tShellPath);
  order.push_back(c.bReg);
  order.push_back(buttons.setup);
  order.push_back(buttons.cancel);
  SetTabOrder(order.data(), static_cast<int>(order.size()));
}

// Each list ends at its first NULL handle, so a missing Tuning field or
// consent box simply shortens it.
void alignControls(const SetupControls &c) {
  for (std::size_t i = 0; i < kAdjustRecords; ++i) {
    Nlm_AlignObjects(ALIGN_JUSTIFY, static_cast<Nlm_Handle>(c.tKernel),
                     static_cast<Nlm_Handle>(c.tInclude), static_cast<Nlm_Handle>(c.tLib),
                     static_cast<Nlm_Handle>(c.tCppName), static_cast<Nlm_Handle>(c.tCppLib),
                     static_cast<Nlm_Handle>(c.adjustField[i]), static_cast<Nlm_Handle>(nullptr));
  }
  Nlm_AlignObjects(ALIGN_RIGHT, static_cast<Nlm_Handle>(c.tKernel),
                   static_cast<Nlm_Handle>(c.tShellPath), static_cast<Nlm_Handle>(c.bReg),
                   static_cast<Nlm_Handle>(nullptr));
  Nlm_AlignObjects(ALIGN_LOWER, static_cast<Nlm_Handle>(c.gInst),
                   static_cast<Nlm_Handle>(c.gShellStyle), static_cast<Nlm_Handle>(c.gShellPath),
                   static_cast<Nlm_Handle>(nullptr));
}

// Shows form's values in the controls, as the user would set them: the
// switches first, since each fills a field of its own.
void applyPreset(const SetupControls &c, const InstallForm &form) {
  Nlm_SetValue(c.gInst, static_cast<Nlm_Int2>(form.full ? kFullValue : kUserValue));
  InstActnProc(c.gInst);
  if (form.shellStyle >= 1 && form.shellStyle <= kShellRecords) {
    Nlm_SetValue(c.gShellStyle, static_cast<Nlm_Int2>(form.shellStyle));
    ShellStyleProc(c.gShellStyle);
  }
  for (const FormField &field : kFormFields) {
    Nlm_TexT control = TextControl(c, field.id);
    if (control != nullptr && form.has(field.id))
      Nlm_SetTitle(control, Title(form.text(field.id).c_str()));
  }
  if (c.bReg != nullptr) Nlm_SetStatus(c.bReg, form.noticeConsent ? TRUE : FALSE);
}

}  // namespace

SetupControls &Controls() {
  static SetupControls controls;
  return controls;
}

Nlm_TexT TextControl(const SetupControls &c, Field field) {
  switch (field) {
    case Field::kKernel:
      return c.tKernel;
    case Field::kInclude:
      return c.tInclude;
    case Field::kLibraries:
      return c.tLib;
    case Field::kCppName:
      return c.tCppName;
    case Field::kCppOptions:
      return c.tCppLib;
    case Field::kShellPath:
      return c.tShellPath;
    default:
      break;
  }
  for (std::size_t i = 0; i < kAdjustRecords; ++i) {
    if (Adjust[i]->id == field) return c.adjustField[i];
  }
  return nullptr;
}

WindowStart &Start() {
  static WindowStart start;
  return start;
}

void PrepareSetupWindow(WindowStart start) { Start() = std::move(start); }

SetupWindowResources TakeSetupWindowResources() {
  OwnResources taken;
  TakeOwnResources(&taken);
  SetupWindowResources own;
  if (taken.geometry != nullptr) own.geometry = taken.geometry;
  if (taken.title != nullptr) own.title = taken.title;
  own.iconic = taken.iconic;
  FreeOwnResources(&taken);
  return own;
}

int RunSetupWindow(const SetupWindowResources &own) {
  SetupControls &c = Controls();
  // Before the first message box, which may come while the window is made.
  FocusMessageBoxes();
  // Everything below works in the directory chosen.
  if (Start().chooseDirectory && !ChooseWorkingDirectory(kChooserTitle)) return kExitStopped;
  // The notice's shell runs while the controls before the Registration
  // group are made: it is the slowest part of the start-up.
  NoticePreviewCommand notice;
  notice.start();
  const Spacing s{static_cast<Nlm_Int2>(Nlm_stdCharWidth >> 1),
                  static_cast<Nlm_Int2>(Nlm_stdFontHeight >> 1)};

  // The close box does what "Cancel" does.
  Nlm_WindoW window =
      Nlm_FixedWindow(kCentred, kCentred, kFitWithMargin, kFitWithMargin,
                      Title(own.title ? own.title->c_str() : kWindowTitle), SetupCloseProc);
  Nlm_MenU help = Nlm_PulldownMenu(window, Title("Help"));

  Nlm_GrouP directoryRow = Nlm_HiddenGroup(window, kFormColumns, 0, nullptr);
  setMarginsAndSpacing(directoryRow, s);
  // The form as it starts; its shell style and path come from detection.
  Result told;
  const InstallForm initial = InitialForm(false, &told);
  auto initialText = [&initial](Field f) { return initial.text(f).c_str(); };

  c.tKernel = field(directoryRow, "VELORIX directory", initialText(Field::kKernel), PathCheckProc);
  c.iKernel = Nlm_CommandItem(help, Title("VELORIX directory"), HelpProc);

  c.gC = formGroup(window, "C compiler", s);
  c.tInclude = field(c.gC, "Include", initialText(Field::kInclude));
  c.tLib = field(c.gC, "Libraries", initialText(Field::kLibraries));
  c.iC = Nlm_CommandItem(help, Title("C compiler"), HelpProc);

  c.gCpp = formGroup(window, "C++ compiler", s);
  c.tCppName = field(c.gCpp, "Name", initialText(Field::kCppName));
  c.tCppLib = field(c.gCpp, "Options", initialText(Field::kCppOptions));
  c.iCpp = Nlm_CommandItem(help, Title("C++ compiler"), HelpProc);

  c.gAdjust = formGroup(window, "Tuning", s);
  c.mAdjust = Nlm_SubMenu(help, Title("Tuning"));
  makeTuningFields(c);

  Nlm_GrouP switchRow = Nlm_HiddenGroup(window, kSwitchRowColumns, 0, nullptr);
  Nlm_SetGroupSpacing(switchRow, s.h, s.v);

  c.gInst =
      Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Installation"), nullptr, InstActnProc);
  setMarginsAndSpacing(c.gInst, s);
  c.iInst = Nlm_CommandItem(help, Title("Installation"), HelpProc);
  RadioButtons radio;
  radio.full = Nlm_RadioButton(c.gInst, Title("Full"));
  radio.user = Nlm_RadioButton(c.gInst, Title("User"));
  Nlm_SetValue(c.gInst, kUserValue);
  InstActnProc(c.gInst);

  c.gShellStyle =
      Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Shell style"), nullptr, ShellStyleProc);
  setMarginsAndSpacing(c.gShellStyle, s);
  for (int i = 0; i < kShellRecords; ++i)
    radio.styles[i] = Nlm_RadioButton(c.gShellStyle, Title(shells[i].name));

  c.gShellPath = Nlm_NormalGroup(switchRow, kFormColumns, 0, Title("Shell path"), nullptr, nullptr);
  Nlm_SetGroupMargins(c.gShellPath, s.h, s.v);
  c.tShellPath = Nlm_DialogText(c.gShellPath, Title(""), kShellPathChars, nullptr);
  c.iShell = Nlm_CommandItem(help, Title("Shell"), HelpProc);

  applyShellDetection(c, initial, told);
  MakeNoticePreview(c, notice, window, s.h, s.v);
  InstActnProc(c.gInst);  // now every control it switches exists
  const ButtonRow buttons = makeButtonRow(c, window, directoryRow, s);
  alignControls(c);
  if (Start().preset) applyPreset(c, *Start().preset);
  setTabOrder(c, radio, buttons);
  SetEscapeButton(buttons.cancel);
  PlaceWindow(window, own.geometry ? own.geometry->c_str() : nullptr, own.iconic ? TRUE : FALSE);

  Nlm_Show(window);
  // Without a window manager nothing else gives the new window the
  // keyboard; with one, this is what it would do.
  Nlm_Select(window);
  Nlm_Select(c.tKernel);
  Nlm_ProcessEvents();
  return Cancelled() ? kExitStopped : kExitDone;
}
