/*
 * file_step.cc - the steps of the procedure that touch a file.
 */
#include "file_step.h"

#include "atomic_file.h"
#include "file_writing.h"
#include "form_tables.h"
#include "templates.h"

FileStep TemplateStep(const std::string &path, const char *const *lines, const char *permissions,
                      bool expand) {
  FileStep step;
  step.path = path;
  step.permissions = permissions;
  step.writer = Writer::kTemplate;
  step.words = std::string("(") + permissions + ") from the " + TemplateName(lines);
  step.make = [path, lines, permissions = step.permissions, expand](const std::string &where) {
    return CreateFile(where, lines, permissions.c_str(), expand, path);
  };
  return step;
}

FileStep ScriptStep(const std::string &path, int shellStyle, const std::string &shellPath) {
  FileStep step;
  step.path = path;
  step.permissions = kScriptPermissions;
  step.writer = Writer::kScript;
  step.words = std::string("(") + kScriptPermissions + "), the " + shells[shellStyle - 1].name +
               " compile script, first line \"#! " + shellPath + "\"";
  step.make = [path, shellStyle, shellPath](const std::string &where) {
    return WriteCompileScript(where, shellStyle, shellPath, path);
  };
  return step;
}

FileStep BytesStep(const std::string &path, const std::string &content, const char *permissions) {
  FileStep step;
  step.path = path;
  step.permissions = permissions;
  step.words = std::string("(") + permissions + ")";
  step.make = [path, content, mode = ModeFromPermissions(permissions)](const std::string &where) {
    return WriteWholeFile(where, content, mode, path);
  };
  return step;
}

FileStep CreateStep(const std::string &path, const std::string &content, const char *permissions) {
  FileStep step = BytesStep(path, content, permissions);
  step.kind = StepKind::kCreate;
  step.words = std::string("(") + permissions + ") holding \"" + content + "\"";
  return step;
}

FileStep RenameStep(const std::string &from, const std::string &to) {
  FileStep step;
  step.kind = StepKind::kRename;
  step.path = from;
  step.to = to;
  return step;
}

FileStep RemoveStep(const std::string &path) {
  FileStep step;
  step.kind = StepKind::kRemove;
  step.path = path;
  return step;
}

FileStep CompileStep(const CommandFor &command, const std::string &target, const std::string &why) {
  FileStep step;
  step.kind = StepKind::kCompile;
  step.path = target;
  step.command = command;
  step.why = why;
  return step;
}
