/*
 * actions.cc - the real installation actions and the planning ones.
 */
#include "actions.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "atomic_file.h"
#include "differences.h"
#include "scratch_directory.h"
#include "form.h"
#include "file_writing.h"
#include "form_tables.h"
#include "object_file.h"
#include "settings_lines.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
// The scratch directory of a real run lies in the installed directory, so
// that one left by a killed run is found and removed by the next.
constexpr char kRunScratchPrefix[] = ".velorix-setup.vx-";
constexpr char kRandomPart[] = "XXXXXX";
constexpr char kMailCommand[] = "mail";
constexpr char kRecordPermissions[] = "rw-r--r--";
constexpr auto kLockPoll = std::chrono::milliseconds(100);

constexpr char kMsgCompileFailed[] =
    "Cannot compile autodif.cc.\nSymbolical differentiation feature will be "
    "disabled.\nPlease check the name of C++ compiler\nand ensure it is "
    "accessable via the PATH variable";

constexpr char kMsgCompileCancelled[] =
    "The compile of autodif.cc was cancelled.\nThe installation has been stopped; the "
    "directory keeps the settings it had.";

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

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

// Runs command through /bin/sh in directory and waits for it.  What it
// writes to its standard error goes to ours as well, and the end of it is
// kept in *errors.  The exit status is returned as the shell gives it; -1
// when no shell could run.  The command cannot outlive the tool: a
// guardian process ends its whole process group when the tool dies.
// With goOn, the wait calls it at least every kWaitSliceMilliseconds; when
// it returns false, the guardian ends the command's group at once and
// *stopped is set.
int runIn(const std::string &directory, const std::string &command, std::string *errors,
          const WhileCompiling &goOn, bool *stopped) {
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

// Whether an executable named name is found on PATH.
bool onPath(const char *name) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

// A settings file's values by "section.key" (names in lower case, as the
// core library compares them without regard to case; the first of two
// equal keys counts), trimmed as the core library reads them.
using SettingsValues = std::map<std::string, std::string>;

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void addLine(SettingsValues &values, std::string &section, std::string_view text) {
  const vx::SettingsLine line = vx::ReadSettingsLine(text);
  if (line.kind == vx::SettingsLine::Kind::kSection) {
    section = lowered(line.name);
  } else if (line.kind == vx::SettingsLine::Kind::kKey && line.hasEquals && !section.empty()) {
    values.emplace(section + "." + lowered(line.name), std::string(line.value));
  }
}

// Whether the settings file at path is whole: it ends with a line feed and
// holds every value of the template and every value stored since, as they
// were stored.  The core library rewrites the whole file at each change
// and says nothing when a full disk cuts it short.
bool settingsComplete(const std::string &path, const SettingsValues &stored) {
  const auto text = ReadWholeFile(path);
  if (!text || text->empty() || text->back() != '\n') return false;
  SettingsValues expected;
  std::string section;
  for (std::size_t i = 0; SetData[i] != nullptr; ++i)
    addLine(expected, section, SetData[i]);
  for (const auto &[name, value] : stored)
    expected[name] = value;
  SettingsValues held;
  section.clear();
  vx::ForEachSettingsLine(*text, [&](std::string_view line) { addLine(held, section, line); });
  for (const auto &[name, value] : expected) {
    const auto found = held.find(name);
    if (found == held.end() || found->second != value) return false;
  }
  return true;
}

// The first line of text that is not blank, for a message; a compiler's
// first complaint is most often the one that tells.
std::string firstLine(const std::string &text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    if (line.find_first_not_of(" \t\r") != std::string::npos) return line;
    start = end + 1;
  }
  return {};
}

// result's message with its detail after it, for messages of our own
// (the settings code's texts stay as they are).
Result withDetail(Result result) {
  if (result.ok() || result.detail().empty()) return result;
  return Result::Failed(result.fault(), result.message() + " (" + result.detail() + ")",
                        result.about(), result.detail());
}

Result failed(Fault fault, std::string message, std::string path = {},
              std::vector<Field> fields = {}) {
  return Result::Failed(fault, std::move(message), {std::move(path), std::move(fields)});
}

Result lockNotMade(const std::string &path, int error) {
  return failed(Fault::kNotOpened,
                "Cannot create the lock file '" + path + "': " + std::strerror(error) +
                    ".\nThe installation has been stopped.",
                path);
}

Result scratchNotMade(const std::string &pattern, int error) {
  return failed(Fault::kNotOpened,
                "Cannot make a scratch directory for the settings file ('" + pattern +
                    "'): " + std::strerror(error) + ".",
                pattern);
}

// The compile script lies in the product directory.
Result aboutScript(Result written, const std::string &path) {
  if (written.ok()) return written;
  return Result::Failed(written.fault(), written.message(), {path, {Field::kKernel}},
                        written.detail());
}

