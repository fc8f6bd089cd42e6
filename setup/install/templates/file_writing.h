/*
 * file_writing.h - writing templates to files: CreateFile and the
 * compile-script writer.
 */
#ifndef VELORIX_SETUP_FILE_WRITING_H
#define VELORIX_SETUP_FILE_WRITING_H

#include <sys/types.h>

#include <string>

#include "atomic_file.h"
#include "result.h"

// Mode of a nine-character permission string ("rw-r--r--" -> 0644).
mode_t ModeFromPermissions(const char *permissions);

// Writes lines (NULL-terminated) to path, each expanded through the
// settings when expand is set, whole or not at all (atomic_file.h), with
// the mode of permissions (what a new file gets under the umask when
// NULL).  Messages name the file shownAs, or path when it is empty.  When
// a line cannot be expanded nothing is written, and the result is a fault:
// the settings code has raised its own message about the line (caught by
// whoever runs the step), and the first line too long for the settings
// buffer is this fault's message.
// placement: Placement::kAnew for a file made anew beside the one it
// stands for (atomic_file.h).
Result CreateFile(const std::string &path, const char *const *lines, const char *permissions,
                  bool expand, const std::string &shownAs = {},
                  Placement placement = Placement::kReplace);

// Writes the compile script to path for shell style shellStyle (1-based
// record of shells) with "#! " and shellPath as its first line, mode
// 0755.  A script that cannot be opened is Fault::kNotOpened with
// "Cannot open batch file for compiler '...'".
Result WriteCompileScript(const std::string &path, int shellStyle, const std::string &shellPath,
                          const std::string &shownAs = {},
                          Placement placement = Placement::kReplace);

// What CreateFile, and WriteCompileScript, would meet in opening path,
// found without writing anything (AtomicFile::check): the fault it would
// return, worded alike, or done.  A plan or a check tells by it where the
// installation would stop.
Result CheckTemplatePlace(const std::string &path, const std::string &shownAs = {});
Result CheckCompileScriptPlace(const std::string &path, const std::string &shownAs = {});

#endif
