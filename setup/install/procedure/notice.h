/*
 * notice.h - the voluntary installation notice: the command that mails it
 * and the command that makes its preview for the Setup window.
 */
#ifndef VELORIX_SETUP_NOTICE_H
#define VELORIX_SETUP_NOTICE_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "scratch_directory.h"

// Recipients of the installation notice, separated by blanks.
extern const char *const kNoticeRecipients;

// The consent box's label, above the notice's lines, and the note below
// them.
constexpr const char *kNoticeConsentLabel =
    "I authorize the following e-mail message be sent to the authors:";
constexpr const char *kNoticeNote =
    "This data will be used to notify you about new versions of Velorix";

// The installation notice command for a Full (m) or User (u) installation.
std::string NoticeCommand(bool full);

// Writes the notice's text to del3 (an empty line, the version line with
// "?" for the installation kind, and the host's uname -a), by way of the
// scratch files del1 and del2.  The line feed inside the quotes is real.
// It runs in a scratch directory of its own.
constexpr const char kNoticeCommand[] =
    "echo '\nVELORIX 1.5? installed on'>del1;uname -a>del2;cat del1 del2>del3";
constexpr const char *kNoticeFile = "del3";
// The scratch files, removed with their directory once the preview has
// been read.
constexpr const char *kNoticeScratchFiles[] = {"del1", "del2", "del3"};

// Trims line in place and replaces its first "?" by mark ("m" for a Full
// installation, "u" for a User one).  FALSE when the line is then empty.
bool NoticeLine(char *line, char mark);

// The preview's command, run in a shell of its own so that it can run
// while the window is being built.
class NoticePreviewCommand {
 public:
  NoticePreviewCommand() = default;
  ~NoticePreviewCommand();
  NoticePreviewCommand(const NoticePreviewCommand &) = delete;
  NoticePreviewCommand &operator=(const NoticePreviewCommand &) = delete;

  // Starts the command in a new scratch directory; when that or the shell
  // cannot be made, finish tries once more.
  void start();

  // Waits for the command (or runs it now), and returns the non-empty
  // preview lines with mark for "?", or nothing when the preview cannot
  // be read.  The scratch files are removed either way.
  std::optional<std::vector<std::string>> finish(char mark);

 private:
  void wait();
  void removeDirectory();

  pid_t shell_ = 0;
  ScratchDirectory directory_;
};

#endif
