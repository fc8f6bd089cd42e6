/*
 * form.h - what the Setup form does, written once for every frontend.
 *
 * The window, the command line, answer files and the questions in a
 * terminal present one form.  Each of them calls these to start from the
 * defaults, to choose the installation kind and the shell style, to name
 * a style, and to check a field on the text that will be stored; and each
 * only shows what comes back.  A message comes back as a Result: a
 * refusal, or a notice to tell while the form goes on.
 */
#ifndef VELORIX_SETUP_FORM_H
#define VELORIX_SETUP_FORM_H

#include <string>
#include <string_view>

#include "form_fields.h"
#include "result.h"

// Chooses the installation kind.  Full puts the current directory into the
// product directory field; when that cannot be read, the field keeps its
// text and the notice says so.  User leaves the field as it is.
Result ChooseKind(InstallForm &form, bool full);

// The shell style that SHELL and "shells.vel" give on this host, and a
// notice about a value detection had to ignore.
int DetectedShellStyle(Result *told = nullptr);

// The shell path a style gets on this host: SHELL (or the style's shell in
// /bin when SHELL is not set) and the style's options.  When that is longer
// than the shell path field takes, the path is empty and the notice asks
// for one.
Result DetectShellPath(int style, std::string *path);

// Chooses the shell style; the shell path follows it, as detected, unless
// the user gave one (InstallForm::shellPathGiven).
Result ChooseShellStyle(InstallForm &form, int style);

// The style named name ("csh", "ksh"), 0 for none.
int ShellStyleByName(std::string_view name);
// The name of style, which must be one.
const char *ShellStyleName(int style);
// The styles' names, between and before the last: "csh, ksh" or
// "csh or ksh".
std::string ShellStyleNames(const char *last);

// The check of one field on the text the settings file will get: too long,
// holding what the field refuses, or making its settings line too long.
// Refused (Fault::kRefused) with the message as the window shows it,
// naming the field, and the reason alone as its detail ("is longer than
// 16384 characters"), for a frontend that names the field its own way.
Result CheckField(const InstallForm &form, Field field);

// Why text may not be the value of field, in words that follow the
// field's name ("must not contain '~':\n..."); empty when it may.  A
// reference "$(" in a field that takes one is not judged here: whether it
// resolves depends on the settings.
std::string FieldRefusal(Field field, const std::string &text);

// The first field of form that CheckField refuses; done when none.
Result CheckFields(const InstallForm &form);

// What the settings file gets for field: the product directory with its
// "/", the include options with the product directory after them (as
// kernel, the stored product directory, reads back), a Tuning field
// trimmed (the empty mark when nothing is left), an empty Libraries or C++
// Options field as the empty mark, any other text as typed.
std::string StoredText(const InstallForm &form, Field field, const std::string &kernel);

// The directory with "/" appended unless it already ends in one.
std::string WithSlash(const std::string &directory);

#endif
