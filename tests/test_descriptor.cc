/*
 * test_descriptor.cc - the description-file reader: logical lines,
 * includes, search, counting, columns and saved positions.
 *
 * The program works in a private directory under its scratch directory:
 * a settings file there gives [Paths] KERNEL (a "kernel" subdirectory, for
 * bare include names) and a few values for expansion.  Message boxes are
 * caught by a message hook and kept for the cases that must report.
 */
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "descriptor_internal.h"
#include "settings_fixture.h"
#include "utility.h"

namespace {

std::string gRoot;    // the private directory, also the working directory
std::string gKernel;  // [Paths] KERNEL, ending in "/"
std::vector<std::string> &gMessages = vxtest::Messages();

void writeFile(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// A value of 200 characters: two of them do not fit a 350-byte line.
const std::string kLongValue(200, 'L');

class DescriptorEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(directory_.Make("descXXXXXX", true));
    gRoot = directory_.path().string();
    gKernel = gRoot + "/kernel/";
    ASSERT_EQ(mkdir(gKernel.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((gRoot + "/other").c_str(), 0700), 0);
    // The settings file must exist here before the first settings call.
    writeFile(".velorixrc", "[Paths]\nKERNEL=" + gKernel +
                                "\n\n[Test]\nWORD=expanded\nLONG=" + kLongValue +
                                "\n\n[KernelErrors]\n"
                                "TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains "
                                "a reference to undefined value\n");
    Nlm_SetMessageHook(vxtest::CaptureMessage);

    writeFile(gKernel + "inc1.vel", "one-a\none-b\n");
    writeFile(gRoot + "/other/inc2.vel", "two-a\n&&inc3.vel\ntwo-b\n");
    writeFile(gKernel + "inc3.vel", "three-a\n&&inc1.vel\nthree-b\n");
    writeFile(gKernel + "incsec.vel", "&sec\ne1\ne2\n");
  }

  void TearDown() override {
    DescClose();
    directory_.Remove();
  }

 private:
  vxtest::ScratchDirectory directory_;
};

[[maybe_unused]] const auto *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new DescriptorEnvironment);

class Descriptor : public ::testing::Test {
 protected:
  void SetUp() override { gMessages.clear(); }
  void TearDown() override { DescClose(); }

  // Writes text as name in the private directory and opens it.
  void open(const std::string &name, const std::string &text) {
    const std::string path = gRoot + "/" + name;
    writeFile(path, text);
    ASSERT_TRUE(DescOpen(path.c_str()));
  }

  // Every remaining logical line, includes followed.
  static std::vector<std::string> rest() {
    std::vector<std::string> lines;
    char buf[VX_LINE_SIZE];
    while (GetLine(buf) != nullptr) {
      lines.emplace_back(buf);
    }
    return lines;
  }

  static std::string next() {
    char buf[VX_LINE_SIZE];
    return GetLine(buf) != nullptr ? std::string(buf) : std::string("<end>");
  }
};

using Lines = std::vector<std::string>;

TEST(DescriptorName, BareNamesLieInTheProductDirectory) {
  EXPECT_EQ(std::string(descGetName("class.vel")), gKernel + "class.vel");
  const char *withSlash = "./here/class.vel";
  EXPECT_EQ(descGetName(withSlash), withSlash);
  // The name may itself lie in ParBuf.
  std::strcpy(ParBuf, "inc1.vel");
  EXPECT_EQ(std::string(descGetName(ParBuf)), gKernel + "inc1.vel");
}

TEST(DescriptorName, PercentInTheProductDirectoryIsPartOfTheName) {
  const std::string dir = gRoot + "/100%done/";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  writeFile(dir + "pct.vel", "pct\n");
  char value[VX_PARBUF_SIZE];
  std::snprintf(value, sizeof value, "%s", dir.c_str());
  ASSERT_TRUE(SetParam("Paths", "KERNEL", value));
  gMessages.clear();
  const bool opened = DescOpen("pct.vel");
  std::snprintf(value, sizeof value, "%s", gKernel.c_str());
  SetParam("Paths", "KERNEL", value);
  EXPECT_TRUE(opened);
  EXPECT_TRUE(gMessages.empty()) << gMessages[0];
  char buf[VX_LINE_SIZE];
  ASSERT_NE(GetLine(buf), nullptr);
  EXPECT_STREQ(buf, "pct");
  DescClose();
}

