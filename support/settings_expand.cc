/*
 * settings_expand.cc - $(Section.KEY) references expanded in place within
 * a bounded buffer.
 *
 * The text is read as if each reference were replaced by its value and
 * the scan went on at the start of that value: references in referenced
 * values expand too, and a reference that a value begins may end in the
 * text after it ("$(S." and then "K)" read as $(S.K)).  A reference that
 * is undefined, loops back to a key it came from, nests too deep or would
 * make the text longer than the buffer stops the expansion with a report;
 * the text then ends just before the "." of that reference.  A "%" spliced
 * in from a referenced value is doubled when the text is to be formatted,
 * so that it stays literal (a product directory may hold one), except in
 * values of KernelErrors, whose message texts are built from one
 * another's directives.
 *
 * Nothing is moved to make room for a value.  Each value stays in a buffer
 * of its own, where the core library put it, as one level of a stack; the
 * text still to read is the rest of the top level, then the rest of each
 * level below it, the text itself at the bottom.  What has been read is
 * written to the front of the caller's buffer, and the text itself is
 * first moved to the back, out of the way.  Only a reference that runs on
 * past the end of a value makes the levels one again.  This runs for
 * every value read and every description-file line that holds a "$": a
 * reference is found a character at a time, which for names this short
 * costs less than a library search.
 */
#include <strings.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "settings_messages.h"
#include "settings_read.h"
#include "utility.h"

