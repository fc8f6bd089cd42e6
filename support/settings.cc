/*
 * settings.cc - the settings file ".velorixrc": reading values with
 * $(Section.KEY) references expanded, "~" line breaks and "`" empty marks,
 * checked printf-style values, storing values, and the messages of
 * section KernelErrors.
 *
 * The file itself is parsed, kept in memory and rewritten by the core
 * library (Nlm_GetAppParam, Nlm_SetAppParam).  What this file adds:
 *
 *  - expansion in place within a bounded buffer.  A reference is replaced
 *    by the referenced value and the result scanned again from the same
 *    place, so references in referenced values expand too.  A reference
 *    that is undefined, loops back to a key it came from, nests too deep or
 *    would make the text longer than the buffer stops the expansion with a
 *    report; the text then ends just before the "." of that reference.
 *  - formatting that never hands a value to printf: see format.cc.  A "%"
 *    spliced in from a referenced value is literal (a product directory may
 *    hold one), except in values of KernelErrors, whose message texts are
 *    built from one another's directives.
 *  - writes that are verified on disk, because the core library reports
 *    success for a value it kept in memory but could not write.
 */
#include <pwd.h>
#include <sys/stat.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <strings.h>
#include <vector>

#include "format.h"
#include "settings_internal.h"
#include "utility.h"

extern "C" {
Nlm_Char ParBuf[VX_PARBUF_SIZE];
}