TEST(DescriptorName, PathLongerThanParBufIsRefused) {
  gMessages.clear();
  const std::string name(VX_PARBUF_SIZE - 5, 'n');
  EXPECT_EQ(descGetName(name.c_str()), nullptr);
  ASSERT_EQ(gMessages.size(), 1u);
  EXPECT_NE(gMessages[0].find("longer than"), std::string::npos);
  EXPECT_FALSE(DescOpen(name.c_str()));
}

TEST_F(Descriptor, CommentsBlanksAndEmptyMarks) {
  open("blank.vel", "  text with blank ! and a comment\n"
                    "! only a comment\n"
                    "   \t \n"
                    "\n"
                    "`\n"
                    "\x1a last\r\n");
  EXPECT_EQ(rest(), (Lines{"text with blank", "", "last"}));
  EXPECT_TRUE(DescEof());
}

TEST_F(Descriptor, LongPhysicalLinesComeInPieces) {
  const std::string l350(VX_LINE_SIZE, 'a');
  const std::string l349(VX_LINE_SIZE - 1, 'b');
  open("long.vel", l350 + "\n" + l349 + "\nend\n");
  EXPECT_EQ(rest(), (Lines{std::string(VX_LINE_SIZE - 1, 'a'), "a", l349, "end"}));

  // A larger buffer is room for expansion; the pieces stay the same.
  DescRewind();
  std::vector<char> big(3 * VX_LINE_SIZE);
  ASSERT_NE(GetLineSized(big.data(), big.size()), nullptr);
  EXPECT_EQ(std::strlen(big.data()), VX_LINE_SIZE - 1u);
}

TEST_F(Descriptor, ReferencesAndMarksAreExpanded) {
  open("expand.vel", "a $(Test.WORD) b~c\n$(Test.NOSUCH) x\nafter\n");
  EXPECT_EQ(next(), "a expanded b\nc");
  EXPECT_TRUE(gMessages.empty());
  // An undefined reference is reported and the line still delivered, as
  // the expansion left it: cut just before the reference's ".".
  const std::string cut = next();
  EXPECT_NE(cut, "<end>");
  EXPECT_EQ(cut, "$(Test");
  EXPECT_EQ(gMessages.size(), 1u);
  EXPECT_EQ(next(), "after");
}

TEST_F(Descriptor, OverlongExpansionNeverOverrunsTheBuffer) {
  open("overlong.vel", "$(Test.LONG)$(Test.LONG)\nafter\n");
  // Exactly VX_LINE_SIZE bytes on the heap, so a write past it is caught
  // by the address sanitizer build.
  std::vector<char> buf(VX_LINE_SIZE);
  ASSERT_NE(GetLine(buf.data()), nullptr);
  EXPECT_LT(std::strlen(buf.data()), buf.size());
  EXPECT_FALSE(gMessages.empty()) << "the refused expansion must be reported";
  EXPECT_EQ(next(), "after");

  // A caller with room for the expansion gets it whole.
  gMessages.clear();
  DescRewind();
  std::vector<char> big(2 * VX_LINE_SIZE);
  ASSERT_NE(GetLineSized(big.data(), big.size()), nullptr);
  EXPECT_EQ(std::string(big.data()), kLongValue + kLongValue);
  EXPECT_TRUE(gMessages.empty());
}

TEST_F(Descriptor, BufferTooSmallForAnyTextGivesNoLine) {
  open("tiny.vel", "x\n");
  char one[1];
  EXPECT_EQ(GetLineSized(one, sizeof one), nullptr);
}

