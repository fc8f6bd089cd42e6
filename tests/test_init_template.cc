/*
 * test_init_template.cc - the interface-strings template init, written to a
 * file and read back both as raw lines and through the description-file
 * reader, as the analysis program reads it.
 *
 * The file's text itself is compared, as installed, with the golden copies
 * of test_installed_files.py; here the sections are counted and the file
 * is read as the analysis program reads it.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "templates.h"
#include "utility.h"

namespace {

using Lines = std::vector<std::string>;

struct Section {
  const char *name;
  size_t count;
};

// clang-format off
const std::vector<Section> kSections = {
    {"&archive", 1},  {"&curve", 52},  {"&datalib", 23},  {"&diagram", 14},
    {"&dialog", 25},  {"&function", 34}, {"&mainwnd", 58}, {"&param", 5},
    {"&point", 9},    {"&visual", 4},  {"&userfunc", 13}, {"&markers", 27},
    {"&psfonts", 12},
};
// clang-format on

std::string gFile;  // the written interface-strings file
Lines gRaw;         // its physical lines, line feeds removed
bool gAllEndInLineFeed = true;

class InitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(directory_.Make("initXXXXXX", true));
    const std::string cwd = directory_.path().string();
    // The reader expands lines through the settings: a file must be here.
    FILE *rc = std::fopen(".velorixrc", "w");
    ASSERT_NE(rc, nullptr);
    std::fputs("[Paths]\nKERNEL=", rc);
    std::fputs(cwd.c_str(), rc);
    std::fputs("/\n", rc);
    std::fclose(rc);

    // Written as the installation writes it: each line and a line feed.
    gFile = cwd + "/init.vpf";
    FILE *f = std::fopen(gFile.c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (const char *const *line = init; *line != nullptr; ++line) {
      std::fputs(*line, f);
      std::fputc('\n', f);
    }
    std::fclose(f);

    f = std::fopen(gFile.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF;) {
      if (c == '\n') {
        gRaw.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(c);
      }
    }
    if (!line.empty()) {
      gAllEndInLineFeed = false;
      gRaw.push_back(line);
    }
    std::fclose(f);
  }

  void TearDown() override {
    DescClose();
    directory_.Remove();
  }

 private:
  vxtest::ScratchDirectory directory_;
};

[[maybe_unused]] const auto *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new InitEnvironment);

// The raw lines of section name, without its section line.
Lines rawSection(const std::string &name) {
  Lines lines;
  bool inside = false;
  for (const std::string &line : gRaw) {
    if (!line.empty() && line[0] == '&') {
      if (inside) {
        break;
      }
      inside = line == name;
      continue;
    }
    if (inside) {
      lines.push_back(line);
    }
  }
  return lines;
}

TEST(InitTemplate, TableHasItsLinesAndEndsWithNull) {
  for (size_t i = 0; i < kInitLines; ++i) {
    ASSERT_NE(init[i], nullptr) << "line " << i + 1;
  }
  EXPECT_EQ(init[kInitLines], nullptr);
}

TEST(InitTemplate, FileHasAllLinesInOrder) {
  EXPECT_TRUE(gAllEndInLineFeed);
  ASSERT_EQ(gRaw.size(), 290u);
  EXPECT_EQ(gRaw.front(), "&archive");
  EXPECT_EQ(gRaw.back(), "Courier-BoldOblique");
  Lines sectionLines;
  for (const std::string &line : gRaw) {
    if (line[0] == '&') {
      sectionLines.push_back(line);
    }
  }
  Lines expected;
  for (const Section &s : kSections) {
    expected.emplace_back(s.name);
    EXPECT_EQ(rawSection(s.name).size(), s.count) << s.name;
  }
  EXPECT_EQ(sectionLines, expected);
}

class InitReadBack : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DescOpen(gFile.c_str())); }
  void TearDown() override { DescClose(); }
};

TEST_F(InitReadBack, SectionsCountThroughTheReader) {
  Nlm_Int2 total = 0;
  for (const Section &s : kSections) {
    DescRewind();
    ASSERT_NE(FindLine(s.name), -1) << s.name;
    const Nlm_Int2 count = CountLines();
    EXPECT_EQ(count, static_cast<Nlm_Int2>(s.count)) << s.name;
    total = static_cast<Nlm_Int2>(total + count + 1);
  }
  EXPECT_EQ(total, 290);
}

TEST_F(InitReadBack, LastSectionsAfterOneAnother) {
  // Searching on from where the previous count left the reader.
  ASSERT_NE(FindLine("&userfunc"), -1);
  EXPECT_EQ(CountLines(), 13);
  ASSERT_NE(FindLine("&markers"), -1);
  EXPECT_EQ(CountLines(), 27);
  ASSERT_NE(FindLine("&psfonts"), -1);
  EXPECT_EQ(CountLines(), 12);
  char buf[VX_LINE_SIZE];
  ASSERT_NE(GetLine(buf), nullptr);
  EXPECT_STREQ(buf, "Times-Roman");
}

TEST_F(InitReadBack, ReaderDropsCommentsAndBreaksLines) {
  char buf[VX_LINE_SIZE];
  ASSERT_NE(FindLine("&userfunc"), -1);
  Lines lines;
  while (GetLine(buf) != nullptr && buf[0] != '&') {
    lines.emplace_back(buf);
  }
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[6], "LIST=15 10");
  EXPECT_EQ(lines[7], "EDITOR=38 15");

  DescRewind();
  ASSERT_NE(FindLine("&datalib"), -1);
  ASSERT_NE(GetLine(buf), nullptr);
  EXPECT_STREQ(buf, "LIST=38 20");
  while (GetLine(buf) != nullptr && std::strncmp(buf, "DELETE_T=", 9) != 0) {
  }
  EXPECT_STREQ(buf, "DELETE_T=Do you wish to delete\n'%s'?");
  while (GetLine(buf) != nullptr && std::strncmp(buf, "ESCAPE_B=", 9) != 0) {
  }
  EXPECT_STREQ(buf, "ESCAPE_B=\"   Up   \"");
}

TEST_F(InitReadBack, EveryLineIsDeliveredOnce) {
  char buf[VX_LINE_SIZE];
  int count = 0;
  while (GetLine(buf) != nullptr) {
    ++count;
  }
  EXPECT_EQ(count, 290);
  EXPECT_TRUE(DescEof());
}

}  // namespace
