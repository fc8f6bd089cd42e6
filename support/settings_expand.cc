/*
 * settings_expand.cc - $(Section.KEY) references expanded in place within
 * a bounded buffer.
 *
 * The text is read as if each reference were replaced by its value and
 * the scan went on at the start of that value: references in referenced
 * values expand too, to any depth, and a reference that a value begins may
 * end in the text after it ("$(S." and then "K)" read as $(S.K)).  A
 * reference that is undefined, that names a key whose value is still being
 * read (a cycle), or that would make the text longer than the buffer stops
 * the expansion with a report; the text then ends just before the "." of
 * that reference.  A "%" spliced in from a referenced value is doubled
 * when the text is to be formatted, so that it stays literal (a product
 * directory may hold one), except in values of KernelErrors, whose message
 * texts are built from one another's directives.
 *
 * Nothing is moved to make room for a value.  Each value stays in a buffer
 * of its own, where the core library put it, as one level of a stack; the
 * text still to read is the rest of the top level, then the rest of each
 * level below it, the text itself at the bottom.  What has been read is
 * written to the front of the caller's buffer, and the text itself is
 * first moved to the back, out of the way.  Only a reference that runs on
 * past the end of a value makes the levels one again.  A value that ends
 * with a reference gives its level to the referenced value: a level is
 * kept only while text of its own is left to read, so the levels are
 * never more than the characters the buffer holds, however long a chain
 * of references is.  The keys on the chain, each with its names, are kept
 * apart from the levels, in the order they were met: memory grows with
 * the chain, and a cycle is the same key met again on it.  This runs for
 * every value read and every description-file line that holds a "$": the
 * first levels and keys live on the stack, and a reference is found a
 * character at a time, which for names this short costs less than a
 * library search.
 */
#include <strings.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "settings_messages.h"
#include "settings_read.h"
#include "utility.h"

namespace {

using vx::kBufSize;
using vx::Read;

// A backstop for expansions that do not loop but splice the same keys
// over and over (each value referring twice to the next doubles the work
// at every step): the substitutions beyond the longest chain met are
// counted, so that a chain itself, however long, never reaches it.
constexpr int kMaxRepeatedSubstitutions = 10000;
// A value read for splicing: one byte more than a value may have, so
// that readValue reads into it directly.
constexpr std::size_t kValueSize = kBufSize + 1;
// Names longer than this (section, key and their two ends) cannot be in
// the settings file, whose values and lines are shorter.
constexpr std::size_t kMaxNames = kBufSize;
// What one expansion keeps on the stack before it takes memory from the
// heap: levels, keys on the chain, and the characters of their names.
constexpr std::size_t kInlineLevels = 8;
constexpr std::size_t kInlineKeys = 16;
constexpr std::size_t kInlineNames = 512;

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

// A key on the chain, whose value is being expanded: where its names lie
// in the chain's name store (section, NUL, key, NUL), their lengths, their
// sketch, and where its value ends, counted as the characters of the text
// that follow it; that count does not change when a value is spliced in
// before it.
struct Active {
  std::size_t names;
  std::size_t sectionLength;
  std::size_t keyLength;
  std::uint64_t sketch;
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

// A stack of plain entries that holds its first N in itself and goes to
// the heap only beyond them.  Entries may move when it grows: hold their
// indexes, not their addresses.
template <typename T, std::size_t N>
class SmallStack {
 public:
  SmallStack() = default;
  SmallStack(const SmallStack &) = delete;
  SmallStack &operator=(const SmallStack &) = delete;

  std::size_t size() const { return size_; }
  T *data() { return data_; }
  const T *data() const { return data_; }
  T &operator[](std::size_t i) { return data_[i]; }
  const T &operator[](std::size_t i) const { return data_[i]; }
  T &back() { return data_[size_ - 1]; }
  void push_back(const T &entry) {
    if (size_ == capacity_) reserve(size_ + 1);
    data_[size_++] = entry;
  }
  void pop_back() { --size_; }
  // Grows to n entries, the new ones unset, or shrinks to n.
  void resize(std::size_t n) {
    if (n > capacity_) reserve(n);
    size_ = n;
  }

