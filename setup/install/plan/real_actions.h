/*
 * real_actions.h - the executor of a real run: each step planned, then
 * staged beside its place, and all of them put in place at the end.
 *
 * RealActions works out each step of the procedure as a plan does
 * (planner.h), its file made in the run's scratch directory and compared
 * with the one there, the object compiled into that directory.  At the
 * end of a run that ends whole, it takes every step as planned, in order:
 * each file that changes written whole beside its place
 * (file_transaction.h), the copy its user changed since the last
 * installation kept, a rename or removal noted; then every staged file,
 * the settings file, its backups and the record go into place together.
 * A run that stops has made nothing in the directory.
 *
 * Only one installation at a time runs in a directory: a second one
 * waits a few seconds for the first and then gives up.  A file that its
 * user changed since the last installation is kept as NAME.velorix-old
 * before it is replaced, unless the user asked to keep it (keepYours()):
 * then it stays, and the new one is written to NAME.velorix-new.
 */
#ifndef VELORIX_SETUP_REAL_ACTIONS_H
#define VELORIX_SETUP_REAL_ACTIONS_H

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "actions.h"
#include "planner.h"

class FileTransaction;

class RealActions : public Planner {
 public:
  RealActions();
  ~RealActions() override;

  Result begin() override;
  Result end(bool keepSettings) override;
  Result store(const char *section, const char *key, const std::string &value) override;
  Result take(const FileStep &step) override;
  Result sendNotice(const std::string &command) override;
  std::string settingsBackup() const override { return backup_; }
  FileNote lastFile() const override { return lastFile_; }
  EndNote endNote() const override { return endNote_; }

 private:
  // What a planned step will do to its file, for whoever notes it.
  FileNote noteOf(const PlanStep &step) const;
  // Stages every step of the plan, in its order: the first fault.
  Result stageAll();
  // Takes a step as it was planned.
  Result stage(const PlanStep &step);
  Result stageRemoval(const PlanStep &step);
  // Notes target, which the run leaves as it is, as the installation's.
  Result leftAsItIs(const std::string &target, bool data);
  Result installSettings();
  // Writes the record of what this run wrote beside its place, for
  // record.commit() to put in place.
  Result prepareRecord(AtomicFile &record);
  // Writes the file of the installed directory path with write(where),
  // keeping the copy that its user changed since the last installation
  // (or, when they keep it, writing to NAME.velorix-new instead), and
  // notes it in the next record.  data: the analysis program changes it
  // in use, and no copy of it is kept.  write is told how to place what it
  // writes: NAME.velorix-new is made anew, never through what is there.
  Result place(const std::string &path, bool data,
               const std::function<Result(const std::string &where, Placement how)> &write);

  DirectoryLock lock_;
  // The files of the run, staged until its end.
  std::unique_ptr<FileTransaction> transaction_;
  // Every value stored, by lower-case "section.key": what the settings
  // file must hold before it goes into place.
  std::map<std::string, std::string> stored_;
  std::string backup_;
  FileNote lastFile_;
  EndNote endNote_;
};

#endif
