/*
 * actions.cc - the real installation actions and the planning ones.
 */
#include "actions.h"

#include <dirent.h>
#include <fcntl.h>
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
#include "form.h"
#include "file_writing.h"
#include "form_tables.h"
#include "settings_lines.h"
#include "templates.h"
#include "utility.h"

namespace {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
// The scratch directory of a real run lies in the installed directory, so
// that one left by a killed run is found and removed by the next.
constexpr char kRunScratchPrefix[] = ".velorix-setup.vx-";
constexpr char kPlanScratchName[] = "velorix-dry-run-";
constexpr char kRandomPart[] = "XXXXXX";
constexpr char kNoticeScratchName[] = "velorix-notice-";
constexpr char kMailCommand[] = "mail";
// Numbered backups beyond this are not made: the last one is replaced.
constexpr int kMaxBackups = 99;
constexpr auto kLockPoll = std::chrono::milliseconds(100);

constexpr char kMsgCompileFailed[] =
    "Cannot compile autodif.cc.\nSymbolical differentiation feature will be "
    "disabled.\nPlease check the name of C++ compiler\nand ensure it is "
    "accessable via the PATH variable";

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string temporaryDirectory() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

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
  struct sigaction ending {};
  ending.sa_handler = endGuardedGroup;
  sigaction(SIGTERM, &ending, nullptr);
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != tool) _exit(127);
  // The shell leads a process group of its own, with SIGTERM's default.
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  if (posix_spawnattr_init(&attributes) != 0 || posix_spawn_file_actions_init(&actions) != 0 ||
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF) != 0 ||
      posix_spawnattr_setpgroup(&attributes, 0) != 0 ||
      posix_spawnattr_setsigdefault(&attributes, &defaults) != 0 ||
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
int runIn(const std::string &directory, const std::string &command, std::string *errors) {
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
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    (void)!write(STDERR_FILENO, buffer, static_cast<std::size_t>(got));
    errors->append(buffer, static_cast<std::size_t>(got));
    if (errors->size() > kErrorsKept) errors->erase(0, errors->size() - kErrorsKept);
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

}  // namespace

std::string SettingsBackupName(const std::string &path, const std::string &content) {
  const std::string first = path + kSettingsBackupSuffix;
  for (int n = 0; n <= kMaxBackups; ++n) {
    const std::string name = n == 0 ? first : first + "." + std::to_string(n);
    if (!exists(name)) return name;
    const auto held = ReadWholeFile(name);
    if (held && *held == content) return name;
  }
  return first + "." + std::to_string(kMaxBackups);
}

void Actions::show(const std::string &text, const MessageSubject &) {
  Nlm_Message(MSG_OK, "%s", text.c_str());
}

// ---- ScratchActions -------------------------------------------------------

ScratchActions::ScratchActions(std::string pattern) : pattern_(std::move(pattern)) {
  std::error_code error;
  workDir_ = std::filesystem::current_path(error).string();
}

ScratchActions::~ScratchActions() { leaveScratch(); }

std::string ScratchActions::resolve(const std::string &path) const {
  if (path.empty() || path[0] == '/') return path;
  return WithSlash(workDir_) + path;
}

std::string ScratchActions::shown(const std::string &path) const {
  return std::filesystem::path(resolve(path)).lexically_normal().string();
}

Result ScratchActions::enterScratch() {
  std::string name = pattern_;
  if (workDir_.empty() || mkdtemp(name.data()) == nullptr) {
    return failed(Fault::kNotOpened,
                  "Cannot make a scratch directory for the settings file ('" + pattern_ +
                      "'): " + std::strerror(errno) + ".",
                  pattern_);
  }
  scratch_ = name;
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
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
  scratch_.clear();
}

Result ScratchActions::writeSettingsFile(const std::string &path, const char *permissions) {
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

int ScratchActions::run(const std::string &directory, const std::string &command) {
  lastCommand_ = CommandOutcome{command, -1, {}};
  lastCommand_.status = runIn(directory, command, &lastCommand_.errors);
  return lastCommand_.status;
}

Result ScratchActions::runCompiler(const CommandFor &command, const std::string &target,
                                   const std::string &output, const std::string &outputInCommand) {
  // An object is taken only when the compiler left one and said it
  // succeeded: one that failed half-way (a full disk) may leave a piece.
  const int status = run(workDir_, command(outputInCommand));
  const bool succeeded = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (succeeded && exists(output)) return {};
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
  unlock();
}

Result RealActions::lock() {
  const std::string path = WithSlash(workDir_) + kLockFileName;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds);
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      return failed(Fault::kNotOpened,
                    "Cannot create the lock file '" + path + "': " + std::strerror(errno) +
                        ".\nThe installation has been stopped.",
                    path);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The holder before us removes the file as it ends: a lock on a
      // file that is no longer there keeps nobody out.
      struct stat held, named;
      if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        lockFd_ = fd;
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
                "Another installation is running in the directory '" + workDir_ +
                    "'.\nPlease wait until it has ended, and try again.",
                workDir_);
}

