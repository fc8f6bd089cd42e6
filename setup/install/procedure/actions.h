/*
 * actions.h - what the installation steps do to the world, behind one
 * interface.
 *
 * The steps (installation.cc) decide what is to be done; an Actions object
 * does it.  Every kind of run works the steps out as one plan (planner.h:
 * each file with its bytes, mode and state against the disk, each
 * removal, rename and compile, the settings file, its backups and the
 * record), and one executor reads it: a dry run prints it, a check lists
 * its differences (plan_report.h), a real run (real_actions.h) stages each
 * step as planned beside its place and, at the end of a run that ends
 * whole, puts them all in place together; a run that stops puts nothing
 * in place.  A step that touches a file is one FileStep (file_step.h),
 * handed over by take().
 *
 * All of them build the settings file in a scratch directory of their
 * own, which is the working directory while a run lasts (the core library
 * finds the settings file there): the steps read back what they store, so
 * even a plan needs a real one.  Paths of the installed directory are
 * therefore resolved against it (resolve()).
 *
 * An action shows nothing: it returns a Result that carries the message
 * for the user, and the procedure shows it (show()) and decides what
 * follows.
 */
#ifndef VELORIX_SETUP_ACTIONS_H
#define VELORIX_SETUP_ACTIONS_H

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "atomic_file.h"
#include "file_step.h"
#include "install_record.h"
#include "result.h"
#include "scratch_directory.h"

// How much --diff shows of what would change.
enum class DiffDetail {
  kNone,   // nothing: a line per change
  kSized,  // a diff of each text file, a line per setting; a file that is not
           // there yet in one line
  kFull,   // the same, but every line of a file that is not there yet too
};

// How the last command run went: its exit status as the shell gave it
// (-1: none ran), and what it wrote to its standard error (the end of it).
struct CommandOutcome {
  std::string command;
  int status = -1;
  std::string errors;
  // Ended before its end because whoever ran the installation asked so
  // (the window's "Cancel"); status is then the one it ended with.
  bool stopped = false;
};

// Called again and again while a compile runs, at most
// kWaitSliceMilliseconds apart (and whenever the compiler writes to its
// standard error), for whoever runs the installation: a window keeps
// itself alive with it.  False stops the compile at once.
using WhileCompiling = std::function<bool()>;
constexpr int kWaitSliceMilliseconds = 25;
// What the last step that wrote a file does to it, beyond writing it.
struct FileNote {
  // It held what the run writes, mode and all, and was left as it was.
  bool unchanged = false;
  // It was changed since the last installation: the user's copy was kept
  // at keptOld, and the new one put in its place; or, when the user keeps
  // theirs, it was left and the new one written to keptNew.
  std::string keptOld;
  std::string keptNew;
  // Where the bytes it is left holding are now (nothing placed yet: a
  // scratch file of the plan), and the mode it is left with.
  std::string bytes;
  mode_t mode = 0;
};

// A settings backup removed as one beyond those kept: its name is taken
// by the next one at once, so it is told by what it held.
struct RemovedBackup {
  std::string path;
  std::time_t replaced = 0;  // when the settings it held were replaced (made)
};

// How end() left the settings file, its backups and the record.
struct EndNote {
  bool settingsUnchanged = false;
  // The older backups moved up one name (from, to), and those beyond the
  // number kept, removed (oldest first).
  std::vector<std::pair<std::string, std::string>> backupsMoved;
  std::vector<RemovedBackup> backupsRemoved;
  // The record written (its path; empty when none was), and whether it
  // held that already.
  std::string record;
  bool recordUnchanged = false;
};

class FileTransaction;

class Actions {
 public:
  virtual ~Actions() = default;

  // Shows a message of the procedure and waits until it is dismissed: a
  // modal box with OK.  The text is never a format.
  virtual void show(const std::string &text, const MessageSubject &about = {});

  // Tells, before anything is written, where the run puts what when that
  // may surprise its user (a Full installation run outside its product
  // directory).  Shown as any message, unless the frontend says it its own
  // way: the window does on its status line, without a box.
  virtual void advise(const std::string &text, const MessageSubject &about = {}) {
    show(text, about);
  }

  // Tells that a step of the procedure begins, in a few words for the
  // user ("Compiling autodif.cc ..."), for a frontend that shows it while
  // the step runs.  Nothing by default.
  virtual void progress(const std::string & /*step*/) {}

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

  // Takes a step that leaves, renames or removes a file, or compiles one
  // (file_step.h).  A file written holds what step.make makes, with the
  // mode of its permissions; one made by kCreate is left as it is when it
  // exists; a rename fails when step.to is not there afterwards, a removal
  // when the file is.  A compile runs step.command(output) through the
  // shell in the installed directory, output a temporary name that is put
  // in place as step.path once the command has left it: Fault::kCommandFailed
  // when it did not make it, and step.path is then as it was.  A compile
  // script that cannot be opened is Fault::kNotOpened.
  virtual Result take(const FileStep &step) = 0;

