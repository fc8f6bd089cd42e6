/*
 * setup_action.cc - the action of the "Setup" button.
 *
 * SetupProc keeps the buttons disabled while the installation runs, reads
 * the form into the record that the procedure works on, runs it as every
 * frontend does (session.h), and then either ends the program or gives
 * the form back to the user.
 */
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions.h"
#include "form.h"
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
  return form;
}

// Shows the procedure's messages in boxes, as ever; a message that lists
// files missing from the product directory lists them on the standard
// error of the terminal the window was started from as well, for the box
// keeps its words.
class ListingActions : public ForwardingActions {
 public:
  using ForwardingActions::ForwardingActions;

  void show(const std::string &text, const MessageSubject &about) override {
    if (!about.missing.empty()) {
      std::fprintf(stderr, "velorix-setup: %s\n%s", text.c_str(),
                   MissingFilesText(about.missing).c_str());
      std::fflush(stderr);
    }
    ForwardingActions::show(text, about);
  }
};

}  // namespace

void SetupProc(Nlm_ButtoN /*button*/) {
  Nlm_GrouP buttons = Controls().gTerm;
  // Neither "Setup" nor "Cancel" may be pressed while the work runs.
  Nlm_Disable(buttons);
  const InstallForm form = readForm();
  const WindowStart &start = Start();
  RealActions real;
  ListingActions listing(real);
  const SessionResult result =
      RunSession(form, listing, {"window", start.saveAnswers, start.log, start.context});
  // Summed up on standard output, as a run without the window is.
  std::fputs(result.summary.c_str(), stdout);
  std::fflush(stdout);
  if (result.end == SessionEnd::kEnded && !result.logLost) {
    Nlm_QuitProgram();
    return;
  }
  Nlm_Enable(buttons);
}
