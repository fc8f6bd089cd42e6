/*
 * strings.cc - trimming, substituting and inserting text.
 *
 * StrSubstitute and StrInsert work on texts held in core-library memory
 * blocks (Nlm_MemGet, Nlm_MemFree) and take over the block they are given:
 * the caller keeps only the pointer they return.  Lengths are 16-bit counts
 * in the library's interface, so no result grows beyond kMaxTextLength;
 * a result that would is refused with a message and the text given back
 * unchanged, as is one whose block cannot be allocated.
 */
#include <cstring>
#include <new>
#include <string>

#include "strings_internal.h"
#include "utility.h"

namespace {

// Longest text that a 16-bit signed length can describe.
constexpr std::size_t kMaxTextLength = 32767;

// ASCII letters and digits only: the locale must not widen a whole word.
bool isAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A new zero-filled block holding text; NULL (reported by the core
// library) when no memory is left.
Nlm_CharPtr newBlock(const std::string &text) {
  auto block = static_cast<Nlm_CharPtr>(Nlm_MemGet(text.size() + 1, MGET_CLEAR | MGET_ERRPOST));
  if (block != nullptr) std::memcpy(block, text.data(), text.size());
  return block;
}

void reportTooLong(const char *operation) {
  Nlm_Message(
      MSG_OK,
      "%s: texts longer than %d characters are not supported; the text has been left unchanged.",
      operation, static_cast<int>(kMaxTextLength));
}

void reportNoMemory(const char *operation) {
  Nlm_Message(MSG_OK, "%s: not enough memory; the text has been left unchanged.", operation);
}

// The work of StrSubstitute on a text of at most kMaxTextLength; NULL when
// nothing was replaced or the result is refused (reported).
Nlm_CharPtr substitute(const std::string &text, const char *search, const char *replacement,
                       bool wholeWord, Nlm_Int2 &replaced) {
  const std::size_t searchLength = std::strlen(search);
  std::string result;
  std::size_t from = 0;
  replaced = 0;
  for (std::size_t at = text.find(search, from); at != std::string::npos;
       at = text.find(search, from)) {
    result.append(text, from, at - from);
    from = at + searchLength;
    // The character before an occurrence is the one in the text as
    // changed so far, which may end a replacement.
    if (wholeWord && !result.empty() && isAsciiAlnum(result.back())) {
      result.append(search);
      continue;
    }
    result.append(replacement);
    ++replaced;
    if (result.size() > kMaxTextLength) break;
  }
  if (replaced == 0) return nullptr;
  result.append(text, from, std::string::npos);
  if (result.size() > kMaxTextLength) {
    reportTooLong("StrSubstitute");
    replaced = 0;
    return nullptr;
  }
  Nlm_CharPtr block = newBlock(result);
  if (block == nullptr) replaced = 0;
  return block;
}

}  // namespace

std::size_t vx::trimInPlace(char *text, std::size_t length) {
  std::size_t first = 0;
  const std::size_t kept = trimBounds(text, length, &first);
  if (first > 0) std::memmove(text, text + first, kept);
  text[kept] = '\0';
  return kept;
}

extern "C" Nlm_CharPtr StrTrim(Nlm_CharPtr text) {
  if (text == nullptr) return text;
  vx::trimInPlace(text, std::strlen(text));
  return text;
}

extern "C" Nlm_CharPtr StrSubstitute(Nlm_CharPtr str, const char *search, const char *replacement,
                                     Nlm_Boolean wholeWord, Nlm_Int2Ptr count) {
  if (count != nullptr) *count = 0;
  // An empty search text would match everywhere without end; a missing
  // one or a missing replacement is a caller's slip: leave the text alone.
  if (str == nullptr || search == nullptr || replacement == nullptr || search[0] == '\0')
    return str;

  if (std::strlen(str) > kMaxTextLength) {
    reportTooLong("StrSubstitute");
    return str;
  }
  Nlm_Int2 replaced = 0;
  Nlm_CharPtr block = nullptr;
  try {
    block = substitute(str, search, replacement, wholeWord != FALSE, replaced);
  } catch (const std::bad_alloc &) {
    reportNoMemory("StrSubstitute");
    return str;
  }
  if (block == nullptr) return str;
  Nlm_MemFree(str);
  if (count != nullptr) *count = replaced;
  return block;
}

extern "C" Nlm_CharPtr StrInsert(Nlm_CharPtr str, Nlm_Int2 pos, const char *insertion) {
  if (str == nullptr || insertion == nullptr) return str;
  const std::size_t length = std::strlen(str);
  if (length + std::strlen(insertion) > kMaxTextLength) {
    reportTooLong("StrInsert");
    return str;
  }
  // A position outside the text puts the insertion at the nearer end
  // rather than outside the block.
  std::size_t at = pos < 0 ? 0 : static_cast<std::size_t>(pos);
  if (at > length) at = length;
  Nlm_CharPtr block = nullptr;
  try {
    std::string text(str, length);
    text.insert(at, insertion);
    block = newBlock(text);
  } catch (const std::bad_alloc &) {
    reportNoMemory("StrInsert");
  }
  if (block == nullptr) return str;
  Nlm_MemFree(str);
  return block;
}
