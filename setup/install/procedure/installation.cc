/*
 * installation.cc - the installation procedure behind "Setup".
 *
 * RunInstallation takes the form's values and does, in this order: checks
 * the product directory, writes the settings file from its template and
 * stores the form's values in it, makes sure the names file exists, writes
 * the installation-wide files and compiles the symbolic-differentiation
 * object (Full) or looks for that object in the product directory (User),
 * removes the visuals file, writes the palette file, records the current
 * class and, with the user's consent, sends the installation notice.
 *
 * Every step returns a Result.  A failure that makes the rest meaningless
 * stops the run: its message is shown, the run returns Stopped, and
 * nothing of it is put in place (the actions stage every file until the
 * end); the next run starts again from the settings template.  Every other failure is shown and the
 * procedure goes on.  Each message is shown once, by the procedure (tell()), the support library's
 * included: those are caught into the Result of the step that raised them.  Paths come from the
 * settings file just written and are read with GetParamString: a product directory may hold "%",
 * which must stay literal, so no path is ever used as a printf format.
 */
#include "installation.h"
#include "procedure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "actions.h"
#include "real_actions.h"
#include "atomic_file.h"
#include "file_writing.h"
#include "form.h"
#include "link_trust.h"
#include "form_tables.h"
#include "message_route.h"
#include "notice.h"
#include "object_file.h"
#include "product_files.h"
#include "setting_up.h"
#include "shell_detection.h"
#include "templates.h"
#include "utility.h"

