/*
 * file_writing.h - writing templates to files: CreateFile and the
 * compile-script writer.
 */
#ifndef VELORIX_SETUP_FILE_WRITING_H
#define VELORIX_SETUP_FILE_WRITING_H

#include <ncbi.h>
#include <sys/types.h>

#include <cstddef>

// Mode of a nine-character permission string ("rw-r--r--" -> 0644).
mode_t ModeFromPermissions(const char *permissions);

// How writing a file went.
enum class WriteResult {
  kWritten,     // complete, in place with its permissions
  kNotOpened,   // could not be opened; reported, nothing changed
  kNotWritten,  // a write failed; reported, the old file (if any) kept
  kLinesLost    // in place, but a line could not be expanded and is empty
};

// Writes lines (NULL-terminated) to name, each expanded through the
// settings when expand is set, whole or not at all (atomic_file.h), with
// the mode of permissions (0600 when NULL).  Every failure is reported.
// Messages name the file shownAs when it is given.
WriteResult WriteTemplateFile(const char *name, const char *const *lines, const char *permissions,
                              bool expand, const char *shownAs = nullptr);

// Writes lines (NULL-terminated) to name, each expanded through the settings
// when expand is set, then applies permissions.  FALSE only when the file
// cannot be opened (after "Cannot open file '%s'").  name may lie in ParBuf.
Nlm_Boolean CreateFile(const char *name, const char *const *lines, const char *permissions,
                       Nlm_Boolean expand);

// Longest shell path for the compile script's first line: "#! ", the path,
// a line feed and the terminating NUL fit the 500-byte settings buffer.
constexpr std::size_t kShellPathLimit = 495;

// Writes the compile script to path for shell style shellStyle (1-based
// record of shells) with "#! " and shellPath as its first line.  FALSE when
// the file cannot be opened (the caller reports it).
Nlm_Boolean WriteCompileScript(const char *path, int shellStyle, const char *shellPath);

// The same, telling how it went; mode 0755.
WriteResult WriteCompileScriptFile(const char *path, int shellStyle, const char *shellPath,
                                   const char *shownAs = nullptr);

#endif