Result notRenamed(const std::string &from, const std::string &to, const std::string &fromPath,
                  int error) {
  return failed(Fault::kNotWritten,
                "Cannot rename '" + from + "' to '" + to + "' (" + std::strerror(error) + ")",
                fromPath);
}

Result notRemoved(const std::string &path, const std::string &resolved, int error) {
  return failed(Fault::kNotWritten,
                "Cannot remove file '" + path + "' (" + std::strerror(error) + ")", resolved);
}

// Whether an entry can be made in, or removed from, path's directory; the
// system's reason in errno when not.
bool directoryWritable(const std::string &path) {
  const std::string directory = std::filesystem::path(path).parent_path().string();
  return access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0;
}

// The status of the file at path (through links); nothing when there is
// none.
std::optional<struct stat> statusOf(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

// Whether a file whose status was before is still the same file, as it
// was: not replaced, not rewritten, its mode unchanged.  Its change time
// is not compared: keeping a copy of it under a second name changes that.
bool sameFile(const std::optional<struct stat> &before, const std::optional<struct stat> &after) {
  return before && after && before->st_dev == after->st_dev && before->st_ino == after->st_ino &&
         before->st_mode == after->st_mode && before->st_size == after->st_size &&
         before->st_mtim.tv_sec == after->st_mtim.tv_sec &&
         before->st_mtim.tv_nsec == after->st_mtim.tv_nsec;
}

// Keeps the file at path as kept: a second name for the same file where
// the file system allows it (so that it keeps its owner, mode and times),
// a copy with its owner and mode otherwise.  *made: the name was made here,
// and is to go should the file not be replaced after all.
Result keepCopy(const std::string &path, const std::string &kept, bool *made) {
  *made = false;
  if (exists(kept)) return {};  // holds the same bytes already (KeptCopyName)
  if (linkat(AT_FDCWD, path.c_str(), AT_FDCWD, kept.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    *made = true;
    return {};
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return Result::Failed(Fault::kNotWritten, "", {path}, std::strerror(errno));
  Result copied = CopyWholeFile(path, kept, st.st_mode & 07777, kept, Placement::kIfAbsent,
                                FileOwner{st.st_uid, st.st_gid});
  *made = copied.ok();
  return copied;
}

// The backups of the settings file at path: by the number in their
// names, path.bak being 0.
std::map<int, std::string> settingsBackups(const std::string &path) {
  std::map<int, std::string> found;
  const std::filesystem::path file(path);
  const std::string first = file.filename().string() + kSettingsBackupSuffix;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, first.size(), first) != 0) continue;
    if (name.size() == first.size()) {
      found[0] = path + kSettingsBackupSuffix;
      continue;
    }
    const std::string number = name.substr(first.size() + 1);
    if (name[first.size()] != '.' || number.empty() || number.size() > 4 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    found[std::stoi(number)] = path + kSettingsBackupSuffix + "." + number;
  }
  return found;
}

}  // namespace

SettingsBackups PlanSettingsBackups(const std::string &path,
                                    const std::optional<std::string> &replaced, int keep) {
  return PlanSettingsBackups(
      path, replaced.has_value(),
      [&replaced](const std::string &file) { return FileHolds(file, *replaced).value_or(false); },
      keep);
}

SettingsBackups PlanSettingsBackups(const std::string &path, bool replacing,
                                    const std::function<bool(const std::string &)> &holdsReplaced,
                                    int keep) {
  SettingsBackups plan;
  const std::map<int, std::string> held = settingsBackups(path);
  const std::string newest = path + kSettingsBackupSuffix;
  const auto slot = [&newest](int n) { return n == 0 ? newest : newest + "." + std::to_string(n); };
  bool making = replacing && keep > 0;
  if (making && held.count(0) != 0) {
    struct stat st;
    plan.reused = lstat(newest.c_str(), &st) == 0 && S_ISREG(st.st_mode) && holdsReplaced(newest);
    making = !plan.reused;
  }
  // The backups below the first free name move up one to make room.
  int free = 0;
  while (making && held.count(free) != 0)
    ++free;
  std::map<int, std::string> after;  // the number each backup will have, to its name now
  for (const auto &[number, name] : held)
    after[making && number < free ? number + 1 : number] = name;
  for (auto it = after.rbegin(); it != after.rend(); ++it) {
    if (it->first >= keep) plan.removals.push_back(it->second);
  }
  for (int n = free - 1; n >= 0 && making; --n) {
    if (n + 1 < keep) plan.renames.emplace_back(slot(n), slot(n + 1));
  }
  if (making || plan.reused) plan.backup = newest;
  return plan;
}

std::string BackupsKept(int keep) {
  return "at most " + std::to_string(keep) +
         (keep == 1 ? " settings backup is kept" : " settings backups are kept");
}

