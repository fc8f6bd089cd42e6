/*
 * settings_messages.h - the reports of the settings module.  Each one
 * about a key starts as "Settings file 'velorix', section 'S', key 'K':",
 * built in one place (reportOn).
 */
#ifndef VELORIX_SUPPORT_SETTINGS_MESSAGES_H
#define VELORIX_SUPPORT_SETTINGS_MESSAGES_H

#include <cstddef>
#include <string>

#include "settings_read.h"

namespace vx {

// Names quoted in a report are cut to this, so every report fits.
constexpr int kShownName = 100;
// Shown in place of a section or key that the caller did not give (the
// text being expanded is no settings value).
constexpr const char *kNoSection = "(not a settings value)";
constexpr const char *kNoKey = "(none)";

inline const char *shown(const char *name, const char *absent) {
  return name != nullptr ? name : absent;
}

// Shows a report of our own in a message box: the words naming [section]
// key of the settings file, then format's text.  Without a key they name
// the section only, without a section the file only.  format is always a
// literal of ours, never a settings text.
void reportOn(const char *section, const char *key, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

void reportNotFound(const char *section, const char *key);
void reportValueTooLong(const char *section, const char *key);

// The reports that stop an expansion.  where and key name the text being
// expanded; the reference names are terminated strings, save where a
// length is given.
void reportHalted(const char *where, const char *key, const char *refSection, const char *refKey,
                  bool looped);
void reportUnread(Read read, const char *section, const char *key, const char *where,
                  const char *refSection, std::size_t sectionLength, const char *refKey,
                  std::size_t keyLength);
void reportTooLongOnceExpanded(const char *where, const char *key, std::size_t size,
                               const char *refSection, const char *refKey);

void reportNotWritten(const std::string &path, const char *section, const char *key);

}  // namespace vx

#endif  // VELORIX_SUPPORT_SETTINGS_MESSAGES_H
