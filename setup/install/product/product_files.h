/*
 * product_files.h - what a product directory must hold for a run, and
 * which of it is missing.
 *
 * A run needs the product's executable and its class description file; a
 * Full installation compiles autodif.cc in the directory it is run in (the
 * product directory), and a User installation links the object that the
 * Full one made.  The procedure looks for all of them before it writes
 * anything, so that a message about one lists every one that is missing:
 * a newcomer with an empty directory learns from one message what to put
 * there.  The names are those the settings template gives them
 * ($(Paths.KERNEL)velorix, [Files] CLASSFILE, the object of [TMP] TMP).
 */
#ifndef VELORIX_SETUP_PRODUCT_FILES_H
#define VELORIX_SETUP_PRODUCT_FILES_H

#include <string>
#include <vector>

#include "form_fields.h"
#include "path_resolver.h"
#include "result.h"

// The product's executable: without it the installation stops.
constexpr char kProductExecutable[] = "velorix";
// The class description file: without it the installation stops.
constexpr char kProductClassFile[] = "classes.vel";
// The source a Full installation compiles, in the directory it installs.
constexpr char kAutodifSource[] = "autodif.cc";
// The object a User installation links; without it symbolic
// differentiation is turned off.
constexpr char kProductObject[] = "autodif.o";
// Beside the object a Full installation compiles, the command that made it.
constexpr char kAutodifCommandFile[] = ".autodif.o.cmd";

// Where a run of form looks for the file name of the product directory
// (placed by resolve).
std::string ProductFilePath(const InstallForm &form, const char *name, const PathResolver &resolve);

// What keeps the reader from reading the class description file at path
// to its end (not a regular file, or too large for its positions), with
// an empty path when nothing does or nothing is there.
MissingFile ClassFileProblem(const std::string &path);

// Every file that a run of form needs and that is not there, or (the
// class description file) cannot be read, in the order above; nothing
// when the product directory is empty.
std::vector<MissingFile> MissingProductFiles(const InstallForm &form, const PathResolver &resolve);

// The lines that list missing beneath a message, each indented by two
// blanks and ended by a line feed, the last one saying where to read what
// each file holds; empty for nothing missing.
std::string MissingFilesText(const std::vector<MissingFile> &missing);

#endif
