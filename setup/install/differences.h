/*
 * differences.h - what would change in a file, told as diff(1) tells it:
 * a unified diff of a text file, and for the settings file one line per
 * key whose value would change.
 */
#ifndef VELORIX_SETUP_DIFFERENCES_H
#define VELORIX_SETUP_DIFFERENCES_H

#include <optional>
#include <string>
#include <vector>

// The unified diff (diff -u) of the file at before against the file at
// after, both headed by shown, the second marked "(new)"; a before that
// does not exist counts as empty.  Empty when both hold the same bytes;
// nothing when diff could not be run.
std::optional<std::string> UnifiedDiff(const std::string &before, const std::string &after,
                                       const std::string &shown);

// One line per setting whose value differs between the settings texts
// before and after, as the core library reads them:
//   [Visual] HCPRINTER: "lpr %s" -> "lp -d office %s"
// with (none) for a key that one of them lacks; in after's order, then the
// keys that only before holds.
std::vector<std::string> SettingsChanges(const std::string &before, const std::string &after);

// The names of the settings of those lines ("[Visual] HCPRINTER"), for a
// summary.
std::string ChangedKeys(const std::vector<std::string> &changes);

// A file that is not there yet, in one line rather than a diff that adds
// every line of it: "shown: new file, 29 lines".
std::string NewFileLine(const std::string &shown, const std::string &content);

#endif
