/*
 * format.cc - checked printf-style formatting of settings values and
 * message texts.
 *
 * Values such as "FORMAT=velo%04x" or the message texts of section
 * KernelErrors are printf formats that the user may edit.  Handing such a
 * text to printf with arguments it does not describe is undefined
 * behaviour, so each directive is parsed here, matched against the kind of
 * the argument it consumes, and formatted alone with snprintf into what is
 * left of the bounded output buffer.  Text between directives is copied as
 * it is.  Integer arguments of any width are accepted for integer
 * directives and converted to the directive's length, as printf's caller
 * would have had to do.
 */
#include "format.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace vx {
namespace {

// How much of an offending directive a problem report quotes.
constexpr int kShownDirective = 24;
// Text printed for a null string argument, as glibc's printf does.
constexpr const char *kNullString = "(null)";

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kLongDouble };

enum class Conversion { kSigned, kUnsigned, kChar, kString, kPointer, kFloat };

struct Directive {
  const char *begin = nullptr;  // the "%"
  std::size_t length = 0;       // up to and including the conversion letter
  Length size = Length::kNone;
  Conversion conversion = Conversion::kSigned;
};

const char *kindName(VxArgKind kind) {
  switch (kind) {
    case VX_ARG_INT:
      return "a signed integer";
    case VX_ARG_UINT:
      return "an unsigned integer";
    case VX_ARG_DOUBLE:
      return "a floating-point number";
    case VX_ARG_STRING:
      return "a string";
    case VX_ARG_POINTER:
      return "a pointer";
  }
  return "an argument of unknown kind";
}

const char *conversionNeeds(Conversion conversion) {
  switch (conversion) {
    case Conversion::kSigned:
    case Conversion::kUnsigned:
    case Conversion::kChar:
      return "an integer";
    case Conversion::kString:
      return "a string";
    case Conversion::kPointer:
      return "a pointer";
    case Conversion::kFloat:
      return "a floating-point number";
  }
  return "an argument";
}

