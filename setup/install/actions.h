/*
 * actions.h - what the installation steps do to the world, behind one
 * interface.
 *
 * The steps (installation.cc) decide what is to be done; an Actions object
 * does it.  RealActions writes, removes, renames and runs; PlanActions
 * only lists what it would do, for a dry run; CheckActions
 * (check_actions.h) compares with what is there.
 *
 * All of them build the settings file in a scratch directory of their
 * own, which is the working directory while a run lasts (the core library
 * finds the settings file there): the steps read back what they store, so
 * even a plan needs a real one.  Paths of the installed directory are
 * therefore resolved against it (resolve()).  At the end RealActions puts
 * the settings file into the installed directory in one step, keeping the
 * one it replaces as a backup; a plan throws it away.
 *
 * An action shows nothing: it returns a Result that carries the message
 * for the user, and the procedure shows it (show()) and decides what
 * follows.
 */
#ifndef VELORIX_SETUP_ACTIONS_H
#define VELORIX_SETUP_ACTIONS_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "result.h"

// How much --diff shows of what would change.
enum class DiffDetail {
  kNone,   // nothing: a line per change
  kSized,  // a diff of each text file, a line per setting; a file that is not
           // there yet in one line
  kFull,   // the same, but every line of a file that is not there yet too
};

// The compile command for a given output file name.
using CommandFor = std::function<std::string(const std::string &output)>;

// How the last command run went: its exit status as the shell gave it
// (-1: none ran), and what it wrote to its standard error (the end of it).
struct CommandOutcome {
  std::string command;
  int status = -1;
  std::string errors;
};

class Actions {
 public:
  virtual ~Actions() = default;

  // Shows a message of the procedure and waits until it is dismissed: a
  // modal box with OK.  The text is never a format.
  virtual void show(const std::string &text, const MessageSubject &about = {});

  // Where path lies for the file system: relative paths belong to the
  // installed directory, not to the scratch directory of the settings.
  virtual std::string resolve(const std::string &path) const = 0;

  // Called once the form has passed its checks, before anything is
  // written: takes what the run needs (a lock, the scratch directory) and
  // enters the scratch directory.
  virtual Result begin() = 0;

  // Called at the end of every run that began.  keepSettings: the settings
  // file built in the scratch directory is complete and is to replace the
  // installed directory's own.  Leaves the scratch directory.  A fault
  // when the settings file could not be put in place.
  virtual Result end(bool keepSettings) = 0;

  // Writes the settings template to path and makes the core library read
  // it anew.
  virtual Result writeSettingsFile(const std::string &path, const char *permissions) = 0;

  // Stores value under [section] key.  A fault without a message when the
  // settings file does not take it: the settings code has said why.
  virtual Result store(const char *section, const char *key, const std::string &value) = 0;
  // The stores between holdStores and writeStores are written to the
  // settings file together, by writeStores, which says when the file
  // lacks one of them.  Until then a store says only whether the value
  // was taken.
  virtual void holdStores() {}
  virtual Result writeStores() { return {}; }

  // Writes a template (NULL-terminated lines), each line expanded through
  // the settings when expand is set, and applies permissions.
  virtual Result writeTemplate(const std::string &path, const char *const *lines,
                               const char *permissions, bool expand) = 0;

  // Writes the compile script of shell style shellStyle (1-based record of
  // shells) with "#! " and shellPath as its first line: Fault::kNotOpened
  // when it cannot be opened.
  virtual Result writeCompileScript(const std::string &path, int shellStyle,
                                    const std::string &shellPath) = 0;

  // Makes a new file holding content with the mode of permissions; an
  // existing file is left as it is.
  virtual Result createFile(const std::string &path, const std::string &content,
                            const char *permissions) = 0;

  // Makes path hold content with the mode of permissions; a file that
  // holds them already is left as it is.
  virtual Result writeFile(const std::string &path, const std::string &content,
                           const char *permissions) = 0;

  // Renames from to to; a fault when to is not there afterwards.
  virtual Result renameFile(const std::string &from, const std::string &to) = 0;

  // Removes path when it exists; a fault when it is still there afterwards.
  virtual Result removeFile(const std::string &path) = 0;

  // Runs command(output) through the shell in the installed directory to
  // make target, which is needed for the reason why ("missing", ...);
  // output is a temporary name that is put in place as target once the
  // command has left it.  Fault::kCommandFailed when the command did not
  // make it; target is then as it was.
  virtual Result compile(const CommandFor &command, const std::string &target,
                         const std::string &why) = 0;

  // Sends the installation notice by running command through the shell.
  virtual Result sendNotice(const std::string &command) = 0;

  // What the last command run by compile or sendNotice did; nothing when
  // no command has run.
  virtual CommandOutcome lastCommand() const { return {}; }

  // Where end() kept the settings file it replaced; empty when it kept
  // none.
  virtual std::string settingsBackup() const { return {}; }
};

// Hands every action to another Actions object: the base of objects that
// add to what one does (say, one that records each action).
class ForwardingActions : public Actions {
 public:
  explicit ForwardingActions(Actions &inner) : inner_(inner) {}

