/*
 * settings_expand.cc - $(Section.KEY) references expanded in place within
 * a bounded buffer.
 *
 * A reference is replaced by the referenced value and the result scanned
 * again from the same place, so references in referenced values expand
 * too.  A reference that is undefined, loops back to a key it came from,
 * nests too deep or would make the text longer than the buffer stops the
 * expansion with a report; the text then ends just before the "." of that
 * reference.  A "%" spliced in from a referenced value is doubled when the
 * text is to be formatted, so that it stays literal (a product directory
 * may hold one), except in values of KernelErrors, whose message texts are
 * built from one another's directives.
 *
 * Two roads give the same result.  The splice loop is the general one: it
 * works in place on the whole text.  The level walk is the one taken for
 * texts that fit a settings value: each value read is kept in a buffer of
 * its own while it is scanned, so that nothing is moved, and its reference
 * names serve the loop test where they lie.  The walk hands over to the
 * splice loop when a reference may run on past the end of a value into the
 * text after it, which only the splice loop sees.  Both roads find
 * references with the same scanner, stop at the same test and read values
 * the same way, so that they cannot drift apart.
 */
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <strings.h>

#include <array>
#include <cstring>

#include "settings_internal.h"
#include "settings_messages.h"
#include "settings_read.h"
#include "utility.h"

namespace {

using vx::kBufSize;
using vx::kMaxText;
using vx::Read;

// References nested deeper than this are surely a mistake; a loop is
// caught earlier by name.
constexpr std::size_t kMaxReferenceDepth = 32;
// A backstop for expansions that neither loop by name nor nest deeply
// but go on splicing, say, empty values without end.
constexpr int kMaxSubstitutions = 10000;
// A value read for splicing, or a text of the level walk: one byte more
// than a value may have, so that readValue reads into it directly.
constexpr std::size_t kValueSize = kBufSize + 1;
// Room for the names of every active reference of the splice loop: each
// pair of names came from a text of at most kMaxText characters.
constexpr std::size_t kNameStore = kMaxReferenceDepth * kBufSize;
constexpr std::size_t kNoDollar = static_cast<std::size_t>(-1);

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-blind equality of a kept name and a name of length n in text.  The
// lengths and first letters settle most comparisons without a call.
inline bool sameName(const char *kept, std::size_t keptLength, const char *name, std::size_t n) {
  return keptLength == n && (n == 0 || asciiLower(kept[0]) == asciiLower(name[0])) &&
         strncasecmp(kept, name, n) == 0;
}

// The names of a reference, each terminated.
struct Reference {
  const char *section;
  std::size_t sectionLength;
  const char *key;
  std::size_t keyLength;
};

// What both roads know of the text they expand.
struct Subject {
  const char *section;  // the text's names, as the caller gave them
  const char *key;
  const char *where;  // the section as reports show it
  std::size_t size;   // of the buffer
  bool forFormat;
};

// Why an expansion stops at a reference.
enum class Stop { kNone, kLoop, kRunaway, kMissing, kValueTooLong, kNoRoom };

// What cleanSplice looks for, one bit each.
constexpr unsigned char kIsMark = 1;
constexpr unsigned char kIsPercent = 2;
constexpr unsigned char kIsDollar = 4;
constexpr std::array<unsigned char, 256> kSpliceClasses = [] {
  std::array<unsigned char, 256> classes{};
  classes[static_cast<unsigned char>(VX_EMPTY_MARK)] = kIsMark;
  classes['%'] = kIsPercent;
  classes['$'] = kIsDollar;
  return classes;
}();

// The first c among the n characters at from, or null.  room is how many
// bytes from on lie in the buffer: with sixteen of them, a short search
// is one comparison instead of a library call.
inline char *findByte(char *from, std::size_t n, std::size_t room, char c) {
#if defined(__SSE2__)
  if (n <= 16 && room >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
    unsigned bits =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(c))));
    bits &= n == 16 ? 0xFFFFu : (1u << n) - 1;
    return bits != 0 ? from + __builtin_ctz(bits) : nullptr;
  }
#else
  (void)room;
#endif
  return static_cast<char *>(std::memchr(from, c, n));
}

// What scanReference found at a "$".
struct Scan {
  enum Kind { kNone, kRunsOn, kFound } kind;
  char *dot;
  char *close;
};