void Actions::show(const std::string &text, const MessageSubject &) {
  Nlm_Message(MSG_OK, "%s", text.c_str());
}

// ---- ScratchActions -------------------------------------------------------

ScratchActions::ScratchActions(std::string pattern) : pattern_(std::move(pattern)) {
  std::error_code error;
  workDir_ = std::filesystem::current_path(error).string();
  next_ = InstallRecord(workDir_);
}

Result ScratchActions::readRecord() {
  const Result read = ReadInstallRecord(workDir_, &prior_);
  if (read.ok()) return {};
  // Without it, the run does as it did before there were records.
  return Result::Notice(
      read.message() + "\nThe installation goes on without it, and writes it anew.", read.about());
}

void ScratchActions::claimInRecord(const std::string &path, const std::string *made) {
  const std::string key = recordKey(path);
  struct stat st;
  if (stat(key.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (const RecordEntry *was = prior_ ? prior_->find(key) : nullptr) {
    next_.put(*was);
    return;
  }
  auto entry = DescribeFile(key, made != nullptr);
  if (entry && (made == nullptr || entry->digest == Sha256Hex(*made))) next_.put(std::move(*entry));
}

std::string ScratchActions::keptCopyFor(const std::string &path, const std::string &made) const {
  const std::string target = resolve(path);
  std::string digest;
  if (!ChangedSinceRecorded(prior(), target, &digest)) return {};
  if (!made.empty() && SameFiles(made, target)) return {};
  const auto kept = KeptCopyName(target, kKeptOldSuffix);
  return path + (kept ? kept->substr(target.size()) : std::string(kKeptOldSuffix));
}

InstallRecord ScratchActions::recordLeft() const { return next_; }

ScratchActions::~ScratchActions() { leaveScratch(); }

std::string ScratchActions::resolve(const std::string &path) const {
  if (path.empty() || path[0] == '/') return path;
  return WithSlash(workDir_) + path;
}

std::string ScratchActions::shown(const std::string &path) const {
  return std::filesystem::path(resolve(path)).lexically_normal().string();
}

Result ScratchActions::enterScratch() {
  // What killed runs left under TMPDIR goes first (a run of ours that
  // still lives holds the lock on its own).
  RemoveStaleScratchDirectories();
  if (workDir_.empty() || !scratchDirectory_.make(pattern_)) return scratchNotMade(pattern_, errno);
  scratch_ = scratchDirectory_.path();
  syncs_.emplace(scratch_);
  // The core library keeps the settings file it read last; the one in the
  // scratch directory is another.
  SettingsReload();
  if (chdir(scratch_.c_str()) != 0) {
    const std::string entered = scratch_;
    leaveScratch();
    return failed(Fault::kNotOpened, "Cannot enter the scratch directory '" + entered + "'.",
                  entered);
  }
  return {};
}

void ScratchActions::leaveScratch() {
  syncs_.reset();  // every file written is durable from here on
  if (scratch_.empty()) return;
  SettingsReload();
  // Where the run began; should it have gone, the removal below still
  // works by the scratch directory's full path.
  (void)!chdir(workDir_.c_str());
  scratchDirectory_.remove();
  scratch_.clear();
}

Result ScratchActions::wouldBegin() const {
  const std::string lock = WithSlash(workDir_) + kLockFileName;
  if (access(lock.c_str(), F_OK) == 0 ? access(lock.c_str(), R_OK | W_OK) != 0
                                      : !directoryWritable(lock))
    return lockNotMade(lock, errno);
  const std::string scratch = WithSlash(workDir_) + kRunScratchPrefix + kRandomPart;
  if (!directoryWritable(scratch)) return scratchNotMade(scratch, errno);
  return {};
}

Result ScratchActions::wouldWriteTemplate(const std::string &path) const {
  return CheckTemplatePlace(resolve(path), path);
}

Result ScratchActions::wouldWriteScript(const std::string &path) const {
  return aboutScript(CheckCompileScriptPlace(resolve(path), path), resolve(path));
}

Result ScratchActions::wouldWriteFile(const std::string &path) const {
  return withDetail(AtomicFile(resolve(path), path).check());
}

Result ScratchActions::wouldRename(const std::string &from, const std::string &to) const {
  if (directoryWritable(resolve(from)) && directoryWritable(resolve(to))) return {};
  return notRenamed(from, to, resolve(from), errno);
}

Result ScratchActions::wouldRemove(const std::string &path) const {
  if (!exists(resolve(path)) || directoryWritable(resolve(path))) return {};
  return notRemoved(path, resolve(path), errno);
}

Result ScratchActions::writeSettingsFile(const std::string &path, const char *permissions) {
  // The installed directory's settings file is replaced at the end: find
  // out now, before anything is written, whether it can be.
  const std::string final = WithSlash(workDir_) + kSettingsName;
  if (!AtomicFile(final).check().ok())
    return failed(Fault::kNotOpened, "Cannot open file '" + path + "'", final);
  Result written = CreateFile(path, SetData, permissions, false);
  if (!written.ok()) return written;
  // The core library must forget the copy it parsed before, or its next
  // write would bring the old values back.
  SettingsReload();
  return {};
}

Result ScratchActions::store(const char *section, const char *key, const std::string &value) {
  std::string buffer = value;  // SetParam converts line feeds in place
  if (SetParam(section, key, buffer.data()) != FALSE) return {};
  return failed(Fault::kNotWritten, "");  // the settings code has said why
}

void ScratchActions::holdStores() { SettingsBatchBegin(); }

Result ScratchActions::writeStores() {
  if (SettingsBatchEnd() != FALSE) return {};
  return failed(Fault::kNotWritten, "");  // the settings code has said why
}

std::string ScratchActions::scratchSettings() const { return scratch_ + "/" + kSettingsName; }

std::string ScratchActions::renderPath() {
  return scratch_ + "/rendered-" + std::to_string(++rendered_);
}

int ScratchActions::run(const std::string &directory, const std::string &command,
                        const WhileCompiling &goOn) {
  lastCommand_ = CommandOutcome{command, -1, {}, false};
  lastCommand_.status =
      runIn(directory, command, &lastCommand_.errors, goOn, &lastCommand_.stopped);
  return lastCommand_.status;
}

Result ScratchActions::runCompiler(const CommandFor &command, const std::string &target,
                                   const std::string &output, const std::string &outputInCommand) {
  // An object is taken only when the compiler said it succeeded and left
  // one: one that failed half-way (a full disk) may leave a piece, and a
  // compiler that is none may leave anything.
  const int status = run(workDir_, command(outputInCommand), whileCompiling_);
  if (lastCommand_.stopped)
    return Result::Failed(Fault::kCancelled, kMsgCompileCancelled, {resolve(target)});
  const bool succeeded = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (succeeded && IsRelocatableObject(output)) return {};
  return Result::Failed(
      Fault::kCommandFailed, kMsgCompileFailed,
      {resolve(target), {Field::kCppName, Field::kCppOptions}, firstLine(lastCommand_.errors)});
}

// ---- RealActions ----------------------------------------------------------

RealActions::RealActions() : ScratchActions("") {
  pattern_ = WithSlash(workDir_) + kRunScratchPrefix + kRandomPart;
}

RealActions::~RealActions() {
  leaveScratch();
  lock_.release();
}

Result DirectoryLock::acquire(const std::string &directory) {
  release();
  const std::string path = WithSlash(directory) + kLockFileName;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  for (;;) {
    // Never through a link, and never a pipe or a device: the lock file
    // cannot be renamed into place as the other files are.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return lockNotMade(path, errno);
    struct stat held;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      close(fd);
      return lockNotMade(path, EINVAL);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The holder before us removes the file as it ends: a lock on a
      // file that is no longer there keeps nobody out.
      struct stat named;
      if (lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        // Root in another user's directory leaves what that user could.
        struct stat place;
        if (geteuid() == 0 && held.st_uid == 0 && stat(directory.c_str(), &place) == 0 &&
            place.st_uid != 0)
          (void)!fchown(fd, place.st_uid, place.st_gid);
        fd_ = fd;
        path_ = path;
        return {};
      }
      close(fd);
      continue;
    }
    close(fd);
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kLockPoll);
  }
  return failed(Fault::kRefused,
                "Another installation is running in the directory '" + directory +
                    "'.\nPlease wait until it has ended, and try again.",
                directory);
}

