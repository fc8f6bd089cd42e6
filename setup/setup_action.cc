/*
 * setup_action.cc - the action of the "Setup" button.
 *
 * SetupProc keeps the buttons disabled while the installation runs, reads
 * the form into the record that the procedure works on (installation.cc),
 * and then either ends the program or gives the form back to the user.
 */
#include <cstring>
#include <string>
#include <vector>

#include "installation.h"
#include "window.h"

namespace {

// One character more than a field may hold, so that an over-long text
// reaches the procedure over-long and is refused there, never cut here.
constexpr std::size_t kReadLimit = kFieldLimit + 1;

std::string ReadField(Nlm_TexT field) {
  if (field == nullptr) return {};
  std::vector<char> buffer(kReadLimit + 1, '\0');
  Nlm_GetTitle(field, buffer.data(), buffer.size());
  return std::string(buffer.data(), strnlen(buffer.data(), kReadLimit));
}

InstallForm ReadForm() {
  InstallForm form;
  form.kernel = ReadField(tKernel);
  form.include = ReadField(tInclude);
  form.lib = ReadField(tLib);
  form.cppName = ReadField(tCppName);
  form.cppOptions = ReadField(tCppLib);
  for (int i = 0; i < kAdjustRecords; ++i) {
    if (Adjust[i].field != nullptr) form.tuning[i] = ReadField(Adjust[i].field);
  }
  form.full = gInst != nullptr && Nlm_GetValue(gInst) == 1;
  form.shellStyle = gShellStyle != nullptr ? Nlm_GetValue(gShellStyle) : 1;
  form.shellPath = ReadField(tShellPath);
  form.noticeBoxExists = bReg != nullptr;
  form.noticeConsent = bReg != nullptr && Nlm_GetStatus(bReg);
  return form;
}

}  // namespace

void SetupProc(Nlm_ButtoN /*button*/) {
  // Neither "Setup" nor "Cancel" may be pressed while the work runs.
  Nlm_Disable(gTerm);
  if (RunInstallation(ReadForm()) == InstallOutcome::Ended) {
    Nlm_QuitProgram();
    return;
  }
  Nlm_Enable(gTerm);
}
