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
#include <filesystem>
#include <memory>

#include "raii.h"
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

NoticePreviewCommand::~NoticePreviewCommand() {
  wait();
  removeDirectory();
}

void NoticePreviewCommand::start() {
  if (shell_ > 0) return;
  // The scratch files are made in a directory of their own, never beside
  // the user's files.
  if (directory_.path().empty() &&
      !directory_.make(TemporaryDirectory() + "/" + kNoticeScratchPrefix + "XXXXXX"))
    return;
  // What we printed so far comes before anything the shell prints.
  std::fflush(nullptr);
  char shell[] = "sh";
  char option[] = "-c";
  char command[sizeof kNoticeCommand];
  std::memcpy(command, kNoticeCommand, sizeof command);
  char *argv[] = {shell, option, command, nullptr};
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  pid_t pid = 0;
  if (posix_spawn_file_actions_addchdir_np(&actions, directory_.path().c_str()) == 0 &&
      posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ) == 0)
    shell_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

void NoticePreviewCommand::wait() {
  if (shell_ <= 0) return;
  int status = 0;
  // ECHILD: the shell has been reaped already, so it has finished too.
  while (waitpid(shell_, &status, 0) < 0 && errno == EINTR) {
  }
  shell_ = 0;
}

void NoticePreviewCommand::removeDirectory() { directory_.remove(); }

std::optional<std::vector<std::string>> NoticePreviewCommand::finish(char mark) {
  // Without a shell started early, the command runs now.  Exit statuses
  // are not examined: only whether the notice can be read counts.
  if (shell_ <= 0) start();
  wait();
  std::optional<std::vector<std::string>> lines;
  if (directory_.path().empty()) return lines;
  vx::File notice(std::fopen((directory_.path() + "/" + kNoticeFile).c_str(), "r"));
  if (notice) {
    lines.emplace();
    // A line longer than the buffer is read, and shown, in pieces.
    std::array<char, VX_PARBUF_SIZE> line;
    while (std::fgets(line.data(), static_cast<int>(line.size()), notice.get()) != nullptr) {
      if (NoticeLine(line.data(), mark)) lines->emplace_back(line.data());
    }
  }
  notice.reset();
  removeDirectory();
  return lines;
}