// Looks at dollar for "$(", a section name without ".", ".", a key
// without ")", ")", in a text that ends at end, in a buffer that ends at
// bufferEnd.  kRunsOn when the text ends before that is settled: text
// after it might complete the reference.
inline Scan scanReference(char *dollar, char *end, char *bufferEnd) {
  if (dollar + 1 == end) return {Scan::kRunsOn, nullptr, nullptr};
  if (dollar[1] != '(') return {Scan::kNone, nullptr, nullptr};
  char *const name = dollar + 2;
  char *const dot = findByte(name, static_cast<std::size_t>(end - name),
                             static_cast<std::size_t>(bufferEnd - name), '.');
  if (dot == nullptr) return {Scan::kRunsOn, nullptr, nullptr};
  if (dot == name) return {Scan::kNone, nullptr, nullptr};
  char *const close = findByte(dot + 1, static_cast<std::size_t>(end - (dot + 1)),
                               static_cast<std::size_t>(bufferEnd - (dot + 1)), ')');
  if (close == nullptr) return {Scan::kRunsOn, nullptr, nullptr};
  if (close == dot + 1) return {Scan::kNone, nullptr, nullptr};
  return {Scan::kFound, dot, close};
}

// The names of the reference that scan found at dollar, terminated where
// they lie: the text from the "." on is replaced by the value, or cut off
// when the expansion stops there.
inline Reference terminateNames(char *dollar, const Scan &scan) {
  *scan.dot = '\0';
  *scan.close = '\0';
  return Reference{dollar + 2, static_cast<std::size_t>(scan.dot - (dollar + 2)), scan.dot + 1,
                   static_cast<std::size_t>(scan.close - (scan.dot + 1))};
}

// Whether ref stops the expansion before its value is read: it names one
// of the keys being expanded (count of them, outermost first, each with
// its names in .name), or the expansion has gone too deep or on too long.
template <typename Outer>
inline Stop haltBefore(const Outer *outer, std::size_t count, int substitutions,
                       const Reference &ref) {
  for (std::size_t i = 0; i < count; ++i) {
    const Reference &name = outer[i].name;
    if (sameName(name.key, name.keyLength, ref.key, ref.keyLength) &&
        sameName(name.section, name.sectionLength, ref.section, ref.sectionLength))
      return Stop::kLoop;
  }
  return count >= kMaxReferenceDepth || substitutions >= kMaxSubstitutions ? Stop::kRunaway
                                                                           : Stop::kNone;
}

// Removes the empty marks from value (length *length) and, with
// doublePercent, doubles each "%" so that formatting prints it as it is;
// value is a buffer of size bytes.  *dollar is set to the offset of the
// first "$" in the result, or kNoDollar.  False when the result would not
// fit.  One pass finds all three: spliced values are short, and most hold
// none of them.
bool cleanSplice(char *value, std::size_t size, std::size_t *length, bool doublePercent,
                 std::size_t *dollar) {
  std::size_t n = *length;
  std::size_t marks = 0;
  std::size_t percents = 0;
  std::size_t first = kNoDollar;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen characters at a time while they lie within the buffer; only
  // the characters found are looked at one by one.
  const __m128i mark = _mm_set1_epi8(VX_EMPTY_MARK);
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i dollarChar = _mm_set1_epi8('$');
  for (; i < n && i + 16 <= size; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(value + i));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, mark), _mm_cmpeq_epi8(chunk, percent)),
                     _mm_cmpeq_epi8(chunk, dollarChar));
    unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (n - i < 16) bits &= (1u << (n - i)) - 1;
    for (; bits != 0; bits &= bits - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(bits));
      const unsigned char kind = kSpliceClasses[static_cast<unsigned char>(value[at])];
      marks += kind & kIsMark;
      percents += (kind & kIsPercent) >> 1;
      if ((kind & kIsDollar) != 0 && first == kNoDollar) first = at;
    }
  }
#endif
  for (; i < n; ++i) {
    const unsigned char kind = kSpliceClasses[static_cast<unsigned char>(value[i])];
    if (kind == 0) continue;
    marks += kind & kIsMark;
    percents += (kind & kIsPercent) >> 1;
    if ((kind & kIsDollar) != 0 && first == kNoDollar) first = i;
  }
  if (marks > 0) {
    RemoveEmptyChars(value);
    n -= marks;
    const char *found = static_cast<const char *>(std::memchr(value, '$', n));
    first = found != nullptr ? static_cast<std::size_t>(found - value) : kNoDollar;
  }
  if (doublePercent && percents > 0) {
    if (n + percents >= size) return false;
    std::size_t before = 0;  // "%" before the first "$" move it along
    for (std::size_t from = n, to = n + percents; from > 0;) {
      --from;
      value[--to] = value[from];
      if (value[from] == '%') {
        value[--to] = '%';
        before += first != kNoDollar && from < first;
      }
    }
    if (first != kNoDollar) first += before;
    n += percents;
    value[n] = '\0';
  }
  *length = n;
  *dollar = first;
  return true;
}

