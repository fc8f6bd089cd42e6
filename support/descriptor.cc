/*
 * descriptor.cc - the descriptor: the one process-wide reader of
 * description files.
 *
 * A description file is read as logical lines: the comment after "!" cut
 * off, blanks trimmed, empty lines skipped, settings references expanded.
 * A line "&&name" reads the file name in its place, up to two levels deep
 * (three files open at most).  On top of that come the search for a line,
 * the count of a section's entries, saved positions and "|" columns.
 *
 * The state is static and single: one description file at a time.  Each
 * open file is read ahead a block at a time and cut into the pieces that
 * fgets would return (a line, or 349 characters of a longer one); a line
 * is worked on where it lies in the block and only what is kept of it is
 * copied to the caller's buffer.  Positions, the end-of-file test and
 * seeking count what has been delivered, not what has been read ahead.
 * Nothing is allocated per line.
 */
#include "descriptor_internal.h"
#include "strings_internal.h"
#include "utility.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>

namespace {

// One physical read takes at most this many characters; a longer physical
// line comes in pieces, each a line of its own.  A larger caller buffer
// only leaves room for expansion, it does not change the pieces.
constexpr size_t kPhysicalRead = VX_LINE_SIZE;
// Bytes read ahead from a file at a time.
constexpr size_t kBlockSize = 32 * 1024;
constexpr int kMaxLevel = VX_DESC_LEVELS - 1;
constexpr Nlm_Int4 kOffsetMask = VX_DESC_OFFSET_LIMIT - 1;
constexpr Nlm_Int4 kNoPosition = -1;
constexpr char kComment = '!';
// The comment mark and what makes a line need expanding: a reference's
// "$", the line-break mark and the empty mark.
constexpr char kSpecials[] = {kComment, '$', VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '\0'};
// What makes a line need expanding, and the NUL that ends its text early.
constexpr std::array<char, 4> kOdd = {'$', VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '\0'};
constexpr char kSection = '&';
constexpr char kColumn = '|';
constexpr char kInclude[] = "&&";
constexpr size_t kIncludeLength = sizeof kInclude - 1;

// An open file of the descriptor.  It remembers the path it was opened
// from and a serial number unique to that opening, so that a saved state
// can tell whether a level still holds the same file.  block[next, end)
// has been read from the stream but not delivered yet.
struct Source {
  FILE *stream = nullptr;
  std::string path;
  unsigned long serial = 0;
  char *block = nullptr;
  size_t next = 0;
  size_t end = 0;
  // A read ran into the end of the file: what the stream's end-of-file
  // indicator would say had each piece been read with fgets.
  bool pastEnd = false;
  // Where in the block the next of each of kOdd lies, once looked for,
  // and the least of them.
  bool oddKnown = false;
  std::array<size_t, kOdd.size()> odd{};
  size_t oddLeast = 0;
};

// The descriptor.  in[inl] is the innermost file; entries above inl are
// always closed.  Each level reads ahead into a block of its own, with a
// byte to spare after it for ending a piece that fills it.
std::array<Source, VX_DESC_LEVELS> in;
Nlm_Int2 inl = 0;
std::array<std::array<char, kBlockSize + 1>, VX_DESC_LEVELS> blocks;
unsigned long openings = 0;

// Forgets what was read ahead, after the stream has been positioned.
void dropReadAhead(Source &source) {
  source.next = 0;
  source.end = 0;
  source.pastEnd = false;
  source.oddKnown = false;
}

// Whether path may be read at level: only a regular file, and one whose
// offsets the positions can count; a device, a pipe or a directory would
// be read for ever, or never.  An include refused is said so (the main
// file's caller says that it cannot be opened).
bool readable(int level, const char *path) {
  struct stat st;
  if (stat(path, &st) != 0) return true;  // the open says it is not there
  const bool file = S_ISREG(st.st_mode);
  if (file && st.st_size < VX_DESC_OFFSET_LIMIT) return true;
  if (level > 0 && file) {
    Nlm_Message(MSG_OK,
                "The included description file '%s' is larger than %ld bytes; it was skipped.",
                path, VX_DESC_OFFSET_LIMIT - 1);
  } else if (level > 0) {
    Nlm_Message(MSG_OK, "The included description file '%s' is not a regular file; it was skipped.",
                path);
  }
  return false;
}

// Opens path into level; the stream is null when the open failed.
bool openLevel(int level, const char *path) {
  Source &source = in[level];
  source.stream = readable(level, path) ? Nlm_FileOpen(path, "rt") : nullptr;
  source.path = path;
  source.serial = ++openings;
  source.block = blocks[level].data();
  dropReadAhead(source);
  return source.stream != nullptr;
}

// Closes the stream of level (a null one is left alone).
void closeLevel(int level) {
  Source &source = in[level];
  if (source.stream != nullptr) {
    Nlm_FileClose(source.stream);
    source.stream = nullptr;
  }
  source.serial = 0;
  dropReadAhead(source);
}

// Closes the innermost file and makes the including one innermost.
void popLevel() {
  closeLevel(inl);
  if (inl > 0) {
    --inl;
  }
}

// The offset of the next character to deliver from level; negative when
// the stream cannot tell.
long tellLevel(int level) {
  const Source &source = in[level];
  const long read = std::ftell(source.stream);
  return read < 0 ? read : read - static_cast<long>(source.end - source.next);
}

// Positions level at offset from the start of its file; the stream's
// result.
int seekLevel(int level, long offset) {
  Source &source = in[level];
  dropReadAhead(source);
  return std::fseek(source.stream, offset, SEEK_SET);
}

// Reads the next block of source; false at the end of the file or on a
// read error.
bool readAhead(Source &source) {
  source.next = 0;
  source.oddKnown = false;
  source.end = std::fread(source.block, 1, kBlockSize, source.stream);
  if (source.end > 0) return true;
  source.pastEnd = true;
  return false;
}

// The next piece of source as fgets(scratch, most + 1, stream) would read
// it: characters up to and including a newline, at most most of them.
// *piece is set to where it lies (in the block, or in scratch when it
// runs past the block), *length to its length; the byte after it may be
// written.  False when nothing is left, or on a read error.
bool nextPiece(Source &source, char *scratch, size_t most, char **piece, size_t *length) {
  if (source.next == source.end && !readAhead(source)) return false;
  char *at = source.block + source.next;
  size_t ready = source.end - source.next;
  const char *newline = static_cast<const char *>(std::memchr(at, '\n', std::min(ready, most)));
  if (newline != nullptr || ready >= most) {
    *length = newline != nullptr ? static_cast<size_t>(newline - at) + 1 : most;
    *piece = at;
    source.next += *length;
    return true;
  }
  // The piece goes on in the next block.
  size_t got = 0;
  for (;;) {
    std::memcpy(scratch + got, at, ready);
    got += ready;
    source.next = source.end;
    if (!readAhead(source)) {
      if (std::ferror(source.stream) != 0) return false;
      break;
    }
    at = source.block;
    ready = source.end;
    newline = static_cast<const char *>(std::memchr(at, '\n', std::min(ready, most - got)));
    if (newline != nullptr || ready >= most - got) {
      const size_t rest = newline != nullptr ? static_cast<size_t>(newline - at) + 1 : most - got;
      std::memcpy(scratch + got, at, rest);
      got += rest;
      source.next = rest;
      break;
    }
  }
  *piece = scratch;
  *length = got;
  return true;
}

// Where the next character that a common piece cannot hold lies in the
// block of source (its end when there is none): a reference's "$", a
// mark, or a NUL, which ends the line's text early.  Each is looked for
// once per occurrence, not once per line: most lines hold none.
size_t lookForOdd(Source &source) {
  size_t least = source.end;
  for (size_t i = 0; i < kOdd.size(); ++i) {
    size_t &at = source.odd[i];
    if (!source.oddKnown || at < source.next) {
      const void *found =
          std::memchr(source.block + source.next, kOdd[i], source.end - source.next);
      at = found != nullptr ? static_cast<size_t>(static_cast<const char *>(found) - source.block)
                            : source.end;
    }
    least = std::min(least, at);
  }
  source.oddKnown = true;
  source.oddLeast = least;
  return least;
}

inline size_t nextOdd(Source &source) {
  return source.oddKnown && source.oddLeast >= source.next ? source.oddLeast : lookForOdd(source);
}

// The common piece at the front of source's block, when it is one: a
// whole line, or the first most characters of a longer one, that ends
// before the block does and needs no expanding.  *length is set to its
// length and *cut to where its text ends (at the comment, or the end of
// the piece).  False for anything else, the block left as it was.
inline bool commonPiece(Source &source, size_t most, size_t *length, size_t *cut) {
  const char *const at = source.block + source.next;
  const size_t ready = source.end - source.next;
  const char *newline = static_cast<const char *>(std::memchr(at, '\n', std::min(ready, most)));
  if (newline == nullptr && ready < most) {
    return false;
  }
  const size_t piece = newline != nullptr ? static_cast<size_t>(newline - at) + 1 : most;
  const char *comment = static_cast<const char *>(std::memchr(at, kComment, piece));
  const size_t text = comment != nullptr ? static_cast<size_t>(comment - at) : piece;
  if (nextOdd(source) < source.next + text) {
    return false;
  }
  *length = piece;
  *cut = text;
  source.next += piece;
  return true;
}

// getLine: the next logical line of the innermost file into buf (size
// bytes), includes not followed; null at its end.  Written out where it
// is called: it runs for every line.
__attribute__((always_inline)) inline Nlm_CharPtr readLine(Nlm_CharPtr buf, size_t size) {
  // Fewer than two bytes cannot hold a character: the read would return
  // an empty text forever.
  if (buf == nullptr || size < 2 || in[inl].stream == nullptr) {
    return nullptr;
  }
  Source &source = in[inl];
  const size_t most = (size < kPhysicalRead ? size : kPhysicalRead) - 1;
  for (;;) {
    char *piece = source.block + source.next;
    size_t cut = 0;
    bool expand = false;
    size_t length = 0;
    if (source.next == source.end || !commonPiece(source, most, &length, &cut)) {
      // Whatever else: a reference or a mark, a NUL, a piece that goes on
      // in the next block.
      if (!nextPiece(source, buf, most, &piece, &length)) {
        return nullptr;
      }
      // Ended as fgets would have ended it.
      const char after = piece[length];
      piece[length] = '\0';
      cut = std::strcspn(piece, kSpecials);
      expand = piece[cut] != '\0' && piece[cut] != kComment;
      if (expand) {
        const char *comment = std::strchr(piece + cut, kComment);
        cut = comment != nullptr ? static_cast<size_t>(comment - piece)
                                 : cut + std::strlen(piece + cut);
      }
      piece[length] = after;
    }
    size_t first = 0;
    const size_t kept = vx::trimBounds(piece, cut, &first);
    if (kept == 0) {
      continue;
    }
    std::memmove(buf, piece + first, kept);
    buf[kept] = '\0';
    // A reference that is undefined, or an expansion that does not fit, is
    // reported by the expansion; the line comes as it leaves it.
    if (expand) {
      TranslateSized(buf, size, nullptr, nullptr);
    }
    return buf;
  }
}

// True when line is an include line that is followed at the current level;
// at the deepest level it is an ordinary line.
bool followsInclude(const char *line) {
  return line[0] == kInclude[0] && std::strncmp(line, kInclude, kIncludeLength) == 0 &&
         inl < kMaxLevel;
}

// Opens the file named after the ampersands one level deeper; when it
// cannot be opened the include line is simply dropped.
void enterInclude(const char *line) {
  const char *path = descGetName(line + kIncludeLength);
  if (path == nullptr) {
    return;
  }
  ++inl;
  if (!openLevel(inl, path)) {
    closeLevel(inl);
    --inl;
  }
}

// The next line with includes followed; null at the end of the main file.
Nlm_CharPtr nextLine(Nlm_CharPtr buf, size_t size) {
  for (;;) {
    if (readLine(buf, size) == nullptr) {
      if (inl == 0) {
        return nullptr;
      }
      popLevel();
      continue;
    }
    if (followsInclude(buf)) {
      enterInclude(buf);
      continue;
    }
    return buf;
  }
}

// Reduces line to its column (counted from 0; a negative index or one past
// the last separator gives the last column), ended at its next "|" and
// trimmed.  Returns the column's start inside line.
char *selectColumn(char *line, Nlm_Int2 column) {
  char *start = line;
  int left = column;
  char *bar;
  while ((left != 0) && (bar = std::strchr(start, kColumn)) != nullptr) {
    start = bar + 1;
    if (left > 0) {
      --left;
    }
  }
  if ((bar = std::strchr(start, kColumn)) != nullptr) {
    *bar = '\0';
  }
  return StrTrim(start);
}

// The whole state of the descriptor, for counting ahead and coming back.
// Unlike a descriptor position it holds every level, so it can reopen an
// included file that the count ran past the end of.
struct Snapshot {
  int level = 0;
  std::array<long, VX_DESC_LEVELS> offset{};
  std::array<std::string, VX_DESC_LEVELS> path;
  std::array<unsigned long, VX_DESC_LEVELS> serial{};
};

// Records the state; false when a stream cannot report its offset.
bool takeSnapshot(Snapshot &snap) {
  snap.level = inl;
  for (int level = 0; level <= inl; ++level) {
    if (in[level].stream == nullptr) {
      return false;
    }
    snap.offset[level] = tellLevel(level);
    if (snap.offset[level] < 0) {
      return false;
    }
    snap.path[level] = in[level].path;
    snap.serial[level] = in[level].serial;
  }
  return true;
}

// Brings the descriptor back to a recorded state: levels still holding
// the same file are positioned, closed ones are reopened by their path.
bool restoreSnapshot(const Snapshot &snap) {
  int same = 0;
  while (same <= snap.level && same <= inl && in[same].stream != nullptr &&
         in[same].serial == snap.serial[same]) {
    ++same;
  }
  while (inl >= same && inl > 0) {
    popLevel();
  }
  for (int level = inl + 1; level <= snap.level; ++level) {
    if (!openLevel(level, snap.path[level].c_str())) {
      closeLevel(level);
      return false;
    }
    inl = static_cast<Nlm_Int2>(level);
  }
  for (int level = 0; level <= snap.level; ++level) {
    if (seekLevel(level, snap.offset[level]) != 0) {
      return false;
    }
  }
  return true;
}

// Counts the lines up to the next section line (with column >= 0 or
// kAnyColumn only those whose column is not empty) and comes back.
constexpr int kAnyColumn = INT_MIN;

Nlm_Int2 countSection(int column) {
  Snapshot snap;
  if (!takeSnapshot(snap)) {
    return 0;
  }
  std::array<Nlm_Char, VX_LINE_SIZE> line{};
  Nlm_Int2 count = 0;
  while (nextLine(line.data(), line.size()) != nullptr && line[0] != kSection) {
    if (column != kAnyColumn && *selectColumn(line.data(), static_cast<Nlm_Int2>(column)) == '\0') {
      continue;
    }
    if (count < SHRT_MAX) {
      ++count;
    }
  }
  restoreSnapshot(snap);
  return count;
}

}  // namespace