void DirectoryLock::release() {
  if (fd_ < 0) return;
  (void)unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
}

Result RealActions::begin() {
  Result locked = lock_.acquire(workDir_);
  if (!locked.ok()) return locked;
  // What a killed run left: its scratch directory, and the temporary
  // files beside the files it wrote here.  Ours alone hold these names,
  // and the lock keeps every other run of ours out.
  std::error_code error;
  std::vector<std::filesystem::path> stale;
  for (const auto &entry : std::filesystem::directory_iterator(workDir_, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == std::strlen(kRunScratchPrefix) + std::strlen(kRandomPart) &&
        name.compare(0, std::strlen(kRunScratchPrefix), kRunScratchPrefix) == 0 &&
        entry.is_directory(error) && !entry.is_symlink(error)) {
      stale.push_back(entry.path());
    } else if (IsTemporaryName(name) && entry.is_regular_file(error) && !entry.is_symlink(error)) {
      stale.push_back(entry.path());
    }
  }
  for (const auto &path : stale) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  Result entered = enterScratch();
  if (!entered.ok()) {
    lock_.release();
    return entered;
  }
  return readRecord();
}

Result RealActions::end(bool keepSettings) {
  Result installed = keepSettings ? installSettings() : Result();
  leaveScratch();
  lock_.release();
  return installed;
}

