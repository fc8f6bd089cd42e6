/*
 * file_step.h - a step of the installation that leaves, renames or
 * removes a file, or compiles one: what the procedure asks of the run, as
 * data.
 *
 * The procedure makes each step with one of the functions below and hands
 * it to its actions (actions.h); a plan notes it, a check compares it, a
 * real run stages it, each by its kind: a new kind of step is a kind here
 * and one case in each of those, not a method in every wrapper.
 */
#ifndef VELORIX_SETUP_FILE_STEP_H
#define VELORIX_SETUP_FILE_STEP_H

#include <functional>
#include <string>

#include "result.h"

enum class StepKind {
  kSettings,  // the settings file from its template; placed at the end
  kStore,     // a value stored in it
  kFile,      // a file written whole
  kCreate,    // a file made only where there is none (the names file)
  kRename,
  kRemove,
  kCompile,  // the one step whose outcome only running tells
  kNotice,
};

// How a file step's bytes are made, which also says how a fault is told.
enum class Writer {
  kTemplate,  // a template, expanded or not: the system's own messages
  kScript,    // the compile script, whose messages name the product directory
  kBytes,     // bytes of the procedure's own: the system's reason after the message
};

// The compile command for a given output file name.
using CommandFor = std::function<std::string(const std::string &output)>;

struct FileStep {
  StepKind kind = StepKind::kFile;
  std::string path;  // as the procedure names it
  std::string to;    // kRename: the new name
  // kFile, kCreate: its permissions, how it is made, and how a plan tells
  // it after the path ("(r--r--r--) from the interface-strings template").
  std::string permissions;
  Writer writer = Writer::kBytes;
  std::string words;
  // Writes the file's bytes, whole, at where: a scratch file from which
  // the run takes them.
  std::function<Result(const std::string &where)> make;
  // kCompile: the command for an output name, and why the object is due
  // ("missing", ...).
  CommandFor command;
  std::string why;
};

// A template (NULL-terminated lines), each line expanded through the
// settings when expand is set.
FileStep TemplateStep(const std::string &path, const char *const *lines, const char *permissions,
                      bool expand);
// The compile script of shell style shellStyle (1-based), "#! " and
// shellPath its first line.
FileStep ScriptStep(const std::string &path, int shellStyle, const std::string &shellPath);
// path holding content.
FileStep BytesStep(const std::string &path, const std::string &content, const char *permissions);
// A new file holding content; an existing one is left as it is.
FileStep CreateStep(const std::string &path, const std::string &content, const char *permissions);
FileStep RenameStep(const std::string &from, const std::string &to);
// path removed when it exists.
FileStep RemoveStep(const std::string &path);
// target made by command, due for the reason why.
FileStep CompileStep(const CommandFor &command, const std::string &target, const std::string &why);

#endif