namespace install_procedure {

// True when source was modified strictly later than object; a source whose
// time cannot be read is not newer.
bool Procedure::newer(const char *source, const char *object) const {
  struct stat s, o;
  if (stat(act_.resolve(source).c_str(), &s) != 0) return false;
  if (stat(act_.resolve(object).c_str(), &o) != 0) return true;
  return difftime(s.st_mtime, o.st_mtime) > 0;
}

Result Procedure::missingKey(const char *section, const char *key) const {
  return Result::Failed(Fault::kRefused,
                        "The settings file '" + settingsPath() + "' has no usable value for [" +
                            section + "] " + key + ".\nThe installation has been stopped.",
                        {settingsPath()});
}

// Reads [section] key expanded but not formatted (paths may hold "%").
// Refused, with what the settings code said, when the key is missing or
// does not expand.
Result Procedure::readSetting(const char *section, const char *key, std::string &out) const {
  CaughtMessages messages;
  const char *value = GetParamString(section, key);
  if (value == nullptr) return messages.into(missingKey(section, key));
  out = value;
  return messages.into({});
}

Result Procedure::writeSettingsFile() {
  const std::string path = settingsPath();
  const Result written = act_.writeSettingsFile(path, kSettingsPermissions);
  if (written.ok()) {
    settingsWritten_ = true;
    return written;
  }
  if (written.fault() != Fault::kNotOpened) return written;
  return settingsNotOpened(written);
}

// Two messages, the file's and then the settings file's.
Result Procedure::settingsNotOpened(const Result &opened) {
  tell(opened);
  return Result::Failed(Fault::kNotOpened, "Cannot open settings file '" + settingsPath() + "'",
                        opened.about());
}

// Runs stores, whose values go into the settings file with one rewrite
// (the core library rewrites the whole file for each value otherwise);
// done when stores succeeded and the file holds every value.
Result Procedure::storeTogether(const std::function<Result()> &stores) {
  act_.holdStores();
  const Result stored = stores();
  // What was stored before a refusal is written all the same, as it
  // would have been one by one.
  Result written = act_.writeStores();
  if (!written.ok()) {
    settingsSound_ = false;
    tell(stored);
    return written;
  }
  return stored;
}

// The form's values, in table order; the installed directory itself goes
// in right after the product directory.
Result Procedure::storeFields() {
  return storeTogether([this]() -> Result {
    std::string kernel;
    for (const FormField &field : kFormFields) {
      if (field.section == nullptr || !form_.has(field.id)) continue;
      if (Result r = store(field.section, field.key, StoredText(form_, field.id, kernel)); !r.ok())
        return r;
      if (field.id != Field::kKernel) continue;
      if (Result r = store("Paths", "KERNELW", WithSlash(kSettingsDirectory)); !r.ok()) return r;
      if (Result r = readSetting("Paths", "KERNEL", kernel); !r.ok()) return r;
    }
    return {};
  });
}

// A new names file holds one "-"; an existing one, or the one of an
// earlier version renamed, is kept.
Result Procedure::ensureNamesFile() {
  std::string names;
  if (Result r = readSetting("Files", "NAMES", names); !r.ok()) return r;
  // A directory of that name is no names file: createFile says so.
  struct stat st;
  bool present = stat(act_.resolve(names).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  if (!present) {
    std::string former;
    if (Result r = readSetting("Files", "NAMES1.2", former); !r.ok()) return r;
    // Only a file is taken over: a directory, a device or a link to
    // nowhere under that name is the user's to sort out.
    struct stat link, file;
    const std::string formerPath = act_.resolve(former);
    const bool named = lstat(formerPath.c_str(), &link) == 0;
    const bool reached = named && stat(formerPath.c_str(), &file) == 0;
    if (named && (!reached || !S_ISREG(file.st_mode))) {
      const char *what = !reached                ? "a link to nothing"
                         : S_ISDIR(file.st_mode) ? "a directory"
                                                 : "not a regular file";
      return refused("The names file of an earlier version, '" + former + "', is " + what +
                         ".\nIt has not been taken over as the names file '" + names +
                         "'; please move it away and try again.",
                     {formerPath});
    }
    // A rename that fails leaves the former file as it was; a new names
    // file is made below.
    if (exists(former)) present = act_.take(RenameStep(former, names)).ok();
  }
  if (!present) {
    wrote(act_.take(CreateStep(names, kNamesFileContent, kNamesPermissions)));
  } else {
    // The program's data: the installation's only when one made it.
    tell(act_.claimData(names, kNamesFileContent));
  }
  return {};
}

// The system header's path: [Paths] INCLUDE (not [Compiler] INCLUDE)
// with the file name appended before the whole is expanded.
Result Procedure::headerPath(std::string &path) {
  if (Result r = readSetting("Paths", "INCLUDE", path); !r.ok()) return r;
  CaughtMessages messages;
  if (GetParamAppend("Compiler", "HEADERF") == nullptr)
    return messages.into(missingKey("Compiler", "HEADERF"));
  path = ParBuf;
  return messages.into({});
}

// Interface-strings file, compile script and system header, all in the
// product directory.  Only a compile script that cannot be opened stops.
Result Procedure::writeProductFiles() {
  std::string path;
  if (Result r = readSetting("Files", "INITFILE", path); !r.ok()) return r;
  wrote(act_.take(TemplateStep(path, init, kReadOnlyPermissions, false)));

  if (Result r = readSetting("Compiler", "BATCH", path); !r.ok()) return r;
  const Result script =
      act_.take(ScriptStep(path, form_.shellStyle, form_.text(Field::kShellPath)));
  if (script.fault() == Fault::kNotOpened) {
    failed_ = true;
    return script;
  }
  wrote(script);

  if (Result r = headerPath(path); !r.ok()) return r;
  wrote(act_.take(TemplateStep(path, IncludeRhs, kReadOnlyPermissions, true)));
  return {};
}

// Why autodif.o in the current directory is to be compiled: it is
// missing, no object, older than one of its sources ("autodif.c" is
// compared first), or made by another command than the form's; empty when
// it is not.
std::string Procedure::compileReason() const {
  // Only a file is an object: a directory of that name is in the way, and
  // the placement says so.
  const std::string path = act_.resolve(kAutodifObject);
  struct stat object;
  if (stat(path.c_str(), &object) != 0 || !S_ISREG(object.st_mode)) return "missing";
  // An empty file, or a piece of one, would otherwise be trusted for ever.
  if (!IsRelocatableObject(path)) return "not an object file";
  if (newer(kAutodifC, kAutodifObject) || newer(kAutodifSource, kAutodifObject))
    return "older than its sources";
  if (!FileHolds(act_.resolve(kAutodifRecord), compileRecord(form_)).value_or(false))
    return "compiled with another command";
  return {};
}

// Compiles autodif.o when it is due, and records the command beside it.
// Without an object, symbolic differentiation is turned off; an object
// that a failed compile leaves from before goes too, since it was made
// from other sources or with other options, and the next run with the
// same answers then finds nothing to change.
Result Procedure::compileAutodif() {
  const std::string why = compileReason();
  if (why.empty()) {
    // Up to date: left as the installation's.
    tell(act_.claimFile(kAutodifObject));
    tell(act_.claimFile(kAutodifRecord));
    return {};
  }
  const CommandFor command = [this](const std::string &output) {
    return compileCommand(form_, output);
  };
  step("Compiling autodif.cc ...");
  const Result compiled = act_.take(CompileStep(command, kAutodifObject, why)).listing(missing_);
  // The user stopped it: the run stops, and what was there stays.
  if (compiled.fault() == Fault::kCancelled) return compiled;
  if (tell(compiled)) {
    wrote(act_.take(BytesStep(kAutodifRecord, compileRecord(form_), kRecordPermissions)));
    return {};
  }
  // An object that was made but could not be put in place is a file not
  // written; a compile that failed is the designed degradation.
  if (compiled.fault() != Fault::kCommandFailed) {
    failed_ = true;
  } else {
    // The record first: an object without one is compiled again.
    wrote(act_.take(RemoveStep(kAutodifRecord)));
    wrote(act_.take(RemoveStep(kAutodifObject)));
  }
  return store("Libraries", "AUTODIFOPT", kDisabledOption);
}

// A User installation links against the object that the Full one made;
// a file of that name that is no object is as good as none.  The
// reference stays in [TMP] TMP.
Result Procedure::checkKernelObject() {
  std::string path;
  if (Result r = store("TMP", "TMP", kKernelObject); !r.ok()) return r;
  if (Result r = readSetting("TMP", "TMP", path); !r.ok()) return r;
  if (IsRelocatableObject(act_.resolve(path))) return {};
  tell(Result::Notice(kMsgNoProductObject, {path, {Field::kKernel}}).listing(missing_));
  return store("Libraries", "AUTODIFOPT", kDisabledOption);
}

Result Procedure::removeVisualsAndWritePalette() {
  std::string path;
  if (Result r = readSetting("Files", "VN", path); !r.ok()) return r;
  wrote(act_.take(RemoveStep(path)));
  if (Result r = readSetting("Files", "PALETTE", path); !r.ok()) return r;
  wrote(act_.take(TemplateStep(path, Palette, kPalettePermissions, false)));
  return {};
}

// A notice that cannot be sent has been reported; the installation itself
// is done all the same.
void Procedure::sendNotice() {
  if (!form_.noticeBoxExists || !form_.noticeConsent) return;
  step("Sending the installation notice ...");
  tell(act_.sendNotice(NoticeCommand(form_.full)));
}

InstallOutcome Procedure::run() {
  const PathResolver resolve = [this](const std::string &path) { return act_.resolve(path); };
  step("Checking the form ...");
  missing_ = MissingFrom(form_, resolve);
  if (!tell(CheckBeforeWriting(form_, resolve, missing_))) return InstallOutcome::Stopped;
  if (form_.full) tell(shellMismatch(form_));
  if (form_.full) adviseWhere();
  step("Preparing the directory ...");
  // The lock is never taken through a link or in a pipe; the settings
  // file, checked first of the files written, before it is built.
  if (!tell(CheckLockPlace(act_.resolve(kLockFileName))) ||
      !tell(CheckLinksOnPath(act_.resolve(settingsPath()))))
    return InstallOutcome::Refused;
  // A directory that cannot be written holds no settings file of theirs.
  Result begun = act_.begin();
  if (begun.message() == "Cannot open file '" + settingsPath() + "'")
    begun = settingsNotOpened(begun);
  if (!tell(begun)) return InstallOutcome::Stopped;
  const Result stopped = steps();
  tell(stopped);
  // The run's files go into the directory when every step has run and
  // the settings file is whole.  After a step that stopped the
  // procedure, nothing goes: settings half-way through are not what the
  // analysis program may start from, nor files beside the old ones.
  InstallOutcome outcome = refused_                   ? InstallOutcome::Refused
                           : stopped.ok() && !failed_ ? InstallOutcome::Ended
                                                      : InstallOutcome::Stopped;
  const bool keep = outcome == InstallOutcome::Ended && settingsWritten_ && settingsSound_;
  if (keep) step("Putting the settings file in place ...");
  if (!tell(act_.end(keep))) outcome = InstallOutcome::Stopped;
  if (outcome == InstallOutcome::Ended) sendNotice();
  return outcome;
}

// Before anything is written, what a Full installation may not expect:
// that it runs outside its product directory, and an autodif.cc missing
// where the compile looks, listed as the other files are.  Neither stops
// it.
void Procedure::adviseWhere() {
  std::string here = std::filesystem::path(act_.resolve(".")).lexically_normal().string();
  if (here.size() > 1 && here.back() == '/') here.pop_back();
  const std::string words = AdviceBeforeWriting(form_, here, missing_);
  if (!words.empty()) act_.advise(words, {"", {}, {}, missing_});
}

// The steps in their order; the fault that stops them, or done.
Result Procedure::steps() {
  step("Writing the settings file ...");
  if (Result r = writeSettingsFile(); !r.ok()) return r;
  step("Storing the form's values ...");
  if (Result r = storeFields(); !r.ok()) return r;
  // Both are the form's faults, found before anything reaches the
  // directory: refused, as the form's other checks are.
  if (Result r = checkReferences(); !r.ok()) {
    refused_ = true;
    return r;
  }
  if (Result r = checkExpandedTexts(); !r.ok()) {
    refused_ = true;
    return r;
  }
  if (Result r = checkPlaces(); !r.ok()) {
    refused_ = true;
    return r;
  }
  step("Writing the names file ...");
  if (Result r = ensureNamesFile(); !r.ok()) return r;
  if (form_.full) {
    step("Writing the files of the product directory ...");
    if (Result r = writeProductFiles(); !r.ok()) return r;
    if (Result r = compileAutodif(); !r.ok()) return r;
  } else {
    step("Looking for autodif.o in the product directory ...");
    if (Result r = checkKernelObject(); !r.ok()) return r;
  }
  step("Writing the palette file ...");
  if (Result r = removeVisualsAndWritePalette(); !r.ok()) return r;
  step("Storing the current class ...");
  return storeCurrentClass();
}

}  // namespace install_procedure

using install_procedure::Procedure;

InstallOutcome RunInstallation(const InstallForm &form, Actions &actions) {
  return Procedure(form, actions).run();
}

InstallOutcome RunInstallation(const InstallForm &form) {
  RealActions actions;
  return RunInstallation(form, actions);
}
