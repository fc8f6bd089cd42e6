/*
 * window.cc - builds the Setup window from the form's table and runs the
 * event loop.
 *
 * RunSetupWindow first asks, when the command line says so, which
 * directory to set up (directory_chooser.c).  It then makes every control
 * once, group by group as kFormGroups lists them and field by field as
 * kFormFields does: each group's frame, the prompt and control of each of
 * its fields, its Help item; the Registration group with the notice
 * preview; the button row, and the status line below it.  The alignment,
 * the Tab order and what only a Full installation enables all come from
 * the table's columns.  It then sets up the keyboard (the caret in the
 * product directory field, Return for "Setup", Escape for "Cancel", Tab
 * through every control in the order they stand), places the window as the
 * command line's X options ask, shows it and hands over to Vibrant's event
 * loop.  The controls' actions live in window_actions.cc and
 * setup_action.cc; the keyboard conventions and X resources that Vibrant
 * has no call for in motif_conventions.c.
 */
#include <array>
#include <cstdlib>
#include <vector>

#include "directory_chooser.h"
#include "exit_status.h"
#include "form.h"
#include "message_box.h"
#include "initial_form.h"
#include "help.h"
#include "motif_conventions.h"
#include "notice_preview.h"
#include "window.h"

namespace {

const char *const kWindowTitle = "velorix 1.5 setup";
const char *const kChooserTitle = "velorix 1.5 setup: the directory to set up";
const char *const kSetupButton = "Setup";
const char *const kCancelButton = "Cancel";
// Negative placement centres the window: Vibrant puts it at that
// percentage of the free screen space.
constexpr Nlm_Int2 kCentred = -50;
// Negative size: sized to fit its contents with 10-pixel margins.
constexpr Nlm_Int2 kFitWithMargin = -10;
constexpr Nlm_Int2 kFormColumns = 2;  // prompt and field
constexpr Nlm_Int2 kSwitchRowColumns = 5;
constexpr Nlm_Int2 kButtonRowColumns = 3;
constexpr int kButtonGaps = 3;  // before, between and after the buttons
// Nlm_AlignObjects takes its controls as arguments ending with NULL.
constexpr std::size_t kMostAligned = 12;

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

// Aligns the controls as mode says; the list ends at its first NULL.
void align(int mode, const std::vector<Nlm_Handle> &controls) {
  std::array<Nlm_Handle, kMostAligned + 1> h{};
  for (std::size_t i = 0; i < controls.size() && i < kMostAligned; ++i)
    h[i] = controls[i];
  Nlm_AlignObjects(mode, h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10],
                   h[11], h[12]);
}

// The action of a switch's group, by the field it holds.
Nlm_GrpActnProc switchAction(FieldType type) {
  switch (type) {
    case FieldType::kKind:
      return InstActnProc;
    case FieldType::kShellStyle:
      return ShellStyleProc;
    default:
      return nullptr;
  }
}

// What building the window keeps between groups.
struct Builder {
  SetupControls &c;
  Nlm_WindoW window;
  Nlm_MenU help;
  Spacing s;
  const InstallForm &initial;
  Nlm_GrouP switchRow = nullptr;
  // The controls in the order in which they stand, for Tab.
  std::vector<Nlm_Handle> tabOrder;
};

// The frame of a group: a row or a box in the window, or a box in the
// row of switches.
Nlm_GrouP makeFrame(Builder &b, const GroupRow &group, FieldType firstType) {
  switch (group.frame) {
    case GroupFrame::kRow: {
      Nlm_GrouP row = Nlm_HiddenGroup(b.window, kFormColumns, 0, nullptr);
      setMarginsAndSpacing(row, b.s);
      return row;
    }
    case GroupFrame::kBox: {
      Nlm_GrouP box =
          Nlm_NormalGroup(b.window, kFormColumns, 0, Title(group.title), nullptr, nullptr);
      setMarginsAndSpacing(box, b.s);
      return box;
    }
    case GroupFrame::kSwitch: {
      if (b.switchRow == nullptr) {
        b.switchRow = Nlm_HiddenGroup(b.window, kSwitchRowColumns, 0, nullptr);
        Nlm_SetGroupSpacing(b.switchRow, b.s.h, b.s.v);
      }
      Nlm_GrouP box = Nlm_NormalGroup(b.switchRow, kFormColumns, 0, Title(group.title), nullptr,
                                      switchAction(firstType));
      setMarginsAndSpacing(box, b.s);
      return box;
    }
    case GroupFrame::kNotice:
      break;
  }
  return nullptr;
}

