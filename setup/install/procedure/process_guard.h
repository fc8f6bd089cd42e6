/*
 * process_guard.h - runs a command through the shell so that it cannot
 * outlive the tool.
 */
#ifndef VELORIX_SETUP_PROCESS_GUARD_H
#define VELORIX_SETUP_PROCESS_GUARD_H

#include <functional>
#include <string>

// Runs command through /bin/sh in directory and waits for it.  What it
// writes to its standard error goes to ours as well, and the end of it is
// kept in *errors.  The exit status is returned as the shell gives it; -1
// when no shell could run.  The command cannot outlive the tool: a
// guardian process ends its whole process group when the tool dies.
// With goOn, the wait calls it at least every kWaitSliceMilliseconds; when
// it returns false, the guardian ends the command's group at once and
// *stopped is set.
int RunGuarded(const std::string &directory, const std::string &command, std::string *errors,
               const std::function<bool()> &goOn, bool *stopped);

// text as one word for the shell, whatever it holds: in single quotes,
// each single quote in it written '\''.
std::string ShellWord(const std::string &text);

#endif