extern "C" {

const char *descGetName(const char *name) {
  if (name == nullptr) {
    return nullptr;
  }
  if (std::strchr(name, '/') != nullptr) {
    return name;
  }
  // Copied first: the name may itself lie in ParBuf.
  const std::string bare(name);
  // Read unformatted: a "%" in the directory name is part of the name.
  if (GetParamString("Paths", "KERNEL") == nullptr) {
    // Already reported as not found; guessing the current directory could
    // read somebody else's file of that name.
    return nullptr;
  }
  const size_t kernel = std::strlen(ParBuf);
  if (kernel + bare.size() >= sizeof ParBuf) {
    Nlm_Message(MSG_OK,
                "Description file '%s': its path in the product directory "
                "is longer than %d characters",
                bare.c_str(), VX_PARBUF_SIZE - 1);
    return nullptr;
  }
  std::memcpy(ParBuf + kernel, bare.c_str(), bare.size() + 1);
  return ParBuf;
}

Nlm_Int2 descLevel(void) { return inl; }

Nlm_Boolean DescOpen(const char *name) {
  // A descriptor still open is closed first rather than lost.
  DescClose();
  inl = 0;
  const char *path = descGetName(name);
  if (path == nullptr) {
    return FALSE;
  }
  if (!openLevel(0, path)) {
    closeLevel(0);
    return FALSE;
  }
  return TRUE;
}

void DescClose(void) {
  for (int level = kMaxLevel; level >= 0; --level) {
    closeLevel(level);
  }
}

Nlm_Boolean DescEof(void) {
  if (inl > 0) {
    return FALSE;
  }
  // A main file that never opened has nothing more to give either.
  return in[0].stream == nullptr || in[0].pastEnd ? TRUE : FALSE;
}

void DescRewind(void) {
  while (inl > 0) {
    popLevel();
  }
  if (in[0].stream != nullptr) {
    std::rewind(in[0].stream);
    dropReadAhead(in[0]);
  }
}

Nlm_Int4 descTell(void) {
  if (in[inl].stream == nullptr) {
    return kNoPosition;
  }
  const long offset = tellLevel(inl);
  if (offset < 0) {
    return kNoPosition;
  }
  if (offset >= VX_DESC_OFFSET_LIMIT) {
    Nlm_Message(MSG_OK,
                "Description file '%s': a position %ld bytes into the file "
                "cannot be kept (the limit is %ld bytes)",
                in[inl].path.c_str(), offset, VX_DESC_OFFSET_LIMIT - 1);
    return kNoPosition;
  }
  return (static_cast<Nlm_Int4>(inl) << VX_DESC_LEVEL_SHIFT) | static_cast<Nlm_Int4>(offset);
}

int DescSeek(Nlm_Int4 position) {
  if (position < 0) {
    return -1;
  }
  const int level = position >> VX_DESC_LEVEL_SHIFT;
  const long offset = position & kOffsetMask;
  // A position inside a file that has been closed since cannot be reached:
  // what included it has moved on.  Refused, with nothing changed.
  if (level > inl) {
    return -1;
  }
  while (inl > level) {
    popLevel();
  }
  if (in[level].stream == nullptr) {
    return -1;
  }
  return seekLevel(level, offset);
}

Nlm_CharPtr getLine(Nlm_CharPtr buf, size_t size) { return readLine(buf, size); }

Nlm_CharPtr GetLineSized(Nlm_CharPtr buf, size_t size) { return nextLine(buf, size); }

Nlm_CharPtr GetLine(Nlm_CharPtr buf) { return nextLine(buf, VX_LINE_SIZE); }

Nlm_CharPtr mGetLineSized(Nlm_CharPtr buf, size_t size, Nlm_Int2 column) {
  while (nextLine(buf, size) != nullptr) {
    char *text = selectColumn(buf, column);
    if (*text != '\0') {
      std::memmove(buf, text, std::strlen(text) + 1);
      return buf;
    }
  }
  return nullptr;
}

Nlm_CharPtr mGetLine(Nlm_CharPtr buf, Nlm_Int2 column) {
  return mGetLineSized(buf, VX_LINE_SIZE, column);
}

Nlm_Int4 FindLine(const char *text) {
  if (text == nullptr) {
    return kNoPosition;
  }
  std::array<Nlm_Char, VX_LINE_SIZE> line{};
  while (nextLine(line.data(), line.size()) != nullptr) {
    if (std::strcmp(line.data(), text) == 0) {
      return descTell();
    }
  }
  return kNoPosition;
}

Nlm_Int2 CountLines(void) { return countSection(kAnyColumn); }

Nlm_Int2 mCountLines(Nlm_Int2 column) { return countSection(column); }

}  // extern "C"
