/*
 * differences.h - what would change in a file, told as diff(1) tells it:
 * a unified diff of a text file, and for the settings file one line per
 * key whose value would change.
 */
#ifndef VELORIX_SETUP_DIFFERENCES_H
#define VELORIX_SETUP_DIFFERENCES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file larger than this is far larger than any the installation writes:
// it differs, and its lines are neither compared nor shown, so that such a
// file costs a check no more memory than the installation's own files.
constexpr std::uintmax_t kLargestComparedFile = std::uintmax_t{1} << 20;

// The one line that stands for the diff of a file too large to compare,
// or nothing when the file at path is not one.
std::optional<std::string> TooLargeToCompare(const std::string &path, const std::string &shown);

// text with every byte that is not text (a control character other than
// a tab or a line feed, and DEL) written as \xHH, so that a NUL or an
// escape sequence in a file compared is shown rather than obeyed or cut at.
std::string Printable(std::string_view text);

// The unified diff (diff -u) of the file at before against the file at
// after, both headed by shown, the second marked "(new)"; a before that
// does not exist counts as empty.  Every line is compared as text, a file
// with a NUL as well, and shown Printable; a before too large to compare
// is told in one line (TooLargeToCompare).  Empty when both hold the same
// bytes; nothing when diff could not be run.
std::optional<std::string> UnifiedDiff(const std::string &before, const std::string &after,
                                       const std::string &shown);

// One line per setting whose value differs between the settings texts
// before and after, as the core library reads them:
//   [Visual] HCPRINTER: "lpr %s" -> "lp -d office %s"
// with (none) for a key that one of them lacks; in after's order, then the
// keys that only before holds.  Names and values are shown Printable.
std::vector<std::string> SettingsChanges(const std::string &before, const std::string &after);

// The names of the settings of those lines ("[Visual] HCPRINTER"), for a
// summary.
std::string ChangedKeys(const std::vector<std::string> &changes);

// A file that is not there yet, in one line rather than a diff that adds
// every line of it: "shown: new file, 29 lines".
std::string NewFileLine(const std::string &shown, const std::string &content);

#endif
