/*
 * window_actions.cc - the actions of the Setup window's controls: the
 * installation switch, the shell style switch, the product directory
 * check, "Cancel" and the close box.
 */
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "form.h"
#include "message_box.h"
#include "setting_up.h"
#include "utility.h"
#include "raii.h"
#include "window.h"

namespace {

bool cancelled = false;

// Longer than any status line the window shows, so that a changed line
// never reads back as the one shown.
constexpr std::size_t kPromptRead = 8192;

void setEnabled(Nlm_Handle control, bool enabled) {
  if (control == nullptr) return;  // not made yet, or never
  if (enabled) {
    Nlm_Enable(control);
  } else {
    Nlm_Disable(control);
  }
}

void setShown(Nlm_Handle control, bool shown) {
  if (control == nullptr) return;
  if (shown) {
    Nlm_Show(control);
  } else {
    Nlm_Hide(control);
  }
}

// Puts the working directory into the product directory field, as
// choosing Full does; says why when it cannot, and leaves the field as the
// user had it.
void fillKernel() {
  Nlm_TexT field = TextControl(Controls(), Field::kKernel);
  if (field == nullptr) return;
  InstallForm form;
  const Result chosen = ChooseKind(form, true);
  ShowResult(chosen);
  if (form.has(Field::kKernel)) Nlm_SetTitle(field, Title(form.text(Field::kKernel).c_str()));
}

// The whole text of a field.
std::string fieldText(Nlm_TexT field) {
  const std::size_t length = Nlm_TextLength(field);
  vx::MemBlock text(static_cast<char *>(Nlm_MemGet(length + 1, MGET_CLEAR)));
  if (!text) return {};
  Nlm_GetTitle(field, text.get(), length + 1);
  return text.get();
}

// The text of a prompt.
std::string promptText(Nlm_PrompT prompt) {
  std::array<char, kPromptRead> text{};
  Nlm_GetTitle(prompt, text.data(), text.size());
  return text.data();
}

// Takes out of a path field the first character it refuses, with a beep.
void refusePathCharacter(Nlm_TexT t) {
  const std::size_t length = Nlm_TextLength(t);
  vx::MemBlock text(static_cast<char *>(Nlm_MemGet(length + 1, MGET_CLEAR)));
  if (!text) return;  // no memory: leave the field alone this time
  Nlm_GetTitle(t, text.get(), length + 1);
  std::size_t position = 0;
  while (text.get()[position] != '\0' && !IsRefusedPathCharacter(text.get()[position]))
    ++position;
  if (text.get()[position] == '\0') return;
  Nlm_Beep();
  char *refused = text.get() + position;
  std::memmove(refused, refused + 1, std::strlen(refused + 1) + 1);
  Nlm_SetTitle(t, text.get());
  // Writing the text back moves the caret to the start; put it back where
  // the refused character was, so that typing goes on in place.
  const auto caret = static_cast<Nlm_Int4>(position);
  Nlm_SelectText(t, caret, caret);
}

}  // namespace

void ShowSettingUp() {
  const SetupControls &c = Controls();
  if (c.status == nullptr) return;
  InstallForm form;
  const auto kind = static_cast<Nlm_GrouP>(c.of(Field::kKind));
  form.full = kind != nullptr && Nlm_GetValue(kind) == kFullValue;
  if (const Nlm_TexT kernel = TextControl(c, Field::kKernel); kernel != nullptr)
    form.text(Field::kKernel) = fieldText(kernel);
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  const std::array<std::string, 2> lines =
      error ? std::array<std::string, 2>{} : SettingUpLines(form, here);
  // Set only when it changes: each keystroke in the product directory
  // field comes here.
  const auto show = [](Nlm_PrompT line, const std::string &text) {
    if (line != nullptr && promptText(line) != text) Nlm_SetTitle(line, Title(text.c_str()));
  };
  show(c.status, lines[0]);
  show(c.statusMore, lines[1]);
}

// What only a Full installation uses is enabled (a box of fields) or
// shown (a switch) for Full alone, its Help item with it.
void InstActnProc(Nlm_GrouP g) {
  const SetupControls &c = Controls();
  const bool full = Nlm_GetValue(g) == kFullValue;
  if (full) fillKernel();
  for (const GroupRow &group : kFormGroups) {
    if (!GroupFullOnly(group.id)) continue;
    const std::size_t index = static_cast<std::size_t>(group.id);
    if (group.frame == GroupFrame::kSwitch) {
      setShown(c.group[index], full);
    } else {
      setEnabled(c.group[index], full);
    }
    setEnabled(c.groupHelp[index], full);
  }
  ShowSettingUp();
}

void ShellStyleProc(Nlm_GrouP g) {
  const int style = Nlm_GetValue(g);
  Nlm_TexT field = TextControl(Controls(), Field::kShellPath);
  if (style < 1 || style > kShellRecords || field == nullptr) return;
  std::string path;
  const Result detected = DetectShellPath(style, &path);
  ShowResult(detected);
  Nlm_SetTitle(field, Title(path.c_str()));
}

// The whole text is checked, however long: a block sized to it is read, so
// nothing is cut when the text is written back.  The status line follows
// the product directory.
void PathCheckProc(Nlm_TexT t) {
  refusePathCharacter(t);
  ShowSettingUp();
}

// While "Setup" works, "Cancel" can be pressed only during the compile,
// and it stops that; otherwise it ends the program.
void CancelProc(Nlm_ButtoN) {
  const Nlm_ButtoN cancel = Controls().cancelButton;
  // The close box (SetupCloseProc) comes here while "Cancel" is disabled.
  if (cancel != nullptr && !Nlm_Enabled(cancel)) return;
  SetupWork &work = CurrentWork();
  if (work.underway) {
    work.stopAsked = true;
    return;
  }
  cancelled = true;
  Nlm_QuitProgram();
}

// Does what "Cancel" does while it can be pressed: while the installation
// runs, that is only during the compile; the rest of the work is not cut
// off halfway.
void SetupCloseProc(Nlm_WindoW) { CancelProc(nullptr); }

bool Cancelled() { return cancelled; }

SetupWork &CurrentWork() {
  static SetupWork work;
  return work;
}