namespace {

using vx::kBufSize;
using vx::Read;

// References nested deeper than this are surely a mistake; a loop is
// caught earlier by name.
constexpr std::size_t kMaxReferenceDepth = 32;
// A backstop for expansions that neither loop by name nor nest deeply
// but go on splicing, say, empty values without end.
constexpr int kMaxSubstitutions = 10000;
// A value read for splicing: one byte more than a value may have, so
// that readValue reads into it directly.
constexpr std::size_t kValueSize = kBufSize + 1;
// Names longer than this (section, key and their two ends) cannot be in
// the settings file, whose values and lines are shorter.
constexpr std::size_t kMaxNames = kBufSize;
// A slot for the names of each key being expanded.
constexpr std::size_t kNameStore = kMaxReferenceDepth * kMaxNames;
// The text itself, and a value for each key being expanded and for the
// one being read.
constexpr std::size_t kLevels = kMaxReferenceDepth + 2;

// What a value spliced in loses (the empty mark) or, in a text to be
// formatted, has doubled ("%").
constexpr char kMark[] = {VX_EMPTY_MARK, '\0'};
constexpr char kMarkOrPercent[] = {VX_EMPTY_MARK, '%', '\0'};

// The names of a reference, each terminated.
struct Reference {
  const char *section;
  std::size_t sectionLength;
  const char *key;
  std::size_t keyLength;
};

// A key whose value is being expanded: its names, and where its value
// ends, counted as the characters of the text that follow it; that count
// does not change when a value is spliced in before it.  The names lie in
// the value they were read from while that stays put, or else in the
// key's slot of the name store.
struct Active {
  Reference name;
  std::size_t after;
};

// The rest of a level still to read.
struct Level {
  char *next;
  char *end;
};

// What the scan of a "$" found.
enum class Scan { kReference, kNone, kIncomplete };

// Why an expansion stops at a reference.
enum class Stop { kNone, kLoop, kRunaway, kMissing, kValueTooLong, kNoRoom };

// Case-blind equality of two names of known length.
bool sameName(const char *a, std::size_t aLength, const char *b, std::size_t bLength) {
  return aLength == bLength && strncasecmp(a, b, aLength) == 0;
}

// What names that are the same, whatever their case, have in common: the
// lengths and the first letters with the case bit set.  Comparing it
// settles the loop test for almost every key with one comparison.
inline std::uint64_t sketchOf(const Reference &ref) {
  constexpr unsigned kCaseBit = 0x20;
  return static_cast<std::uint64_t>(ref.sectionLength) << 40 |
         static_cast<std::uint64_t>(ref.keyLength) << 16 |
         (static_cast<unsigned char>(ref.section[0]) | kCaseBit) << 8 |
         (static_cast<unsigned char>(ref.key[0]) | kCaseBit);
}

// Looks at dollar, in a level that ends at end, for "$(", a section name
// without ".", ".", a key without ")", ")".  On success the names are
// terminated where they lie and *after is set past the ")".  kIncomplete
// when the level ends before that is settled: the text after the level
// might complete the reference.
Scan scanReference(char *dollar, char *end, Reference *ref, char **after) {
  if (end - dollar < 2) return Scan::kIncomplete;
  if (dollar[1] != '(') return Scan::kNone;
  char *dot = dollar + 2;
  while (dot != end && *dot != '.')
    ++dot;
  if (dot == end) return Scan::kIncomplete;
  char *close = dot + 1;
  while (close != end && *close != ')')
    ++close;
  if (close == end) return Scan::kIncomplete;
  if (dot == dollar + 2 || close == dot + 1) return Scan::kNone;
  *dot = '\0';
  *close = '\0';
  *ref = Reference{dollar + 2, static_cast<std::size_t>(dot - dollar - 2), dot + 1,
                   static_cast<std::size_t>(close - dot - 1)};
  *after = close + 1;
  return Scan::kReference;
}

// Removes the empty marks from value (*length characters, terminated)
// and, with doublePercent, doubles each "%" so that formatting prints it
// as it is.  False when the result would not fit a settings value.
bool cleanValue(char *value, std::size_t *length, bool doublePercent) {
  RemoveEmptyChars(value);
  std::size_t n = std::strlen(value);
  if (doublePercent) {
    std::size_t percents = 0;
    for (std::size_t i = 0; i < n; ++i)
      percents += value[i] == '%';
    if (n + percents > vx::kMaxText) return false;
    for (std::size_t from = n, to = n + percents; from > 0;) {
      --from;
      value[--to] = value[from];
      if (value[from] == '%') value[--to] = '%';
    }
    n += percents;
    value[n] = '\0';
  }
  *length = n;
  return true;
}

// The levels and the keys of one expansion.  Not cleared: only the
// entries below the top and the depth, and the names they point to, are
// ever read.
struct Stack {
  std::array<Level, kLevels> levels;
  std::array<Active, kMaxReferenceDepth> active;
  std::array<std::uint64_t, kMaxReferenceDepth> sketches;  // of their names
  // Level n > 0 reads from values[n].
  std::array<std::array<char, kValueSize>, kLevels> values;
  std::array<char, kNameStore> names;
};

// Whether ref, whose sketch matched that of outer, names the same key.
bool sameKey(const Reference &outer, const Reference &ref) {
  return sameName(outer.key, outer.keyLength, ref.key, ref.keyLength) &&
         sameName(outer.section, outer.sectionLength, ref.section, ref.sectionLength);
}

// Whether ref (whose sketch is given) stops the expansion before its
// value is read: it names one of the keys being expanded, the expansion
// has gone too deep or on too long, or its names are too long to be in
// the file.
inline Stop checkReference(const Stack &stack, std::size_t depth, std::size_t top,
                           int substitutions, const Reference &ref, std::uint64_t sketch) {
  // The sketches first, in a loop of their own that calls nothing.
  std::size_t i = 0;
  while (i < depth && stack.sketches[i] != sketch)
    ++i;
  for (; i < depth; ++i) {
    if (stack.sketches[i] == sketch && sameKey(stack.active[i].name, ref)) return Stop::kLoop;
  }
  // Every level above the text holds the value of a key being expanded,
  // so the levels cannot run out before the depth does; the test keeps the
  // buffers safe all the same.
  if (depth >= kMaxReferenceDepth || substitutions >= kMaxSubstitutions || top + 1 >= kLevels)
    return Stop::kRunaway;
  return ref.sectionLength + ref.keyLength + 2 > kMaxNames ? Stop::kMissing : Stop::kNone;
}

// Reads the value of ref into value (kValueSize bytes) and makes it ready
// to be spliced in: marks removed and, with forFormat, "%" doubled.
inline Stop fetchValue(const Reference &ref, bool forFormat, char *value,
                       std::size_t *valueLength) {
  const Read read = vx::readValue(ref.section, ref.key, value, kValueSize, valueLength);
  if (read != Read::kFound) return read == Read::kTooLong ? Stop::kValueTooLong : Stop::kMissing;
  // Most values hold neither: one search settles it.
  if (std::strpbrk(value, forFormat ? kMarkOrPercent : kMark) == nullptr) return Stop::kNone;
  const bool doublePercent =
      forFormat && std::memchr(value, '%', *valueLength) != nullptr &&
      !sameName(ref.section, ref.sectionLength, vx::kMessageSection, vx::kMessageSectionLength);
  if ((doublePercent || std::memchr(value, VX_EMPTY_MARK, *valueLength) != nullptr) &&
      !cleanValue(value, valueLength, doublePercent))
    return Stop::kNoRoom;
  return Stop::kNone;
}

// Shows why the expansion of [section] key (either may be null), in a
// buffer of size bytes, stopped at ref.
void reportStop(const char *section, const char *key, std::size_t size, const Reference &ref,
                Stop stop) {
  const char *const where = vx::shown(section, vx::kNoSection);
  switch (stop) {
    case Stop::kLoop:
    case Stop::kRunaway:
      vx::reportHalted(where, key, ref.section, ref.key, stop == Stop::kLoop);
      break;
    case Stop::kMissing:
    case Stop::kValueTooLong:
      vx::reportUnread(stop == Stop::kValueTooLong ? Read::kTooLong : Read::kMissing, section, key,
                       where, ref.section, ref.sectionLength, ref.key, ref.keyLength);
      break;
    case Stop::kNoRoom:
      vx::reportTooLongOnceExpanded(where, key, size, ref.section, ref.key);
      break;
    case Stop::kNone:
      break;
  }
}

// Names read from the text itself are written over as the text is
// written at the front of the buffer: they go to the key's slot.
void keepNames(Stack &stack, std::size_t key) {
  Reference &name = stack.active[key].name;
  char *const slot = stack.names.data() + key * kMaxNames;
  if (name.section == slot) return;
  std::memcpy(slot, name.section, name.sectionLength + name.keyLength + 2);
  name = Reference{slot, name.sectionLength, slot + name.sectionLength + 1, name.keyLength};
}

// Makes the rest of levels 1 to top one with the rest of level 0, for a
// reference that runs on past the end of a value: level 0's rest goes to
// the end of its buffer, zeroEnd, and the others in front of it.  There is
// room: the buffer holds as much as the result may, and the result so far
// is written no further than the buffer leaves beside the rest.  The
// values are read over from now on, so every key's names go to its slot
// first.
void flatten(Stack &stack, std::size_t top, std::size_t depth, char *zeroEnd) {
  for (std::size_t key = 0; key < depth; ++key)
    keepNames(stack, key);
  Level &zero = stack.levels[0];
  char *to = zeroEnd - (zero.end - zero.next);
  std::memmove(to, zero.next, static_cast<std::size_t>(zero.end - zero.next));
  zero.end = zeroEnd;
  for (std::size_t level = 1; level <= top; ++level) {
    const Level &rest = stack.levels[level];
    to -= rest.end - rest.next;
    std::memcpy(to, rest.next, static_cast<std::size_t>(rest.end - rest.next));
  }
  zero.next = to;
}

// The expansion.  The result goes to out (size bytes), where the first
// written characters are already; the text still to read begins with the
// "$" at first and ends at end, in a buffer that ends at zeroEnd with room
// for size - 1 characters before it.  inPlace: that buffer is out itself,
// and the text lies at its back.  *length is the length of the whole text
// and is set to that of the result.
bool expand(char *out, std::size_t written, std::size_t size, char *first, char *end, char *zeroEnd,
            bool inPlace, std::size_t *textLength, const char *section, const char *key,
            bool forFormat) {
  Stack stack;
  std::size_t length = *textLength;  // of the text once every value so far is spliced in
  char *p = first;
  std::size_t top = 0;  // the level that p and end read
  std::size_t depth = 0;
  int substitutions = 0;
  for (;;) {
    char *to = out + written;
    while (p != end && *p != '$')
      *to++ = *p++;
    written = static_cast<std::size_t>(to - out);
    if (p == end) {
      if (top == 0) break;
      --top;
      p = stack.levels[top].next;
      end = stack.levels[top].end;
      continue;
    }
    // Keys whose values lie wholly before this "$" are done.
    const std::size_t remaining = length - written;
    while (depth > 0 && stack.active[depth - 1].after >= remaining)
      --depth;
    Reference ref{};
    char *after = nullptr;
    const Scan scan = scanReference(p, end, &ref, &after);
    if (scan == Scan::kIncomplete) {
      stack.levels[top] = Level{p, end};
      if (top > 0) {
        flatten(stack, top, depth, zeroEnd);
        top = 0;
        p = stack.levels[0].next;
        end = stack.levels[0].end;
        continue;
      }
      // Nothing after the text completes the reference, and a later "$"
      // would look in less of the same text: no reference follows.
      std::memmove(out + written, p, static_cast<std::size_t>(end - p));
      written += static_cast<std::size_t>(end - p);
      break;
    }
    if (scan == Scan::kNone) {
      out[written++] = *p++;
      continue;
    }
    const std::size_t refLength = ref.sectionLength + ref.keyLength + 4;
    const std::uint64_t sketch = sketchOf(ref);
    char *const value = stack.values[top + 1].data();
    std::size_t valueLength = 0;
    Stop stop = checkReference(stack, depth, top, substitutions, ref, sketch);
    if (stop == Stop::kNone) stop = fetchValue(ref, forFormat, value, &valueLength);
    if (stop == Stop::kNone && length - refLength + valueLength > size - 1) stop = Stop::kNoRoom;
    if (stop != Stop::kNone) {
      // Shown first: the names may lie where the text is cut.
      reportStop(section, key, size, ref, stop);
      std::memmove(out + written, p, ref.sectionLength + 2);
      out[written + ref.sectionLength + 2] = '\0';
      return false;
    }

    // An outer value that ended inside the reference (after a run-on one,
    // the innermost ones can) now ends with the spliced value, which
    // counts as coming from it.
    const std::size_t tail = remaining - refLength;
    for (std::size_t i = depth; i > 0 && stack.active[i - 1].after > tail; --i)
      stack.active[i - 1].after = tail;
    stack.active[depth] = Active{ref, tail};
    stack.sketches[depth] = sketch;
    // A value is not read over while the key it holds the names of is
    // being expanded; the text itself is, when the result is written over
    // it.
    if (top == 0 && inPlace) keepNames(stack, depth);
    ++depth;
    ++substitutions;
    length = length - refLength + valueLength;
    stack.levels[top] = Level{after, end};
    ++top;
    p = value;
    end = value + valueLength;
  }
  out[written] = '\0';
  *textLength = written;
  return true;
}

}  // namespace

namespace vx {

bool expandReferences(char *text, std::size_t *textLength, std::size_t size, const char *section,
                      const char *key, bool forFormat) {
  const std::size_t length = *textLength;
  char *const first = static_cast<char *>(std::memchr(text, '$', length));
  if (first == nullptr) return true;
  // The text from its first "$" on goes to the back of the buffer.  What
  // is written at the front never reaches what is still to read there:
  // the two together are never longer than the buffer holds.
  const std::size_t written = static_cast<std::size_t>(first - text);
  char *const end = text + size - 1;
  char *const back = end - (length - written);
  std::memmove(back, first, length - written);
  return expand(text, written, size, back, end, end, true, textLength, section, key, forFormat);
}

bool expandInto(char *text, std::size_t *length, std::size_t capacity, std::size_t first, char *out,
                std::size_t size, const char *section, const char *key, bool forFormat) {
  std::memcpy(out, text, first);
  return expand(out, first, size, text + first, text + *length, text + capacity - 1, false, length,
                section, key, forFormat);
}

}  // namespace vx
