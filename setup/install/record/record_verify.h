/*
 * record_verify.h - --verify: the files of an installation compared with
 * the record it left (install_record.h), each reached as record_reach.h
 * allows.
 */
#ifndef VELORIX_SETUP_RECORD_VERIFY_H
#define VELORIX_SETUP_RECORD_VERIFY_H

#include <string>
#include <vector>

#include "install_record.h"

// What --verify finds of one recorded file, in the manner of rpm -V: what
// differs, then the path.
struct VerifyFinding {
  // "missing ", or nine columns SM5DLUGTP, each the letter when that
  // differs ("?" when it could not be read), "." when it holds.
  std::string flags;
  bool data = false;
  std::string path;  // as the record names it
  std::string why;   // why the entry was not looked at; empty when it was
};

// The recorded files that are missing or whose bytes, mode, owner, group
// or size differ from the record; a data file only when it is missing.
// An entry that names no file of an installation (record_reach.h) is a
// finding of its own, "refused", and is not looked at.
std::vector<VerifyFinding> VerifyInstallation(const InstallRecord &record);

// A finding as --verify prints it, as rpm -V does: "S.5......    ./CompRhs",
// "missing   d ./.velorixrc", with "d" before the path of a data file;
// "refused     ./../x: not a file an installation writes".
std::string VerifyLine(const VerifyFinding &finding);

#endif
