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
 * The state is static and single: one description file at a time.  Lines
 * are read into the caller's buffer and processed in place; nothing is
 * allocated per line.
 */
#include "descriptor_internal.h"
#include "strings_internal.h"
#include "utility.h"

#include <array>
#include <climits>
#include <cstring>
#include <string>

namespace {

// One physical read takes at most this many characters; a longer physical
// line comes in pieces, each a line of its own.  A larger caller buffer
// only leaves room for expansion, it does not change the pieces.
constexpr size_t kPhysicalRead = VX_LINE_SIZE;
constexpr int kMaxLevel = VX_DESC_LEVELS - 1;
constexpr Nlm_Int4 kOffsetMask = VX_DESC_OFFSET_LIMIT - 1;
constexpr Nlm_Int4 kNoPosition = -1;
constexpr char kComment = '!';
// The comment mark and what makes a line need expanding: a reference's
// "$", the line-break mark and the empty mark.
constexpr char kSpecials[] = {kComment, '$', VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '\0'};
constexpr char kSection = '&';
constexpr char kColumn = '|';
constexpr char kInclude[] = "&&";
constexpr size_t kIncludeLength = sizeof kInclude - 1;

// The descriptor.  in[inl] is the innermost stream; entries above inl are
// always null.  Each open stream remembers the path it was opened from and
// a serial number unique to that opening, so that a saved state can tell
// whether a level still holds the same file.
std::array<FILE *, VX_DESC_LEVELS> in{};
Nlm_Int2 inl = 0;
std::array<std::string, VX_DESC_LEVELS> inPath;
std::array<unsigned long, VX_DESC_LEVELS> inSerial{};
unsigned long openings = 0;

// Opens path into level; the stream is null when the open failed.
bool openLevel(int level, const char *path) {
  in[level] = Nlm_FileOpen(path, "rt");
  inPath[level] = path;
  inSerial[level] = ++openings;
  return in[level] != nullptr;
}

// Closes the stream of level (a null one is left alone).
void closeLevel(int level) {
  if (in[level] != nullptr) {
    Nlm_FileClose(in[level]);
    in[level] = nullptr;
  }
  inSerial[level] = 0;
}

// Closes the innermost file and makes the including one innermost.
void popLevel() {
  closeLevel(inl);
  if (inl > 0) {
    --inl;
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
    if (getLine(buf, size) == nullptr) {
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
    if (in[level] == nullptr) {
      return false;
    }
    snap.offset[level] = std::ftell(in[level]);
    if (snap.offset[level] < 0) {
      return false;
    }
    snap.path[level] = inPath[level];
    snap.serial[level] = inSerial[level];
  }
  return true;
}

// Brings the descriptor back to a recorded state: levels still holding
// the same file are positioned, closed ones are reopened by their path.
bool restoreSnapshot(const Snapshot &snap) {
  int same = 0;
  while (same <= snap.level && same <= inl && in[same] != nullptr &&
         inSerial[same] == snap.serial[same]) {
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
    if (std::fseek(in[level], snap.offset[level], SEEK_SET) != 0) {
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
  return in[0] == nullptr || std::feof(in[0]) ? TRUE : FALSE;
}

void DescRewind(void) {
  while (inl > 0) {
    popLevel();
  }
  if (in[0] != nullptr) {
    std::rewind(in[0]);
  }
}

Nlm_Int4 descTell(void) {
  FILE *stream = in[inl];
  if (stream == nullptr) {
    return kNoPosition;
  }
  const long offset = std::ftell(stream);
  if (offset < 0) {
    return kNoPosition;
  }
  if (offset >= VX_DESC_OFFSET_LIMIT) {
    Nlm_Message(MSG_OK,
                "Description file '%s': a position %ld bytes into the file "
                "cannot be kept (the limit is %ld bytes)",
                inPath[inl].c_str(), offset, VX_DESC_OFFSET_LIMIT - 1);
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
  if (in[level] == nullptr) {
    return -1;
  }
  return std::fseek(in[level], offset, SEEK_SET);
}

Nlm_CharPtr getLine(Nlm_CharPtr buf, size_t size) {
  // Fewer than two bytes cannot hold a character: the read would return
  // an empty text forever.
  if (buf == nullptr || size < 2) {
    return nullptr;
  }
  const size_t limit = size < kPhysicalRead ? size : kPhysicalRead;
  size_t length = 0;
  bool expand = false;
  for (;;) {
    if (Nlm_FileGets(buf, limit, in[inl]) == nullptr) {
      return nullptr;
    }
    // One search finds the comment, or the end of the line, and whether
    // the text before it needs expanding; most lines have neither a
    // reference nor a mark.
    length = std::strcspn(buf, kSpecials);
    expand = buf[length] != '\0' && buf[length] != kComment;
    if (expand) {
      const char *comment = std::strchr(buf + length, kComment);
      length = comment != nullptr ? static_cast<size_t>(comment - buf)
                                  : length + std::strlen(buf + length);
    }
    buf[length] = '\0';
    length = vx::trimInPlace(buf, length);
    if (length != 0) {
      break;
    }
  }
  // A reference that is undefined, or an expansion that does not fit, is
  // reported by the expansion; the line comes as it leaves it.
  if (expand) {
    TranslateSized(buf, size, nullptr, nullptr);
  }
  return buf;
}

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
