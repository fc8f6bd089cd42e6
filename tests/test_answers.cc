/*
 * test_answers.cc - answer files: every value of the form comes back as it
 * was saved, however awkward, and every faulty file is refused with its
 * name and the line at fault.
 */
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "answers.h"
#include "form.h"
#include "initial_form.h"
#include "shell_detection.h"
#include "settings_fixture.h"

namespace {

using vxtest::ReadFile;
using vxtest::WriteFile;

class AnswersTest : public vxtest::ScratchTest {
 protected:
  AnswersTest() : ScratchTest("/tmp/vx_answers_XXXXXX", true) {}

  // The problem reading text as an answer file, and putting it into the
  // form as it starts, gives; "" when none.
  std::string Problem(const std::string &text) {
    WriteFile("a.ini", text);
    Answers answers;
    Result read = ReadAnswers("a.ini", &answers);
    if (read.ok()) {
      InstallForm form = InitialForm(false);
      read = ApplyAnswers(answers, &form);
    }
    EXPECT_EQ(read.ok(), read.message().empty());
    return read.message();
  }
};

bool SameForm(const InstallForm &a, const InstallForm &b) {
  return a.text(Field::kKernel) == b.text(Field::kKernel) &&
         a.text(Field::kInclude) == b.text(Field::kInclude) &&
         a.text(Field::kLibraries) == b.text(Field::kLibraries) &&
         a.text(Field::kCppName) == b.text(Field::kCppName) &&
         a.text(Field::kCppOptions) == b.text(Field::kCppOptions) && a.texts == b.texts &&
         a.full == b.full && a.shellStyle == b.shellStyle &&
         a.text(Field::kShellPath) == b.text(Field::kShellPath) &&
         a.noticeConsent == b.noticeConsent;
}

TEST_F(AnswersTest, EveryValueComesBackAsItWasSaved) {
  InstallForm form = InitialForm(false);
  form.noticeBoxExists = true;
  form.full = true;
  form.text(Field::kKernel) = "/opt/velorix";
  form.text(Field::kInclude) = "";  // empty, not left out
  form.text(Field::kLibraries) =
      " \t-lm ; -lc # \"quoted\" \\ back ";  // blanks, comment marks, escapes
  form.text(Field::kCppOptions) =
      std::string(" ") + std::string(240, 'o') + " ";  // longer than a line
  form.text(Field::kPrinter) = "lpr -P\"a b\" %s";
  form.text(Field::kDifferentiator) =
      "maple -q <%s >tmp.mo;grep '[ts][0-9]* =' tmp.mo|sort ;" + std::string(150, 'x');
  form.shellStyle = 2;
  form.text(Field::kShellPath) = "/bin/sh ";
  form.shellStyleGiven = form.shellPathGiven = true;
  form.noticeConsent = true;
  const Result saved = SaveAnswers("saved.ini", form);
  ASSERT_TRUE(saved.ok()) << saved.message();

  const std::string text = ReadFile("saved.ini");
  // inih reads lines of at most 198 characters; every line fits.
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 198u) << text.substr(start, end - start);

  Answers answers;
  const Result read = ReadAnswers("saved.ini", &answers);
  ASSERT_TRUE(read.ok()) << read.message();
  InstallForm back = InitialForm(true);
  back.noticeBoxExists = true;
  ASSERT_TRUE(ApplyAnswers(answers, &back).ok());
  EXPECT_TRUE(SameForm(back, form)) << text;
  EXPECT_EQ(back.text(Field::kLibraries), form.text(Field::kLibraries));
  EXPECT_EQ(back.text(Field::kDifferentiator), form.text(Field::kDifferentiator));
}

TEST_F(AnswersTest, KeysLeftOutKeepTheFormsValuesAndTheFileNeedsNoQuotes) {
  Answers answers;
  WriteFile("a.ini", "; mine\n[form]\nkernel = /opt/v\n# another comment\nshell-style=ksh\n");
  ASSERT_TRUE(ReadAnswers("a.ini", &answers).ok());
  InstallForm form = InitialForm(false);
  ASSERT_TRUE(ApplyAnswers(answers, &form).ok());
  EXPECT_EQ(form.text(Field::kKernel), "/opt/v");
  EXPECT_EQ(form.shellStyle, 2);
  EXPECT_EQ(form.text(Field::kCppOptions), " -O2 -fPIC -lc -lm");
  EXPECT_FALSE(form.full);
}