 private:
  void reserve(std::size_t n) {
    heap_.resize(std::max(n, 2 * capacity_));
    if (data_ == own_.data())
      std::copy(own_.begin(), own_.begin() + static_cast<std::ptrdiff_t>(size_), heap_.begin());
    data_ = heap_.data();
    capacity_ = heap_.size();
  }

  std::array<T, N> own_;
  std::vector<T> heap_;  // holds the entries once there are more than N
  T *data_ = own_.data();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

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

using ValueBuffer = std::array<char, kValueSize>;

// The levels and the chain of one expansion.
class Stack {
 public:
  // Level n > 0 reads from value(n); a buffer, once given, stays where it
  // is for the whole expansion.
  char *value(std::size_t level) {
    if (level < kInlineLevels) return values_[level].data();
    const std::size_t deep = level - kInlineLevels;
    while (deeper_.size() <= deep)
      deeper_.push_back(std::unique_ptr<ValueBuffer>(new ValueBuffer));
    return deeper_[deep]->data();
  }

  SmallStack<Level, kInlineLevels> levels;
  SmallStack<Active, kInlineKeys> chain;
  SmallStack<char, kInlineNames> names;  // of the keys on the chain

  // The names of the key on the chain at index i.
  Reference nameOf(std::size_t i) const {
    const Active &key = chain[i];
    const char *section = names.data() + key.names;
    return Reference{section, key.sectionLength, section + key.sectionLength + 1, key.keyLength};
  }

  // Puts ref on the chain, its value ending after characters after it;
  // the names are copied, so that the buffer they were read from may be
  // read over.
  void push(const Reference &ref, std::uint64_t sketch, std::size_t after) {
    const std::size_t at = names.size();
    names.resize(at + ref.sectionLength + ref.keyLength + 2);
    // A scanned reference's names lie one after the other, each ended.
    assert(ref.key == ref.section + ref.sectionLength + 1);
    std::memcpy(names.data() + at, ref.section, ref.sectionLength + ref.keyLength + 2);
    chain.push_back(Active{at, ref.sectionLength, ref.keyLength, sketch, after});
  }

  void pop() {
    names.resize(chain.back().names);
    chain.pop_back();
  }