// The controls of one field in its group.
void makeField(Builder &b, Nlm_GrouP group, const FormField &field) {
  SetupControls &c = b.c;
  Nlm_Handle &control = c.field[static_cast<std::size_t>(field.id)];
  switch (field.type) {
    case FieldType::kText: {
      // A Tuning field whose key the settings template lacks is no field.
      if (!b.initial.has(field.id)) return;
      if (field.prompt != nullptr) fieldPrompt(group, field.prompt);
      // A field that refuses what a shell reads is cleaned as it is typed.
      const Nlm_TxtActnProc action =
          (field.refuses & kRefusesShellText) != 0 ? PathCheckProc : nullptr;
      Nlm_TexT text = Nlm_DialogText(group, Title(b.initial.text(field.id).c_str()),
                                     static_cast<Nlm_Int2>(field.columns), action);
      control = text;
      b.tabOrder.push_back(text);
      if (GroupOf(field.group).perField)
        c.fieldHelp[static_cast<std::size_t>(field.id)] =
            Nlm_CommandItem(c.mAdjust, Title(field.prompt), HelpProc);
      return;
    }
    case FieldType::kKind:
      for (const char *kind : kKindNames)
        b.tabOrder.push_back(Nlm_RadioButton(group, Title(kind)));
      Nlm_SetValue(group, static_cast<Nlm_Int2>(b.initial.full ? kFullValue : kUserValue));
      control = group;
      return;
    case FieldType::kShellStyle:
      for (int style = 1; style <= kShellRecords; ++style)
        b.tabOrder.push_back(Nlm_RadioButton(group, Title(ShellStyleName(style))));
      Nlm_SetValue(group, static_cast<Nlm_Int2>(b.initial.shellStyle));
      control = group;
      return;
    case FieldType::kYesNo:
      return;  // the notice preview's
  }
}