  // Sends the installation notice by running command through the shell.
  virtual Result sendNotice(const std::string &command) = 0;

  // What the last command run by compile or sendNotice did; nothing when
  // no command has run.
  virtual CommandOutcome lastCommand() const { return {}; }

  // Where end() kept the settings file it replaced; empty when it kept
  // none.
  virtual std::string settingsBackup() const { return {}; }

  // The run leaves path as the installation's without writing it: an
  // object that is up to date and the record of its command.
  virtual Result claimFile(const std::string & /*path*/) { return {}; }

  // The same for a file of data, which the analysis program changes in
  // use (the names file): it is the installation's when an installation
  // made it, as the record says, or when it still holds what one makes
  // (made); otherwise it is the user's.
  virtual Result claimData(const std::string & /*path*/, const std::string & /*made*/) {
    return {};
  }

  // What the last action that wrote a file did to it.
  virtual FileNote lastFile() const { return {}; }

  // What end() did besides putting the settings file in place.
  virtual EndNote endNote() const { return {}; }
};

// Hands every action to another Actions object: the base of objects that
// add to what one does (say, one that records each action).
class ForwardingActions : public Actions {
 public:
  explicit ForwardingActions(Actions &inner) : inner_(inner) {}

  void show(const std::string &text, const MessageSubject &about) override {
    inner_.show(text, about);
  }
  void advise(const std::string &text, const MessageSubject &about) override {
    inner_.advise(text, about);
  }
  void progress(const std::string &step) override { inner_.progress(step); }
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
  Result take(const FileStep &step) override { return inner_.take(step); }
  Result sendNotice(const std::string &command) override { return inner_.sendNotice(command); }
  CommandOutcome lastCommand() const override { return inner_.lastCommand(); }
  std::string settingsBackup() const override { return inner_.settingsBackup(); }
  Result claimFile(const std::string &path) override { return inner_.claimFile(path); }
  Result claimData(const std::string &path, const std::string &made) override {
    return inner_.claimData(path, made);
  }
  FileNote lastFile() const override { return inner_.lastFile(); }
  EndNote endNote() const override { return inner_.endNote(); }

 private:
  Actions &inner_;
};

// How many backups of the settings file a run keeps, unless told.
constexpr int kDefaultSettingsBackups = 5;
// The most it may be told to keep.
constexpr int kMaxSettingsBackups = 99;

// What every kind of run shares: the installed directory (the working
// directory when the object is made), the scratch directory of the
// settings file, and the record of the last installation there.
class ScratchActions : public Actions {
 public:
  std::string resolve(const std::string &path) const override;
  // path as a plan or a check shows it: absolute, without "." steps.
  std::string shown(const std::string &path) const;
  // How many backups of the settings file to keep (0 to
  // kMaxSettingsBackups).
  void keepBackups(int count) { keepBackups_ = count; }
  // A file changed by hand since the last installation stays as it is,
  // and the new one goes to NAME.velorix-new (as keepYours does for the
  // files it names); by default the new one takes its place.
  void keepChanged(bool keep) { keepChanged_ = keep; }
  // Into the scratch directory, which is the working directory; refused
  // (Fault::kNotOpened) when the installed directory's settings file could
  // not be replaced at the end.
  Result writeSettingsFile(const std::string &path, const char *permissions) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  void holdStores() override;
  // Files left as they are go into the record of this run as they stand
  // (claimInRecord).
  Result claimFile(const std::string &path) override {
    claimInRecord(path, nullptr);
    return {};
  }
  Result claimData(const std::string &path, const std::string &made) override {
    claimInRecord(path, &made);
    return {};
  }
  Result writeStores() override;
  CommandOutcome lastCommand() const override { return lastCommand_; }
  const std::string &workDir() const { return workDir_; }
  // What a compile calls while it runs; a compile without one (the
  // default) only waits for its end.
  void whileCompiling(WhileCompiling hook) { whileCompiling_ = std::move(hook); }

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
  // What a real run would meet, found without writing anything, each
  // told as the real action tells it: writing a template,
  // the compile script or another file (or the object compiled), renaming
  // or removing one.  A plan and a check say by them where the
  // installation would stop.
  Result wouldWriteTemplate(const std::string &path) const;
  Result wouldWriteScript(const std::string &path) const;
  Result wouldWriteFile(const std::string &path) const;
  Result wouldRename(const std::string &from, const std::string &to) const;
  Result wouldRemove(const std::string &path) const;
  // Runs command through the shell in directory and keeps how it went;
  // while it runs, calls goOn when one is given, and stops it when that
  // says so.
  int run(const std::string &directory, const std::string &command,
          const WhileCompiling &goOn = {});
  // Runs command(outputInCommand) in the installed directory; a fault
  // with the compile message when it failed or left nothing at output,
  // Fault::kCancelled when whileCompiling stopped it.
  Result runCompiler(const CommandFor &command, const std::string &target,
                     const std::string &output, const std::string &outputInCommand);
  // Reads the record of the last installation in the installed
  // directory; one that is damaged is told, and the run goes on without
  // it.
  Result readRecord();
  // The record of the last installation; null when there is none.
  const InstallRecord *prior() const { return prior_ ? &*prior_ : nullptr; }
  // path (of the installed directory) as the record keys it.
  std::string recordKey(const std::string &path) const { return RecordKey(resolve(path)); }
  // Notes in the record this run makes that it leaves path (as the
  // procedure names it) as the installation's: the prior record's entry
  // for it, or what it holds now when it is not data (made: nullptr) or
  // holds what made holds.
  void claimInRecord(const std::string &path, const std::string *made);
  // Notes in the record this run makes the file that it leaves at path,
  // holding what made holds, with mode.
  void predict(const std::string &path, const std::string &made, unsigned mode, bool data);
  // The record of what this run wrote and claimed, which it leaves when it
  // runs to its end.
  InstallRecord recordLeft() const;
  // Where a run keeps the copy of path (as the procedure names it) that
  // its user changed since the last installation, named as path is, when
  // the file made at made (empty: not known) holds something else; empty
  // when it keeps none.
  std::string keptCopyFor(const std::string &path, const std::string &made) const;