 private:
  // Not cleared: only what lies before the ends of a level is read.
  std::array<ValueBuffer, kInlineLevels> values_;
  std::vector<std::unique_ptr<ValueBuffer>> deeper_;
};

// Whether ref (whose sketch is given) stops the expansion before its
// value is read: it names one of the keys on the chain, the expansion has
// gone on too long, or its names are too long to be in the file.
inline Stop checkReference(const Stack &stack, int repeated, const Reference &ref,
                           std::uint64_t sketch) {
  const std::size_t depth = stack.chain.size();
  for (std::size_t i = 0; i < depth; ++i) {
    if (stack.chain[i].sketch != sketch) continue;
    const Reference outer = stack.nameOf(i);
    if (sameName(outer.key, outer.keyLength, ref.key, ref.keyLength) &&
        sameName(outer.section, outer.sectionLength, ref.section, ref.sectionLength))
      return Stop::kLoop;
  }
  if (repeated >= kMaxRepeatedSubstitutions) return Stop::kRunaway;
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

// Makes the rest of levels 1 to top one with the rest of level 0, for a
// reference that runs on past the end of a value: level 0's rest goes to
// the end of its buffer, zeroEnd, and the others in front of it.  There is
// room: the buffer holds as much as the result may, and the result so far
// is written no further than the buffer leaves beside the rest.
void flatten(Stack &stack, std::size_t top, char *zeroEnd) {
  Level &zero = stack.levels[0];
  char *to = zeroEnd - (zero.end - zero.next);
  std::memmove(to, zero.next, static_cast<std::size_t>(zero.end - zero.next));
  zero.end = zeroEnd;
  for (std::size_t level = 1; level <= top; ++level) {
    const Level &rest = stack.levels[level];
    to -= rest.end - rest.next;
    std::memcpy(to, rest.next, static_cast<std::size_t>(rest.end - rest.next));
  }
  stack.levels[0].next = to;
}

// The expansion.  The result goes to out (size bytes), where the first
// written characters are already; the text still to read begins with the
// "$" at first and ends at end, in a buffer that ends at zeroEnd with room
// for size - 1 characters before it.  *length is the length of the whole
// text and is set to that of the result.
bool expand(char *out, std::size_t written, std::size_t size, char *first, char *end, char *zeroEnd,
            std::size_t *textLength, const char *section, const char *key, bool forFormat) {
  Stack stack;
  stack.levels.resize(1);
  std::size_t length = *textLength;  // of the text once every value so far is spliced in
  char *p = first;
  std::size_t top = 0;  // the level that p and end read
  int substitutions = 0;
  std::size_t longestChain = 0;
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
    while (stack.chain.size() > 0 && stack.chain.back().after >= remaining)
      stack.pop();
    Reference ref{};
    char *after = nullptr;
    const Scan scan = scanReference(p, end, &ref, &after);
    if (scan == Scan::kIncomplete) {
      stack.levels[top] = Level{p, end};
      if (top > 0) {
        flatten(stack, top, zeroEnd);
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
    const int repeated = substitutions - static_cast<int>(longestChain);
    Stop stop = checkReference(stack, repeated, ref, sketch);
    // A value that ends with this reference has nothing left to read: the
    // referenced value takes its level.  The names go on the chain first,
    // out of the buffer that the value is read into.
    const bool tail = top > 0 && after == end;
    const std::size_t level = tail ? top : top + 1;
    const std::size_t valueEnds = remaining - refLength;
    std::size_t valueLength = 0;
    if (stop == Stop::kNone) {
      // An outer value that ended inside the reference (after a run-on
      // one, the innermost ones can) now ends with the spliced value,
      // which counts as coming from it.
      for (std::size_t i = stack.chain.size(); i > 0 && stack.chain[i - 1].after > valueEnds; --i)
        stack.chain[i - 1].after = valueEnds;
      stack.push(ref, sketch, valueEnds);
      ref = stack.nameOf(stack.chain.size() - 1);
      stop = fetchValue(ref, forFormat, stack.value(level), &valueLength);
      if (stop == Stop::kNone && length - refLength + valueLength > size - 1) stop = Stop::kNoRoom;
    }
    if (stop != Stop::kNone) {
      // Shown first: a report's own expansion may use the buffers.  The
      // text is cut after the section name, copied from where it still
      // lies whole.
      reportStop(section, key, size, ref, stop);
      std::memmove(out + written, "$(", 2);
      std::memmove(out + written + 2, ref.section, ref.sectionLength);
      out[written + ref.sectionLength + 2] = '\0';
      return false;
    }
    ++substitutions;
    longestChain = std::max(longestChain, stack.chain.size());
    length = length - refLength + valueLength;
    if (!tail) {
      stack.levels[top] = Level{after, end};
      ++top;
      if (stack.levels.size() <= top) stack.levels.resize(top + 1);
    }
    p = stack.value(level);
    end = p + valueLength;
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
  return expand(text, written, size, back, end, end, textLength, section, key, forFormat);
}

bool expandInto(char *text, std::size_t *length, std::size_t capacity, std::size_t first, char *out,
                std::size_t size, const char *section, const char *key, bool forFormat) {
  std::memcpy(out, text, first);
  return expand(out, first, size, text + first, text + *length, text + capacity - 1, length,
                section, key, forFormat);
}

}  // namespace vx
