/*
 * text_width.cc - the width in pixels of the widest line of a text file,
 * measured in the GUI's current font, so that a window can be made wide
 * enough for a file it shows.  Needs Vibrant to be initialised.
 */
#include "raii.h"
#include "utility.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include <vibrant.h>

namespace {

// The work buffer: a piece of at most kPieceLength characters, the line
// feed that is measured with the last piece of a line, and the NUL.
constexpr size_t kWorkSize = 1000;
constexpr size_t kPieceLength = kWorkSize - 2;
// Reads at most kPieceLength characters up to the next line feed.
#define VX_PIECE_FORMAT "%998[^\n]"
static_assert(kPieceLength == 998, "VX_PIECE_FORMAT must read kPieceLength");

}  // namespace

extern "C" Nlm_Int2 FileLineMaxWidth(const char *path) {
  const vx::File file(std::fopen(path, "r"));
  if (file == nullptr) {
    return 0;
  }
  const vx::MemBlock block(static_cast<char *>(Nlm_MemGet(kWorkSize, MGET_CLEAR | MGET_ERRPOST)));
  if (block == nullptr) {
    return 0;
  }
  FILE *const stream = file.get();
  char *const piece = block.get();
  // A line longer than one piece is measured piece by piece and the widths
  // added up, as the font's widths add up along a line.
  long widest = 0;
  long line = 0;
  for (;;) {
    int c = std::fgetc(stream);
    if (c == EOF) {
      break;
    }
    if (c == '\n') {  // an empty line: nothing to measure
      line = 0;
      continue;
    }
    std::ungetc(c, stream);
    if (std::fscanf(stream, VX_PIECE_FORMAT, piece) != 1) {
      break;
    }
    c = std::fgetc(stream);
    const bool lineEnds = c == '\n' || c == EOF;
    if (!lineEnds) {
      std::ungetc(c, stream);
    } else {
      std::strcat(piece, "\n");
    }
    line += Nlm_StringWidth(piece);
    if (line > widest) {
      widest = line;
    }
    if (lineEnds) {
      line = 0;
    }
  }
  return static_cast<Nlm_Int2>(widest > SHRT_MAX ? SHRT_MAX : widest);
}
