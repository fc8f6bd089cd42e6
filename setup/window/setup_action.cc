/*
 * setup_action.cc - the action of the "Setup" button.
 *
 * SetupProc keeps the buttons disabled while the installation runs, reads
 * the form into the record that the procedure works on (installation.cc),
 * and then either ends the program or gives the form back to the user.
 */
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions.h"
#include "answers.h"
#include "installation.h"
#include "record_actions.h"
#include "run_window.h"
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
  form.full = c.gInst != nullptr && Nlm_GetValue(c.gInst) == kFullValue;
  form.shellStyle = c.gShellStyle != nullptr ? Nlm_GetValue(c.gShellStyle) : 1;
  form.noticeBoxExists = c.bReg != nullptr;
  form.noticeConsent = c.bReg != nullptr && Nlm_GetStatus(c.bReg);
  // The user changed what the window detected, or the preset gave it.
  const std::optional<InstallForm> &preset = Start().preset;
  const int detected = InitialForm(form.full, nullptr).shellStyle;
  form.shellStyleGiven = (preset && preset->shellStyleGiven) || form.shellStyle != detected;
  form.shellPathGiven = (preset && preset->shellPathGiven) ||
                        (form.shellStyle >= 1 && form.shellStyle <= kShellRecords &&
                         form.text(Field::kShellPath) != DetectedShellPath(form.shellStyle));
  return form;
}

// Runs the installation for form, recorded in the log when one was asked
// for, and sums it up on standard output as a run without the window
// does.  A log that cannot be written stops before anything is done; one
// that fails later is told, and the form stays.
InstallOutcome install(const InstallForm &form) {
  const WindowStart &start = Start();
  std::optional<LogFile> log;
  if (!start.log.empty()) log.emplace(start.log);
  RealActions real;
  RecordActions record(real, form, "window", log ? &*log : nullptr, start.context);
  if (log && !log->ok()) {
    Nlm_Message(MSG_OK, "%s", log->close().c_str());
    return InstallOutcome::Stopped;
  }
  InstallOutcome outcome = RunInstallation(form, record);
  record.finish(outcome);
  std::fputs(record.summary().c_str(), stdout);
  std::fflush(stdout);
  const std::string lost = log ? log->close() : std::string();
  if (!lost.empty()) {
    Nlm_Message(MSG_OK, "%s", lost.c_str());
    outcome = InstallOutcome::Stopped;
  }
  return outcome;
}

}  // namespace

void SetupProc(Nlm_ButtoN /*button*/) {
  Nlm_GrouP buttons = Controls().gTerm;
  // Neither "Setup" nor "Cancel" may be pressed while the work runs.
  Nlm_Disable(buttons);
  const InstallForm form = readForm();
  const std::string &answers = Start().saveAnswers;
  std::string problem;
  if (!answers.empty() && !SaveAnswers(answers, form, &problem))
    Nlm_Message(MSG_OK, "%s", problem.c_str());
  if (install(form) == InstallOutcome::Ended) {
    Nlm_QuitProgram();
    return;
  }
  Nlm_Enable(buttons);
}
