/*
 * procedure.h - the installation procedure's own parts, shared by the
 * files that hold its steps: installation.cc (the run and its writing
 * steps), form_checks.cc (what is refused before anything is written) and
 * current_class.cc (the class the run records).  Not for other callers:
 * they use installation.h.
 */
#ifndef VELORIX_SETUP_PROCEDURE_H
#define VELORIX_SETUP_PROCEDURE_H

#include <unistd.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "actions.h"
#include "form.h"
#include "form_tables.h"
#include "installation.h"
#include "message_route.h"
#include "product_files.h"
#include "utility.h"

namespace install_procedure {

constexpr char kSettingsDirectory[] = ".";
constexpr char kSettingsName[] = VX_SETTINGS_FILE;
constexpr char kNamesFileContent[] = "-";
// An expanded line is read back into the settings buffer.
constexpr std::size_t kExpandedLineLimit = VX_PARBUF_SIZE - 1;
// Room to measure a line that expands to more than that.
constexpr std::size_t kMeasureSize = 8 * VX_PARBUF_SIZE;
constexpr char kEmptyMarkText[] = "`";
constexpr char kDisabledOption[] = "-";
constexpr char kAutodifObject[] = "autodif.o";
constexpr char kAutodifC[] = "autodif.c";
// Beside the object, the command that made it (as kbuild keeps
// ".NAME.o.cmd"): a changed option leaves every time as it was, and only
// the command tells that the object is not what the form asks for.
constexpr const char *kAutodifRecord = kAutodifCommandFile;
constexpr char kRecordPermissions[] = "rw-r--r--";
constexpr char kKernelObject[] = "$(Paths.KERNEL)autodif$(Extensions.OBJ)";
constexpr char kHierarchyLine[] = "&hierarchy";

// A path that the steps below read from the settings: [section] key, and
// then the value of [then] thenKey appended to it when given (the system
// header's name after its directory).
struct SettingPath {
  const char *section;
  const char *key;
  bool fullOnly;
  const char *then = nullptr;
  const char *thenKey = nullptr;
};
// Every one the steps read, in their order.
constexpr SettingPath kSettingPaths[] = {
    {"Files", "NAMES", false},
    {"Files", "NAMES1.2", false},
    {"Files", "INITFILE", true},
    {"Compiler", "BATCH", true},
    {"Paths", "INCLUDE", true, "Compiler", "HEADERF"},
    {"Files", "VN", false},
    {"Files", "PALETTE", false},
    {"Files", "CLASSFILE", false},
    {"Files", "CLASSFILECUR", false},
};
constexpr char kSectionMark = '&';

constexpr char kMsgNoDirectory[] = "Specify full path to the VELORIX's home directory";
constexpr char kMsgNoExecutable[] = "The path you've specified does not contain VELORIX executable";
constexpr char kMsgNoClassFile[] = "Cannot open class description file\n";
constexpr char kMsgNoProductObject[] =
    "Could not run C++ compiler during the full installation.\nSymbolical "
    "differentiation feature will be disabled.";

inline std::string settingsPath() { return std::string(kSettingsDirectory) + "/" + kSettingsName; }

inline const std::string &kernelOf(const InstallForm &form) { return form.text(Field::kKernel); }

// The command that compiles autodif.cc into output.
inline std::string compileCommand(const InstallForm &form,
                                  const std::string &output = kAutodifObject) {
  return form.text(Field::kCppName) + " -c -o " + output + " " + kAutodifSource + " " +
         form.text(Field::kCppOptions);
}

// What the record beside the object holds for the form's command.
inline std::string compileRecord(const InstallForm &form) {
  return std::string("cmd_") + kAutodifObject + " := " + compileCommand(form) + "\n";
}

inline Result refused(std::string message, MessageSubject about) {
  return Result::Failed(Fault::kRefused, std::move(message), std::move(about));
}

// The files the run needs from the product directory of form that are
// missing, their paths placed by resolve: found once for a run, and
// listed beneath each message about them.
std::vector<MissingFile> MissingFrom(const InstallForm &form, const PathResolver &resolve);

// CheckBeforeWriting (installation.h), the missing files found already.
Result CheckBeforeWriting(const InstallForm &form, const PathResolver &resolve,
                          const std::vector<MissingFile> &missing);

// The compile script's shell style against the shell its first line
// names (form_checks.cc).
Result shellMismatch(const InstallForm &form);

// Hands every action on, each with the messages the support library raises
// while it works caught into its Result: the procedure shows them with the
// step's own, once.
class CatchingActions : public ForwardingActions {
 public:
  using ForwardingActions::ForwardingActions;