// Reads the value of ref into value (kValueSize bytes) and makes it ready
// to be spliced in: marks removed and "%" doubled as the subject asks;
// *dollar is set to the offset of its first "$", or kNoDollar.  used is
// how many characters the text holds besides the value once spliced.
inline Stop fetchValue(const Subject &subject, const Reference &ref, std::size_t used, char *value,
                       std::size_t *valueLength, std::size_t *dollar) {
  const Read read = vx::readValue(ref.section, ref.key, value, kValueSize, valueLength);
  if (read != Read::kFound) return read == Read::kTooLong ? Stop::kValueTooLong : Stop::kMissing;
  const bool doublePercent =
      subject.forFormat &&
      !sameName(ref.section, ref.sectionLength, vx::kMessageSection, vx::kMessageSectionLength);
  if (!cleanSplice(value, kBufSize, valueLength, doublePercent, dollar) ||
      used + *valueLength > subject.size - 1)
    return Stop::kNoRoom;
  return Stop::kNone;
}

// Shows why the expansion stopped at ref.
void reportStop(const Subject &subject, const Reference &ref, Stop stop) {
  switch (stop) {
    case Stop::kLoop:
    case Stop::kRunaway:
      vx::reportHalted(subject.where, subject.key, ref.section, ref.key, stop == Stop::kLoop);
      break;
    case Stop::kMissing:
    case Stop::kValueTooLong:
      vx::reportUnread(stop == Stop::kValueTooLong ? Read::kTooLong : Read::kMissing,
                       subject.section, subject.key, subject.where, ref.section, ref.sectionLength,
                       ref.key, ref.keyLength);
      break;
    case Stop::kNoRoom:
      vx::reportTooLongOnceExpanded(subject.where, subject.key, subject.size, ref.section, ref.key);
      break;
    case Stop::kNone:
      break;
  }
}

// ---- the splice loop ----

// A key that is being expanded and the end (exclusive) of the text that
// its value occupies in the buffer.  Its names are kept in the name store:
// the text they came from is overwritten by the splice.
struct ActiveReference {
  Reference name;
  std::size_t end;
};

// The keys being expanded, outermost first.  Neither array is cleared:
// only the entries below depth, and their names, are ever read.
struct SpliceState {
  std::array<ActiveReference, kMaxReferenceDepth> active;
  std::array<char, kNameStore> names;
  std::size_t depth = 0;
  int substitutions = 0;
};

// Makes the slot at depth name ref, with a copy of its names in the store
// right after those of the slot below.
void keepNames(SpliceState &state, std::size_t depth, const Reference &ref) {
  std::size_t offset = 0;
  if (depth > 0) {
    const Reference &below = state.active[depth - 1].name;
    offset = static_cast<std::size_t>(below.key - state.names.data()) + below.keyLength + 1;
  }
  char *const section = state.names.data() + offset;
  char *const key = section + ref.sectionLength + 1;
  std::memcpy(section, ref.section, ref.sectionLength + 1);
  std::memcpy(key, ref.key, ref.keyLength + 1);
  state.active[depth].name = Reference{section, ref.sectionLength, key, ref.keyLength};
}