  void show(const std::string &text, const MessageSubject &about) override {
    inner_.show(text, about);
  }
  std::string resolve(const std::string &path) const override { return inner_.resolve(path); }
  Result begin() override { return inner_.begin(); }
  Result end(bool keepSettings) override { return inner_.end(keepSettings); }
  Result writeSettingsFile(const std::string &path, const char *permissions) override {
    return inner_.writeSettingsFile(path, permissions);
  }
  Result store(const char *section, const char *key, const std::string &value) override {
    return inner_.store(section, key, value);
  }
  void holdStores() override { inner_.holdStores(); }
  Result writeStores() override { return inner_.writeStores(); }
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override {
    return inner_.writeTemplate(path, lines, permissions, expand);
  }
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override {
    return inner_.writeCompileScript(path, shellStyle, shellPath);
  }
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override {
    return inner_.createFile(path, content, permissions);
  }
  Result writeFile(const std::string &path, const std::string &content,
                   const char *permissions) override {
    return inner_.writeFile(path, content, permissions);
  }
  Result renameFile(const std::string &from, const std::string &to) override {
    return inner_.renameFile(from, to);
  }
  Result removeFile(const std::string &path) override { return inner_.removeFile(path); }
  Result compile(const CommandFor &command, const std::string &target,
                 const std::string &why) override {
    return inner_.compile(command, target, why);
  }
  Result sendNotice(const std::string &command) override { return inner_.sendNotice(command); }
  CommandOutcome lastCommand() const override { return inner_.lastCommand(); }
  std::string settingsBackup() const override { return inner_.settingsBackup(); }

 private:
  Actions &inner_;
};

// What every kind of run shares: the installed directory (the working
// directory when the object is made) and the scratch directory of the
// settings file.
class ScratchActions : public Actions {
 public:
  std::string resolve(const std::string &path) const override;
  // path as a plan or a check shows it: absolute, without "." steps.
  std::string shown(const std::string &path) const;
  // Into the scratch directory, which is the working directory.
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  void holdStores() override;
  Result writeStores() override;
  CommandOutcome lastCommand() const override { return lastCommand_; }
  const std::string &workDir() const { return workDir_; }

 protected:
  // pattern: the scratch directory's path, ending in XXXXXX.
  explicit ScratchActions(std::string pattern);
  ~ScratchActions() override;

  // Makes the scratch directory and enters it.
  Result enterScratch();
  // Leaves the scratch directory and removes it.
  void leaveScratch();
  // The settings file built in the scratch directory.
  std::string scratchSettings() const;
  // A fresh name in the scratch directory for a file made to compare.
  std::string renderPath();
  // Runs command through the shell in directory and keeps how it went.
  int run(const std::string &directory, const std::string &command);
  // Runs command(outputInCommand) in the installed directory; a fault
  // with the compile message when it failed or left nothing at output.
  Result runCompiler(const CommandFor &command, const std::string &target,
                     const std::string &output, const std::string &outputInCommand);

  std::string workDir_;
  std::string pattern_;
  std::string scratch_;
  // While the run lasts: directory syncs once each, at the end, and none
  // for what stays in the scratch directory.
  std::optional<BatchedSyncs> syncs_;
  CommandOutcome lastCommand_;

 private:
  int rendered_ = 0;
};

// Does it all.  Only one installation at a time runs in a directory: a
// second one waits a few seconds for the first and then gives up.
class RealActions : public ScratchActions {
 public:
  RealActions();
  ~RealActions() override;

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override;
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override;
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override;
  Result writeFile(const std::string &path, const std::string &content,
                   const char *permissions) override;
  Result renameFile(const std::string &from, const std::string &to) override;
  Result removeFile(const std::string &path) override;
  Result compile(const CommandFor &command, const std::string &target,
                 const std::string &why) override;
  Result sendNotice(const std::string &command) override;
  std::string settingsBackup() const override { return backup_; }

 private:
  Result lock();
  void unlock();
  Result installSettings();

  int lockFd_ = -1;
  // Every value stored, by lower-case "section.key": what the settings
  // file must hold before it goes into place.
  std::map<std::string, std::string> stored_;
  std::string backup_;
};

// Lists, one line each in procedure order, every file written, removed,
// renamed or compiled and every setting stored, and changes nothing
// outside its scratch directory.  With diffs, each text file that would
// change is followed by its unified diff (a new file by one line, unless
// DiffDetail::kFull), and the end by one line per setting that would
// change.
class PlanActions : public ScratchActions {
 public:
  explicit PlanActions(DiffDetail diffs = DiffDetail::kNone);

  const std::vector<std::string> &lines() const { return lines_; }

  Result begin() override;
  Result end(bool keepSettings) override;
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  Result writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                       bool expand) override;
  Result writeCompileScript(const std::string &path, int shellStyle,
                            const std::string &shellPath) override;
  Result createFile(const std::string &path, const std::string &content,
                    const char *permissions) override;
  Result writeFile(const std::string &path, const std::string &content,
                   const char *permissions) override;
  Result renameFile(const std::string &from, const std::string &to) override;
  Result removeFile(const std::string &path) override;
  Result compile(const CommandFor &command, const std::string &target,
                 const std::string &why) override;
  Result sendNotice(const std::string &command) override;

 private:
  void add(const std::string &line) { lines_.push_back(line); }
  // Adds the diff of path against the file made at made, when it differs.
  Result addDiff(const std::string &path, Result made, const std::string &rendered);

  DiffDetail diffs_;
  std::vector<std::string> lines_;
};

// The settings file of a directory, and where the one it replaces is kept.
constexpr char kSettingsBackupSuffix[] = ".bak";

// A name for the backup of the settings file at path that holds content:
// path.bak, unless that holds something else; then path.bak.1, .2 and so
// on, so that no earlier backup is ever lost.  An existing backup with the
// same content is reused.
std::string SettingsBackupName(const std::string &path, const std::string &content);

// Whether a settings file that holds old is kept when content replaces
// it: when it holds something, and something else.
inline bool SettingsNeedBackup(const std::string &old, const std::string &content) {
  return !old.empty() && old != content;
}

// The lock file that keeps two installations out of one directory.
constexpr char kLockFileName[] = ".velorix-setup.lock";

// How long a second installation waits for the first.
constexpr int kLockWaitMilliseconds = 5000;

#endif