// Writes a problem report; never longer than problemSize - 1.
void say(char *problem, std::size_t problemSize, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void say(char *problem, std::size_t problemSize, const char *format, ...) {
  if (problem == nullptr || problemSize == 0) return;
  va_list list;
  va_start(list, format);
  std::vsnprintf(problem, problemSize, format, list);
  va_end(list);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal field at *p (moving past it); false when it is larger
// than kMaxFieldWidth.
bool readField(const char *&p) {
  long value = 0;
  while (isDigit(*p)) {
    value = value * 10 + (*p - '0');
    if (value > kMaxFieldWidth) return false;
    ++p;
  }
  return true;
}

// Parses the directive that begins with the "%" at text.  On success fills
// directive; otherwise writes the problem and returns false.  "%%" is not
// handled here.
bool parseDirective(const char *text, Directive &directive, char *problem,
                    std::size_t problemSize) {
  const char *p = text + 1;
  directive.begin = text;
  auto quote = [&](const char *what) {
    const int shown = static_cast<int>(std::min<std::size_t>(std::strlen(text), kShownDirective));
    say(problem, problemSize, "\"%.*s\": %s", shown, text, what);
    return false;
  };
  while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr)
    ++p;
  if (*p == '*') return quote("a \"*\" width is not allowed");
  const char *widthStart = p;
  if (!readField(p)) return quote("the width is too large");
  if (*p == '$' && p != widthStart) return quote("numbered arguments (\"$\") are not allowed");
  if (*p == '.') {
    ++p;
    if (*p == '*') return quote("a \"*\" precision is not allowed");
    if (!readField(p)) return quote("the precision is too large");
  }
  switch (*p) {
    case 'h':
      ++p;
      directive.size = Length::kShort;
      if (*p == 'h') {
        ++p;
        directive.size = Length::kChar;
      }
      break;
    case 'l':
      ++p;
      directive.size = Length::kLong;
      if (*p == 'l') {
        ++p;
        directive.size = Length::kLongLong;
      }
      break;
    case 'q':
      ++p;
      directive.size = Length::kLongLong;
      break;
    case 'j':
      ++p;
      directive.size = Length::kIntMax;
      break;
    case 'z':
      ++p;
      directive.size = Length::kSize;
      break;
    case 't':
      ++p;
      directive.size = Length::kPtrDiff;
      break;
    case 'L':
      ++p;
      directive.size = Length::kLongDouble;
      break;
    default:
      break;
  }
  const bool intLength = directive.size != Length::kLongDouble;
  const bool plain = directive.size == Length::kNone;
  bool lengthFits = true;
  switch (*p) {
    case 'd':
    case 'i':
      directive.conversion = Conversion::kSigned;
      lengthFits = intLength;
      break;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      directive.conversion = Conversion::kUnsigned;
      lengthFits = intLength;
      break;
    case 'c':
      directive.conversion = Conversion::kChar;
      lengthFits = plain;
      break;
    case 's':
      directive.conversion = Conversion::kString;
      lengthFits = plain;
      break;
    case 'p':
      directive.conversion = Conversion::kPointer;
      lengthFits = plain;
      break;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      directive.conversion = Conversion::kFloat;
      lengthFits =
          plain || directive.size == Length::kLong || directive.size == Length::kLongDouble;
      break;
    case 'n':
      return quote("\"%n\" is not allowed");
    case '\0':
      return quote("the directive is incomplete");
    default:
      return quote("this is no printf directive (write \"%%\" for a percent sign)");
  }
  if (!lengthFits) return quote("this length does not go with this conversion");
  directive.length = static_cast<std::size_t>(p + 1 - text);
  return true;
}

// True when an argument of kind may fill directive.
bool kindFits(Conversion conversion, VxArgKind kind) {
  switch (conversion) {
    case Conversion::kSigned:
    case Conversion::kUnsigned:
    case Conversion::kChar:
      return kind == VX_ARG_INT || kind == VX_ARG_UINT;
    case Conversion::kString:
      return kind == VX_ARG_STRING;
    case Conversion::kPointer:
      return kind == VX_ARG_POINTER || kind == VX_ARG_STRING;
    case Conversion::kFloat:
      return kind == VX_ARG_DOUBLE;
  }
  return false;
}

// snprintf of one checked directive.  piece is a copy of a directive that
// parseDirective accepted and the value has the C type that the directive
// names, which is what makes a non-literal format safe here.
template <typename T>
int formatOne(char *out, std::size_t size, const char *piece, T value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return std::snprintf(out, size, piece, value);
#pragma GCC diagnostic pop
}

// The argument's integer bits, whatever its tagged kind.
unsigned long long integerBits(const VxArg &arg) {
  return arg.kind == VX_ARG_INT ? static_cast<unsigned long long>(arg.value.i) : arg.value.u;
}

int formatInteger(char *out, std::size_t size, const char *piece, const Directive &directive,
                  const VxArg &arg) {
  const unsigned long long bits = integerBits(arg);
  using PtrDiffBits = std::make_unsigned_t<std::ptrdiff_t>;
  if (directive.conversion == Conversion::kChar)
    return formatOne(out, size, piece, static_cast<int>(bits));
  if (directive.conversion == Conversion::kSigned) {
    // Converting through the unsigned bits keeps the value's low-order bits
    // for every width, as a cast in the caller would.
    switch (directive.size) {
      case Length::kChar:
        return formatOne(out, size, piece, static_cast<int>(static_cast<signed char>(bits)));
      case Length::kShort:
        return formatOne(out, size, piece, static_cast<int>(static_cast<short>(bits)));
      case Length::kLong:
        return formatOne(out, size, piece, static_cast<long>(bits));
      case Length::kLongLong:
        return formatOne(out, size, piece, static_cast<long long>(bits));
      case Length::kIntMax:
        return formatOne(out, size, piece, static_cast<std::intmax_t>(bits));
      case Length::kSize:
        return formatOne(out, size, piece, static_cast<std::make_signed_t<std::size_t>>(bits));
      case Length::kPtrDiff:
        return formatOne(out, size, piece, static_cast<std::ptrdiff_t>(bits));
      default:
        return formatOne(out, size, piece, static_cast<int>(bits));
    }
  }
  switch (directive.size) {
    case Length::kChar:
      return formatOne(out, size, piece, static_cast<unsigned>(static_cast<unsigned char>(bits)));
    case Length::kShort:
      return formatOne(out, size, piece, static_cast<unsigned>(static_cast<unsigned short>(bits)));
    case Length::kLong:
      return formatOne(out, size, piece, static_cast<unsigned long>(bits));
    case Length::kLongLong:
      return formatOne(out, size, piece, bits);
    case Length::kIntMax:
      return formatOne(out, size, piece, static_cast<std::uintmax_t>(bits));
    case Length::kSize:
      return formatOne(out, size, piece, static_cast<std::size_t>(bits));
    case Length::kPtrDiff:
      return formatOne(out, size, piece, static_cast<PtrDiffBits>(bits));
    default:
      return formatOne(out, size, piece, static_cast<unsigned>(bits));
  }
}

int formatArgument(char *out, std::size_t size, const char *piece, const Directive &directive,
                   const VxArg &arg) {
  switch (directive.conversion) {
    case Conversion::kString:
      return formatOne(out, size, piece, arg.value.s != nullptr ? arg.value.s : kNullString);
    case Conversion::kPointer:
      return formatOne(
          out, size, piece,
          arg.kind == VX_ARG_STRING ? static_cast<const void *>(arg.value.s) : arg.value.p);
    case Conversion::kFloat:
      if (directive.size == Length::kLongDouble)
        return formatOne(out, size, piece, static_cast<long double>(arg.value.d));
      return formatOne(out, size, piece, arg.value.d);
    default:
      return formatInteger(out, size, piece, directive, arg);
  }
}

}  // namespace

