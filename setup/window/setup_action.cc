/*
 * setup_action.cc - the action of the "Setup" button.
 *
 * SetupProc reads the form into the record that the procedure works on
 * and runs it as every frontend does (session.h), through actions of the
 * window's own (WindowActions) that show what the run is at: the busy
 * cursor over the window, each step in the status line below the buttons,
 * the window drawn while the compile runs, and "Cancel" enabled for the
 * compile alone, to stop it.  "Setup" stays disabled throughout.  Then it
 * either ends the program (from the desktop menu, after a message box
 * that sums the installation up) or gives the form back to the user, with
 * the caret in the field that a refusal was about, its text selected.
 * Before the run, each file that it would replace although its user
 * changed it since the last installation is asked about in a Yes/No box:
 * Yes (Return) takes the new one, No keeps the user's.
 */
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "actions.h"
#include "real_actions.h"
#include "form.h"
#include "hand_edited.h"
#include "install_record.h"
#include "message_box.h"
#include "motif_conventions.h"
#include "product_files.h"
#include "run_window.h"
#include "session.h"
#include "window.h"

namespace {

// One character more than a field may hold, so that an over-long text
// reaches the procedure over-long and is refused there, never cut here.
constexpr std::size_t kReadLimit = kFieldLimit + 1;

std::string readField(Nlm_TexT field) {
  if (field == nullptr) return {};
  std::vector<char> buffer(kReadLimit + 1, '\0');
  Nlm_GetTitle(field, buffer.data(), buffer.size());
  return std::string(buffer.data(), strnlen(buffer.data(), kReadLimit));
}

InstallForm readForm() {
  const SetupControls &c = Controls();
  InstallForm form;
  for (const FormField &field : kFormFields) {
    Nlm_TexT control = TextControl(c, field.id);
    if (control != nullptr) form.text(field.id) = readField(control);
  }
  const auto kind = static_cast<Nlm_GrouP>(c.of(Field::kKind));
  const auto style = static_cast<Nlm_GrouP>(c.of(Field::kShellStyle));
  const auto consent = static_cast<Nlm_ButtoN>(c.of(Field::kNotify));
  form.full = kind != nullptr && Nlm_GetValue(kind) == kFullValue;
  form.shellStyle = style != nullptr ? Nlm_GetValue(style) : 1;
  form.noticeBoxExists = consent != nullptr;
  form.noticeConsent = consent != nullptr && Nlm_GetStatus(consent);
  // The user changed what the window detected, or the preset gave it.
  const std::optional<InstallForm> &preset = Start().preset;
  form.shellStyleGiven =
      (preset && preset->shellStyleGiven) || form.shellStyle != DetectedShellStyle();
  std::string detected;  // empty when none can be
  if (form.shellStyle >= 1 && form.shellStyle <= kShellRecords)
    (void)DetectShellPath(form.shellStyle, &detected);
  form.shellPathGiven =
      (preset && preset->shellPathGiven) || form.text(Field::kShellPath) != detected;
  form.siteDefaults = preset ? preset->siteDefaults : StartingSiteDefaults();
  return form;
}

// Shows step in the status line at once, and lets the window draw it.
void showStatus(const std::string &step) {
  const SetupControls &c = Controls();
  if (c.status == nullptr) return;
  Nlm_SetTitle(c.status, Title(step.c_str()));
  if (c.statusMore != nullptr) Nlm_SetTitle(c.statusMore, Title(""));
  Nlm_Update();
  ProcessEventsWhileBusy(c.cancelButton);
}

// Hands every action on to the real ones, and shows the run in the window.
class WindowActions : public ForwardingActions {
 public:
  explicit WindowActions(RealActions &real) : ForwardingActions(real) {
    real.whileCompiling([] {
      ProcessEventsWhileBusy(Controls().cancelButton);
      return !CurrentWork().stopAsked;
    });
  }