namespace {

constexpr const char *kBase = VX_SETTINGS_BASE;
constexpr const char *kFileName = VX_SETTINGS_FILE;
constexpr std::size_t kBufSize = VX_PARBUF_SIZE;
constexpr std::size_t kMaxText = kBufSize - 1;
constexpr std::size_t kMaxFileLine = VX_SETTINGS_LINE_MAX;
// References nested deeper than this are surely a mistake; a loop is
// caught earlier by name.
constexpr std::size_t kMaxReferenceDepth = 32;
// A backstop for expansions that neither loop by name nor nest deeply
// but go on splicing, say, empty values without end.
constexpr int kMaxSubstitutions = 10000;
// A message, and the undefined-reference report about that message's own
// text; a report about the report is not shown.
constexpr int kMaxNestedWarnings = 2;
// Names quoted in a report are cut to this, so every report fits.
constexpr int kShownName = 100;
// Room for the plain-words explanation of a formatting problem.
constexpr std::size_t kProblemSize = 200;
constexpr const char kMessageSection[] = "KernelErrors";
constexpr std::size_t kMessageSectionLength = sizeof kMessageSection - 1;
constexpr const char *kUndefinedReference = "TRANSLN";
// Shown in place of a section or key that the caller did not give (the
// text being expanded is no settings value).
constexpr const char *kNoSection = "(not a settings value)";
constexpr const char *kNoKey = "(none)";

using TextBuffer = std::array<char, kBufSize>;

// Shows a report of our own in a message box.  format is always one of
// the literals below, never a settings text.
void Report(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Report(const char *format, ...) {
  TextBuffer text{};
  va_list list;
  va_start(list, format);
  std::vsnprintf(text.data(), text.size(), format, list);
  va_end(list);
  Nlm_Message(MSG_OK, "%s", text.data());
}

const char *Shown(const char *name, const char *absent) { return name != nullptr ? name : absent; }

bool SameName(const std::string &a, const char *b) {
  return b != nullptr && strcasecmp(a.c_str(), b) == 0;
}

void ReportNotFound(const char *section, const char *key) {
  Report("Settings file '%s', section '%.*s', key '%.*s': not found", kBase, kShownName,
         Shown(section, kNoKey), kShownName, Shown(key, kNoKey));
}

void ReportValueTooLong(const char *section, const char *key) {
  Report(
      "Settings file '%s', section '%.*s', key '%.*s':\nthe value is longer than %zu characters.",
      kBase, kShownName, Shown(section, kNoKey), kShownName, Shown(key, kNoKey), kMaxText);
}

enum class Read { kFound, kMissing, kTooLong };

// Reads [section] key into buf (size bytes) without expanding it.  A key
// whose value is empty is missing, as the core library cannot tell the
// two apart.  A value that does not fit is kTooLong and buf is untouched;
// the read goes through a buffer one byte larger than any accepted value
// so that a cut value is recognised instead of being taken for the whole.
// A caller's buffer of that size is read into directly.  No buffer is
// cleared first: the core library writes its default, "", before the value.
inline Read ReadValue(const char *section, const char *key, char *buf, std::size_t size,
                      std::size_t *length = nullptr) {
  // A null key would make the core library list the section's keys.
  if (section == nullptr || key == nullptr || section[0] == '\0' || key[0] == '\0')
    return Read::kMissing;
  constexpr std::size_t kProbeSize = kBufSize + 1;
  std::array<char, kProbeSize> probe;
  char *target = size >= kProbeSize ? buf : probe.data();
  target[0] = '\0';
  const Nlm_Int2 got =
      Nlm_GetAppParam(kBase, section, key, "", target, static_cast<Nlm_Int2>(kProbeSize));
  if (got <= 0) {
    if (target == buf) buf[0] = '\0';
    return Read::kMissing;
  }
  // The core library returns the length it copied; strnlen backs that up
  // should a value ever hold a NUL of its own.
  std::size_t n = static_cast<std::size_t>(got);
  if (n >= kProbeSize || target[n] != '\0') n = ::strnlen(target, kProbeSize);
  if (n > kMaxText || n >= size) {
    if (target == buf) buf[0] = '\0';
    return Read::kTooLong;
  }
  if (target != buf) std::memcpy(buf, target, n + 1);
  if (length != nullptr) *length = n;
  return Read::kFound;
}

// A key that is being expanded and the end (exclusive) of the text that
// its value occupies in the buffer.  Its names are kept, each followed by
// a NUL, at names in the caller's name store: the text they came from is
// overwritten by the splice.
struct ActiveReference {
  std::size_t names;
  std::size_t sectionLength;
  std::size_t keyLength;
  std::size_t end;
};

// Room for the names of every active reference: each pair of names came
// from a text of at most kMaxText characters.
constexpr std::size_t kNameStore = kMaxReferenceDepth * kBufSize;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-blind equality of a kept name and a name of length n in text.  The
// lengths and first letters settle most comparisons without a call.
inline bool SameName(const char *kept, std::size_t keptLength, const char *name, std::size_t n) {
  return keptLength == n && (n == 0 || AsciiLower(kept[0]) == AsciiLower(name[0])) &&
         strncasecmp(kept, name, n) == 0;
}

// What CleanSplice looks for, one bit each.
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

constexpr std::size_t kNoDollar = static_cast<std::size_t>(-1);

// The first c among the n characters at from, or null.  room is how many
// bytes from on lie in the buffer: with sixteen of them, a short search
// is one comparison instead of a library call.
inline char *FindByte(char *from, std::size_t n, std::size_t room, char c) {
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

// Removes the empty marks from value (length *length) and, with
// doublePercent, doubles each "%" so that formatting prints it as it is;
// value is a buffer of size bytes.  *dollar is set to the offset of the
// first "$" in the result, or kNoDollar.  False when the result would not
// fit.  One pass finds all three: spliced values are short, and most hold
// none of them.
bool CleanSplice(char *value, std::size_t size, std::size_t *length, bool doublePercent,
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

// ---- reference expansion ----
//
// Two roads give the same result.  The splice loop below is the general
// one: it works in place on the whole text.  The level walk after it is
// the one taken for texts that fit a settings value: each value read is
// kept in a buffer of its own while it is scanned, so that nothing is
// moved, and its reference names serve the loop test where they lie.  The
// walk hands over to the splice loop when a reference may run on past the
// end of a value into the text after it, which only the splice loop sees.

// The reports that stop an expansion.  where and key name the text being
// expanded; the reference names are terminated strings.
void ReportStop(const char *where, const char *key, const char *refSection, const char *refKey,
                bool looped) {
  Report("Settings file '%s', section '%.*s', key '%.*s':\nthe reference $(%.*s.%.*s) %s.", kBase,
         kShownName, where, kShownName, Shown(key, kNoKey), kShownName, refSection, kShownName,
         refKey,
         looped ? "refers back to itself, directly or through other keys"
                : "is nested too deep or expands without end");
}

void ReportUnread(Read read, const char *section, const char *key, const char *where,
                  const char *refSection, std::size_t sectionLength, const char *refKey,
                  std::size_t keyLength) {
  if (read == Read::kTooLong) {
    ReportValueTooLong(refSection, refKey);
  } else if (section == nullptr && key == nullptr) {
    // Text that is no settings value: name the failing reference, its
    // names cut as every quoted name is, so that the report fits.
    const std::string reference =
        "$(" + std::string(refSection, std::min<std::size_t>(sectionLength, kShownName)) + "." +
        std::string(refKey, std::min<std::size_t>(keyLength, kShownName)) + ")";
    Warning(kUndefinedReference, kBase, where, reference.c_str());
  } else {
    Warning(kUndefinedReference, kBase, where, Shown(key, kNoKey));
  }
}

void ReportTooLongOnceExpanded(const char *where, const char *key, std::size_t size,
                               const char *refSection, const char *refKey) {
  Report(
      "Settings file '%s', section '%.*s', key '%.*s':\nthe text would be longer than %zu characters "
      "once $(%.*s.%.*s) is expanded.",
      kBase, kShownName, where, kShownName, Shown(key, kNoKey), size - 1, kShownName, refSection,
      kShownName, refKey);
}

bool DoublesPercent(bool forFormat, const char *refSection, std::size_t sectionLength) {
  return forFormat && !SameName(refSection, sectionLength, kMessageSection, kMessageSectionLength);
}

// The keys being expanded, outermost first, for the splice loop.  Neither
// array is cleared: only the entries below depth, and their names, are
// ever read.
struct SpliceState {
  std::array<ActiveReference, kMaxReferenceDepth> active;
  std::array<char, kNameStore> names;
  std::size_t depth = 0;
  int substitutions = 0;
};

// Where the names of the slot at depth go in the name store.
std::size_t NamesOffset(const SpliceState &state, std::size_t depth) {
  if (depth == 0) return 0;
  const ActiveReference &below = state.active[depth - 1];
  return below.names + below.sectionLength + below.keyLength + 2;
}

// The splice loop.  text holds *textLength characters in a buffer of size
// bytes; the search starts at dollar, with the keys in state active.  A
// reference is replaced by its value and the search goes on at the start
// of the value, so a reference may end in the text after it.
bool SpliceReferences(char *text, std::size_t *textLength, std::size_t size, const char *section,
                      const char *key, bool forFormat, char *dollar, SpliceState &state) {
  std::size_t length = *textLength;
  std::size_t &depth = state.depth;
  auto &active = state.active;
  const char *where = Shown(section, kNoSection);
  // The next "$" at or after from.
  auto nextDollar = [&](char *from) {
    return static_cast<char *>(
        std::memchr(from, '$', length - static_cast<std::size_t>(from - text)));
  };
  while (dollar != nullptr) {
    const std::size_t start = static_cast<std::size_t>(dollar - text);
    // "$(", a section name without ".", ".", a key without ")", ")".
    // Names are short: a plain loop beats a library call here.
    char *dot = nullptr;
    char *close = nullptr;
    if (dollar[1] == '(') {
      dot = dollar + 2;
      while (*dot != '\0' && *dot != '.')
        ++dot;
      if (*dot == '.' && dot != dollar + 2) {
        close = dot + 1;
        while (*close != '\0' && *close != ')')
          ++close;
      }
    }
    if (close == nullptr || *close != ')' || close == dot + 1) {
      dollar = nextDollar(dollar + 1);
      continue;
    }
    const char *refSection = dollar + 2;
    const std::size_t sectionLength = static_cast<std::size_t>(dot - refSection);
    const char *refKey = dot + 1;
    const std::size_t keyLength = static_cast<std::size_t>(close - refKey);
    const std::size_t refEnd = static_cast<std::size_t>(close + 1 - text);
    // Keys whose values lie wholly before this reference are done.
    while (depth > 0 && active[depth - 1].end <= start)
      --depth;

    bool looped = false;
    for (std::size_t i = 0; i < depth && !looped; ++i) {
      const ActiveReference &outer = active[i];
      const char *outerSection = state.names.data() + outer.names;
      looped =
          SameName(outerSection + outer.sectionLength + 1, outer.keyLength, refKey, keyLength) &&
          SameName(outerSection, outer.sectionLength, refSection, sectionLength);
    }
    if (looped || depth >= kMaxReferenceDepth || state.substitutions >= kMaxSubstitutions) {
      *dot = '\0';
      *close = '\0';
      ReportStop(where, key, refSection, refKey, looped);
      return false;
    }

    // The slot above the active ones keeps the names for the lookup and,
    // once the value is spliced in, for the loop test.  Names that do not
    // fit a settings line, let alone the store, are surely undefined.
    ActiveReference &slot = active[depth];
    slot.names = NamesOffset(state, depth);
    slot.sectionLength = sectionLength;
    slot.keyLength = keyLength;
    char *const slotSection = state.names.data() + slot.names;
    char *const slotKey = slotSection + sectionLength + 1;
    const bool storable = sectionLength + keyLength + 2 <= kBufSize;
    if (storable) {
      std::memcpy(slotSection, refSection, sectionLength);
      slotSection[sectionLength] = '\0';
      std::memcpy(slotKey, refKey, keyLength);
      slotKey[keyLength] = '\0';
    }
    // One byte more than a value may have: ReadValue reads into it directly.
    std::array<char, kBufSize + 1> value;
    std::size_t valueLength = 0;
    const Read read =
        storable ? ReadValue(slotSection, slotKey, value.data(), value.size(), &valueLength)
                 : Read::kMissing;
    if (read != Read::kFound) {
      *dot = '\0';
      ReportUnread(read, section, key, where, storable ? slotSection : refSection, sectionLength,
                   storable ? slotKey : refKey, keyLength);
      return false;
    }
    std::size_t valueDollar = kNoDollar;
    const bool fits =
        CleanSplice(value.data(), kBufSize, &valueLength,
                    DoublesPercent(forFormat, slotSection, sectionLength), &valueDollar) &&
        start + valueLength + (length - refEnd) <= size - 1;
    if (!fits) {
      *dot = '\0';
      ReportTooLongOnceExpanded(where, key, size, slotSection, slotKey);
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
    slot.end = start + valueLength;
    ++depth;
    length = newLength;
    ++state.substitutions;
    // The search goes on at the start of the spliced value: at its first
    // "$", which CleanSplice found, or after it when it holds none.
    dollar = valueDollar != kNoDollar ? text + start + valueDollar
                                      : nextDollar(text + start + valueLength);
  }
  *textLength = length;
  return true;
}

// The splice loop over the whole text, from its first "$".
bool ExpandBySplicing(char *text, std::size_t *textLength, std::size_t size, const char *section,
                      const char *key, bool forFormat) {
  char *first = static_cast<char *>(std::memchr(text, '$', *textLength));
  if (first == nullptr) return true;
  SpliceState state;
  return SpliceReferences(text, textLength, size, section, key, forFormat, first, state);
}

// A text, or a value being scanned, in the level walk.  Level 0 is the
// text itself; level n > 0 is the value of the reference that level n - 1
// is stopped at, whose names (terminated in place) are kept here.
struct Level {
  std::size_t length;  // of its text
  std::size_t next;    // where its scan goes on once its reference is done
  const char *section;
  std::size_t sectionLength;
  const char *key;
  std::size_t keyLength;
};

constexpr std::size_t kLevelSize = kBufSize + 1;
using LevelTexts = std::array<std::array<char, kLevelSize>, kMaxReferenceDepth + 1>;
using Levels = std::array<Level, kMaxReferenceDepth + 1>;

// Hands a level walk over to the splice loop: the text becomes what the
// splice loop would hold at this point (the output, the rest of the
// current level from its "$", the rest of each level below), and the
// levels above 0 become its active keys.  Kept apart so that the walk's
// common case does not carry the splice loop's stores.
__attribute__((noinline)) bool HandOverToSplicing(char *text, std::size_t *textLength,
                                                  std::size_t outLength, std::size_t size,
                                                  const char *section, const char *key,
                                                  bool forFormat, const LevelTexts &texts,
                                                  const Levels &levels, std::size_t level,
                                                  std::size_t dollarAt, int substitutions) {
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
    ActiveReference &slot = state.active[l - 1];
    slot.names = NamesOffset(state, l - 1);
    slot.sectionLength = levels[l].sectionLength;
    slot.keyLength = levels[l].keyLength;
    slot.end = ends[l];
    char *names = state.names.data() + slot.names;
    std::memcpy(names, levels[l].section, slot.sectionLength + 1);
    std::memcpy(names + slot.sectionLength + 1, levels[l].key, slot.keyLength + 1);
  }
  state.depth = level;
  state.substitutions = substitutions;
  *textLength = length;
  return SpliceReferences(text, textLength, size, section, key, forFormat, text + outLength, state);
}

// Reference expansion in place.  text holds at most size - 1 characters.
// section and key name the text for reports and may be null.  With
// forFormat, "%" in spliced values is doubled (see the file comment).
// Nothing is allocated or cleared: this runs for every value read and
// every line of a description file.
// *textLength is that of text, which the caller has measured already; on
// success it is set to the length of the result.  A reference that cannot
// be expanded stops the expansion with a report; the text then ends just
// before the "." of that reference.
bool ExpandReferences(char *text, std::size_t *textLength, std::size_t size, const char *section,
                      const char *key, bool forFormat) {
  const std::size_t length = *textLength;
  if (length > kMaxText) return ExpandBySplicing(text, textLength, size, section, key, forFormat);
  char *first = static_cast<char *>(std::memchr(text, '$', length));
  if (first == nullptr) return true;
  const char *where = Shown(section, kNoSection);
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
  // Writes the text cut before the "." of the reference at dollarAt.
  auto cutBeforeDot = [&](std::size_t sectionLength) {
    std::memcpy(text + out, cur + dollarAt, sectionLength + 2);
    text[out + sectionLength + 2] = '\0';
  };
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
      const char *found = FindByte(cur + pos, curLength - pos, kLevelSize - pos, '$');
      dollarAt = found != nullptr ? static_cast<std::size_t>(found - cur) : kNoDollar;
      continue;
    }
    if (dollarAt > pos) {
      std::memcpy(text + out, cur + pos, dollarAt - pos);
      out += dollarAt - pos;
    }
    // "$(", a section name without ".", ".", a key without ")", ")";
    // complete within this level, or not known until the text after it.
    char *const dollar = cur + dollarAt;
    char *const end = cur + curLength;
    char *dot = nullptr;
    char *close = nullptr;
    bool runsOn = dollar + 1 == end;
    char *const bufferEnd = cur + kLevelSize;
    if (!runsOn && dollar[1] == '(') {
      dot = FindByte(dollar + 2, static_cast<std::size_t>(end - (dollar + 2)),
                     static_cast<std::size_t>(bufferEnd - (dollar + 2)), '.');
      runsOn = dot == nullptr;
      if (!runsOn && dot != dollar + 2) {
        close = FindByte(dot + 1, static_cast<std::size_t>(end - (dot + 1)),
                         static_cast<std::size_t>(bufferEnd - (dot + 1)), ')');
        runsOn = close == nullptr;
      }
    }
    if (runsOn && pending > 0) {
      return HandOverToSplicing(text, textLength, out, size, section, key, forFormat, texts, levels,
                                level, dollarAt, substitutions);
    }
    if (runsOn || close == nullptr || close == dot + 1) {
      text[out++] = '$';
      pos = dollarAt + 1;
      const char *found = FindByte(cur + pos, curLength - pos, kLevelSize - pos, '$');
      dollarAt = found != nullptr ? static_cast<std::size_t>(found - cur) : kNoDollar;
      continue;
    }
    const char *refSection = dollar + 2;
    const std::size_t sectionLength = static_cast<std::size_t>(dot - refSection);
    const char *refKey = dot + 1;
    const std::size_t keyLength = static_cast<std::size_t>(close - refKey);
    const std::size_t refEnd = static_cast<std::size_t>(close + 1 - cur);
    // The names, terminated where they lie, are the lookup's arguments and
    // stay there for the loop test while their value is scanned.
    *dot = '\0';
    *close = '\0';
    bool looped = false;
    for (std::size_t i = 1; i <= level && !looped; ++i) {
      const Level &outer = levels[i];
      looped = SameName(outer.key, outer.keyLength, refKey, keyLength) &&
               SameName(outer.section, outer.sectionLength, refSection, sectionLength);
    }
    if (looped || level >= kMaxReferenceDepth || substitutions >= kMaxSubstitutions) {
      cutBeforeDot(sectionLength);
      ReportStop(where, key, refSection, refKey, looped);
      return false;
    }
    char *const value = texts[level + 1].data();
    std::size_t valueLength = 0;
    const Read read = ReadValue(refSection, refKey, value, kLevelSize, &valueLength);
    if (read != Read::kFound) {
      cutBeforeDot(sectionLength);
      ReportUnread(read, section, key, where, refSection, sectionLength, refKey, keyLength);
      return false;
    }
    std::size_t valueDollar = kNoDollar;
    const bool fits =
        CleanSplice(value, kBufSize, &valueLength,
                    DoublesPercent(forFormat, refSection, sectionLength), &valueDollar) &&
        out + valueLength + (curLength - refEnd) + pending <= size - 1;
    if (!fits) {
      cutBeforeDot(sectionLength);
      ReportTooLongOnceExpanded(where, key, size, refSection, refKey);
      return false;
    }
    levels[level].next = refEnd;
    pending += curLength - refEnd;
    ++level;
    levels[level] = Level{valueLength, 0, refSection, sectionLength, refKey, keyLength};
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

// The length of text (a buffer of size bytes) when it is terminated
// within it; otherwise reports and returns kUnterminated.
constexpr std::size_t kUnterminated = static_cast<std::size_t>(-1);

std::size_t MeasureInBuffer(const char *text, std::size_t size, const char *section,
                            const char *key) {
  if (text != nullptr && size > 0) {
    const std::size_t length = ::strnlen(text, size);
    if (length < size) return length;
  }
  Report(
      "Settings file '%s', section '%.*s', key '%.*s':\nthe text to expand does not fit its buffer.",
      kBase, kShownName, Shown(section, kNoSection), kShownName, Shown(key, kNoKey));
  return kUnterminated;
}

constexpr char kMarks[] = {VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '\0'};
constexpr char kMarksOrPercent[] = {VX_LINE_BREAK_MARK, VX_EMPTY_MARK, '%', '\0'};

// Turns the line-break marks of text into line breaks and drops the empty
// marks.
void ApplyMarks(char *text) {
  // Most texts hold neither mark: one search finds whether either occurs.
  char *mark = std::strpbrk(text, kMarks);
  if (mark == nullptr) return;
  for (char *p = mark; *p != '\0'; ++p) {
    if (*p == VX_LINE_BREAK_MARK) *p = '\n';
  }
  RemoveEmptyChars(mark);
}

bool TranslateFor(char *text, std::size_t size, const char *section, const char *key,
                  bool forFormat) {
  std::size_t length = MeasureInBuffer(text, size, section, key);
  if (length == kUnterminated) return false;
  const bool resolved = ExpandReferences(text, &length, size, section, key, forFormat);
  ApplyMarks(text);
  return resolved;
}

// ---- writing ----

// The file that the core library reads and rewrites, found as it finds
// it: the current directory, the home directory of the password database,
// then the NCBI directory; with none of them, the home directory, where a
// write creates it.
std::string SettingsFilePath() {
  auto exists = [](const std::string &path) { return access(path.c_str(), F_OK) == 0; };
  const struct passwd *user = getpwuid(getuid());
  const std::string home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
  const std::string homeFile = home + "/" + kFileName;
  if (std::getenv("NCBI_DONT_USE_LOCAL_CONFIG") == nullptr) {
    if (exists(kFileName)) return kFileName;
    if (!home.empty() && exists(homeFile)) return homeFile;
  }
  const char *ncbi = std::getenv("NCBI");
  const std::string ncbiDir = ncbi != nullptr ? ncbi : "/etc/ncbi";
  for (const std::string &name : {ncbiDir + "/" + (kFileName + 1), ncbiDir + "/" + kFileName}) {
    if (exists(name)) return name;
  }
  return homeFile;
}

// True when path (or, when it does not exist yet, its directory) may be
// written.
bool Writable(const std::string &path) {
  if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  return access(dir.c_str(), W_OK) == 0;
}

std::string Trimmed(const std::string &text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What the file on disk says about [section] key: how often the section
// header occurs, whether the key is there, and its value as written.  The
// first of two equal sections or keys counts, as in the core library.
struct OnDisk {
  bool readable = false;
  int sections = 0;
  bool key = false;
  std::string value;
};

OnDisk LookOnDisk(const std::string &path, const char *section, const char *key) {
  OnDisk found;
  std::ifstream file(path);
  if (!file) return found;
  found.readable = true;
  bool inSection = false;
  bool sectionDone = false;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      const std::string name = line.substr(
          1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - 1);
      if (inSection) sectionDone = true;
      const bool same = SameName(name, section);
      found.sections += same ? 1 : 0;
      inSection = !sectionDone && same;
      continue;
    }
    if (!inSection || key == nullptr || found.key || line.empty() || line[0] == ';') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || !SameName(Trimmed(line.substr(0, equals)), key)) continue;
    found.key = true;
    found.value = line.substr(equals + 1);
  }
  return found;
}

void ReportNotWritten(const std::string &path, const char *section, const char *key) {
  Report("Settings file '%.*s' could not be written:\nsection '%.*s', key '%.*s' was not stored.",
         kShownName, path.c_str(), kShownName, section, kShownName,
         Shown(key, "(the whole section)"));
}

// Refuses names and values that the core library would store but could
// not read back as they were.
bool Storable(const char *section, const char *key, const char *value) {
  if (section == nullptr || section[0] == '\0') {
    Report("Settings file '%s': a value cannot be stored without a section name.", kBase);
    return false;
  }
  // Without a key the core library removes the whole section: only a
  // caller that gives no value either asks for that.
  if (key == nullptr && value != nullptr) {
    Report(
        "Settings file '%s', section '%.*s': a value cannot be stored without a key; the section was left as it "
        "is.",
        kBase, kShownName, section);
    return false;
  }
  if (std::strpbrk(section, "]\n") != nullptr ||
      (key != nullptr && std::strpbrk(key, "=\n") != nullptr)) {
    Report(
        "Settings file '%s', section '%.*s', key '%.*s':\na section name may not hold \"]\" and a key may not "
        "hold \"=\".",
        kBase, kShownName, section, kShownName, Shown(key, kNoKey));
    return false;
  }
  // A key line that begins with "[" reads back as a section header, taking
  // the keys after it along, and one that begins with ";" as a comment;
  // outer blanks are cut on reading, so the key would not be found again.
  const std::size_t keyLength = key != nullptr ? std::strlen(key) : 0;
  if (keyLength > 0 && (key[0] == '[' || key[0] == ';' || key[0] == ' ' || key[0] == '\t' ||
                        key[keyLength - 1] == ' ' || key[keyLength - 1] == '\t')) {
    Report(
        "Settings file '%s', section '%.*s', key '%.*s':\na key may not begin with \"[\" or \";\" nor begin or "
        "end with a blank.",
        kBase, kShownName, section, kShownName, key);
    return false;
  }
  // The core library ends a line at a carriage return as it reads, so a
  // value holding one would come back cut.
  if (value != nullptr && std::strchr(value, '\r') != nullptr) {
    Report(
        "Settings file '%s', section '%.*s', key '%.*s':\na value may not hold a carriage return, which "
        "would not read back; it was not stored.",
        kBase, kShownName, section, kShownName, Shown(key, kNoKey));
    return false;
  }
  const std::size_t header = std::strlen(section) + 2;
  const std::size_t line =
      key != nullptr && value != nullptr ? std::strlen(key) + 1 + std::strlen(value) : 0;
  if (header > kMaxFileLine || line > kMaxFileLine) {
    Report(
        "Settings file '%s', section '%.*s', key '%.*s':\nthe line would be longer than %zu characters and "
        "would not read back whole; it was not stored.",
        kBase, kShownName, section, kShownName, Shown(key, kNoKey), kMaxFileLine);
    return false;
  }
  return true;
}

}  // namespace

namespace vx {

bool ExpandReferencesFast(char *text, std::size_t *length, std::size_t size, const char *section,
                          const char *key, bool forFormat) {
  return ExpandReferences(text, length, size, section, key, forFormat);
}

bool ExpandReferencesBySplicing(char *text, std::size_t *length, std::size_t size,
                                const char *section, const char *key, bool forFormat) {
  return ExpandBySplicing(text, length, size, section, key, forFormat);
}

}  // namespace vx

extern "C" {

void RemoveEmptyChars(Nlm_CharPtr text) {
  if (text == nullptr) return;
  char *to = text;
  for (const char *from = text; *from != '\0'; ++from) {
    if (*from != VX_EMPTY_MARK) *to++ = *from;
  }
  *to = '\0';
}

Nlm_Boolean TranslateRefSized(Nlm_CharPtr text, size_t size, const char *section, const char *key) {
  const std::size_t length = MeasureInBuffer(text, size, section, key);
  if (length == kUnterminated) return FALSE;
  std::size_t expanded = length;
  return ExpandReferences(text, &expanded, size, section, key, false) ? TRUE : FALSE;
}

Nlm_Boolean TranslateRef(Nlm_CharPtr text, const char *section, const char *key) {
  return TranslateRefSized(text, kBufSize, section, key);
}

Nlm_Boolean TranslateSized(Nlm_CharPtr text, size_t size, const char *section, const char *key) {
  return TranslateFor(text, size, section, key, false) ? TRUE : FALSE;
}

Nlm_Boolean Translate(Nlm_CharPtr text, const char *section, const char *key) {
  return TranslateSized(text, kBufSize, section, key);
}

Nlm_CharPtr GetParamArgs(const char *section, const char *key, const VxArg *args, int nargs) {
  // Not cleared: each buffer is written before it is read.  One byte
  // larger than a value may be, so that ReadValue reads into it directly.
  std::array<char, kBufSize + 1> value;
  std::size_t length = 0;
  const Read read = ReadValue(section, key, value.data(), value.size(), &length);
  if (read != Read::kFound) {
    if (read == Read::kTooLong) {
      ReportValueTooLong(section, key);
    } else {
      ReportNotFound(section, key);
    }
    return nullptr;
  }
  if (!ExpandReferences(value.data(), &length, kBufSize, section, key, true)) return nullptr;
  // Without arguments, a text without "%" or marks is its own result: one
  // search settles that for most values.
  if (nargs == 0 && std::strpbrk(value.data(), kMarksOrPercent) == nullptr) {
    std::memcpy(ParBuf, value.data(), length + 1);
    return ParBuf;
  }
  ApplyMarks(value.data());
  // Formatted apart from ParBuf: a string argument may lie in ParBuf.
  TextBuffer result;
  std::array<char, kProblemSize> problem;
  if (!vx::formatChecked(result.data(), result.size(), value.data(), args, nargs, problem.data(),
                         problem.size())) {
    Report("Settings file '%s', section '%.*s', key '%.*s':\nthe value cannot be used: %s.", kBase,
           kShownName, section, kShownName, key, problem.data());
    return nullptr;
  }
  std::memcpy(ParBuf, result.data(), std::strlen(result.data()) + 1);
  return ParBuf;
}

Nlm_CharPtr GetParamString(const char *section, const char *key) {
  // The names may lie in ParBuf, which is about to be overwritten.
  const std::string sectionName = Shown(section, "");
  const std::string keyName = Shown(key, "");
  const Read read = ReadValue(section, key, ParBuf, kBufSize);
  if (read != Read::kFound) {
    ParBuf[0] = '\0';
    if (read == Read::kTooLong) {
      ReportValueTooLong(sectionName.c_str(), keyName.c_str());
    } else {
      ReportNotFound(sectionName.c_str(), keyName.c_str());
    }
    return nullptr;
  }
  return TranslateFor(ParBuf, kBufSize, sectionName.c_str(), keyName.c_str(), false) ? ParBuf
                                                                                     : nullptr;
}

Nlm_CharPtr GetParamAppend(const char *section, const char *key) {
  const std::string sectionName = Shown(section, "");
  const std::string keyName = Shown(key, "");
  ParBuf[kBufSize - 1] = '\0';
  const std::size_t held = std::strlen(ParBuf);
  TextBuffer value{};
  std::size_t length = 0;
  const Read read = ReadValue(section, key, value.data(), value.size(), &length);
  if (read == Read::kMissing) {
    ReportNotFound(sectionName.c_str(), keyName.c_str());
    return nullptr;
  }
  if (read == Read::kTooLong || held + length > kMaxText) {
    Report(
        "Settings file '%s', section '%.*s', key '%.*s':\nthe value does not fit after the %zu characters "
        "already in the buffer (%zu at most).",
        kBase, kShownName, sectionName.c_str(), kShownName, keyName.c_str(), held, kMaxText);
    return nullptr;
  }
  std::memcpy(ParBuf + held, value.data(), length + 1);
  return TranslateFor(ParBuf, kBufSize, sectionName.c_str(), keyName.c_str(), false) ? ParBuf
                                                                                     : nullptr;
}

Nlm_Boolean SetParam(const char *section, const char *key, Nlm_CharPtr value) {
  if (key != nullptr && key[0] == '\0') key = nullptr;
  if (value != nullptr) {
    for (char *p = value; *p != '\0'; ++p) {
      if (*p == '\n') *p = VX_LINE_BREAK_MARK;
    }
  }
  if (!Storable(section, key, value)) return FALSE;
  const std::string path = SettingsFilePath();
  // The core library removes only the first of two equal sections.
  const int sectionsBefore = key == nullptr ? LookOnDisk(path, section, nullptr).sections : 0;
  if (!Writable(path)) {
    ReportNotWritten(path, section, key);
    return FALSE;
  }
  if (!Nlm_SetAppParam(kBase, section, key, key != nullptr ? value : nullptr)) {
    // Removing a section that is not there changes nothing: no failure to
    // tell the user about.
    if (key == nullptr && sectionsBefore == 0) return FALSE;
    ReportNotWritten(path, section, key);
    return FALSE;
  }
  // The core library says TRUE once its copy in memory changed, whether
  // or not the file could be rewritten: look at the file itself.
  const OnDisk disk = LookOnDisk(path, section, key);
  bool stored = disk.readable;
  if (key == nullptr) {
    stored = stored && (disk.sections == 0 || disk.sections < sectionsBefore);
  } else if (value == nullptr) {
    stored = stored && !disk.key;
  } else {
    stored = stored && disk.key && disk.value == value;
  }
  if (!stored) {
    // The copy in memory now holds what the disk lacks; dropping it keeps
    // later reads and writes true to the file.
    Nlm_FreeConfigStruct();
    ReportNotWritten(path, section, key);
    return FALSE;
  }
  return TRUE;
}

Nlm_Boolean WarningArgs(const char *key, const VxArg *args, int nargs) {
  static int depth = 0;
  if (key == nullptr || depth >= kMaxNestedWarnings) return TRUE;
  struct Nesting {
    Nesting() { ++depth; }
    ~Nesting() { --depth; }
  } nesting;
  // Buffers of this call only: a report about this message's own text
  // (TRANSLN) must not overwrite it.
  TextBuffer format{};
  const Read read = ReadValue(kMessageSection, key, format.data(), format.size());
  if (read == Read::kTooLong) ReportValueTooLong(kMessageSection, key);
  if (read != Read::kFound) return TRUE;
  // After a failed expansion the report about it has been shown; the
  // message itself is cut and is not shown.
  if (!TranslateFor(format.data(), format.size(), kMessageSection, key, true)) return TRUE;
  TextBuffer text{};
  std::array<char, kProblemSize> problem{};
  if (!vx::formatChecked(text.data(), text.size(), format.data(), args, nargs, problem.data(),
                         problem.size())) {
    Report("Settings file '%s', section '%s', key '%.*s':\nthe message cannot be shown: %s.", kBase,
           kMessageSection, kShownName, key, problem.data());
    return TRUE;
  }
  Nlm_Message(MSG_OK, "%s", text.data());
  return TRUE;
}

Nlm_Boolean GetConfigFilePath(void) { return access(kFileName, F_OK) == 0 ? TRUE : FALSE; }

void SettingsReload(void) { Nlm_FreeConfigStruct(); }

}  // extern "C"
