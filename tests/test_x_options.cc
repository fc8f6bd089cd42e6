/*
 * test_x_options.cc - which command lines open the window with X options,
 * and what reaches the toolkit: -display and -xrm, never -geometry, which
 * is the Setup window's alone.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "x_options.h"

namespace {

// argv of the program for the given arguments, kept alive with it.
struct Argv {
  explicit Argv(std::vector<std::string> arguments) : text(std::move(arguments)) {
    text.insert(text.begin(), "velorix-setup");
    for (std::string &arg : text)
      pointers.push_back(arg.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(text.size()); }
  char **argv() { return pointers.data(); }

  std::vector<std::string> text;
  std::vector<char *> pointers;
};

XOptionsReading Read(Argv &line, XOptions *options, std::string *problem) {
  return ReadXOptions(line.argc(), line.argv(), options, problem);
}

std::vector<std::string> ToolkitArguments(const XOptions &options) {
  std::vector<std::string> found;
  for (int i = 0; i < options.toolkitArgc(); ++i)
    found.emplace_back(options.toolkitArgv[i]);
  return found;
}

TEST(XOptions, NoArgumentsOpenTheWindowAsTheyAre) {
  Argv line({});
  XOptions options;
  std::string problem;
  ASSERT_EQ(Read(line, &options, &problem), XOptionsReading::Taken);
  EXPECT_EQ(options.display, nullptr);
  EXPECT_EQ(options.geometry, nullptr);
  EXPECT_EQ(ToolkitArguments(options), std::vector<std::string>{"velorix-setup"});
  EXPECT_EQ(options.toolkitArgv.back(), nullptr);
}

TEST(XOptions, DisplayAndResourcesGoToTheToolkitGeometryDoesNot) {
  Argv line({"-xrm", "*background: white", "-geometry", "600x700+30-40", "-display", ":7", "-xrm",
             "velorix-setup*foreground: black"});
  XOptions options;
  std::string problem;
  ASSERT_EQ(Read(line, &options, &problem), XOptionsReading::Taken) << problem;
  EXPECT_STREQ(options.display, ":7");
  EXPECT_STREQ(options.geometry, "600x700+30-40");
  EXPECT_EQ(ToolkitArguments(options),
            (std::vector<std::string>{"velorix-setup", "-xrm", "*background: white", "-display",
                                      ":7", "-xrm", "velorix-setup*foreground: black"}));
  EXPECT_EQ(options.toolkitArgv.back(), nullptr);
}

TEST(XOptions, AnyOtherArgumentMakesItTheCommandLines) {
  for (const std::vector<std::string> &arguments : {std::vector<std::string>{"--unattended"},
                                                    {"-display", ":1", "--unattended"},
                                                    {"--unattended", "-display", ":1"},
                                                    {"-geometry", "+1+1", "--full"},
                                                    {"-display=:1"},
                                                    {"--display", ":1"},
                                                    {"stray"}}) {
    Argv line(arguments);
    XOptions options;
    std::string problem;
    EXPECT_EQ(Read(line, &options, &problem), XOptionsReading::NotXOptions) << arguments[0];
  }
}

TEST(XOptions, MissingValueRepeatedOptionAndBadGeometryAreRefused) {
  const struct {
    std::vector<std::string> arguments;
    const char *problem;
  } cases[] = {
      {{"-display"}, "option -display needs a value"},
      {{"-xrm", "a: b", "-geometry"}, "option -geometry needs a value"},
      {{"-display", ":1", "-display", ":2"}, "option -display given twice"},
      {{"-geometry", "+1+1", "-geometry", "+2+2"}, "option -geometry given twice"},
      {{"-geometry", "big"}, "'big' is not an X geometry (WIDTHxHEIGHT+X+Y)"},
      {{"-geometry", "10x20+5+5junk"}, "'10x20+5+5junk' is not an X geometry (WIDTHxHEIGHT+X+Y)"},
  };
  for (const auto &c : cases) {
    Argv line(c.arguments);
    XOptions options;
    std::string problem;
    EXPECT_EQ(Read(line, &options, &problem), XOptionsReading::Refused) << c.problem;
    EXPECT_EQ(problem, c.problem);
  }
}

TEST(XOptions, EveryFormOfGeometryIsTaken) {
  for (const char *geometry : {"+0+0", "-10-20", "300x200", "300x200+5+6", "=80x24"}) {
    Argv line({"-geometry", geometry});
    XOptions options;
    std::string problem;
    EXPECT_EQ(Read(line, &options, &problem), XOptionsReading::Taken) << geometry;
    EXPECT_STREQ(options.geometry, geometry);
  }
}

}  // namespace
