/*
 * record_actions.cc - the log of a run and its summary.
 */
#include "record_actions.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "file_transaction.h"
#include "utility.h"

namespace {

constexpr char kSettingsFile[] = "./" VX_SETTINGS_FILE;
constexpr char kNoKernel[] = "none given";

std::string permissionsOf(mode_t mode) {
  static const char kLetters[] = "rwxrwxrwx";
  std::string text(9, '-');
  for (int i = 0; i < 9; ++i) {
    if ((mode & (1u << (8 - i))) != 0) text[static_cast<std::size_t>(i)] = kLetters[i];
  }
  return text;
}

// "(1234 bytes, rw-r--r--)" for a file that is there.
std::string sizeAndMode(const std::string &path, mode_t mode = 0) {
  // A file written is staged until the run's end: told as it will be.
  const FileTransaction *files = FileTransaction::open();
  const std::string held = files != nullptr ? files->current(path) : path;
  struct stat st;
  if (stat(held.c_str(), &st) != 0) return "(not there)";
  return "(" + std::to_string(static_cast<long long>(st.st_size)) + " bytes, " +
         permissionsOf((mode != 0 ? mode : st.st_mode) & 0777) + ")";
}

// A message's lines, each after a marker, as one block of the log.
std::string indented(const std::string &text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    out += "  | " + text.substr(start, end == std::string::npos ? end : end - start);
    if (end == std::string::npos) break;
    out += "\n";
    start = end + 1;
  }
  return out;
}

// path without "." and ".." steps and without a "/" at its end.
std::string normal(const std::string &path) {
  std::string text = std::filesystem::path(path).lexically_normal().string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// A removed settings backup, by what it held: "the settings replaced on
// 2026-12-08 09:01:02".
std::string heldBy(const RemovedBackup &backup) {
  char when[32] = "";
  std::tm local{};
  if (backup.replaced == 0 || localtime_r(&backup.replaced, &local) == nullptr ||
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return "the settings replaced at a time unknown";
  return std::string("the settings replaced on ") + when;
}

// The installed directory: where "." resolves to.
std::string installedDirectory(const Actions &actions) { return normal(actions.resolve(".")); }

}  // namespace

LogFile::LogFile(const std::string &path) : path_(path) {
  // A file or a terminal: a pipe may never be read (opening it would wait
  // for ever) and a directory cannot be written.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
    problem_ = "Cannot open the log file '" + path + "' (it is neither a file nor a terminal)";
    return;
  }
  file_ = std::fopen(path.c_str(), "a");
  opened_ = file_ != nullptr;
  if (file_ == nullptr) fail(errno);
}

LogFile::~LogFile() { (void)close(); }

void LogFile::fail(int error) {
  if (!problem_.empty()) return;
  problem_ =
      std::string(file_ == nullptr ? "Cannot open the log file '" : "Cannot write the log file '") +
      path_ + "' (" + std::strerror(error != 0 ? error : EIO) + ")";
}

void LogFile::write(const std::string &line) {
  if (file_ == nullptr || !problem_.empty()) return;
  if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF ||
      std::fflush(file_) != 0)
    fail(errno);
}

Result LogFile::close() {
  if (file_ != nullptr) {
    std::FILE *file = file_;
    if (std::fclose(file) != 0) {
      fail(errno);
    }
    file_ = nullptr;
  }
  if (problem_.empty()) return {};
  if (!opened_) return Result::Failed(Fault::kNotOpened, problem_, {path_});
  return Result::Failed(Fault::kNotWritten, problem_ + ":\nwhat this run did is not all in it.",
                        {path_});
}

