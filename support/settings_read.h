/*
 * settings_read.h - what the parts of the settings module share: the
 * sizes of a value, the raw read of one value and the expansion of a text
 * read (settings_expand.cc).  The raw read is inline because the expansion
 * makes one for every reference, and GetParam is timed against the core
 * library's lookups.
 */
#ifndef VELORIX_SUPPORT_SETTINGS_READ_H
#define VELORIX_SUPPORT_SETTINGS_READ_H

#include <array>
#include <cstddef>
#include <cstring>

#include "utility.h"

namespace vx {

constexpr std::size_t kBufSize = VX_PARBUF_SIZE;
constexpr std::size_t kMaxText = kBufSize - 1;
// The section of the messages, whose values are built from one another's
// directives.
constexpr const char kMessageSection[] = "KernelErrors";
constexpr std::size_t kMessageSectionLength = sizeof kMessageSection - 1;

using TextBuffer = std::array<char, kBufSize>;

enum class Read { kFound, kMissing, kTooLong };

// Reads [section] key into buf (size bytes) without expanding it.  A key
// whose value is empty is missing, as the core library cannot tell the
// two apart.  A value that does not fit is kTooLong and buf is untouched;
// the read goes through a buffer one byte larger than any accepted value
// so that a cut value is recognised instead of being taken for the whole.
// A caller's buffer of that size is read into directly.
inline Read readValue(const char *section, const char *key, char *buf, std::size_t size,
                      std::size_t *length = nullptr) {
  // A null key would make the core library list the section's keys.
  if (section == nullptr || key == nullptr || section[0] == '\0' || key[0] == '\0')
    return Read::kMissing;
  constexpr std::size_t kProbeSize = kBufSize + 1;
  std::array<char, kProbeSize> probe;
  char *target = size >= kProbeSize ? buf : probe.data();
  target[0] = '\0';
  // No default: the core library empties the buffer before it looks, and
  // a default would only be copied in first.
  const Nlm_Int2 got = Nlm_GetAppParam(VX_SETTINGS_BASE, section, key, nullptr, target,
                                       static_cast<Nlm_Int2>(kProbeSize));
  if (got <= 0) {
    if (target == buf) buf[0] = '\0';
    return Read::kMissing;
  }
  // The core library returns the length it copied; strnlen backs that up
  // should a value ever hold a NUL of its own.
  std::size_t n = static_cast<std::size_t>(got);
  if (n >= kProbeSize || target[n] != '\0') n = ::strnlen(target, kProbeSize);
  if (n > kMaxText || n >= size) {
    if (target == buf) buf[0] = '\0';
    return Read::kTooLong;
  }
  if (target != buf) std::memcpy(buf, target, n + 1);
  if (length != nullptr) *length = n;
  return Read::kFound;
}

// Expands the references of text (*length characters, terminated) in
// place, in a buffer of size bytes, as Translate does before the marks are
// applied; with forFormat, a "%" that comes in through a reference is
// doubled.  section and key name the text in reports and may be null.
// On success *length is set to that of the result; false after a report,
// with the text cut before the "." of the reference that stopped it.
bool expandReferences(char *text, std::size_t *length, std::size_t size, const char *section,
                      const char *key, bool forFormat);

// As expandReferences, but the result goes to out (size bytes) and text,
// whose first "$" is at first, is only read and its names ended where
// they lie; text lies in a buffer of capacity bytes, at least size, which
// a reference that runs on past a value may use.
bool expandInto(char *text, std::size_t *length, std::size_t capacity, std::size_t first, char *out,
                std::size_t size, const char *section, const char *key, bool forFormat);

// Expands the references of text, a terminated text in a buffer of size
// bytes, and then turns its marks into what they stand for, as Translate
// does; with forFormat, a "%" that comes in through a reference is
// doubled.  section and key name the text in reports and may be null.
// False after a report, with the text cut as the expansion left it.
bool translateFor(char *text, std::size_t size, const char *section, const char *key,
                  bool forFormat);

}  // namespace vx

#endif  // VELORIX_SUPPORT_SETTINGS_READ_H
