/*
 * notice.cc - the installation notice's commands.
 */
#include "notice.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "utility.h"

extern char **environ;

// Nobody reads the notice but the maintainers; they are one address here
// so that changing them is a one-line edit.
const char *const kNoticeRecipients = "velorix-install@velorix.org";

namespace {

// The notice command; "?" becomes the installation-kind letter and
// RECIPIENTS the addresses above.  "\n" is a line feed inside the quotes.
constexpr char kNoticeHead[] =
    "echo '\nVELORIX 1.5? installed on'>del1;uname -a>del2;cat del1 del2|mail";
constexpr char kNoticeTail[] = ";rm del1 del2";

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

}  // namespace

std::string NoticeCommand(bool full) {
  std::string command = std::string(kNoticeHead) + " " + kNoticeRecipients + kNoticeTail;
  const std::size_t mark = command.find('?');
  if (mark != std::string::npos) command[mark] = full ? 'm' : 'u';
  return command;
}

bool NoticeLine(char *line, char mark) {
  StrTrim(line);
  char *question = std::strchr(line, '?');
  if (question != nullptr) *question = mark;
  return line[0] != '\0';
}

NoticePreviewCommand::~NoticePreviewCommand() { wait(); }

void NoticePreviewCommand::start() {
  if (shell_ > 0) return;
  // What we printed so far comes before anything the shell prints.
  std::fflush(nullptr);
  char shell[] = "sh";
  char option[] = "-c";
  char command[sizeof kNoticeCommand];
  std::memcpy(command, kNoticeCommand, sizeof command);
  char *argv[] = {shell, option, command, nullptr};
  pid_t pid = 0;
  shell_ = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

void NoticePreviewCommand::wait() {
  if (shell_ <= 0) return;
  int status = 0;
  // ECHILD: the shell has been reaped already, so it has finished too.
  while (waitpid(shell_, &status, 0) < 0 && errno == EINTR) {
  }
  shell_ = 0;
}

std::optional<std::vector<std::string>> NoticePreviewCommand::finish(char mark) {
  if (shell_ > 0) {
    wait();
  } else {
    // Exit statuses are not examined: only whether del3 can be read counts.
    (void)std::system(kNoticeCommand);
  }
  std::optional<std::vector<std::string>> lines;
  std::unique_ptr<std::FILE, FileCloser> notice(std::fopen(kNoticeFile, "r"));
  if (notice) {
    lines.emplace();
    // A line longer than the buffer is read, and shown, in pieces.
    std::array<char, VX_PARBUF_SIZE> line;
    while (std::fgets(line.data(), static_cast<int>(line.size()), notice.get()) != nullptr) {
      if (NoticeLine(line.data(), mark)) lines->emplace_back(line.data());
    }
  }
  notice.reset();
  // Removed directly rather than by a second shell: that shell was the
  // largest part of the start-up time, and a missing file needs no remark.
  for (const char *name : kNoticeScratchFiles)
    (void)unlink(name);
  return lines;
}
