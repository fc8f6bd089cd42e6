/*
 * actions.h - what the installation steps do to the world, behind one
 * interface.
 *
 * The steps (installation.cc) decide what is to be done; an Actions object
 * does it.  RealActions writes, removes, renames and runs; PlanActions
 * only lists what it would do, for a dry run.  Both keep the settings
 * file real: the steps read back what they store, so a plan runs against
 * a scratch copy of it in a directory of its own.
 *
 * Every action shows its own messages, as the procedure always has; the
 * result says whether the step may go on.
 */
#ifndef VELORIX_SETUP_ACTIONS_H
#define VELORIX_SETUP_ACTIONS_H

#include <string>
#include <vector>

// What a message is about, for a reader who cannot see the form: the
// path that was tested, if any, and the label of the form field that sets
// it (as the procedure names fields: "VELORIX directory", "C compiler:
// Include", a Tuning label, ...), if any.
struct MessageSubject {
  std::string path;
  const char *field = nullptr;
};

class Actions {
 public:
  virtual ~Actions() = default;

  // Shows a message of the procedure and waits until it is dismissed: a
  // modal box with OK.  The text is never a format.
  virtual void show(const std::string &text, const MessageSubject &about = {});

  // Where path lies for the file system: a plan runs from a scratch
  // directory, so its relative paths belong to the planned directory.
  virtual std::string resolve(const std::string &path) const { return path; }

  // Writes the settings template to path and makes the core library read
  // it anew.  False when the file cannot be written.
  virtual bool writeSettingsFile(const std::string &path, const char *permissions) = 0;

  // Stores value under [section] key.  False, after the settings code's
  // message, when the settings file does not take it.
  virtual bool store(const char *section, const char *key, const std::string &value) = 0;

  // Writes a template (NULL-terminated lines), each line expanded through
  // the settings when expand is set, and applies permissions; what names
  // the template for a plan.  Failures are reported by the writer.
  virtual void writeTemplate(const std::string &path, const char *const *lines,
                             const char *permissions, bool expand, const char *what) = 0;

  // Writes the compile script of shell style shellStyle (1-based record of
  // shells) with "#! " and shellPath as its first line.  False when it
  // cannot be opened; the caller reports that.
  virtual bool writeCompileScript(const std::string &path, int shellStyle,
                                  const std::string &shellPath) = 0;

  // Makes a new file holding content with the mode of permissions; an
  // existing file is left as it is.
  virtual void createFile(const std::string &path, const std::string &content,
                          const char *permissions, const char *what) = 0;

  // Renames from to to; true when to exists afterwards.
  virtual bool renameFile(const std::string &from, const std::string &to) = 0;

  // Removes path when it exists.
  virtual void removeFile(const std::string &path) = 0;

  // Runs command through the shell to make target; true when target
  // exists afterwards.  onFailure describes, for a plan, what the steps
  // do should target still be missing.
  virtual bool compile(const std::string &command, const std::string &target,
                       const std::string &onFailure) = 0;

  // Sends the installation notice by running command through the shell.
  virtual void sendNotice(const std::string &command) = 0;
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
  bool writeSettingsFile(const std::string &path, const char *permissions) override {
    return inner_.writeSettingsFile(path, permissions);
  }
  bool store(const char *section, const char *key, const std::string &value) override {
    return inner_.store(section, key, value);
  }
  void writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                     bool expand, const char *what) override {
    inner_.writeTemplate(path, lines, permissions, expand, what);
  }
  bool writeCompileScript(const std::string &path, int shellStyle,
                          const std::string &shellPath) override {
    return inner_.writeCompileScript(path, shellStyle, shellPath);
  }
  void createFile(const std::string &path, const std::string &content, const char *permissions,
                  const char *what) override {
    inner_.createFile(path, content, permissions, what);
  }
  bool renameFile(const std::string &from, const std::string &to) override {
    return inner_.renameFile(from, to);
  }
  void removeFile(const std::string &path) override { inner_.removeFile(path); }
  bool compile(const std::string &command, const std::string &target,
               const std::string &onFailure) override {
    return inner_.compile(command, target, onFailure);
  }
  void sendNotice(const std::string &command) override { inner_.sendNotice(command); }

 protected:
  Actions &inner() { return inner_; }

 private:
  Actions &inner_;
};

// Does it all, in the current directory.
class RealActions : public Actions {
 public:
  bool writeSettingsFile(const std::string &path, const char *permissions) override;
  bool store(const char *section, const char *key, const std::string &value) override;
  void writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                     bool expand, const char *what) override;
  bool writeCompileScript(const std::string &path, int shellStyle,
                          const std::string &shellPath) override;
  void createFile(const std::string &path, const std::string &content, const char *permissions,
                  const char *what) override;
  bool renameFile(const std::string &from, const std::string &to) override;
  void removeFile(const std::string &path) override;
  bool compile(const std::string &command, const std::string &target,
               const std::string &onFailure) override;
  void sendNotice(const std::string &command) override;
};

// Lists, one line each in procedure order, every file written, removed,
// renamed or compiled and every setting stored, and changes nothing but
// the scratch settings file in the current directory.  workDir is the
// directory the installation is meant for.
class PlanActions : public Actions {
 public:
  explicit PlanActions(std::string workDir) : workDir_(std::move(workDir)) {}

  const std::vector<std::string> &lines() const { return lines_; }

  std::string resolve(const std::string &path) const override;
  bool writeSettingsFile(const std::string &path, const char *permissions) override;
  bool store(const char *section, const char *key, const std::string &value) override;
  void writeTemplate(const std::string &path, const char *const *lines, const char *permissions,
                     bool expand, const char *what) override;
  bool writeCompileScript(const std::string &path, int shellStyle,
                          const std::string &shellPath) override;
  void createFile(const std::string &path, const std::string &content, const char *permissions,
                  const char *what) override;
  bool renameFile(const std::string &from, const std::string &to) override;
  void removeFile(const std::string &path) override;
  bool compile(const std::string &command, const std::string &target,
               const std::string &onFailure) override;
  void sendNotice(const std::string &command) override;

 private:
  void add(const std::string &line) { lines_.push_back(line); }

  std::string workDir_;
  std::vector<std::string> lines_;
};

// The directory with "/" appended unless it already ends in one.
std::string WithSlash(const std::string &directory);

#endif