RecordActions::RecordActions(Actions &inner, const InstallForm &form, const char *what,
                             LogFile *log, const RunContext &context)
    : ForwardingActions(inner), form_(form), log_(log) {
  char when[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
  const std::string &kernel = form.text(Field::kKernel);
  note(std::string("=== ") + when + " " + context.version + ", " + what + ": " +
       (form.full ? "Full" : "User") + " installation");
  note("  working directory: " + installedDirectory(*this));
  note("  product directory: " + (kernel.empty() ? std::string(kNoKernel) : shown(kernel)));
  note("  command line: " + context.commandLine);
  note("  answer file: " +
       (context.answerFile.empty() ? std::string("none") : shown(context.answerFile)));
  if (!form.siteDefaults.empty()) note("  site defaults: " + form.siteDefaults);
}

RecordActions::~RecordActions() {
  if (!finished_) note("the run ended without an outcome");
}

bool RecordActions::onMessage(const char *text) {
  if (!forwarding_) note(std::string("message:\n") + indented(text));
  return false;
}

std::string RecordActions::shown(const std::string &path) const {
  return normal(std::filesystem::absolute(resolve(path)).string());
}

void RecordActions::note(const std::string &line) {
  if (log_ != nullptr) log_->write(line);
}

void RecordActions::noteKept(const std::string &path) {
  const FileNote file = lastFile();
  if (!file.keptOld.empty()) {
    note("kept " + shown(path) + " as " + shown(file.keptOld) +
         ": changed since the last installation");
    kept_.push_back(shown(path) + ", kept as " + shown(file.keptOld));
  }
  if (!file.keptNew.empty()) {
    note("left " + shown(path) + " as it is: changed since the last installation");
    kept_.push_back(shown(path) + ", left as it is; the new one is " + shown(file.keptNew));
  }
}

Result RecordActions::noteFile(const std::string &verb, const std::string &path, Result result) {
  if (result.ok()) {
    noteKept(path);
    const FileNote file = lastFile();
    const std::string written = file.keptNew.empty() ? path : file.keptNew;
    // What the file will hold: the plan's bytes, when it has them.
    const std::string held =
        file.bytes.empty() ? sizeAndMode(resolve(written)) : sizeAndMode(file.bytes, file.mode);
    if (file.unchanged) {
      ++unchanged_;
      note("unchanged " + shown(written) + " " + held);
    } else {
      ++written_;
      note(verb + " " + shown(written) + " " + held);
    }
  } else {
    // Said with what the path holds, since a file not written is never
    // put in place: the one from before, or nothing.
    ++notWritten_;
    struct stat st;
    const bool there = stat(resolve(path).c_str(), &st) == 0;
    note("NOT " + verb + " " + shown(path) + "; " +
         (!there                ? std::string("nothing is there")
          : S_ISDIR(st.st_mode) ? std::string("a directory is there")
                                : "what is there is left as it was " + sizeAndMode(resolve(path))));
  }
  return result;
}

void RecordActions::noteCommand(const char *what, bool done) {
  const CommandOutcome ran = lastCommand();
  if (ran.status == -1 && ran.command.empty()) return;
  std::string status;
  if (ran.stopped) {
    status = "stopped before its end, as asked";
  } else if (ran.status == -1) {
    status = "could not be run";
  } else if (WIFEXITED(ran.status)) {
    status = "exit status " + std::to_string(WEXITSTATUS(ran.status));
  } else {
    status = "killed by signal " + std::to_string(WTERMSIG(ran.status));
  }
  note(std::string("ran (") + what + ") " + ran.command + ": " + status);
  if (!done && !ran.errors.empty()) note("  its error output:\n" + indented(ran.errors));
}

void RecordActions::noteMessage(const std::string &text, const MessageSubject &about) {
  std::string missing;
  for (const MissingFile &file : about.missing)
    missing += "\n  (" + file.wrong + " " + shown(file.path) + ")";
  note("message:\n" + indented(text) +
       (about.path.empty() ? "" : "\n  (about " + shown(about.path) + ")") + missing);
}

void RecordActions::show(const std::string &text, const MessageSubject &about) {
  noteMessage(text, about);
  forwarding_ = true;
  ForwardingActions::show(text, about);
  forwarding_ = false;
}

void RecordActions::advise(const std::string &text, const MessageSubject &about) {
  noteMessage(text, about);
  forwarding_ = true;
  ForwardingActions::advise(text, about);
  forwarding_ = false;
}

Result RecordActions::end(bool keepSettings) {
  Result done = ForwardingActions::end(keepSettings);
  if (keepSettings) {
    if (done.ok()) {
      settingsInPlace_ = true;
      const EndNote ended = endNote();
      for (const RemovedBackup &oldest : ended.backupsRemoved)
        note("removed the settings backup holding " + heldBy(oldest) + " (it was " +
             shown(oldest.path) + "), the oldest beyond those kept");
      for (const auto &[from, to] : ended.backupsMoved)
        note("moved the settings backup " + shown(from) + " to " + shown(to));
      const std::string backup = settingsBackup();
      if (!backup.empty()) note("kept the settings file it replaces as " + shown(backup));
      note(std::string(ended.settingsUnchanged ? "settings file unchanged: "
                                               : "settings file in place: ") +
           shown(kSettingsFile) + " " + sizeAndMode(resolve(kSettingsFile)));
    } else {
      note("NOT in place: the settings file " + shown(kSettingsFile));
    }
  } else {
    note("the settings file " + shown(kSettingsFile) + " is left as it was");
  }
  const EndNote ended = endNote();
  if (!ended.record.empty()) {
    note(std::string("record of the installation ") +
         (ended.recordUnchanged ? "unchanged: " : "written: ") + shown(ended.record));
  }
  return done;
}

Result RecordActions::writeSettingsFile(const std::string &path, const char *permissions) {
  Result done = ForwardingActions::writeSettingsFile(path, permissions);
  note(std::string(done.ok() ? "" : "NOT ") +
       "written the settings template, to be put in place as " + shown(path) + " at the end");
  return done;
}

Result RecordActions::store(const char *section, const char *key, const std::string &value) {
  Result done = ForwardingActions::store(section, key, value);
  note(std::string(done.ok() ? "stored [" : "NOT stored [") + section + "] " + key + "=" + value);
  return done;
}

Result RecordActions::take(const FileStep &step) {
  switch (step.kind) {
    case StepKind::kFile:
      return noteFile("written", step.path, ForwardingActions::take(step));
    case StepKind::kCreate:
      return noteFile("created", step.path, ForwardingActions::take(step));
    case StepKind::kRename: {
      Result done = ForwardingActions::take(step);
      note(std::string(done.ok() ? "renamed " : "NOT renamed ") + shown(step.path) + " to " +
           shown(step.to) + (done.ok() ? "" : ": " + done.message()));
      return done;
    }
    case StepKind::kRemove: {
      const bool there = access(resolve(step.path).c_str(), F_OK) == 0;
      Result gone = ForwardingActions::take(step);
      if (gone.ok() && !lastFile().keptOld.empty()) {
        noteKept(step.path);
      } else if (there) {
        note(std::string(gone.ok() ? "removed " : "NOT removed ") + shown(step.path));
      }
      return gone;
    }
    case StepKind::kCompile: {
      note("compiling " + step.path + ": " + step.why);
      Result done = ForwardingActions::take(step);
      noteCommand("compile", done.ok());
      compiled_ = compiled_ || done.ok();
      return noteFile("compiled", step.path, std::move(done));
    }
    case StepKind::kSettings:
    case StepKind::kStore:
    case StepKind::kNotice:
      break;
  }
  return ForwardingActions::take(step);
}

Result RecordActions::sendNotice(const std::string &command) {
  Result done = ForwardingActions::sendNotice(command);
  noteCommand("notice", done.ok());
  return done;
}

void RecordActions::finish(InstallOutcome outcome) {
  outcome_ = outcome;
  finished_ = true;
  switch (outcome) {
    case InstallOutcome::Ended:
      note("outcome: installed");
      break;
    case InstallOutcome::Refused:
      note("outcome: refused, nothing written");
      break;
    case InstallOutcome::Stopped:
      note("outcome: stopped, not installed as asked");
      break;
  }
}

std::string RecordActions::summary() const {
  const std::string &kernel = form_.text(Field::kKernel);
  std::string text =
      std::string(form_.full ? "Full" : "User") + " installation in " + installedDirectory(*this) +
      " (" +
      (kernel.empty() ? std::string("no product directory given") : "product directory " + kernel) +
      "): ";
  text += outcome_ == InstallOutcome::Ended     ? "done.\n"
          : outcome_ == InstallOutcome::Refused ? "refused.\n"
                                                : "stopped.\n";
  const bool unchanged = settingsInPlace_ && endNote().settingsUnchanged;
  text += "  settings file: " +
          (settingsInPlace_ ? shown(kSettingsFile) + (unchanged ? " unchanged" : " written")
                            : std::string("not changed"));
  const std::string backup = settingsBackup();
  if (!backup.empty()) text += ", the previous one kept as " + shown(backup);
  const EndNote ended = endNote();
  if (!ended.backupsRemoved.empty()) {
    // Told by what each held: its name is the next one's now.
    text += "\n  settings backups removed, the oldest beyond those kept:";
    for (std::size_t i = 0; i < ended.backupsRemoved.size(); ++i)
      text += std::string(i == 0 ? " the one holding " : ", the one holding ") +
              heldBy(ended.backupsRemoved[i]);
  }
  text += "\n  files written: " + std::to_string(written_);
  if (unchanged_ > 0) text += ", unchanged: " + std::to_string(unchanged_);
  if (notWritten_ > 0) text += ", not written: " + std::to_string(notWritten_);
  if (compiled_) text += "; autodif.o compiled";
  text += "\n";
  for (const std::string &line : kept_)
    text += "  changed since the last installation: " + line + "\n";
  return text;
}
