/*
 * test_support_fast_paths.cc - the shortcuts that the support library
 * takes for speed give what the plain road gives.
 *
 * The description reader reads a block ahead and works on most lines where
 * they lie, looking for "$", "~", "`" and NUL once per occurrence rather
 * than once per line; GetParam copies a value without "%" instead of
 * formatting it; the expansion scans each value where the core library
 * put it and keeps reference names in a fixed store.  Each test sets the
 * shortcut beside the plain definition, or checks an edge that only the
 * shortcut has.
 */
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "settings_fixture.h"
// After the fixture, which keeps the core library's Message macro away
// from GoogleTest.
#include "descriptor_internal.h"

namespace {

using vxtest::SettingsTest;

constexpr const char *kSettings =
    "[Paths]\nKERNEL=/opt/velorix/\nA=$(Paths.KERNEL)a\nB=$(paths.a)b\n"
    "[Test]\nWORD=expanded\nMARKED=`x`\nPERCENT=100%%\nPLAIN=no directive\n"
    "LOOP=$(test.Loop2)\nLOOP2=$(TEST.loop)\n"
    "[KernelErrors]\nTRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference to "
    "undefined value\n";

// The logical line that the reader must make of one physical line: the
// comment cut off, trimmed, expanded in a line buffer; empty when nothing
// is left (the reader then goes on to the next line).
std::string PlainLine(const std::string &physical) {
  std::vector<char> buf(VX_LINE_SIZE, '\0');
  std::snprintf(buf.data(), buf.size(), "%s", physical.c_str());
  if (char *comment = std::strchr(buf.data(), '!')) *comment = '\0';
  StrTrim(buf.data());
  if (buf[0] == '\0') return "";
  TranslateSized(buf.data(), buf.size(), nullptr, nullptr);
  return buf.data();
}

std::string ReadOneLine(const std::string &physical) {
  {
    std::ofstream file("line.vel");
    file << physical << "\n";
  }
  std::string path = std::filesystem::absolute("line.vel").string();
  EXPECT_TRUE(DescOpen(path.c_str()));
  char buf[VX_LINE_SIZE];
  const char *line = GetLine(buf);
  std::string got = line != nullptr ? std::string(line) : "";
  DescClose();
  return got;
}

TEST_F(SettingsTest, ReaderLinesMatchThePlainDefinition) {
  WriteSettings(kSettings);
  // Lines with the comment mark, references, both marks and blanks in
  // every order, hand-picked first, then random ones of those pieces.
  std::vector<std::string> lines = {
      "a $(Test.WORD) ! c~d`e",
      "x ~ y ! $(No.Such)",
      "  ! $(Test.WORD) only a comment",
      "`$(Test.MARKED)` ! `",
      "$(Test.WORD)",
      "tail $",
      "$(Test.WORD)!",
      "~!~",
      "\t a|b | c \t",
      "$(Test.NOSUCH) x ! y",
      "q`!$(Test.WORD)",
      "$(",
  };
  const char *const pieces[] = {"a",
                                " ",
                                "\t",
                                "!",
                                "$",
                                "(",
                                ")",
                                ".",
                                "~",
                                "`",
                                "$(Test.WORD)",
                                "$(Test.MARKED)",
                                "$(Paths.B)",
                                "$(No.Such)",
                                "|",
                                "\x1a"};
  std::mt19937 random(20261207);
  for (int i = 0; i < 400; ++i) {
    std::string line;
    const int count = static_cast<int>(random() % 8);
    for (int j = 0; j < count; ++j)
      line += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    lines.push_back(line);
  }
  for (const std::string &line : lines) {
    Shown().clear();
    const std::string plain = PlainLine(line);
    const std::size_t plainMessages = Shown().size();
    Shown().clear();
    const std::string read = ReadOneLine(line);
    EXPECT_EQ(read, plain) << "line: '" << line << "'";
    EXPECT_EQ(Shown().size(), plainMessages) << "line: '" << line << "'";
  }
}

// A file of several read-ahead blocks, read by the descriptor and, as
// the plain definition, piece by piece with fgets: the same lines, and
// after each the same position and end-of-file state, wherever pieces,
// NULs, marks and references fall against the blocks.
TEST_F(SettingsTest, ReadingAheadKeepsLinesPositionsAndTheEnd) {
  WriteSettings(kSettings);
  const std::string kinds[] = {"  entry | a | 1   ! note\n",
                               "! comment only\n",
                               "a $(Test.WORD) ~ b\n",
                               std::string("nul") + '\0' + "after ! x\n",
                               "\t\r\n",
                               std::string(700, 'L') + "\n",
                               std::string(348, 'M') + "!\n"};
  std::string text;
  std::mt19937 random(20261208);
  while (text.size() < 100000)
    text += kinds[random() % (sizeof kinds / sizeof kinds[0])];
  text += "last line without a newline";
  {
    std::ofstream file("ahead.vel", std::ios::binary);
    file << text;
  }
  const std::string path = std::filesystem::absolute("ahead.vel").string();
  std::FILE *plain = std::fopen(path.c_str(), "r");
  ASSERT_NE(plain, nullptr);
  ASSERT_TRUE(DescOpen(path.c_str()));
  char piece[VX_LINE_SIZE];
  char line[VX_LINE_SIZE];
  int lines = 0;
  while (std::fgets(piece, sizeof piece, plain) != nullptr) {
    const std::string expected = PlainLine(piece);
    if (expected.empty()) continue;
    ASSERT_NE(GetLine(line), nullptr) << "line " << lines;
    ASSERT_EQ(std::string(line), expected) << "line " << lines;
    ASSERT_EQ(descTell(), std::ftell(plain)) << "line " << lines;
    ASSERT_EQ(DescEof() != FALSE, std::feof(plain) != 0) << "line " << lines;
    ++lines;
  }
  EXPECT_EQ(GetLine(line), nullptr);
  EXPECT_TRUE(DescEof());
  EXPECT_GT(lines, 500);
  DescClose();
  std::fclose(plain);
}

// Values that end inside a reference, or begin one that the text after
// them completes.
std::string RunOnSettings() {
  return "[S]\nP=$(S.\nK=kv\nD=$\nO=(S.K)x\nX=$(s.k)\nHALF=$(S.P)\n[KernelErrors]\nTRANSLN="
         "Settings file '%s',~section '%s',~key '%s'~contains a reference to undefined value\n";
}

TEST_F(SettingsTest, AReferenceMayEndInTheTextAfterAValue) {
  WriteSettings(RunOnSettings());
  // "$(S." from P, "K)" from the text after it: together $(S.K).
  char text[VX_PARBUF_SIZE] = "<$(S.P)K)>";
  EXPECT_TRUE(Translate(text, "Test", "TEXT"));
  EXPECT_STREQ(text, "<kv>");
  // "$" from D and "(S.K)" of the text; a reference two levels down (HALF
  // refers to P) completed by the text; one with names in another case.
  std::strcpy(text, "$(S.D)(S.K)|$(S.HALF)K)|$(S.X)");
  EXPECT_TRUE(Translate(text, "Test", "TEXT"));
  EXPECT_STREQ(text, "kv|kv|kv");
  // The search goes on at the start of each value, never back before it:
  // "$" from D and "(S.K)x" from O's value stay as they are.
  std::strcpy(text, "$(S.D)$(S.O)");
  EXPECT_TRUE(Translate(text, "Test", "TEXT"));
  EXPECT_STREQ(text, "$(S.K)x");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, GetParamWithoutArgumentsCopiesOnlyTextsWithoutPercent) {
  WriteSettings(kSettings);
  EXPECT_STREQ(GetParam("Test", "PLAIN"), "no directive");
  EXPECT_STREQ(GetParam("Paths", "B"), "/opt/velorix/ab");
  EXPECT_STREQ(GetParam("Test", "MARKED"), "x");
  // A doubled "%" still goes through the formatter and gives one.
  EXPECT_STREQ(GetParam("Test", "PERCENT"), "100%");
  EXPECT_STREQ(GetParamString("Test", "PERCENT"), "100%%");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(SettingsTest, LoopsAreFoundWhateverTheCaseOfTheNames) {
  WriteSettings(kSettings);
  EXPECT_EQ(GetParam("Test", "LOOP"), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("refers back to itself"), std::string::npos) << Shown()[0];
}

TEST_F(SettingsTest, NamesTooLongForAnySettingsLineAreUndefined) {
  WriteSettings(kSettings);
  // In a large buffer a reference may have names longer than a settings
  // buffer; they cannot be in the file, and must not overrun the store.
  const std::string section(600, 's');
  const std::string key(700, 'k');
  std::vector<char> text(4096, '\0');
  const std::string value = "x$(" + section + "." + key + ")y";
  std::memcpy(text.data(), value.c_str(), value.size() + 1);
  EXPECT_FALSE(TranslateSized(text.data(), text.size(), nullptr, nullptr));
  EXPECT_EQ(std::string(text.data()), "x$(" + section);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_NE(Shown()[0].find("undefined value"), std::string::npos);

  // Many references of long names, nested through values, all fit.
  Shown().clear();
  std::string chain = "[Long]\n";
  const std::string name(100, 'n');
  for (int i = 0; i < 20; ++i) {
    chain += name + std::to_string(i) + "=" +
             (i < 19 ? "$(Long." + name + std::to_string(i + 1) + ")" : "end") + "\n";
  }
  WriteSettings(std::string(kSettings) + chain);
  std::string start = "$(Long." + name + "0)";
  std::memcpy(text.data(), start.c_str(), start.size() + 1);
  EXPECT_TRUE(TranslateSized(text.data(), text.size(), nullptr, nullptr));
  EXPECT_STREQ(text.data(), "end");
  EXPECT_TRUE(Shown().empty());
}

}  // namespace
