/*
 * scratch_actions.cc - what every kind of run shares: the scratch
 * directory of the settings file, the record of the last installation,
 * the compile, and what a real run would meet.
 */
#include "actions.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "action_messages.h"
#include "atomic_file.h"
#include "file_writing.h"
#include "form.h"
#include "object_file.h"
#include "process_guard.h"
#include "templates.h"
#include "utility.h"

using namespace action_messages;

namespace {

constexpr char kMsgCompileFailed[] =
    "Cannot compile autodif.cc.\nSymbolical differentiation feature will be "
    "disabled.\nPlease check the name of C++ compiler\nand ensure it is "
    "accessable via the PATH variable";

constexpr char kMsgCompileCancelled[] =
    "The compile of autodif.cc was cancelled.\nThe installation has been stopped; nothing "
    "in the directory has changed.";

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

// Whether an entry can be made in, or removed from, path's directory; the
// system's reason in errno when not.
bool directoryWritable(const std::string &path) {
  const std::string directory = std::filesystem::path(path).parent_path().string();
  return access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

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

void ScratchActions::predict(const std::string &path, const std::string &made, unsigned mode,
                             bool data) {
  const auto bytes = ReadWholeFile(made);
  if (bytes) next_.put(PredictedEntry(resolve(path), *bytes, mode, data));
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
      RunGuarded(directory, command, &lastCommand_.errors, goOn, &lastCommand_.stopped);
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
