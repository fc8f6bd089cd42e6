/*
 * test_shell_detection.cc - the shell style from SHELL and the shell list
 * file, and the shell path text, without a display.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "form.h"
#include "initial_form.h"
#include "shell_detection.h"

// The core library names its message function Message too.
#undef Message

namespace {

// A shell list file in a directory of its own, removed afterwards.
class ShellListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vx-shells-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/shells.vel";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  void Write(const std::string &text) {
    std::ofstream out(path_, std::ios::binary);
    out << text;
  }
  int Style(const char *shell) { return DetectShellStyle(path_.c_str(), shell).style; }

  std::string dir_;
  std::string path_;
};

TEST_F(ShellListTest, MatchingLineSetsTheStyleByItsLetter) {
  Write("bash k\n");
  EXPECT_EQ(Style("/usr/local/bin/bash"), kShellStyleKsh);
  Write("tcsh c\n");
  EXPECT_EQ(Style("/bin/tcsh"), kShellStyleCsh);
  // A line wins over the shell's own family, either way.
  Write("bash c\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
  Write("tcsh k\n");
  EXPECT_EQ(Style("/bin/tcsh"), kShellStyleKsh);
}

TEST_F(ShellListTest, LastMatchingLineWins) {
  Write("bash c\nbash k\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
  Write("bash k\nbash c\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
}

// The lines below say csh for bash, the other family than bash's own, so
// that a line that decides cannot be mistaken for one that does not.
TEST_F(ShellListTest, NameCaseCountsLetterCaseDoesNot) {
  Write("Bash c\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
  Write("bash C\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
  Write("bash c\nbash K\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
}

TEST_F(ShellListTest, UnknownLetterLeavesTheStyleAsItWas) {
  Write("bash c\nbash x\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
  // A line with an unknown letter decides nothing: bash's own family does.
  Write("bash x\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
}

TEST_F(ShellListTest, CommentsAndIncompleteLinesAreSkipped) {
  Write("# bash k\n"
        "bash\n"     // no letter
        "  \t\n"     // blank
        "1bash k\n"  // does not start with a letter
        "bash c trailing words\r\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
  Write("#bash c\nbash\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
}

TEST_F(ShellListTest, LeadingBlanksAndTabsAreTrimmedBeforeTheLetterTest) {
  Write("   \tbash\t\tc\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
}

TEST_F(ShellListTest, BaseNameIsTheWholeValueWithoutSlash) {
  Write("ksh c\n");
  EXPECT_EQ(Style("ksh"), kShellStyleCsh);
  // Only the part after the last slash counts: zsh, of ksh's family.
  EXPECT_EQ(Style("/opt/ksh/bin/zsh"), kShellStyleKsh);
}

TEST_F(ShellListTest, NoFileGivesTheShellsFamilyNoShellGivesCsh) {
  EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);  // file not written
  EXPECT_EQ(Style("/bin/tcsh"), kShellStyleCsh);
  EXPECT_EQ(Style("/usr/bin/fish"), kShellStyleCsh);
  Write("bash k\n");
  EXPECT_EQ(Style(nullptr), kShellStyleCsh);
  EXPECT_EQ(DetectShellStyle(nullptr, "/bin/bash").style, kShellStyleKsh);
  EXPECT_EQ(DetectShellStyle(nullptr, "/bin/csh").style, kShellStyleCsh);
}

TEST_F(ShellListTest, WithoutADecidingLineEachFamilyGetsItsStyle) {
  Write("# no line for these shells\nfish k\n");
  for (const char *name : {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash"}) {
    EXPECT_EQ(Style((std::string("/usr/bin/") + name).c_str()), kShellStyleKsh) << name;
    EXPECT_EQ(ShellFamilyStyle(name), kShellStyleKsh) << name;
  }
  for (const char *name : {"csh", "tcsh"}) {
    EXPECT_EQ(Style((std::string("/usr/bin/") + name).c_str()), kShellStyleCsh) << name;
    EXPECT_EQ(ShellFamilyStyle(name), kShellStyleCsh) << name;
  }
  // Any other name, a near miss included, keeps csh.
  for (const char *name : {"rc", "es", "Bash", "bash5", "tcsh.old", ""}) {
    EXPECT_EQ(Style((std::string("/usr/bin/") + name).c_str()), kShellStyleCsh) << name;
    EXPECT_EQ(ShellFamilyStyle(name), 0) << name;
  }
}

TEST_F(ShellListTest, UnreadableFileGivesTheShellsFamily) {
  if (geteuid() == 0) {
    // root reads any file; a directory in its place cannot be read as lines.
    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
    EXPECT_EQ(Style("/bin/tcsh"), kShellStyleCsh);
    rmdir(path_.c_str());
  } else {
    Write("bash c\ntcsh k\n");
    chmod(path_.c_str(), 0);
    EXPECT_EQ(Style("/bin/bash"), kShellStyleKsh);
    EXPECT_EQ(Style("/bin/tcsh"), kShellStyleCsh);
  }
}

TEST_F(ShellListTest, OverlongBaseNameMatchesNothingAndIsReported) {
  const std::string name(kShellBaseNameMax + 1, 'a');
  Write(name + " k\n");
  const ShellDetection result = DetectShellStyle(path_.c_str(), ("/bin/" + name).c_str());
  EXPECT_EQ(result.style, kShellStyleCsh);
  EXPECT_NE(result.problem.find("SHELL"), std::string::npos);

  // A name of exactly the longest length is still looked up (and, being
  // longer than any name word, matches none).
  const std::string longest(kShellBaseNameMax, 'b');
  Write(longest + " k\n");
  const ShellDetection kept = DetectShellStyle(path_.c_str(), ("/bin/" + longest).c_str());
  EXPECT_EQ(kept.style, kShellStyleCsh);
}

TEST_F(ShellListTest, OverlongNameWordSkipsItsLineAndIsReported) {
  const std::string word(kShellNameWordMax + 1, 'w');
  const std::string fits(kShellNameWordMax, 'f');
  Write(word + " k\n" + fits + " k\n");
  const ShellDetection tooLong = DetectShellStyle(path_.c_str(), ("/bin/" + word).c_str());
  EXPECT_EQ(tooLong.style, kShellStyleCsh);
  EXPECT_NE(tooLong.problem.find("shells.vel"), std::string::npos);

  const ShellDetection longest = DetectShellStyle(path_.c_str(), ("/bin/" + fits).c_str());
  EXPECT_EQ(longest.style, kShellStyleKsh);
}

TEST_F(ShellListTest, OverlongLineIsReadInPiecesWithoutOverrun) {
  // One read takes at most 499 characters: the "bash k" after 499 letters
  // comes as a line of its own.
  Write(std::string(499, 'z') + "bash c\n");
  EXPECT_EQ(Style("/bin/bash"), kShellStyleCsh);
}

TEST(ShellPathFamilyStyle, TheFirstWordsBaseNameDecides) {
  EXPECT_EQ(ShellPathFamilyStyle("/bin/bash -f"), kShellStyleKsh);
  EXPECT_EQ(ShellPathFamilyStyle("  /usr/local/bin/ksh "), kShellStyleKsh);
  EXPECT_EQ(ShellPathFamilyStyle("sh"), kShellStyleKsh);
  EXPECT_EQ(ShellPathFamilyStyle("/usr/bin/tcsh -f"), kShellStyleCsh);
  EXPECT_EQ(ShellPathFamilyStyle("/bin/csh\t-f"), kShellStyleCsh);
  // Only the first word names the shell.
  EXPECT_EQ(ShellPathFamilyStyle("/opt/tools/run /bin/bash"), 0);
  EXPECT_EQ(ShellPathFamilyStyle("/bin/bash/ -f"), 0);
  EXPECT_EQ(ShellPathFamilyStyle(""), 0);
  EXPECT_EQ(ShellPathFamilyStyle("   "), 0);
}

TEST(ShellPathText, ShellValueFollowedByTheStyleOptions) {
  std::string text;
  EXPECT_TRUE(ShellPathText("/bin/tcsh", "csh", " -f", kShellPathLimit, &text));
  EXPECT_EQ(text, "/bin/tcsh -f");
  EXPECT_TRUE(ShellPathText("/usr/local/bin/bash", "ksh", " ", kShellPathLimit, &text));
  EXPECT_EQ(text, "/usr/local/bin/bash ");
}

TEST(ShellPathText, UnsetOrEmptyShellUsesTheStylesShellInBin) {
  std::string text;
  EXPECT_TRUE(ShellPathText(nullptr, "csh", " -f", kShellPathLimit, &text));
  EXPECT_EQ(text, "/bin/csh -f");
  EXPECT_TRUE(ShellPathText("", "ksh", " ", kShellPathLimit, &text));
  EXPECT_EQ(text, "/bin/ksh ");
}

// Detection fills the shell path field only with a path the field takes:
// one character over the field's limit is no path, and the form says so
// once; the longest that fits passes the form's own check.
TEST(ShellPathText, ADetectedPathIsOneTheFieldTakes) {
  const char *before = std::getenv("SHELL");
  const std::string saved = before != nullptr ? before : "";
  const std::size_t limit = FieldRow(Field::kShellPath).limit;
  for (const std::size_t length : {limit, limit + 1, limit + 4}) {
    const std::string shell(length - 3, '/');  // the csh options are " -f"
    setenv("SHELL", shell.c_str(), 1);
    std::string path = "old";
    const Result detected = DetectShellPath(kShellStyleCsh, &path);
    InstallForm form = InitialForm(true);
    form.shellStyle = kShellStyleCsh;
    form.text(Field::kShellPath) = path;
    if (length <= limit) {
      EXPECT_EQ(detected.message(), "");
      EXPECT_EQ(path.size(), length);
      EXPECT_TRUE(CheckFields(form).ok()) << CheckFields(form).message();
    } else {
      EXPECT_TRUE(detected.ok());
      EXPECT_EQ(detected.message(),
                "The value of SHELL and the shell options together are longer than " +
                    std::to_string(limit) + " characters.\nPlease type the shell path in.");
      EXPECT_EQ(path, "");
    }
  }
  if (before != nullptr) {
    setenv("SHELL", saved.c_str(), 1);
  } else {
    unsetenv("SHELL");
  }
}

}  // namespace