  Result begin() override {
    return caught([&] { return ForwardingActions::begin(); });
  }
  Result end(bool keep) override {
    return caught([&] { return ForwardingActions::end(keep); });
  }
  Result writeSettingsFile(const std::string &path, const char *permissions) override {
    return caught([&] { return ForwardingActions::writeSettingsFile(path, permissions); });
  }
  Result store(const char *section, const char *key, const std::string &value) override {
    return caught([&] { return ForwardingActions::store(section, key, value); });
  }
  Result writeStores() override {
    return caught([&] { return ForwardingActions::writeStores(); });
  }
  Result take(const FileStep &step) override {
    return caught([&] { return ForwardingActions::take(step); });
  }
  Result sendNotice(const std::string &command) override {
    return caught([&] { return ForwardingActions::sendNotice(command); });
  }
  Result claimFile(const std::string &path) override {
    return caught([&] { return ForwardingActions::claimFile(path); });
  }
  Result claimData(const std::string &path, const std::string &made) override {
    return caught([&] { return ForwardingActions::claimData(path, made); });
  }

 private:
  template <typename Step>
  static Result caught(Step step) {
    CaughtMessages messages;
    Result result = step();
    return messages.into(std::move(result));
  }
};

// One run of the procedure: the form, and the actions that carry the
// steps out.  Every step returns a Result: done, to go on, or the fault
// that stops the run; the run shows each message once (tell()).
class Procedure {
 public:
  Procedure(const InstallForm &form, Actions &actions) : form_(form), act_(actions) {}

  InstallOutcome run();

 private:
  bool exists(const std::string &path) const {
    return access(act_.resolve(path).c_str(), F_OK) == 0;
  }
  bool newer(const char *source, const char *object) const;
  Result missingKey(const char *section, const char *key) const;

  Result readSetting(const char *section, const char *key, std::string &out) const;
  // Tells that the step named what begins, for a frontend that shows it.
  void step(const char *what) { act_.progress(what); }
  // Shows what result has to tell, if anything: the one place where the
  // procedure's messages are shown.  True when the step is done.
  bool tell(const Result &result) {
    if (!result.message().empty()) act_.show(result.message(), result.about());
    return result.ok();
  }
  // A store that the settings file does not take leaves it unsound: the
  // installation stops, since a setting it needs is missing.
  Result store(const char *section, const char *key, const std::string &value) {
    Result stored = act_.store(section, key, value);
    if (!stored.ok()) settingsSound_ = false;
    return stored;
  }
  // Notes how a write went: the procedure goes on after a file that was
  // not written, as it always has, but does not end as if all was well.
  void wrote(const Result &result) { failed_ = !tell(result) || failed_; }

  void adviseWhere();
  Result steps();
  Result writeSettingsFile();
  Result settingsNotOpened(const Result &opened);
  Result checkExpandedTexts();
  Field longestField(const char *line) const;
  Result storeFields();
  Result storeTogether(const std::function<Result()> &stores);
  Result checkReferences();
  Result ensureNamesFile();
  Result checkPlaces();
  Result headerPath(std::string &path);
  Result writeProductFiles();
  std::string compileReason() const;
  Result compileAutodif();
  Result checkKernelObject();
  Result removeVisualsAndWritePalette();
  Result classFilePath(const std::string &base, std::string &out) const;
  Result storeCurrentClass();
  void sendNotice();

  const InstallForm &form_;
  CatchingActions act_;
  bool settingsWritten_ = false;      // the template is in the scratch settings file
  bool settingsSound_ = true;         // and every value was stored in it
  bool failed_ = false;               // a file was not written whole
  bool refused_ = false;              // the form was refused before anything was written
  std::vector<MissingFile> missing_;  // what the product directory lacks
};

}  // namespace install_procedure

#endif
