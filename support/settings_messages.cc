/*
 * settings_messages.cc - the messages of section KernelErrors (Warning)
 * and the settings module's own reports.
 */
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "format.h"
#include "settings_messages.h"
#include "settings_read.h"
#include "utility.h"

namespace {

// A message, and the undefined-reference report about that message's own
// text; a report about the report is not shown.
constexpr int kMaxNestedWarnings = 2;
// Room for the plain-words explanation of a formatting problem.
constexpr std::size_t kProblemSize = 200;
constexpr const char *kUndefinedReference = "TRANSLN";

void showReport(const vx::TextBuffer &text) { Nlm_Message(MSG_OK, "%s", text.data()); }

}  // namespace

namespace vx {

void reportOn(const char *section, const char *key, const char *format, ...) {
  TextBuffer text{};
  int used;
  if (section == nullptr) {
    used = std::snprintf(text.data(), text.size(), "Settings file '%s':", VX_SETTINGS_BASE);
  } else if (key == nullptr) {
    used =
        std::snprintf(text.data(), text.size(),
                      "Settings file '%s', section '%.*s':", VX_SETTINGS_BASE, kShownName, section);
  } else {
    used = std::snprintf(text.data(), text.size(),
                         "Settings file '%s', section '%.*s', key '%.*s':", VX_SETTINGS_BASE,
                         kShownName, section, kShownName, key);
  }
  // The names are cut, so the words before the report always fit.
  const std::size_t at = std::min(used > 0 ? static_cast<std::size_t>(used) : 0, text.size() - 1);
  va_list list;
  va_start(list, format);
  std::vsnprintf(text.data() + at, text.size() - at, format, list);
  va_end(list);
  showReport(text);
}

void reportNotFound(const char *section, const char *key) {
  reportOn(shown(section, kNoKey), shown(key, kNoKey), " not found");
}

void reportValueTooLong(const char *section, const char *key) {
  reportOn(shown(section, kNoKey), shown(key, kNoKey), "\nthe value is longer than %zu characters.",
           kMaxText);
}

void reportHalted(const char *where, const char *key, const char *refSection, const char *refKey,
                  bool looped) {
  reportOn(where, shown(key, kNoKey), "\nthe reference $(%.*s.%.*s) %s.", kShownName, refSection,
           kShownName, refKey,
           looped ? "refers back to itself, directly or through other keys"
                  : "is expanded too many times: the values it leads to refer to the same "
                    "keys over and over");
}

void reportUnread(Read read, const char *section, const char *key, const char *where,
                  const char *refSection, std::size_t sectionLength, const char *refKey,
                  std::size_t keyLength) {
  if (read == Read::kTooLong) {
    reportValueTooLong(refSection, refKey);
  } else if (section == nullptr && key == nullptr) {
    // Text that is no settings value: name the failing reference, its
    // names cut as every quoted name is, so that the report fits.
    const std::string reference =
        "$(" + std::string(refSection, std::min<std::size_t>(sectionLength, kShownName)) + "." +
        std::string(refKey, std::min<std::size_t>(keyLength, kShownName)) + ")";
    Warning(kUndefinedReference, VX_SETTINGS_BASE, where, reference.c_str());
  } else {
    Warning(kUndefinedReference, VX_SETTINGS_BASE, where, shown(key, kNoKey));
  }
}

void reportTooLongOnceExpanded(const char *where, const char *key, std::size_t size,
                               const char *refSection, const char *refKey) {
  reportOn(where, shown(key, kNoKey),
           "\nthe text would be longer than %zu characters once $(%.*s.%.*s) is expanded.",
           size - 1, kShownName, refSection, kShownName, refKey);
}

void reportNotWritten(const std::string &path, const char *section, const char *key) {
  TextBuffer text{};
  std::snprintf(text.data(), text.size(),
                "Settings file '%.*s' could not be written:\nsection '%.*s', key '%.*s' was not "
                "stored.",
                kShownName, path.c_str(), kShownName, section, kShownName,
                shown(key, "(the whole section)"));
  showReport(text);
}

}  // namespace vx

extern "C" Nlm_Boolean WarningArgs(const char *key, const VxArg *args, int nargs) {
  static int depth = 0;
  if (key == nullptr || depth >= kMaxNestedWarnings) return TRUE;
  struct Nesting {
    Nesting() { ++depth; }
    ~Nesting() { --depth; }
  } nesting;
  // Buffers of this call only: a report about this message's own text
  // (TRANSLN) must not overwrite it.
  vx::TextBuffer format{};
  const vx::Read read = vx::readValue(vx::kMessageSection, key, format.data(), format.size());
  if (read == vx::Read::kTooLong) vx::reportValueTooLong(vx::kMessageSection, key);
  if (read != vx::Read::kFound) return TRUE;
  // After a failed expansion the report about it has been shown; the
  // message itself is cut and is not shown.
  if (!vx::translateFor(format.data(), format.size(), vx::kMessageSection, key, true)) return TRUE;
  vx::TextBuffer text{};
  std::array<char, kProblemSize> problem{};
  if (!vx::formatChecked(text.data(), text.size(), format.data(), args, nargs, problem.data(),
                         problem.size())) {
    vx::reportOn(vx::kMessageSection, key, "\nthe message cannot be shown: %s.", problem.data());
    return TRUE;
  }
  showReport(text);
  return TRUE;
}
