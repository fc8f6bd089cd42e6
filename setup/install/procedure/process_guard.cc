/*
 * process_guard.cc - a command run through the shell under a guardian
 * process, which ends the command's whole process group should the tool
 * die first.
 */
#include "process_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "actions.h"

namespace {

// Keeps the end of what a command writes to its standard error.
constexpr std::size_t kErrorsKept = 16384;

// The process group of the command that the guardian (below) watches over.
volatile sig_atomic_t guardedGroup = 0;

// The guardian's answer to its parent's death: the command's whole group
// goes too, so that no compiler of a killed run writes on.
void endGuardedGroup(int) {
  if (guardedGroup > 0) kill(-static_cast<pid_t>(guardedGroup), SIGKILL);
  _exit(128 + SIGTERM);
}

// In the guardian: runs command through /bin/sh in directory, in a
// process group of its own whose standard error is errorFd, and ends with
// the shell's status.  Should the tool die first, the kernel signals the
// guardian, which ends the group.
[[noreturn]] void guard(const std::string &directory, const std::string &command, int errorFd,
                        pid_t tool) {
  // SIGTERM waits until the group is known: one that came in between would
  // end the guardian and leave the command running.
  sigset_t term, unblocked;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &unblocked);
  sigdelset(&unblocked, SIGTERM);
  struct sigaction ending {};
  ending.sa_handler = endGuardedGroup;
  sigaction(SIGTERM, &ending, nullptr);
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != tool) _exit(127);
  // The shell leads a process group of its own, with SIGTERM's default,
  // unblocked.
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  if (posix_spawnattr_init(&attributes) != 0 || posix_spawn_file_actions_init(&actions) != 0 ||
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                POSIX_SPAWN_SETSIGMASK) != 0 ||
      posix_spawnattr_setpgroup(&attributes, 0) != 0 ||
      posix_spawnattr_setsigdefault(&attributes, &term) != 0 ||
      posix_spawnattr_setsigmask(&attributes, &unblocked) != 0 ||
      posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO) != 0 ||
      posix_spawn_file_actions_addchdir_np(&actions, directory.c_str()) != 0)
    _exit(127);
  std::string shellCommand = command;
  char shellName[] = "sh";
  char commandOption[] = "-c";
  char *argv[] = {shellName, commandOption, shellCommand.data(), nullptr};
  pid_t shell = 0;
  if (posix_spawn(&shell, "/bin/sh", &actions, &attributes, argv, environ) != 0) _exit(127);
  guardedGroup = shell;
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
  close(errorFd);
  int status = 0;
  while (waitpid(shell, &status, 0) < 0) {
    if (errno != EINTR) _exit(127);
  }
  guardedGroup = 0;
  if (WIFSIGNALED(status)) {
    // Ended as the shell was, so that the status reads the same.
    signal(WTERMSIG(status), SIG_DFL);
    kill(getpid(), WTERMSIG(status));
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

}  // namespace

// Runs command through /bin/sh in directory and waits for it.  What it
// writes to its standard error goes to ours as well, and the end of it is
// kept in *errors.  The exit status is returned as the shell gives it; -1
// when no shell could run.  The command cannot outlive the tool: a
// guardian process ends its whole process group when the tool dies.
// With goOn, the wait calls it at least every kWaitSliceMilliseconds; when
// it returns false, the guardian ends the command's group at once and
// *stopped is set.
int RunGuarded(const std::string &directory, const std::string &command, std::string *errors,
               const std::function<bool()> &goOn, bool *stopped) {
  // What we printed so far comes before anything the command prints.
  std::fflush(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t tool = getpid();
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return -1;
  }
  if (child == 0) {
    close(pipeFds[0]);
    guard(directory, command, pipeFds[1], tool);
  }
  close(pipeFds[1]);
  char buffer[4096];
  for (;;) {
    pollfd errorsReady{pipeFds[0], POLLIN, 0};
    const int ready = poll(&errorsReady, 1, goOn ? kWaitSliceMilliseconds : -1);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
      if (got < 0 && errno != EINTR) break;
      if (got == 0) break;  // the command and all it started have ended
      if (got > 0) {
        (void)!write(STDERR_FILENO, buffer, static_cast<std::size_t>(got));
        errors->append(buffer, static_cast<std::size_t>(got));
        if (errors->size() > kErrorsKept) errors->erase(0, errors->size() - kErrorsKept);
      }
    }
    if (goOn && !goOn()) {
      // The guardian ends the group, and itself.
      kill(child, SIGTERM);
      *stopped = true;
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

std::string ShellWord(const std::string &text) {
  std::string word = "'";
  for (const char c : text)
    word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}
