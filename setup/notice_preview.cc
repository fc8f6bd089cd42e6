/*
 * notice_preview.cc - the Registration group: the consent box for the
 * voluntary installation notice and a preview of the notice's lines.
 *
 * The preview is made once at start-up, while the installation switch
 * still shows User, so its version line carries "u"; it is not redone when
 * the switch changes.
 */
#include "notice_preview.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <cerrno>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

#include "utility.h"
#include "window.h"

namespace {

constexpr Nlm_Int2 kRegistrationRows = 10;  // one column of up to 10 rows
constexpr Nlm_Int2 kPreviewRows = 20;       // one column of up to 20 lines
constexpr char kFullMark = 'm';
constexpr char kUserMark = 'u';
constexpr Nlm_Int2 kFullValue = 1;  // the installation switch's "Full"

const char *const kConsentLabel =
    "I authorize the following e-mail message be sent to the authors:";
const char *const kNoticeNote =
    "This data will be used to notify you about new versions of Velorix";

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

// Vibrant copies every title it is given but declares it writable.
Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

// The shell running the notice command, started by StartNoticeCommand;
// 0 when none was started.
pid_t noticeShell = 0;

// Waits for the shell started early, or runs the command now.
void FinishNoticeCommand() {
  if (noticeShell <= 0) {
    // Exit statuses are not examined: only whether del3 can be read counts.
    (void)std::system(kNoticeCommand);
    return;
  }
  int status = 0;
  // ECHILD: the shell has been reaped already, so it has finished too.
  while (waitpid(noticeShell, &status, 0) < 0 && errno == EINTR) {
  }
  noticeShell = 0;
}

}  // namespace

void StartNoticeCommand() {
  if (noticeShell > 0) return;
  // What we printed so far comes before anything the shell prints.
  std::fflush(nullptr);
  char shell[] = "sh";
  char option[] = "-c";
  char command[sizeof kNoticeCommand];
  std::memcpy(command, kNoticeCommand, sizeof command);
  char *argv[] = {shell, option, command, nullptr};
  pid_t pid = 0;
  noticeShell = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

bool NoticeLine(char *line, char mark) {
  StrTrim(line);
  char *question = std::strchr(line, '?');
  if (question != nullptr) *question = mark;
  return line[0] != '\0';
}

void MakeNoticePreview(Nlm_WindoW window, Nlm_Int2 h, Nlm_Int2 v) {
  FinishNoticeCommand();
  std::unique_ptr<std::FILE, FileCloser> notice(std::fopen(kNoticeFile, "r"));
  if (notice) {
    gReg = Nlm_NormalGroup(window, 0, kRegistrationRows, Title("Registration"), nullptr, nullptr);
    Nlm_SetGroupMargins(gReg, h, v);
    Nlm_SetGroupSpacing(gReg, h, v);
    bReg = Nlm_CheckBox(gReg, Title(kConsentLabel), nullptr);
    Nlm_SetStatus(bReg, FALSE);

    Nlm_GrouP preview = Nlm_HiddenGroup(gReg, 0, kPreviewRows, nullptr);
    Nlm_SetGroupMargins(preview, static_cast<Nlm_Int2>(2 * h), 0);
    Nlm_SetGroupSpacing(preview, 0, 0);
    const char mark = Nlm_GetValue(gInst) == kFullValue ? kFullMark : kUserMark;
    // A line longer than ParBuf holds is read, and shown, in pieces.
    while (std::fgets(ParBuf, VX_PARBUF_SIZE, notice.get()) != nullptr) {
      if (!NoticeLine(ParBuf, mark)) continue;
      Nlm_StaticPrompt(preview, ParBuf, 0, 0, Nlm_systemFont, 'l');
    }
    Nlm_StaticPrompt(gReg, Title(kNoticeNote), 0, 0, nullptr, 'l');
    notice.reset();
  }
  // Removed directly rather than by a second shell: that shell was the
  // largest part of the start-up time, and a missing file needs no remark.
  for (const char *name : kNoticeScratchFiles)
    (void)unlink(name);
}