Result RealActions::prepareRecord(AtomicFile &record) {
  const std::string text = recordLeft().text();
  Result opened = record.open();
  if (opened.ok() && (std::fwrite(text.data(), 1, text.size(), record.stream()) != text.size() ||
                      std::fflush(record.stream()) != 0)) {
    opened = Result::Failed(Fault::kNotWritten, "", {}, std::strerror(errno));
  }
  if (opened.ok()) return {};
  record.discard();
  return failed(Fault::kNotWritten,
                "Cannot write the record of this installation '" + record.target() + "' (" +
                    opened.detail() + ").\nThe directory keeps the settings it had.",
                record.target());
}

// Puts the settings file built in the scratch directory in place in one
// step, after keeping the one it replaces.
Result RealActions::installSettings() {
  const std::string shown = std::string("./") + kSettingsName;
  const std::string final = WithSlash(workDir_) + kSettingsName;
  const auto content = ReadWholeFile(scratchSettings());
  if (!content) {
    return failed(Fault::kNotWritten,
                  "Cannot read the new settings file '" + scratchSettings() + "'.",
                  scratchSettings());
  }
  if (!settingsComplete(scratchSettings(), stored_)) {
    return failed(Fault::kNotWritten,
                  "The settings file '" + shown +
                      "' could not be written whole (is the disk full?).\nThe directory keeps the "
                      "settings it had.",
                  final);
  }
  const mode_t mode = ModeFromPermissions(kSettingsPermissions);
  struct stat st, link;
  const bool regular = stat(final.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  // The record of the installation, the settings file in it as it will be,
  // is written beside its place first and put there last: a disk too full
  // for it stops the run before the settings change.  A run that stops
  // leaves the record of the last installation.
  const bool throughLink = lstat(final.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  next_.put(PredictedEntry(final, *content,
                           NarrowedMode(mode, regular ? &st : nullptr, throughLink), true));
  const std::string recordPath = WithSlash(workDir_) + kRecordName;
  const auto recordBefore = statusOf(recordPath);
  AtomicFile record(recordPath, std::string("./") + kRecordName);
  record.placeAnew();
  if (Result prepared = prepareRecord(record); !prepared.ok()) return prepared;
  // Kept when it holds something, and something else; read a piece at a
  // time, so that a settings file of any size costs no more memory than
  // the new one.  One that cannot be read is not kept.
  const bool replacing = regular && st.st_size > 0 && !FileHolds(final, *content).value_or(true);
  const SettingsBackups backups = PlanSettingsBackups(
      final, replacing, [&final](const std::string &file) { return SameFiles(file, final); },
      keepBackups_);
  const auto cannot = [&shown](const std::string &what, const std::string &path) {
    return failed(Fault::kNotWritten,
                  "Cannot " + what + " (" + std::strerror(errno) +
                      ").\nThe new settings have not been stored in '" + shown + "'.",
                  path);
  };
  for (const std::string &oldest : backups.removals) {
    struct stat held;
    const std::time_t made = lstat(oldest.c_str(), &held) == 0 ? held.st_mtime : 0;
    if (unlink(oldest.c_str()) != 0 && errno != ENOENT)
      return cannot("remove the old settings backup '" + oldest + "'", oldest);
    endNote_.backupsRemoved.push_back({oldest, made});
  }
  for (const auto &[from, to] : backups.renames) {
    // Into a free name only: no backup is ever written over.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 &&
        (errno != EINVAL || exists(to) || std::rename(from.c_str(), to.c_str()) != 0))
      return cannot("move the settings backup '" + from + "' to '" + to + "'", from);
    endNote_.backupsMoved.emplace_back(from, to);
  }
  if (!backups.backup.empty() && !backups.reused) {
    // The backup keeps the owner and the permissions of the file it keeps.
    const Result kept = CopyWholeFile(final, backups.backup, st.st_mode & 0666, {},
                                      Placement::kAnew, FileOwner{st.st_uid, st.st_gid});
    if (!kept.ok()) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the settings file '" + shown + "' as '" + backups.backup + "' (" +
                        kept.detail() + ").\nThe new settings have not been stored.",
                    backups.backup);
    }
  }
  backup_ = backups.backup;
  const auto before = statusOf(final);
  if (!WriteWholeFile(final, *content, mode, shown).ok())
    return failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", final);
  endNote_.settingsUnchanged = sameFile(before, statusOf(final));
  const Result recorded = record.commit(ModeFromPermissions(kRecordPermissions));
  if (!recorded.ok()) {
    return failed(Fault::kNotWritten,
                  "Cannot write the record of this installation '" + recordPath + "' (" +
                      recorded.detail() +
                      ").\nThe settings are in place, but the next run cannot tell which files "
                      "were changed by hand since.",
                  recordPath);
  }
  endNote_.record = recordPath;
  endNote_.recordUnchanged = sameFile(recordBefore, statusOf(recordPath));
  return {};
}

