/*
 * options.h - velorix-setup's command line read into options: the form's,
 * one per field of the table (form_fields.h), and the few others.
 *
 * The long options are read with getopt_long from one table; an option may
 * be shortened to any unique beginning, and its value is the next argument
 * or follows "=".  Every argument that is not ours is left, in order, for
 * the window's toolkit, which knows the X options.
 */
#ifndef VELORIX_SETUP_COMMAND_LINE_OPTIONS_H
#define VELORIX_SETUP_COMMAND_LINE_OPTIONS_H

#include <map>
#include <string>
#include <vector>

#include "result.h"

struct CommandLine {
  std::map<std::string, std::string> values;  // by option, with its "--"
  std::map<std::string, bool> flags;
  // The arguments that are not ours, in order: the window's X options
  // with their values, for the toolkit to parse, or strays.
  std::vector<char *> others;

  bool has(const char *flag) const { return flags.count(flag) != 0; }
  bool hasValue(const char *name) const { return values.count(name) != 0; }
  // The value of option name; empty when it is not given.
  std::string value(const char *name) const;
  // Whether a value of the form is given (an option or an answer file).
  bool setsForm() const;
};

// Reads argv.  Refused, saying why in one line, on anything unknown,
// ambiguous, repeated or missing its value.
Result ParseCommandLine(int argc, char **argv, CommandLine *line);

// What --help prints: the form's options from the field table, with the
// values the window starts with.
std::string UsageText();

// The long options as the shell's completion reads them, one a line: the
// option, and after a blank what its value is (DIR, FILE, TEXT, or the
// words it may be, "csh|ksh"; in "[=...]" when it may only follow "=";
// nothing for an option without one).  From the same tables as the
// options read, so that the completion cannot miss one.
std::string CompletionTable();

// "velorix-setup 1.5 (git DESCRIPTION)", as --version prints it.
std::string VersionLine();

// The command line as a shell would read it back, for the log.
std::string QuotedCommandLine(int argc, char **argv);

// Whether arg is an option of some kind (ours or the toolkit's) rather
// than a word.
bool IsOption(const char *arg);

#endif
