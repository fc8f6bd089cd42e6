/*
 * test_format.cc - the checked printf-style formatter behind GetParam and
 * Warning.
 *
 * Accepted formats must give exactly what printf gives; anything printf
 * would get wrong (missing or surplus arguments, wrong kinds, "%n", "*"
 * fields, numbered arguments) must be refused with a reason, and no
 * result may run past the buffer.
 */
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "format.h"

// The core library's Message macro would hide GoogleTest's testing::Message.
#undef Message

namespace {

constexpr std::size_t kOut = VX_PARBUF_SIZE;
constexpr std::size_t kProblem = 200;

struct Outcome {
  bool ok;
  std::string text;
  std::string problem;
};

Outcome Format(const char *format, const std::vector<VxArg> &args, std::size_t size = kOut) {
  std::vector<char> out(size + 8, '#');
  char problem[kProblem] = {};
  const bool ok = vx::formatChecked(out.data(), size, format, args.data(),
                                    static_cast<int>(args.size()), problem, sizeof problem);
  // Nothing may be written behind the buffer.
  for (std::size_t i = size; i < out.size(); ++i)
    EXPECT_EQ(out[i], '#') << "byte " << i << " of " << format;
  return {ok, out.data(), problem};
}

template <typename... A>
std::vector<VxArg> Args(A... args) {
  return {VxMakeArg(args)...};
}

// What printf itself makes of a format the checker accepts.
template <typename... A>
std::string Printf(const char *format, A... args) {
  char out[kOut];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(out, sizeof out, format, args...);
#pragma GCC diagnostic pop
  return out;
}

TEST(FormatChecked, GivesWhatPrintfGives) {
  EXPECT_EQ(Format("velo%04x", Args(26)).text, "velo001a");
  EXPECT_EQ(Format("100%% sure", {}).text, "100% sure");
  EXPECT_EQ(Format("%%d", {}).text, "%d");
  EXPECT_EQ(Format("plain", {}).text, "plain");
  EXPECT_EQ(Format("", {}).text, "");
  EXPECT_EQ(Format("%08lx|%i|%s|%u", Args(0xbeefL, -7, "str", 42u)).text,
            Printf("%08lx|%i|%s|%u", 0xbeefL, -7, "str", 42u));
  EXPECT_EQ(Format("%-6.2f|%+e|%G|%a", Args(3.14159, 1.5, 1e-10, 0.5)).text,
            Printf("%-6.2f|%+e|%G|%a", 3.14159, 1.5, 1e-10, 0.5));
  EXPECT_EQ(Format("%Lf", Args(2.5)).text, "2.500000");
  EXPECT_EQ(Format("[%c%c]", Args('o', 107)).text, "[ok]");
  EXPECT_EQ(Format("%-5s|%.2s|%5s", Args("ab", "xyz", "r")).text, "ab   |xy|    r");
  EXPECT_EQ(Format("%#o %#X % d", Args(8, 255, 5)).text, "010 0XFF  5");
  EXPECT_EQ(Format("%s", Args(static_cast<const char *>(nullptr))).text, "(null)");
  int object = 0;
  const void *pointer = &object;
  EXPECT_EQ(Format("%p", Args(pointer)).text, Printf("%p", pointer));
}

TEST(FormatChecked, ConvertsIntegersToTheDirectivesLength) {
  EXPECT_EQ(Format("%d", Args(static_cast<unsigned char>(200))).text, "200");
  EXPECT_EQ(Format("%lld", Args(LLONG_MIN)).text, Printf("%lld", LLONG_MIN));
  EXPECT_EQ(Format("%d", Args(0x100000001LL)).text, "1");
  EXPECT_EQ(Format("%x", Args(-1)).text, "ffffffff");
  EXPECT_EQ(Format("%lx", Args(-1)).text, Printf("%lx", -1L));
  EXPECT_EQ(Format("%hhx", Args(0x1ff)).text, "ff");
  EXPECT_EQ(Format("%hd", Args(70000)).text, Printf("%hd", static_cast<short>(70000)));
  EXPECT_EQ(Format("%u", Args(-1LL)).text, "4294967295");
  EXPECT_EQ(Format("%zu %jd %td", Args(7, 8, 9)).text, "7 8 9");
}

TEST(FormatChecked, RefusesArgumentsThatDoNotMatch) {
  const struct {
    const char *format;
    std::vector<VxArg> args;
    const char *reason;
  } cases[] = {
      {"velo%04x", {}, "but only 0 arguments are given"},
      {"%s and %s", Args("one"), "is directive 2, but only 1 argument is given"},
      {"just text", Args(1), "1 argument is given, but the text has 0 directives"},
      {"%d", Args(1, 2), "2 arguments are given, but the text has 1 directive"},
      {"%d", Args("text"), "needs an integer, but argument 1 is a string"},
      {"%s", Args(5), "needs a string, but argument 1 is a signed integer"},
      {"%f", Args(5), "needs a floating-point number"},
      {"%c", Args(1.0), "needs an integer"},
      {"%p", Args(5u), "needs a pointer"},
  };
  for (const auto &c : cases) {
    const Outcome outcome = Format(c.format, c.args);
    EXPECT_FALSE(outcome.ok) << c.format;
    EXPECT_EQ(outcome.text, "") << c.format;
    EXPECT_NE(outcome.problem.find(c.reason), std::string::npos)
        << c.format << ": " << outcome.problem;
  }
}

TEST(FormatChecked, RefusesDirectivesThatPrintfWouldMisuse) {
  int target = 0;
  const struct {
    const char *format;
    std::vector<VxArg> args;
    const char *reason;
  } cases[] = {
      {"count%n", Args(static_cast<const void *>(&target)), "\"%n\" is not allowed"},
      {"%*d", Args(4, 1), "\"*\" width"},
      {"%.*f", Args(2, 1.0), "\"*\" precision"},
      {"%1$s", Args("a"), "numbered arguments"},
      {"%[^~]", Args("a"), "no printf directive"},
      {"%k", Args(1), "no printf directive"},
      {"50%", {}, "incomplete"},
      {"%hs", Args("a"), "length does not go"},
      {"%Ld", Args(1), "length does not go"},
      {"%lc", Args(1), "length does not go"},
      {"%5%", {}, "no printf directive"},
      {"%999999999999d", Args(1), "width is too large"},
      {"%.600f", Args(1.0), "precision is too large"},
  };
  for (const auto &c : cases) {
    const Outcome outcome = Format(c.format, c.args);
    EXPECT_FALSE(outcome.ok) << c.format;
    EXPECT_NE(outcome.problem.find(c.reason), std::string::npos)
        << c.format << ": " << outcome.problem;
  }
  EXPECT_EQ(target, 0);
}

TEST(FormatChecked, NeverWritesPastTheBuffer) {
  // Exactly filling the buffer is fine; one character more is refused.
  EXPECT_TRUE(Format("%9d", Args(1), 10).ok);
  const Outcome wide = Format("%10d", Args(1), 10);
  EXPECT_FALSE(wide.ok);
  EXPECT_NE(wide.problem.find("longer than 9 characters"), std::string::npos) << wide.problem;
  EXPECT_FALSE(Format("0123456789", {}, 10).ok);
  EXPECT_TRUE(Format("012345678", {}, 10).ok);
  EXPECT_FALSE(Format("%s", Args(std::string(600, 's').c_str())).ok);
  EXPECT_FALSE(Format("%450d%100d", Args(1, 2)).ok);
  EXPECT_EQ(Format("%499d", Args(1)).text.size(), 499u);
}

}  // namespace
