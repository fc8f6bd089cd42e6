/*
 * format.h - checked printf-style formatting of settings values and
 * message texts (inside of the support library).
 *
 * A settings value is a text the user can edit, so it is never handed to
 * printf as a whole.  formatChecked walks it directive by directive,
 * checks every directive against the tagged argument it consumes, and
 * formats each one on its own into a bounded buffer.
 */
#ifndef VELORIX_FORMAT_H
#define VELORIX_FORMAT_H

#include <cstddef>

#include "utility.h"

namespace vx {

// Widths and precisions above this are refused: no directive of a 499
// character result can need more, and it keeps snprintf's int in range.
constexpr int kMaxFieldWidth = VX_PARBUF_SIZE - 1;

// Formats format with args (nargs of them) into out (outSize bytes).
// Returns true on success.  On failure out holds the empty text and
// problem (problemSize bytes) says in plain words what was wrong: a
// directive that does not match its argument, too few or too many
// arguments, a "%n", a "*" width or precision, a positional argument, an
// unknown conversion, or a result that would not fit in out.
bool formatChecked(char *out, std::size_t outSize, const char *format, const VxArg *args, int nargs,
                   char *problem, std::size_t problemSize);

}  // namespace vx

#endif  // VELORIX_FORMAT_H