Result RealActions::store(const char *section, const char *key, const std::string &value) {
  Result stored = ScratchActions::store(section, key, value);
  if (!stored.ok()) return stored;
  // As the file holds it: line feeds become line-break marks.
  std::string held = value;
  for (char &c : held) {
    if (c == '\n') c = VX_LINE_BREAK_MARK;
  }
  stored_[lowered(section) + "." + lowered(key)] = std::string(vx::TrimSettingsBlanks(held));
  return {};
}

Result RealActions::place(const std::string &path, bool data,
                          const std::function<Result(const std::string &where, Placement how)> &write) {
  lastFile_ = {};
  const std::string target = resolve(path);
  const std::string key = RecordKey(target);
  std::string digest;  // of the user's copy
  const bool changed = !data && ChangedSinceRecorded(prior(), target, &digest);
  if (changed && (keepChanged_ || keepYours_.count(key) != 0)) {
    // The user's copy stays as it is; the new one goes beside it.
    const std::string fresh = target + kKeptNewSuffix;
    const auto before = statusOf(fresh);
    Result written = write(fresh, Placement::kAnew);
    if (!written.ok()) return written;
    auto entry = DescribeFile(fresh, data);
    if (entry && entry->digest == digest) {
      (void)unlink(fresh.c_str());  // it holds nothing new
      lastFile_.unchanged = true;
    } else {
      lastFile_.keptNew = fresh;
      // Written by an earlier run as it is now.
      lastFile_.unchanged = sameFile(before, statusOf(fresh));
    }
    // What the installation writes there: the user's copy is told apart
    // from it again next time.
    if (entry) {
      entry->path = key;
      next_.put(std::move(*entry));
    }
    return written;
  }
  std::string kept;
  bool made = false;
  if (changed) {
    const auto name = KeptCopyName(target, kKeptOldSuffix);
    Result keptCopy = name ? keepCopy(target, *name, &made)
                           : Result::Failed(Fault::kNotWritten, "", {}, "every name is taken");
    if (!keptCopy.ok()) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the copy of '" + path +
                        "' that was changed since the last installation as '" +
                        (name ? *name : target + kKeptOldSuffix) + "' (" + keptCopy.detail() +
                        ").\nThe file has not been replaced.",
                    target);
    }
    kept = *name;
  }
  const auto before = statusOf(target);
  Result written = write(target, Placement::kReplace);
  if (!written.ok()) {
    if (made) (void)unlink(kept.c_str());
    return written;
  }
  lastFile_.unchanged = sameFile(before, statusOf(target));
  auto entry = DescribeFile(target, data);
  if (!kept.empty()) {
    if (entry && entry->digest == digest) {
      // The new one holds what the user made of it: nothing is lost.
      if (made) (void)unlink(kept.c_str());
    } else {
      lastFile_.keptOld = kept;
    }
  }
  if (entry) {
    entry->path = key;
    next_.put(std::move(*entry));
  }
  return written;
}

Result RealActions::writeTemplate(const std::string &path, const char *const *lines,
                                  const char *permissions, bool expand) {
  return place(path, false, [&](const std::string &where, Placement how) {
    return CreateFile(where, lines, permissions, expand, where == resolve(path) ? path : where,
                      how);
  });
}

Result RealActions::writeCompileScript(const std::string &path, int shellStyle,
                                       const std::string &shellPath) {
  return aboutScript(place(path, false,
                           [&](const std::string &where, Placement how) {
                             return WriteCompileScript(where, shellStyle, shellPath,
                                                       where == resolve(path) ? path : where, how);
                           }),
                     resolve(path));
}

Result RealActions::createFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  lastFile_ = {};
  const std::string target = resolve(path);
  // An existing file is kept as it is; a directory in the way is not one,
  // and the writer below says so.
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    lastFile_.unchanged = true;
    return {};
  }
  // A file that appeared meanwhile is kept, and is not the installation's.
  Result made = withDetail(WriteWholeFile(target, content, ModeFromPermissions(permissions), path,
                                          Placement::kIfAbsent));
  auto entry = made.ok() ? DescribeFile(target, true) : std::nullopt;
  if (entry && entry->digest == Sha256Hex(content)) {
    entry->path = RecordKey(target);
    next_.put(std::move(*entry));
  }
  return made;
}

Result RealActions::writeFile(const std::string &path, const std::string &content,
                              const char *permissions) {
  return place(path, false, [&](const std::string &where, Placement how) {
    return withDetail(WriteWholeFile(where, content, ModeFromPermissions(permissions),
                                     where == resolve(path) ? path : where, how));
  });
}