bool formatChecked(char *out, std::size_t outSize, const char *format, const VxArg *args, int nargs,
                   char *problem, std::size_t problemSize) {
  if (problem != nullptr && problemSize > 0) problem[0] = '\0';
  if (out == nullptr || outSize == 0) return false;
  out[0] = '\0';
  if (format == nullptr) {
    say(problem, problemSize, "there is no text to format");
    return false;
  }
  if (nargs < 0 || (nargs > 0 && args == nullptr)) nargs = 0;
  const auto fail = [&]() {
    out[0] = '\0';
    return false;
  };
  const auto tooLong = [&]() {
    say(problem, problemSize, "the result would be longer than %zu characters", outSize - 1);
    return fail();
  };
  std::size_t used = 0;
  int next = 0;  // index of the next argument to consume
  for (const char *p = format; *p != '\0';) {
    if (*p != '%' || p[1] == '%') {
      if (used + 1 >= outSize) return tooLong();
      // A doubled "%" stands for one.
      const bool percent = *p == '%';
      out[used++] = *p;
      p += percent ? 2 : 1;
      continue;
    }
    Directive directive;
    if (!parseDirective(p, directive, problem, problemSize)) return fail();
    // The directive alone, as a format of its own.
    char piece[kShownDirective + kMaxFieldWidth] = {};
    if (directive.length >= sizeof piece) {
      say(problem, problemSize, "a directive is too long");
      return fail();
    }
    std::memcpy(piece, directive.begin, directive.length);
    const int shown = static_cast<int>(directive.length);
    if (next >= nargs) {
      say(problem, problemSize, "\"%.*s\" is directive %d, but only %d argument%s given", shown,
          directive.begin, next + 1, nargs, nargs == 1 ? " is" : "s are");
      return fail();
    }
    const VxArg &arg = args[next];
    if (!kindFits(directive.conversion, arg.kind)) {
      say(problem, problemSize, "\"%.*s\" needs %s, but argument %d is %s", shown, directive.begin,
          conversionNeeds(directive.conversion), next + 1, kindName(arg.kind));
      return fail();
    }
    out[used] = '\0';
    const int written = formatArgument(out + used, outSize - used, piece, directive, arg);
    if (written < 0) {
      say(problem, problemSize, "\"%.*s\" could not be formatted", shown, directive.begin);
      return fail();
    }
    if (static_cast<std::size_t>(written) >= outSize - used) return tooLong();
    used += static_cast<std::size_t>(written);
    ++next;
    p += directive.length;
  }
  if (next < nargs) {
    say(problem, problemSize, "%d argument%s given, but the text has %d directive%s", nargs,
        nargs == 1 ? " is" : "s are", next, next == 1 ? "" : "s");
    return fail();
  }
  out[used] = '\0';
  return true;
}

}  // namespace vx