TEST_F(Descriptor, IncludesAreFollowedTwoLevelsDeep) {
  open("main.vel",
       "first\n"
       "&&inc1.vel\n"  // bare name: the product directory
       "after1\n"
       "&&" +
           gRoot +
           "/other/inc2.vel\n"  // a path: used unchanged
           "after2\n"
           "&& inc1.vel\n"  // the blank is part of the name: no such file
           "&&missing.vel\n"
           "last\n");
  // inc2 includes inc3 (level 2), whose own include line is a plain line.
  EXPECT_EQ(rest(), (Lines{"first", "one-a", "one-b", "after1", "two-a", "three-a", "&&inc1.vel",
                           "three-b", "two-b", "after2", "last"}));
  EXPECT_TRUE(DescEof());
  EXPECT_EQ(descLevel(), 0);
}

TEST_F(Descriptor, InnermostReadDoesNotFollowIncludes) {
  open("inner.vel", "&&inc1.vel\nx\n");
  char buf[VX_LINE_SIZE];
  ASSERT_NE(getLine(buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "&&inc1.vel");
  EXPECT_EQ(descLevel(), 0);
}

TEST_F(Descriptor, EofIsFalseWhileAnIncludeIsRead) {
  // No newline after the include line: the main file is at its end as
  // soon as that line has been read.
  open("eof.vel", "x\n&&inc1.vel");
  EXPECT_EQ(next(), "x");
  EXPECT_EQ(next(), "one-a");
  EXPECT_EQ(descLevel(), 1);
  EXPECT_FALSE(DescEof());
  EXPECT_EQ(next(), "one-b");
  EXPECT_FALSE(DescEof());
  EXPECT_EQ(next(), "<end>");
  EXPECT_TRUE(DescEof());
}

TEST_F(Descriptor, FindLineFindsEachOccurrenceInTurn) {
  open("find.vel", "&sec\na\n&sec\nb\n");
  const Nlm_Int4 first = FindLine("&sec");
  EXPECT_EQ(first, 5);  // just after "&sec\n", level 0
  EXPECT_EQ(next(), "a");
  const Nlm_Int4 second = FindLine("&sec");
  EXPECT_EQ(second, 12);
  EXPECT_EQ(next(), "b");
  EXPECT_EQ(DescSeek(first), 0);
  EXPECT_EQ(next(), "a");
}

TEST_F(Descriptor, FindLineThatFindsNothingLeavesTheEnd) {
  open("nothing.vel", "&sec\na\n");
  EXPECT_EQ(FindLine("&none"), -1);
  EXPECT_TRUE(DescEof());
  // Whole lines only, case-sensitive.
  DescRewind();
  EXPECT_FALSE(DescEof());
  EXPECT_EQ(FindLine("&se"), -1);
  DescRewind();
  EXPECT_EQ(FindLine("&SEC"), -1);
  DescRewind();
  EXPECT_EQ(next(), "&sec");
}

TEST_F(Descriptor, CountLinesCountsASectionWithItsIncludes) {
  open("count.vel", "&a\nx\n&&inc1.vel\ny\n&b\nz\n");
  ASSERT_NE(FindLine("&a"), -1);
  EXPECT_EQ(CountLines(), 4);  // x, one-a, one-b, y
  EXPECT_EQ(next(), "x");
  ASSERT_NE(FindLine("&b"), -1);
  EXPECT_EQ(CountLines(), 1);  // the last section runs to the end
  EXPECT_FALSE(DescEof());
  EXPECT_EQ(next(), "z");
}

TEST_F(Descriptor, IncludeLineAtTheDeepestLevelEndsACount) {
  open("deep.vel", "&s\n&&" + gRoot + "/other/inc2.vel\nm\n");
  ASSERT_NE(FindLine("&s"), -1);
  EXPECT_EQ(CountLines(), 2);  // two-a, three-a, then "&&inc1.vel"
  EXPECT_EQ(next(), "two-a");
}

TEST_F(Descriptor, ColumnsOfTheThreeLineExample) {
  open("columns.vel", "a|b|c\nd\n|e\n&next\n");
  EXPECT_EQ(mCountLines(1), 3);
  EXPECT_EQ(mCountLines(0), 2);
  char buf[VX_LINE_SIZE];
  std::vector<std::string> got;
  for (int i = 0; i < 4 && mGetLine(buf, 1) != nullptr; ++i) {
    got.emplace_back(buf);
  }
  // A section line is its own column 0 and is not skipped.
  EXPECT_EQ(got, (Lines{"b", "d", "e", "&next"}));
  EXPECT_EQ(mGetLine(buf, 1), nullptr);

  DescRewind();
  got.clear();
  while (mGetLine(buf, -1) != nullptr) {  // a negative index: the last column
    got.emplace_back(buf);
  }
  EXPECT_EQ(got, (Lines{"c", "d", "e", "&next"}));
}

TEST_F(Descriptor, ColumnsAreTrimmedAndFollowIncludes) {
  open("colinc.vel", "  x |  y  | z\n&&inc1.vel\n p | \n");
  char buf[VX_LINE_SIZE];
  ASSERT_NE(mGetLine(buf, 1), nullptr);
  EXPECT_STREQ(buf, "y");
  ASSERT_NE(mGetLine(buf, 1), nullptr);
  EXPECT_STREQ(buf, "one-a");  // fewer columns: the last one
  ASSERT_NE(mGetLine(buf, 1), nullptr);
  EXPECT_STREQ(buf, "one-b");
  EXPECT_EQ(mGetLine(buf, 1), nullptr);  // " p | " has an empty column 1
}

TEST_F(Descriptor, PositionsAcrossLevels) {
  open("levels.vel", "m1\n&&inc1.vel\nm2\nm3\n");
  const Nlm_Int4 inInclude = FindLine("one-a");
  ASSERT_NE(inInclude, -1);
  EXPECT_EQ(inInclude >> VX_DESC_LEVEL_SHIFT, 1);
  EXPECT_EQ(inInclude & (VX_DESC_OFFSET_LIMIT - 1), 6);
  EXPECT_EQ(next(), "one-b");
  EXPECT_EQ(DescSeek(inInclude), 0);
  EXPECT_EQ(next(), "one-b");
  EXPECT_EQ(next(), "m2");

  // Back into the main file from inside an include closes the include.
  DescRewind();
  const Nlm_Int4 inMain = FindLine("m1");
  EXPECT_EQ(next(), "one-a");
  EXPECT_EQ(descLevel(), 1);
  EXPECT_EQ(DescSeek(inMain), 0);
  EXPECT_EQ(descLevel(), 0);
  EXPECT_EQ(next(), "one-a");
}

TEST_F(Descriptor, PositionInAClosedIncludeIsRefused) {
  open("closed.vel", "&&inc1.vel\nm1\nm2\n");
  const Nlm_Int4 inInclude = FindLine("one-a");
  ASSERT_NE(inInclude, -1);
  EXPECT_EQ(next(), "one-b");
  EXPECT_EQ(next(), "m1");  // inc1 has ended and is closed
  EXPECT_EQ(descLevel(), 0);
  EXPECT_NE(DescSeek(inInclude), 0);
  // Refused without harm: reading goes on where it was.
  EXPECT_EQ(next(), "m2");
}

TEST_F(Descriptor, CountFromAnIncludedSectionComesBackIntoIt) {
  // The section starts in an included file and runs on past its end.
  open("incsec.vel", "&&incsec.vel\nm1\n&other\n");
  ASSERT_NE(FindLine("&sec"), -1);
  EXPECT_EQ(CountLines(), 3);  // e1, e2, m1
  EXPECT_EQ(descLevel(), 1);
  EXPECT_EQ(mCountLines(0), 3);
  EXPECT_EQ(rest(), (Lines{"e1", "e2", "m1", "&other"}));
}

TEST_F(Descriptor, SeekRefusesWhatIsNoPosition) {
  open("seek.vel", "a\nb\n");
  EXPECT_EQ(next(), "a");
  EXPECT_NE(DescSeek(-1), 0);
  EXPECT_NE(DescSeek(5 << VX_DESC_LEVEL_SHIFT), 0);
  EXPECT_EQ(next(), "b");
}

TEST_F(Descriptor, MainFileThatDidNotOpenDeliversNothing) {
  EXPECT_FALSE(DescOpen((gRoot + "/absent.vel").c_str()));
  EXPECT_TRUE(gMessages.empty());
  char buf[VX_LINE_SIZE];
  EXPECT_EQ(GetLine(buf), nullptr);
  EXPECT_EQ(mGetLine(buf, 0), nullptr);
  EXPECT_EQ(FindLine("x"), -1);
  EXPECT_EQ(CountLines(), 0);
  EXPECT_EQ(mCountLines(0), 0);
  EXPECT_TRUE(DescEof());
  DescRewind();
  EXPECT_NE(DescSeek(0), 0);
  DescClose();
  DescClose();
}

int openDescriptors() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) {
      ++count;
    }
    closedir(dir);
  }
  return count;
}