// The splice loop.  text holds *textLength characters in a buffer of
// subject.size bytes; the search starts at dollar, with the keys in state
// active.  A reference is replaced by its value and the search goes on at
// the start of the value, so a reference may end in the text after it.
bool spliceReferences(char *text, std::size_t *textLength, const Subject &subject, char *dollar,
                      SpliceState &state) {
  std::size_t length = *textLength;
  std::size_t &depth = state.depth;
  auto &active = state.active;
  char *const bufferEnd = text + subject.size;
  // The next "$" at or after from.
  auto nextDollar = [&](char *from) {
    return static_cast<char *>(
        std::memchr(from, '$', length - static_cast<std::size_t>(from - text)));
  };
  while (dollar != nullptr) {
    const Scan scan = scanReference(dollar, text + length, bufferEnd);
    if (scan.kind != Scan::kFound) {
      dollar = nextDollar(dollar + 1);
      continue;
    }
    const std::size_t start = static_cast<std::size_t>(dollar - text);
    const std::size_t refEnd = static_cast<std::size_t>(scan.close + 1 - text);
    const Reference ref = terminateNames(dollar, scan);
    // Keys whose values lie wholly before this reference are done.
    while (depth > 0 && active[depth - 1].end <= start)
      --depth;

    Stop stop = haltBefore(active.data(), depth, state.substitutions, ref);
    Reference named = ref;
    std::array<char, kValueSize> value;
    std::size_t valueLength = 0;
    std::size_t valueDollar = kNoDollar;
    if (stop == Stop::kNone) {
      // The slot above the active ones keeps the names for the lookup
      // and, once the value is spliced in, for the loop test.  Names that
      // do not fit a settings line, let alone the store, are surely
      // undefined.
      if (ref.sectionLength + ref.keyLength + 2 <= kBufSize) {
        keepNames(state, depth, ref);
        named = active[depth].name;
        stop = fetchValue(subject, named, start + (length - refEnd), value.data(), &valueLength,
                          &valueDollar);
      } else {
        stop = Stop::kMissing;
      }
    }
    if (stop != Stop::kNone) {
      reportStop(subject, named, stop);
      return false;
    }
    std::memmove(text + start + valueLength, text + refEnd, length - refEnd + 1);
    std::memcpy(text + start, value.data(), valueLength);
    const std::size_t newLength = start + valueLength + (length - refEnd);
    for (std::size_t i = 0; i < depth; ++i) {
      // An outer value that ended inside this reference now ends with
      // the spliced value, which counts as coming from it.
      ActiveReference &outer = active[i];
      outer.end =
          outer.end >= refEnd ? outer.end + valueLength - (refEnd - start) : start + valueLength;
    }
    active[depth].end = start + valueLength;
    ++depth;
    length = newLength;
    ++state.substitutions;
    // The search goes on at the start of the spliced value: at its first
    // "$", which cleanSplice found, or after it when it holds none.
    dollar = valueDollar != kNoDollar ? text + start + valueDollar
                                      : nextDollar(text + start + valueLength);
  }
  *textLength = length;
  return true;
}

// The splice loop over the whole text, from its first "$".
bool expandBySplicing(char *text, std::size_t *textLength, const Subject &subject) {
  char *first = static_cast<char *>(std::memchr(text, '$', *textLength));
  if (first == nullptr) return true;
  SpliceState state;
  return spliceReferences(text, textLength, subject, first, state);
}

// ---- the level walk ----

// A text, or a value being scanned, in the level walk.  Level 0 is the
// text itself; level n > 0 is the value of the reference that level n - 1
// is stopped at, whose names (terminated in place) are kept here.
struct Level {
  std::size_t length;  // of its text
  std::size_t next;    // where its scan goes on once its reference is done
  Reference name;
};

using LevelTexts = std::array<std::array<char, kValueSize>, kMaxReferenceDepth + 1>;
using Levels = std::array<Level, kMaxReferenceDepth + 1>;

// Hands a level walk over to the splice loop: the text becomes what the
// splice loop would hold at this point (the output, the rest of the
// current level from its "$", the rest of each level below), and the
// levels above 0 become its active keys.  Kept apart so that the walk's
// common case does not carry the splice loop's stores.
__attribute__((noinline)) bool handOverToSplicing(char *text, std::size_t *textLength,
                                                  std::size_t outLength, const Subject &subject,
                                                  const LevelTexts &texts, const Levels &levels,
                                                  std::size_t level, std::size_t dollarAt,
                                                  int substitutions) {
  SpliceState state;
  std::size_t length = outLength;
  // The rest of level l, from where its scan stands.
  auto rest = [&](std::size_t l) { return l == level ? dollarAt : levels[l].next; };
  for (std::size_t l = level + 1; l-- > 0;) {
    const std::size_t from = rest(l);
    std::memcpy(text + length, texts[l].data() + from, levels[l].length - from);
    length += levels[l].length - from;
  }
  text[length] = '\0';
  // The value of level l ends where the rests of it and every level above
  // it end.
  std::size_t end = outLength;
  std::array<std::size_t, kMaxReferenceDepth + 1> ends;
  for (std::size_t l = level + 1; l-- > 1;) {
    end += levels[l].length - rest(l);
    ends[l] = end;
  }
  for (std::size_t l = 1; l <= level; ++l) {
    keepNames(state, l - 1, levels[l].name);
    state.active[l - 1].end = ends[l];
  }
  state.depth = level;
  state.substitutions = substitutions;
  *textLength = length;
  return spliceReferences(text, textLength, subject, text + outLength, state);
}

