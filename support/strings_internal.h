/*
 * strings_internal.h - the string helpers' inside, shared with the
 * description-file reader, which knows each line's length already and
 * reads lines by the hundred thousand.
 */
#ifndef VELORIX_STRINGS_INTERNAL_H
#define VELORIX_STRINGS_INTERNAL_H

#include <cstddef>

namespace vx {

// StrTrim for a text whose length (up to its NUL) is known: removes the
// same characters in place and returns the new length.
std::size_t trimInPlace(char *text, std::size_t length);

// The characters StrTrim removes, as bits by character code: blank, tab,
// LF, CR and ^Z, the end-of-file character that some editors leave at
// the end of lines.
constexpr unsigned long long kTrimChars =
    1ULL << ' ' | 1ULL << '\t' | 1ULL << '\n' | 1ULL << '\r' | 1ULL << '\x1a';

inline bool isTrimChar(char c) {
  const unsigned char code = static_cast<unsigned char>(c);
  return code <= ' ' && (kTrimChars >> code & 1U) != 0;
}

// What StrTrim would keep of the length characters at text, without
// moving them: returns how many, and sets *first to where they begin.
// Inline: the description reader trims every line it reads.
inline std::size_t trimBounds(const char *text, std::size_t length, std::size_t *first) {
  std::size_t from = 0;
  while (from < length && isTrimChar(text[from]))
    ++from;
  *first = from;
  if (from == length) return 0;
  // text[from] is kept, so the backward scan stops there at the latest.
  std::size_t last = length - 1;
  while (isTrimChar(text[last]))
    --last;
  return last - from + 1;
}

}  // namespace vx

#endif