Result RealActions::renameFile(const std::string &from, const std::string &to) {
  lastFile_ = {};
  if (std::rename(resolve(from).c_str(), resolve(to).c_str()) == 0 || exists(resolve(to)))
    return {};
  return notRenamed(from, to, resolve(from), errno);
}

Result RealActions::removeFile(const std::string &path) {
  lastFile_ = {};
  const std::string target = resolve(path);
  const std::string key = RecordKey(target);
  next_.erase(key);
  std::string digest;
  if (ChangedSinceRecorded(prior(), target, &digest)) {
    // Changed by hand since the last installation: kept where a copy
    // replaced would be.
    const auto kept = KeptCopyName(target, kKeptOldSuffix);
    if (kept && (exists(*kept) ? unlink(target.c_str()) == 0
                               : renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, kept->c_str(),
                                           RENAME_NOREPLACE) == 0)) {
      lastFile_.keptOld = *kept;
      return {};
    }
    return failed(Fault::kNotWritten,
                  "Cannot keep the copy of '" + path +
                      "' that was changed since the last installation as '" +
                      (kept ? *kept : target + kKeptOldSuffix) + "' (" +
                      (kept ? std::strerror(errno) : "every name is taken") + ")",
                  target);
  }
  // A file that stays would be read as if it belonged to this installation.
  if (unlink(target.c_str()) == 0 || errno == ENOENT) return {};
  return notRemoved(path, target, errno);
}

Result RealActions::compile(const CommandFor &command, const std::string &target,
                            const std::string &) {
  return place(target, false, [&](const std::string &where, Placement how) -> Result {
    // The compiler writes under a temporary name: a run killed meanwhile
    // leaves no object that a later run would take for a good one.
    // In the run's scratch directory until it is whole: should the run be
    // killed, the next one removes that directory, and nothing the
    // compiler still writes lands beside the user's files.
    AtomicFile object(where, target, scratch_);
    if (how == Placement::kAnew) object.placeAnew();
    Result opened = object.openForProgram();
    if (!opened.ok()) return withDetail(std::move(opened));
    // Named relative to the directory the command runs in, where it can
    // be: the directory's own path may hold blanks.
    const std::string here = WithSlash(workDir_);
    std::string output = object.temporary();
    if (output.compare(0, here.size(), here) == 0) output.erase(0, here.size());
    Result compiled = runCompiler(command, target, object.temporary(), output);
    if (!compiled.ok()) {
      object.discard();
      return compiled;
    }
    return object.commit(kModeAsWritten);
  });
}

Result RealActions::sendNotice(const std::string &command) {
  if (!onPath(kMailCommand))
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: no mail command was found.");
  // The notice's scratch files are made in a directory of its own, never
  // beside the user's files.
  ScratchDirectory directory;
  if (!directory.make(TemporaryDirectory() + "/" + kNoticeScratchPrefix + kRandomPart))
    return failed(Fault::kNotOpened,
                  "The installation notice was not sent: no scratch directory could be made.");
  const int status = run(directory.path(), command);
  directory.remove();
  if (status == -1)
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: the shell could not be started.");
  return {};
}

// ---- PlanActions ----------------------------------------------------------

PlanActions::PlanActions(DiffDetail diffs)
    : ScratchActions(TemporaryDirectory() + "/" + kPlanScratchPrefix + kRandomPart),
      diffs_(diffs) {}

std::string PlanActions::keptLine(const std::string &path, const std::string &kept) const {
  if (keepChanged_)
    return "leave " + shown(path) + " as it is (changed since the last installation), and write "
           "the new one to " + shown(path + kKeptNewSuffix);
  return "keep " + shown(path) + " as " + shown(kept) + " (changed since the last installation)";
}

Result PlanActions::addDiff(const std::string &path, Result made, const std::string &rendered) {
  if (!made.ok()) return made;
  if (diffs_ == DiffDetail::kSized && !exists(resolve(path))) {
    add(NewFileLine(shown(path), ReadWholeFile(rendered).value_or("")));
    return {};
  }
  const auto diff = UnifiedDiff(resolve(path), rendered, shown(path));
  if (!diff) return failed(Fault::kNotOpened, "Cannot compare '" + path + "': diff did not run.");
  if (!diff->empty()) add(diff->substr(0, diff->size() - 1));
  return {};
}

Result PlanActions::begin() {
  if (Result problem = wouldBegin(); !problem.ok()) return problem;
  Result entered = enterScratch();
  if (!entered.ok()) return entered;
  return readRecord();
}