TEST_F(Descriptor, OpenWhileOpenClosesThePreviousFiles) {
  writeFile(gRoot + "/second.vel", "s1\n");
  const int before = openDescriptors();
  open("first.vel", "f1\n&&inc1.vel\nf2\n");
  EXPECT_EQ(next(), "f1");
  EXPECT_EQ(next(), "one-a");  // two files open now
  ASSERT_TRUE(DescOpen((gRoot + "/second.vel").c_str()));
  EXPECT_EQ(descLevel(), 0);
  EXPECT_EQ(rest(), (Lines{"s1"}));
  DescClose();
  EXPECT_EQ(openDescriptors(), before);
}

// A file is read only when every position in it can be kept (16 MiB): a
// larger one is not opened, and an include of one is skipped with a
// message, as any include that cannot be read is.
TEST_F(Descriptor, FilesLargerThanPositionsCountAreNotRead) {
  // Sparse files: "head", NUL bytes, then the last lines.
  auto sparse = [](const std::string &path, long lastLines) {
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("head\n", f);
    std::fseek(f, lastLines, SEEK_SET);
    std::fputs("\ntarget\ntail\n", f);
    std::fclose(f);
  };
  const std::string tooLarge = gRoot + "/huge.vel", largest = gRoot + "/largest.vel";
  sparse(tooLarge, VX_DESC_OFFSET_LIMIT - 1);
  sparse(largest, VX_DESC_OFFSET_LIMIT - 20);
  EXPECT_FALSE(DescOpen(tooLarge.c_str()));
  DescClose();

  ASSERT_TRUE(DescOpen(largest.c_str()));
  EXPECT_EQ(FindLine("head"), 5);
  EXPECT_EQ(FindLine("target"), VX_DESC_OFFSET_LIMIT - 12);
  EXPECT_EQ(next(), "tail");
  DescClose();

  const std::string including = gRoot + "/including.vel";
  FILE *f = std::fopen(including.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "first\n&&%s\nlast\n", tooLarge.c_str());
  std::fclose(f);
  gMessages.clear();
  ASSERT_TRUE(DescOpen(including.c_str()));
  EXPECT_EQ(next(), "first");
  EXPECT_EQ(next(), "last");
  ASSERT_EQ(gMessages.size(), 1u);
  EXPECT_EQ(gMessages[0], "The included description file '" + tooLarge + "' is larger than " +
                              std::to_string(VX_DESC_OFFSET_LIMIT - 1) + " bytes; it was skipped.");
  DescClose();
  for (const std::string &path : {tooLarge, largest, including})
    unlink(path.c_str());
}

TEST_F(Descriptor, BareNameWithoutProductDirectoryIsRefused) {
  // The product directory comes back however the test ends.
  struct RestoreKernel {
    ~RestoreKernel() {
      char kernel[VX_PARBUF_SIZE];
      std::snprintf(kernel, sizeof kernel, "%s", gKernel.c_str());
      SetParam("Paths", "KERNEL", kernel);
    }
  } restore;
  SetParam("Paths", nullptr, nullptr);
  EXPECT_FALSE(DescOpen("inc1.vel"));
  EXPECT_FALSE(gMessages.empty());  // the settings' "not found"
  // An include by bare name is skipped; paths still work.
  open("nokernel.vel", "a\n&&inc1.vel\n&&" + gKernel + "inc1.vel\nb\n");
  EXPECT_EQ(rest(), (Lines{"a", "one-a", "one-b", "b"}));
}

}  // namespace