  std::string workDir_;
  std::string pattern_;
  std::string scratch_;
  ScratchDirectory scratchDirectory_;
  // While the run lasts: directory syncs once each, at the end, and none
  // for what stays in the scratch directory.
  std::optional<BatchedSyncs> syncs_;
  CommandOutcome lastCommand_;
  WhileCompiling whileCompiling_;
  int keepBackups_ = kDefaultSettingsBackups;
  bool keepChanged_ = false;
  // The record of the last installation, and what this run puts in the
  // next one: the files it wrote or leaves.
  std::optional<InstallRecord> prior_;
  InstallRecord next_{""};

 private:
  int rendered_ = 0;
};

// Keeps every other installation out of a directory while it lives: a
// lock on the directory itself, which the kernel releases when the
// process dies, and which makes nothing in it; where the file system
// cannot lock a directory, a lock on the file ".velorix-setup.lock" there,
// as earlier versions took it (a lock file an earlier version holds is
// waited for too).  A second one waits a few seconds for the first and
// then gives up.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock() { release(); }
  DirectoryLock(const DirectoryLock &) = delete;
  DirectoryLock &operator=(const DirectoryLock &) = delete;

  // Takes the lock of directory; a fault with the message to show when
  // another run holds it or the lock file cannot be made.
  Result acquire(const std::string &directory);
  // Gives it back, and removes the lock file it held.
  void release();
  // The lock file held; empty when the directory itself is locked.
  const std::string &file() const { return path_; }

 private:
  std::string path_;  // the lock file held, if any
  int fd_ = -1;
  int directoryFd_ = -1;
};

// The settings file of a directory, and where the one it replaces is kept.
constexpr char kSettingsBackupSuffix[] = ".bak";

// What keeping the settings file at path, which holds replaced (nothing:
// it is not kept), does to its backups when at most keep of them stay.
// The newest backup is path.bak, the one before it path.bak.1, then .2
// and so on: the older ones move up one name to make room, into names
// that are free, so that no backup is ever written over; those beyond
// keep go, the oldest first.  A path.bak that holds replaced already is
// the backup.
struct SettingsBackups {
  // First these are removed, then these renamed (from, to), then backup
  // is written (empty: none), unless it holds the replaced settings
  // already (reused).
  std::vector<std::string> removals;
  std::vector<std::pair<std::string, std::string>> renames;
  std::string backup;
  bool reused = false;
};
SettingsBackups PlanSettingsBackups(const std::string &path,
                                    const std::optional<std::string> &replaced, int keep);
// The same, for a settings file that is replaced or not (replacing), where
// holdsReplaced tells whether the file at a path holds what is kept: a
// settings file of any size is then compared a piece at a time.
SettingsBackups PlanSettingsBackups(const std::string &path, bool replacing,
                                    const std::function<bool(const std::string &)> &holdsReplaced,
                                    int keep);

// "at most 5 settings backups are kept", for the lines that name a
// backup removed.
std::string BackupsKept(int keep);

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
