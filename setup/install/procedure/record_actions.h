/*
 * record_actions.h - a record of what a run did: each action with its
 * outcome, every message shown, and how the run ended.
 *
 * RecordActions wraps the actions of a run (actions.h) and notes, as they
 * happen, one line per file written (its size and mode) or found
 * unchanged, removed or renamed, per copy kept of a file changed since the
 * last installation, per key stored, per command run (its exit status
 * and, when it failed, its own error output), per message shown (the
 * support library's included), the settings backups moved and removed,
 * the record of the installation and, at the end, the outcome.  Every path is written absolute.
 * The lines are appended to a log file when one is given (flushed at once,
 * so that a run that dies leaves what it did), and kept for the summary
 * that each run prints.
 */
#ifndef VELORIX_SETUP_RECORD_ACTIONS_H
#define VELORIX_SETUP_RECORD_ACTIONS_H

#include <ncbi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "actions.h"
#include "installation.h"
#include "message_route.h"

// The log a run appends to.  Every line is written and flushed at once, so
// that a run that dies leaves what it did; a write that fails is kept, and
// told when the log is closed: a log is never lost without a word.
class LogFile {
 public:
  // Opens path for appending; ok() is false when it cannot be, and close()
  // says why.
  explicit LogFile(const std::string &path);
  ~LogFile();
  LogFile(const LogFile &) = delete;
  LogFile &operator=(const LogFile &) = delete;

  bool ok() const { return file_ != nullptr && problem_.empty(); }

  // Appends line and a line feed.
  void write(const std::string &line);

  // Closes the log: done when all that was written is in it, otherwise a
  // fault whose message names the file and what went wrong.
  Result close();

 private:
  void fail(int error);

  std::string path_;
  std::FILE *file_ = nullptr;
  bool opened_ = false;
  std::string problem_;
};

// What the log's header says of the run besides its kind and form.
struct RunContext {
  std::string version;      // the program and its version, as --version prints them
  std::string commandLine;  // the whole command line, quoted as a shell would take it
  std::string answerFile;   // the answer file the form came from, absolute; empty for none
};

class RecordActions : public ForwardingActions, private MessageListener {
 public:
  // what: the kind of run, for the log's header ("unattended", "window",
  // "dry run", "check").  log: open, or null for none.
  RecordActions(Actions &inner, const InstallForm &form, const char *what, LogFile *log,
                const RunContext &context = {});
  ~RecordActions() override;
  RecordActions(const RecordActions &) = delete;
  RecordActions &operator=(const RecordActions &) = delete;

  void show(const std::string &text, const MessageSubject &about) override;
  void advise(const std::string &text, const MessageSubject &about) override;
  Result end(bool keepSettings) override;
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  Result take(const FileStep &step) override;
  Result sendNotice(const std::string &command) override;

  // Notes how the run ended.
  void finish(InstallOutcome outcome);

  // A few lines saying what was installed and where, for the end of a
  // run.
  std::string summary() const;

 private:
  void note(const std::string &line);
  // Notes a message shown (or advised) with what it is about.
  void noteMessage(const std::string &text, const MessageSubject &about);
  // path as the log shows it: absolute, without "." and ".." steps.
  std::string shown(const std::string &path) const;
  // Notes a file's action; returns result.
  Result noteFile(const std::string &verb, const std::string &path, Result result);
  void noteCommand(const char *what, bool done);
  // Notes every message that does not come through show(); shows none.
  bool onMessage(const char *text) override;

  const InstallForm &form_;
  LogFile *log_;
  bool forwarding_ = false;  // a message on its way through show()
  // Notes what lastFile() says of the file path just written: a copy
  // kept, or the new one written beside it.
  void noteKept(const std::string &path);
  int written_ = 0;
  int unchanged_ = 0;
  int notWritten_ = 0;
  // A line each for the summary: the files changed since the last
  // installation, and what became of them.
  std::vector<std::string> kept_;
  bool compiled_ = false;
  bool settingsInPlace_ = false;
  InstallOutcome outcome_ = InstallOutcome::Stopped;
  bool finished_ = false;
  MessageRoute route_{*this};
};

#endif
