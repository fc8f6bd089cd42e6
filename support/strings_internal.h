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

}  // namespace vx

#endif