void RealActions::unlock() {
  if (lockFd_ < 0) return;
  (void)unlink((WithSlash(workDir_) + kLockFileName).c_str());
  close(lockFd_);
  lockFd_ = -1;
}

Result RealActions::begin() {
  Result locked = lock();
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
  if (!entered.ok()) unlock();
  return entered;
}

Result RealActions::end(bool keepSettings) {
  Result installed = keepSettings ? installSettings() : Result();
  leaveScratch();
  unlock();
  return installed;
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
  const auto old = ReadWholeFile(final);
  struct stat st;
  if (old && stat(final.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      SettingsNeedBackup(*old, *content)) {
      const std::string backup = SettingsBackupName(final, *old);
    // The backup keeps the permissions its owner gave the file.
    const Result kept = WriteWholeFile(backup, *old, st.st_mode & 0666);
    if (!kept.ok()) {
      return failed(Fault::kNotWritten,
                    "Cannot keep the settings file '" + shown + "' as '" + backup + "' (" +
                        kept.detail() + ").\nThe new settings have not been stored.",
                    backup);
    }
    backup_ = backup;
  }
  if (!WriteWholeFile(final, *content, mode, shown).ok())
    return failed(Fault::kNotWritten, "Cannot write file '" + shown + "'", final);
  return {};
}

Result RealActions::writeSettingsFile(const std::string &path, const char *permissions) {
  // The installed directory's settings file is replaced at the end: find
  // out now, before anything is written, whether it can be.
  const std::string final = WithSlash(workDir_) + kSettingsName;
  if (!AtomicFile(final).check().ok())
    return failed(Fault::kNotOpened, "Cannot open file '" + path + "'", final);
  return ScratchActions::writeSettingsFile(path, permissions);
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

Result RealActions::writeTemplate(const std::string &path, const char *const *lines,
                                  const char *permissions, bool expand) {
  return CreateFile(resolve(path), lines, permissions, expand, path);
}

Result RealActions::writeCompileScript(const std::string &path, int shellStyle,
                                       const std::string &shellPath) {
  Result written = WriteCompileScript(resolve(path), shellStyle, shellPath, path);
  if (written.ok()) return written;
  // The script lies in the product directory.
  return Result::Failed(written.fault(), written.message(), {resolve(path), {Field::kKernel}},
                        written.detail());
}

Result RealActions::createFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  const std::string target = resolve(path);
  // An existing file is kept as it is; a directory in the way is not one,
  // and the writer below says so.
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return {};
  // A file that appeared meanwhile is kept.
  return withDetail(WriteWholeFile(target, content, ModeFromPermissions(permissions), path,
                                   Placement::kIfAbsent));
}

Result RealActions::writeFile(const std::string &path, const std::string &content,
                              const char *permissions) {
  return withDetail(WriteWholeFile(resolve(path), content, ModeFromPermissions(permissions), path));
}

Result RealActions::renameFile(const std::string &from, const std::string &to) {
  if (std::rename(resolve(from).c_str(), resolve(to).c_str()) == 0 || exists(resolve(to)))
    return {};
  return failed(Fault::kNotWritten,
                "Cannot rename '" + from + "' to '" + to + "' (" + std::strerror(errno) + ")",
                resolve(from));
}

Result RealActions::removeFile(const std::string &path) {
  // A file that stays would be read as if it belonged to this installation.
  if (unlink(resolve(path).c_str()) == 0 || errno == ENOENT) return {};
  return failed(Fault::kNotWritten,
                "Cannot remove file '" + path + "' (" + std::strerror(errno) + ")", resolve(path));
}

Result RealActions::compile(const CommandFor &command, const std::string &target,
                            const std::string &) {
  // The compiler writes under a temporary name: a run killed meanwhile
  // leaves no object that a later run would take for a good one.
  // In the run's scratch directory until it is whole: should the run be
  // killed, the next one removes that directory, and nothing the compiler
  // still writes lands beside the user's files.
  AtomicFile object(resolve(target), target, scratch_);
  Result opened = object.openForProgram();
  if (!opened.ok()) return withDetail(std::move(opened));
  // Named relative to the directory the command runs in, where it can be:
  // the directory's own path may hold blanks.
  const std::string here = WithSlash(workDir_);
  std::string output = object.temporary();
  if (output.compare(0, here.size(), here) == 0) output.erase(0, here.size());
  Result compiled = runCompiler(command, target, object.temporary(), output);
  if (!compiled.ok()) {
    object.discard();
    return compiled;
  }
  return object.commit(kModeAsWritten);
}

Result RealActions::sendNotice(const std::string &command) {
  if (!onPath(kMailCommand))
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: no mail command was found.");
  // The notice's scratch files are made in a directory of its own, never
  // beside the user's files.
  std::string directory = temporaryDirectory() + "/" + kNoticeScratchName + kRandomPart;
  if (mkdtemp(directory.data()) == nullptr)
    return failed(Fault::kNotOpened,
                  "The installation notice was not sent: no scratch directory could be made.");
  const int status = run(directory, command);
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
  if (status == -1)
    return failed(Fault::kCommandFailed,
                  "The installation notice was not sent: the shell could not be started.");
  return {};
}

// ---- PlanActions ----------------------------------------------------------

PlanActions::PlanActions(DiffDetail diffs)
    : ScratchActions(temporaryDirectory() + "/" + kPlanScratchName + kRandomPart), diffs_(diffs) {}

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

Result PlanActions::begin() { return enterScratch(); }

Result PlanActions::end(bool keepSettings) {
  if (keepSettings) {
    const std::string final = WithSlash(workDir_) + kSettingsName;
    const auto old = ReadWholeFile(final);
    const auto content = ReadWholeFile(scratchSettings());
    if (old && content && SettingsNeedBackup(*old, *content))
      add("keep " + shown(kSettingsName) + " as " + shown(SettingsBackupName(final, *old)));
    if (diffs_ == DiffDetail::kSized && !old && content) {
      add(NewFileLine(shown(kSettingsName), *content));
    } else if (diffs_ != DiffDetail::kNone && content) {
      for (const std::string &change : SettingsChanges(old.value_or(""), *content))
        add(change);
    }
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
  add("write " + shown(path) + " (" + permissions + ") from the " + TemplateName(lines));
  if (diffs_ == DiffDetail::kNone) return {};
  const std::string made = renderPath();
  return addDiff(path, CreateFile(made, lines, permissions, expand, path), made);
}

Result PlanActions::writeCompileScript(const std::string &path, int shellStyle,
                                       const std::string &shellPath) {
  add("write " + shown(path) + " (" + kScriptPermissions + "), the " + shells[shellStyle - 1].name +
      " compile script, first line \"#! " + shellPath + "\"");
  if (diffs_ == DiffDetail::kNone) return {};
  const std::string made = renderPath();
  return addDiff(path, WriteCompileScript(made, shellStyle, shellPath, path), made);
}

Result PlanActions::createFile(const std::string &path, const std::string &content,
                               const char *permissions) {
  add("create " + shown(path) + " (" + permissions + ") holding \"" + content + "\"");
  return {};
}

Result PlanActions::writeFile(const std::string &path, const std::string &content,
                              const char *permissions) {
  add("write " + shown(path) + " (" + permissions + ")");
  if (diffs_ == DiffDetail::kNone) return {};
  const std::string made = renderPath();
  return addDiff(path, WriteWholeFile(made, content, ModeFromPermissions(permissions)), made);
}

Result PlanActions::renameFile(const std::string &from, const std::string &to) {
  add("rename " + shown(from) + " to " + shown(to));
  return {};
}

Result PlanActions::removeFile(const std::string &path) {
  if (exists(resolve(path))) add("remove " + shown(path));
  return {};
}

Result PlanActions::compile(const CommandFor &command, const std::string &target,
                            const std::string &why) {
  add("compile " + shown(target) + " (" + why + "): " + command(target));
  return {};
}

Result PlanActions::sendNotice(const std::string &command) {
  add("send the installation notice: " + command);
  return {};
}