std::string PlanActions::addKept(const std::string &path,
                                 const std::function<Result(const std::string &)> &make) {
  std::string digest;
  const bool changed = ChangedSinceRecorded(prior(), resolve(path), &digest);
  if (!changed && diffs_ == DiffDetail::kNone) return {};
  const std::string made = renderPath();
  if (!make(made).ok()) return {};
  const std::string kept = keptCopyFor(path, made);
  if (!kept.empty()) add(keptLine(path, kept));
  return made;
}

Result PlanActions::end(bool keepSettings) {
  if (keepSettings) {
    const std::string final = WithSlash(workDir_) + kSettingsName;
    // One far larger than the installation writes is not read: it is kept
    // whatever it holds.
    const auto tooLarge = TooLargeToCompare(final, shown(kSettingsName));
    const auto old = tooLarge ? std::nullopt : ReadWholeFile(final);
    const auto content = ReadWholeFile(scratchSettings());
    std::optional<std::string> replaced;
    if (content && tooLarge) replaced.emplace();
    if (old && content && SettingsNeedBackup(*old, *content)) replaced = *old;
    const SettingsBackups backups = PlanSettingsBackups(final, replaced, keepBackups_);
    for (const std::string &oldest : backups.removals)
      add("remove " + shown(oldest) + " (" + BackupsKept(keepBackups_) + ")");
    for (const auto &[from, to] : backups.renames)
      add("rename " + shown(from) + " to " + shown(to));
    if (!backups.backup.empty())
      add("keep " + shown(kSettingsName) + " as " + shown(backups.backup));
    if (diffs_ != DiffDetail::kNone && tooLarge) {
      add(*tooLarge);
    } else if (diffs_ == DiffDetail::kSized && !old && content) {
      add(NewFileLine(shown(kSettingsName), *content));
    } else if (diffs_ != DiffDetail::kNone && content) {
      for (const std::string &change : SettingsChanges(old.value_or(""), *content))
        add(change);
    }
    add("write " + shown(kRecordName) + ", the record of the files of this installation");
  }
  leaveScratch();
  return {};
}

Result PlanActions::writeSettingsFile(const std::string &path, const char *permissions) {
  add("write " + shown(path) + " (" + permissions + ") from the settings template");
  // The scratch copy: the steps read back what they store in it.
  return ScratchActions::writeSettingsFile(path, permissions);
}

Result PlanActions::store(const char *section, const char *key, const std::string &value) {
  add(std::string("store [") + section + "] " + key + "=" + value);
  return ScratchActions::store(section, key, value);
}

Result PlanActions::writeTemplate(const std::string &path, const char *const *lines,
                                  const char *permissions, bool expand) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = CreateFile(where, lines, permissions, expand, path);
  });
  add("write " + shown(path) + " (" + permissions + ") from the " + TemplateName(lines));
  if (Result problem = wouldWriteTemplate(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::writeCompileScript(const std::string &path, int shellStyle,
                                       const std::string &shellPath) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = WriteCompileScript(where, shellStyle, shellPath, path);
  });
  add("write " + shown(path) + " (" + kScriptPermissions + "), the " + shells[shellStyle - 1].name +
      " compile script, first line \"#! " + shellPath + "\"");
  if (Result problem = wouldWriteScript(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::createFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  add("create " + shown(path) + " (" + permissions + ") holding \"" + content + "\"");
  struct stat st;
  if (stat(resolve(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return {};
  return wouldWriteFile(path);
}

Result PlanActions::writeFile(const std::string &path, const std::string &content,
                              const char *permissions) {
  Result rendered;
  const std::string made = addKept(path, [&](const std::string &where) {
    return rendered = WriteWholeFile(where, content, ModeFromPermissions(permissions));
  });
  add("write " + shown(path) + " (" + permissions + ")");
  if (Result problem = wouldWriteFile(path); !problem.ok()) return problem;
  if (diffs_ == DiffDetail::kNone) return {};
  return addDiff(path, rendered, made);
}

Result PlanActions::renameFile(const std::string &from, const std::string &to) {
  add("rename " + shown(from) + " to " + shown(to));
  return wouldRename(from, to);
}

Result PlanActions::removeFile(const std::string &path) {
  if (!exists(resolve(path))) return {};
  const std::string kept = keptCopyFor(path, {});
  add(kept.empty() ? "remove " + shown(path)
                   : "keep " + shown(path) + " as " + shown(kept) +
                         " (changed since the last installation)");
  return wouldRemove(path);
}

Result PlanActions::compile(const CommandFor &command, const std::string &target,
                            const std::string &why) {
  const std::string kept = keptCopyFor(target, {});
  if (!kept.empty()) add(keptLine(target, kept));
  add("compile " + shown(target) + " (" + why + "): " + command(target));
  return wouldWriteFile(target);
}

Result PlanActions::sendNotice(const std::string &command) {
  add("send the installation notice: " + command);
  return {};
}