// One group of the form: its frame, its fields, its Help item.
void makeGroup(Builder &b, const GroupRow &group, NoticePreviewCommand &notice) {
  SetupControls &c = b.c;
  const std::size_t index = static_cast<std::size_t>(group.id);
  if (group.frame == GroupFrame::kNotice) {
    MakeNoticePreview(c, notice, b.window, b.s.h, b.s.v);
    if (c.of(Field::kNotify) != nullptr) b.tabOrder.push_back(c.of(Field::kNotify));
    return;
  }
  FieldType firstType = FieldType::kText;
  for (const FormField &field : kFormFields) {
    if (field.group == group.id) {
      firstType = field.type;
      break;
    }
  }
  c.group[index] = makeFrame(b, group, firstType);
  if (group.helpItem != nullptr && group.perField)
    c.mAdjust = Nlm_SubMenu(b.help, Title(group.helpItem));
  for (const FormField &field : kFormFields) {
    if (field.group == group.id) makeField(b, c.group[index], field);
  }
  if (group.helpItem != nullptr && !group.perField)
    c.groupHelp[index] = Nlm_CommandItem(b.help, Title(group.helpItem), HelpProc);
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

// The button row spreads "Setup" and "Cancel" over the first group's
// width, with equal gaps before, between and after them.  "Setup" is the
// default button: drawn as such, and pressed by Return in a text field.
ButtonRow makeButtonRow(SetupControls &c, Nlm_WindoW window, Nlm_GrouP firstRow, Spacing s) {
  Nlm_RecT r;
  Nlm_GetPosition(firstRow, &r);
  int room = r.right - r.left;
  c.gTerm = Nlm_HiddenGroup(window, kButtonRowColumns, 0, nullptr);
  room -= buttonWidth(c.gTerm, Nlm_DefaultButton, kSetupButton);
  room -= buttonWidth(c.gTerm, Nlm_PushButton, kCancelButton);
  // Integer division truncates toward zero; a row narrower than the two
  // buttons (never with these widths) gets no gaps rather than negative ones.
  const Nlm_Int2 gap = static_cast<Nlm_Int2>(room > 0 ? room / kButtonGaps : 0);
  Nlm_SetGroupMargins(c.gTerm, gap, s.v);
  Nlm_SetGroupSpacing(c.gTerm, gap, s.v);
  ButtonRow row;
  row.setup = Nlm_DefaultButton(c.gTerm, Title(kSetupButton), SetupProc);
  row.cancel = Nlm_PushButton(c.gTerm, Title(kCancelButton), CancelProc);
  c.setupButton = row.setup;
  c.cancelButton = row.cancel;
  return row;
}

// The two status lines below the buttons: from where the first group's
// prompts start to the right edge of the widest group.  Made once the
// groups are aligned, which widens them.
void makeStatusLine(SetupControls &c, Nlm_WindoW window, Spacing s) {
  Nlm_RecT first;
  Nlm_GetPosition(c.group[0], &first);
  Nlm_Int2 right = first.right;
  for (const Nlm_GrouP group : c.group) {
    if (group == nullptr) continue;
    Nlm_RecT r;
    Nlm_GetPosition(group, &r);
    if (r.right > right) right = r.right;
  }
  Nlm_GrouP line = Nlm_HiddenGroup(window, 1, 0, nullptr);
  setMarginsAndSpacing(line, s);
  const auto width = static_cast<Nlm_Int2>(right - first.left - 2 * s.h);
  c.status = Nlm_StaticPrompt(line, Title(""), width, 0, Nlm_systemFont, 'l');
  c.statusMore = Nlm_StaticPrompt(line, Title(""), width, 0, Nlm_systemFont, 'l');
}

// The alignment the table's columns ask for: the column of text fields
// justified (each Tuning field with the others in turn), the right edges
// so marked, and the switches' boxes at one bottom line.
void alignControls(const SetupControls &c) {
  std::vector<Nlm_Handle> column, tuning, rightEdge, switches;
  for (const FormField &field : kFormFields) {
    const Nlm_Handle control = c.of(field.id);
    if (control == nullptr) continue;
    if ((field.align & kAlignColumn) != 0) (field.tuning() ? tuning : column).push_back(control);
    if ((field.align & kAlignRightEdge) != 0) rightEdge.push_back(control);
  }
  for (const GroupRow &group : kFormGroups) {
    if (group.frame == GroupFrame::kSwitch) switches.push_back(c.of(group.id));
  }
  if (tuning.empty()) align(ALIGN_JUSTIFY, column);
  for (const Nlm_Handle field : tuning) {
    std::vector<Nlm_Handle> both = column;
    both.push_back(field);
    align(ALIGN_JUSTIFY, both);
  }
  align(ALIGN_RIGHT, rightEdge);
  align(ALIGN_LOWER, switches);
}

// Shows form's values in the controls, as the user would set them: the
// switches first, since each fills a field of its own.
void applyPreset(const SetupControls &c, const InstallForm &form) {
  const auto kind = static_cast<Nlm_GrouP>(c.of(Field::kKind));
  Nlm_SetValue(kind, static_cast<Nlm_Int2>(form.full ? kFullValue : kUserValue));
  InstActnProc(kind);
  if (form.shellStyle >= 1 && form.shellStyle <= kShellRecords) {
    const auto style = static_cast<Nlm_GrouP>(c.of(Field::kShellStyle));
    Nlm_SetValue(style, static_cast<Nlm_Int2>(form.shellStyle));
    ShellStyleProc(style);
  }
  for (const FormField &field : kFormFields) {
    Nlm_TexT control = TextControl(c, field.id);
    if (control != nullptr && form.has(field.id))
      Nlm_SetTitle(control, Title(form.text(field.id).c_str()));
  }
  if (c.of(Field::kNotify) != nullptr)
    Nlm_SetStatus(static_cast<Nlm_ButtoN>(c.of(Field::kNotify)),
                  form.noticeConsent ? TRUE : FALSE);
}

}  // namespace

WindowStart &Start() {
  static WindowStart start;
  return start;
}

std::string &StartingSiteDefaults() {
  static std::string file;
  return file;
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
  // The form as it starts; its shell style and path come from detection.
  Result told;
  const InstallForm initial = InitialForm(false, &told);
  StartingSiteDefaults() = initial.siteDefaults;
  Builder b{c, window, Nlm_PulldownMenu(window, Title("Help")), s, initial, nullptr, {}};
  for (const GroupRow &group : kFormGroups)
    makeGroup(b, group, notice);
  ShowResult(told);
  // Now that every control it switches exists.
  InstActnProc(static_cast<Nlm_GrouP>(c.of(Field::kKind)));
  const ButtonRow buttons = makeButtonRow(c, window, c.group[0], s);
  alignControls(c);
  makeStatusLine(c, window, s);
  if (Start().preset) applyPreset(c, *Start().preset);
  ShowSettingUp();
  b.tabOrder.push_back(buttons.setup);
  b.tabOrder.push_back(buttons.cancel);
  SetTabOrder(b.tabOrder.data(), static_cast<int>(b.tabOrder.size()));
  SetEscapeButton(buttons.cancel);
  PlaceWindow(window, own.geometry ? own.geometry->c_str() : nullptr, own.iconic ? TRUE : FALSE);

  Nlm_Show(window);
  // Without a window manager nothing else gives the new window the
  // keyboard; with one, this is what it would do.
  Nlm_Select(window);
  Nlm_Select(TextControl(c, Field::kKernel));
  Nlm_ProcessEvents();
  return Cancelled() ? kExitStopped : kExitDone;
}