Subject subjectOf(std::size_t size, const char *section, const char *key, bool forFormat) {
  return Subject{section, key, vx::shown(section, vx::kNoSection), size, forFormat};
}

}  // namespace

namespace vx {

bool expandReferences(char *text, std::size_t *textLength, std::size_t size, const char *section,
                      const char *key, bool forFormat) {
  const Subject subject = subjectOf(size, section, key, forFormat);
  const std::size_t length = *textLength;
  if (length > kMaxText) return expandBySplicing(text, textLength, subject);
  // The level walk.  It runs for every value read, so it is written out
  // here rather than called.
  char *first = static_cast<char *>(std::memchr(text, '$', length));
  if (first == nullptr) return true;
  LevelTexts texts;
  Levels levels;
  // The text before the first "$" is output already; the rest is copied
  // to level 0, as the output is written over it.
  std::size_t out = static_cast<std::size_t>(first - text);
  levels[0].length = length - out;
  std::memcpy(texts[0].data(), first, levels[0].length);
  std::size_t level = 0;
  char *cur = texts[0].data();
  std::size_t curLength = levels[0].length;
  std::size_t pos = 0;
  std::size_t dollarAt = 0;
  // Characters still to scan in the levels below the current one.
  std::size_t pending = 0;
  int substitutions = 0;
  for (;;) {
    if (dollarAt == kNoDollar) {
      std::memcpy(text + out, cur + pos, curLength - pos);
      out += curLength - pos;
      if (level == 0) break;
      --level;
      cur = texts[level].data();
      curLength = levels[level].length;
      pos = levels[level].next;
      pending -= curLength - pos;
      const char *found = findByte(cur + pos, curLength - pos, kValueSize - pos, '$');
      dollarAt = found != nullptr ? static_cast<std::size_t>(found - cur) : kNoDollar;
      continue;
    }
    if (dollarAt > pos) {
      std::memcpy(text + out, cur + pos, dollarAt - pos);
      out += dollarAt - pos;
    }
    // A reference complete within this level, or one that is not known
    // until the text after it.
    char *const dollar = cur + dollarAt;
    const Scan scan = scanReference(dollar, cur + curLength, cur + kValueSize);
    if (scan.kind == Scan::kRunsOn && pending > 0) {
      return handOverToSplicing(text, textLength, out, subject, texts, levels, level, dollarAt,
                                substitutions);
    }
    if (scan.kind != Scan::kFound) {
      text[out++] = '$';
      pos = dollarAt + 1;
      const char *found = findByte(cur + pos, curLength - pos, kValueSize - pos, '$');
      dollarAt = found != nullptr ? static_cast<std::size_t>(found - cur) : kNoDollar;
      continue;
    }
    const std::size_t refEnd = static_cast<std::size_t>(scan.close + 1 - cur);
    // The names stay where they lie for the loop test while their value
    // is scanned.
    const Reference ref = terminateNames(dollar, scan);
    Stop stop = haltBefore(levels.data() + 1, level, substitutions, ref);
    char *value = nullptr;
    std::size_t valueLength = 0;
    std::size_t valueDollar = kNoDollar;
    if (stop == Stop::kNone) {
      value = texts[level + 1].data();
      stop = fetchValue(subject, ref, out + (curLength - refEnd) + pending, value, &valueLength,
                        &valueDollar);
    }
    if (stop != Stop::kNone) {
      // The text cut before the "." of the reference.
      std::memcpy(text + out, dollar, ref.sectionLength + 2);
      text[out + ref.sectionLength + 2] = '\0';
      reportStop(subject, ref, stop);
      return false;
    }
    levels[level].next = refEnd;
    pending += curLength - refEnd;
    ++level;
    levels[level] = Level{valueLength, 0, ref};
    cur = value;
    curLength = valueLength;
    pos = 0;
    dollarAt = valueDollar;
    ++substitutions;
  }
  text[out] = '\0';
  *textLength = out;
  return true;
}

bool expandReferencesBySplicing(char *text, std::size_t *length, std::size_t size,
                                const char *section, const char *key, bool forFormat) {
  return expandBySplicing(text, length, subjectOf(size, section, key, forFormat));
}

}  // namespace vx