  // A message that lists files missing from the product directory lists
  // them on the standard error of the terminal the window was started from
  // as well, for the box keeps its words.
  void show(const std::string &text, const MessageSubject &about) override {
    lastFields_ = about.fields;
    ShowInBox(text, about);
  }

  // The status line said it while the form waited: no box, but the
  // terminal the window was started from gets it whole.
  void advise(const std::string &text, const MessageSubject &about) override {
    std::fprintf(stderr, "velorix-setup: %s\n%s", text.c_str(),
                 MissingFilesText(about.missing).c_str());
    std::fflush(stderr);
  }

  void progress(const std::string &step) override { showStatus(step); }

  // Only the compile takes long enough to be worth stopping, and stopping
  // it leaves nothing half-done: "Cancel" is for it alone.
  Result take(const FileStep &step) override {
    if (step.kind != StepKind::kCompile) return ForwardingActions::take(step);
    const Nlm_ButtoN cancel = Controls().cancelButton;
    CurrentWork().stopAsked = false;
    Nlm_Enable(cancel);
    Result compiled = ForwardingActions::take(step);
    Nlm_Disable(cancel);
    return compiled;
  }

  // The fields the last message shown was about: when it stopped the run,
  // the ones to put right.
  const std::vector<Field> &lastFields() const { return lastFields_; }

 private:
  std::vector<Field> lastFields_;
};

// Gives the keyboard to the first of fields that the window shows as an
// enabled text field, with its whole text selected, so that typing
// replaces what was refused.
void focusField(const std::vector<Field> &fields) {
  for (const Field field : fields) {
    const Nlm_TexT text = TextControl(Controls(), field);
    if (text == nullptr || !Nlm_AllParentsEnabled(text) || !Nlm_Enabled(text)) continue;
    Nlm_Select(text);
    Nlm_SelectText(text, 0, static_cast<Nlm_Int4>(Nlm_TextLength(text)));
    return;
  }
}

// The question about a file changed by hand, with the words of the
// terminal's.
std::string handEditQuestion(const HandEdited &file) {
  return file.shown + " was changed since the last installation.\n" +
         "Yes: take the new one, and keep yours as " + file.kept + "\n" +
         "No: keep yours, and write the new one to " + file.shown + kKeptNewSuffix + "\n" +
         "Take the new one?";
}

// Asks about each file that the run would replace although its user
// changed it; the ones whose user keeps their copy.
std::set<std::string> askHandEdited(const InstallForm &form) {
  std::set<std::string> keepYours;
  for (const HandEdited &file : HandEditedFiles(form, DiffDetail::kNone)) {
    if (Nlm_Message(MSG_YN, "%s", handEditQuestion(file).c_str()) == ANS_NO)
      keepYours.insert(file.path);
  }
  return keepYours;
}

}  // namespace

void SetupProc(Nlm_ButtoN /*button*/) {
  const SetupControls &c = Controls();
  Nlm_Disable(c.setupButton);
  Nlm_Disable(c.cancelButton);
  CurrentWork() = {true, false};
  Nlm_WatchCursor();
  const InstallForm form = readForm();
  const WindowStart &start = Start();
  RealActions real;
  real.keepBackups(start.keepBackups);
  real.keepYours(askHandEdited(form));
  WindowActions actions(real);
  const SessionResult result =
      RunSession(form, actions,
                 {"window", start.saveAnswers, start.saveSiteDefaults, start.log, start.context});
  ShowSettingUp();
  CurrentWork() = {};
  Nlm_ArrowCursor();
  // Summed up on standard output, as a run without the window is.
  std::fputs(result.summary.c_str(), stdout);
  std::fflush(stdout);
  if (result.end == SessionEnd::kEnded && !result.logLost && !result.siteDefaultsLost) {
    // Started from the desktop menu, there is no terminal to read the
    // summary in.
    if (start.chooseDirectory) ShowSummary(result.summary);
    Nlm_QuitProgram();
    return;
  }
  Nlm_Enable(c.setupButton);
  Nlm_Enable(c.cancelButton);
  focusField(actions.lastFields());
}
