/*
 * settings_read.cc - reading the settings file: values with $(Section.KEY)
 * references expanded (settings_expand.cc), "~" line breaks and "`" empty
 * marks applied, and printf-style values checked and formatted
 * (format.cc), which never hands a value to printf.
 *
 * The file itself is parsed, kept in memory and rewritten by the core
 * library (Nlm_GetAppParam, Nlm_SetAppParam); writing is in
 * settings_write.cc, the messages of section KernelErrors and the reports
 * in settings_messages.cc.
 */
#include <array>
#include <cstring>
#include <string>

#include "format.h"
#include "settings_messages.h"
#include "settings_read.h"
#include "utility.h"

extern "C" {
Nlm_Char ParBuf[VX_PARBUF_SIZE];
}

namespace {

using vx::kBufSize;
using vx::kMaxText;
using vx::Read;
using vx::TextBuffer;

// Room for the plain-words explanation of a formatting problem.
constexpr std::size_t kProblemSize = 200;

// The length of text (a buffer of size bytes) when it is terminated
// within it; otherwise reports and returns kUnterminated.
constexpr std::size_t kUnterminated = static_cast<std::size_t>(-1);

std::size_t measureInBuffer(const char *text, std::size_t size, const char *section,
                            const char *key) {
  if (text != nullptr && size > 0) {
    const std::size_t length = ::strnlen(text, size);
    if (length < size) return length;
  }
  vx::reportOn(vx::shown(section, vx::kNoSection), vx::shown(key, vx::kNoKey),
               "\nthe text to expand does not fit its buffer.");
  return kUnterminated;
}

constexpr char kMarks[] = {VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '\0'};
constexpr char kMarksOrPercent[] = {VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '%', '\0'};

// Turns the line-break marks of text into line breaks and drops the empty
// marks.
void applyMarks(char *text) {
  // Most texts hold neither mark: one search finds whether either occurs.
  char *mark = std::strpbrk(text, kMarks);
  if (mark == nullptr) return;
  for (char *p = mark; *p != '\0'; ++p) {
    if (*p == VX_LINE_BREAK_MARK) *p = '\n';
  }
  RemoveEmptyChars(mark);
}

}  // namespace

bool vx::translateFor(char *text, std::size_t size, const char *section, const char *key,
                      bool forFormat) {
  std::size_t length = measureInBuffer(text, size, section, key);
  if (length == kUnterminated) return false;
  const bool resolved = expandReferences(text, &length, size, section, key, forFormat);
  applyMarks(text);
  return resolved;
}

extern "C" {

void RemoveEmptyChars(Nlm_CharPtr text) {
  if (text == nullptr) return;
  char *to = text;
  for (const char *from = text; *from != '\0'; ++from) {
    if (*from != VX_EMPTY_MARK) *to++ = *from;
  }
  *to = '\0';
}

Nlm_Boolean TranslateRefSized(Nlm_CharPtr text, size_t size, const char *section, const char *key) {
  const std::size_t length = measureInBuffer(text, size, section, key);
  if (length == kUnterminated) return FALSE;
  std::size_t expanded = length;
  return vx::expandReferences(text, &expanded, size, section, key, false) ? TRUE : FALSE;
}

Nlm_Boolean TranslateRef(Nlm_CharPtr text, const char *section, const char *key) {
  return TranslateRefSized(text, kBufSize, section, key);
}

Nlm_Boolean TranslateSized(Nlm_CharPtr text, size_t size, const char *section, const char *key) {
  return vx::translateFor(text, size, section, key, false) ? TRUE : FALSE;
}

Nlm_Boolean Translate(Nlm_CharPtr text, const char *section, const char *key) {
  return TranslateSized(text, kBufSize, section, key);
}

Nlm_CharPtr GetParamArgs(const char *section, const char *key, const VxArg *args, int nargs) {
  // Not cleared: each buffer is written before it is read.  One byte
  // larger than a value may be, so that readValue reads into it directly.
  std::array<char, kBufSize + 1> value;
  std::size_t length = 0;
  const Read read = vx::readValue(section, key, value.data(), value.size(), &length);
  if (read != Read::kFound) {
    if (read == Read::kTooLong) {
      vx::reportValueTooLong(section, key);
    } else {
      vx::reportNotFound(section, key);
    }
    return nullptr;
  }
  // Expanded into a buffer of its own, so that the value is read where it
  // lies.
  char *text = value.data();
  TextBuffer expanded;
  if (const char *dollar = static_cast<const char *>(std::memchr(text, '$', length))) {
    if (!vx::expandInto(text, &length, value.size(), static_cast<std::size_t>(dollar - text),
                        expanded.data(), expanded.size(), section, key, true))
      return nullptr;
    text = expanded.data();
  }
  // Without arguments, a text without "%" or marks is its own result: one
  // search settles that for most values.
  if (nargs == 0 && std::strpbrk(text, kMarksOrPercent) == nullptr) {
    std::memcpy(ParBuf, text, length + 1);
    return ParBuf;
  }
  applyMarks(text);
  // Formatted apart from ParBuf: a string argument may lie in ParBuf.
  TextBuffer result;
  std::array<char, kProblemSize> problem;
  if (!vx::formatChecked(result.data(), result.size(), text, args, nargs, problem.data(),
                         problem.size())) {
    vx::reportOn(section, key, "\nthe value cannot be used: %s.", problem.data());
    return nullptr;
  }
  std::memcpy(ParBuf, result.data(), std::strlen(result.data()) + 1);
  return ParBuf;
}

Nlm_CharPtr GetParamString(const char *section, const char *key) {
  // The names may lie in ParBuf, which is about to be overwritten.
  const std::string sectionName = vx::shown(section, "");
  const std::string keyName = vx::shown(key, "");
  const Read read = vx::readValue(section, key, ParBuf, kBufSize);
  if (read != Read::kFound) {
    ParBuf[0] = '\0';
    if (read == Read::kTooLong) {
      vx::reportValueTooLong(sectionName.c_str(), keyName.c_str());
    } else {
      vx::reportNotFound(sectionName.c_str(), keyName.c_str());
    }
    return nullptr;
  }
  return vx::translateFor(ParBuf, kBufSize, sectionName.c_str(), keyName.c_str(), false) ? ParBuf
                                                                                         : nullptr;
}

Nlm_CharPtr GetParamAppend(const char *section, const char *key) {
  const std::string sectionName = vx::shown(section, "");
  const std::string keyName = vx::shown(key, "");
  ParBuf[kBufSize - 1] = '\0';
  const std::size_t held = std::strlen(ParBuf);
  TextBuffer value{};
  std::size_t length = 0;
  const Read read = vx::readValue(section, key, value.data(), value.size(), &length);
  if (read == Read::kMissing) {
    vx::reportNotFound(sectionName.c_str(), keyName.c_str());
    return nullptr;
  }
  if (read == Read::kTooLong || held + length > kMaxText) {
    vx::reportOn(sectionName.c_str(), keyName.c_str(),
                 "\nthe value does not fit after the %zu characters already in the buffer (%zu at "
                 "most).",
                 held, kMaxText);
    return nullptr;
  }
  std::memcpy(ParBuf + held, value.data(), length + 1);
  return vx::translateFor(ParBuf, kBufSize, sectionName.c_str(), keyName.c_str(), false) ? ParBuf
                                                                                         : nullptr;
}

void SettingsReload(void) { Nlm_FreeConfigStruct(); }

}  // extern "C"
