/*
 * text_setup.cc - the terminal's questions, then the installation.
 */
#include "text_setup.h"

#include <cstdio>

#include "exit_status.h"
#include "form.h"
#include "initial_form.h"
#include "questions.h"
#include "real_actions.h"
#include "report.h"

namespace {

constexpr const char *kNothingWritten = "Nothing written.";

// The summary has said where the run puts what: the run does not say it
// again (the log still has it).
class TextActions : public PrintingActions {
 public:
  using PrintingActions::PrintingActions;
  void advise(const std::string &, const MessageSubject &) override {}
};

}  // namespace

int NothingWritten() {
  std::printf("%s\n", kNothingWritten);
  std::fflush(stdout);
  return kExitStopped;
}

int InstallStatus(const SessionResult &result) {
  switch (result.end) {
    case SessionEnd::kStopped:
      return kExitStopped;
    case SessionEnd::kAnswersNotSaved:
    case SessionEnd::kLogUnusable:
    case SessionEnd::kRefused:
      return kExitTrouble;
    case SessionEnd::kEnded:
      return result.logLost || result.siteDefaultsLost ? kExitStopped : kExitDone;
  }
  return kExitStopped;
}

int RunTextSetup(const TextStart &start) {
  MessagePrinter printer;
  // The window's start: shell detection says what it ran into even when
  // a preset replaces what it found.
  Result told;
  InstallForm form = InitialForm(false, &told);
  printer.print(told);
  if (start.preset) form = *start.preset;
  const std::optional<TextAnswers> answered = AskForm(form, printer);
  if (!answered) return NothingWritten();
  RealActions real;
  real.keepBackups(start.keepBackups);
  real.keepYours(answered->keepYours);
  TextActions printing(real, printer);
  const SessionResult result =
      RunSession(answered->form, printing,
                 {"terminal", start.saveAnswers, start.saveSiteDefaults, start.log, start.context});
  std::fputs(result.summary.c_str(), stdout);
  std::fflush(stdout);
  return InstallStatus(result);
}