TEST_F(AnswersTest, FaultyFilesAreRefusedWithTheirLine) {
  const std::string head = "; answers\n[form]\nkind = full\n";
  struct Case {
    std::string text;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {head + "colour = red\n", "a.ini:4: unknown key 'colour'"},
      {head.substr(0, 17) + "kind = half\n", "a.ini:3: bad value of kind: 'half' (full or user)"},
      {head + "shell-style = bash\n",
       "a.ini:4: bad value of shell-style: 'bash' (csh, ksh or auto)"},
      {head + "notify = maybe\n", "a.ini:4: bad value of notify: 'maybe' (yes or no)"},
      {head + "kernel = \"/opt/my velorix\"\n",
       "a.ini:4: the value of kernel must not contain blanks, backslashes, commas, control "
       "characters or any of ;&|<>()'\"*?[]#!{}$: the compile script's shell would interpret "
       "them."},
      {head + "cpp-options = \"" + std::string(119, 'o') + "\"\n    \"" + std::string(119, 'o') +
           "\"\n    \"" + std::string(119, 'o') + "\"\n",
       "a.ini:4: the value of cpp-options is too long for the settings file: a settings line "
       "holds at most 255 characters. Please shorten it."},
      {head + "libs = \"-lm\"\nkind = user\n", "a.ini:5: key 'kind' given twice (first on line 3)"},
      {head + "[other]\nlibs = -lm\n",
       "a.ini:5: unknown section [other] (the values go into [form])"},
      {head + "libs = \"-lm\n", "a.ini:4: bad value of libs: a quoted value must end with a quote"},
      {head + "libs = \"-l\\q\"\n", "a.ini:4: bad value of libs: unknown escape \\q"},
      {head + "this is not a line of an INI file\n",
       "a.ini:4: not a line of an answer file (KEY = VALUE, [form], or a comment after ; or #)"},
      {head + "libs = \"" + std::string(250, 'l') + "\"\n",
       "a.ini:4: the line is longer than 198 characters; write a long value in pieces on the "
       "lines below it"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Problem(c.text), c.problem) << c.text;
  EXPECT_EQ(Problem(head), "");

  Answers answers;
  EXPECT_EQ(ReadAnswers("no-such.ini", &answers).message(),
            "no-such.ini: cannot be read (No such file or directory)");
}

// An answer file's values are checked as the form checks them, on the text
// that will be stored: a blank-padded Tuning value that is stored trimmed
// fits, include options that the product directory makes too long do not;
// and a style given without a path takes its own path, or none.
TEST_F(AnswersTest, ValuesAreTakenAsTheFormTakesThem) {
  const std::string head = "[form]\nkernel = /opt/v\n";
  const std::string blanks(150, ' ');
  EXPECT_EQ(Problem(head + "printer = \"lpr %s" + blanks + "\"\n    \"" + blanks + "\"\n"), "");
  const std::string half(120, 'i');
  EXPECT_EQ(Problem(head + "include = \"" + half + "\"\n    \"" + half + "\"\n"),
            "a.ini:3: the value of include is too long for the settings file: a settings line "
            "holds at most 255 characters. Please shorten it.");

  const char *before = std::getenv("SHELL");
  const std::string saved = before != nullptr ? before : "";
  setenv("SHELL", std::string(FieldRow(Field::kShellPath).limit, '/').c_str(), 1);
  WriteFile("a.ini", "[form]\nshell-style = ksh\n");
  Answers answers;
  ASSERT_TRUE(ReadAnswers("a.ini", &answers).ok());
  InstallForm form = InitialForm(false);
  form.text(Field::kShellPath) = "/bin/csh -f";
  const Result applied = ApplyAnswers(answers, &form);
  EXPECT_TRUE(applied.ok());
  EXPECT_NE(applied.message().find("Please type the shell path in."), std::string::npos);
  EXPECT_EQ(form.shellStyle, kShellStyleKsh);
  EXPECT_EQ(form.text(Field::kShellPath), "");
  if (before != nullptr) {
    setenv("SHELL", saved.c_str(), 1);
  } else {
    unsetenv("SHELL");
  }
}

}  // namespace
