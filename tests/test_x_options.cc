/*
 * test_x_options.cc - before the toolkit starts: the display it will open
 * and the name it will give the resources for the arguments handed to it,
 * and the words for an argument or a geometry it does not take.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "x_options.h"

// The core library names its message function Message too.
#undef Message

namespace {

// The toolkit's arguments for these, kept alive with them.
struct Arguments {
  explicit Arguments(std::vector<std::string> arguments) : text(std::move(arguments)) {
    text.insert(text.begin(), "velorix-setup");
    for (std::string &arg : text)
      options.toolkitArgv.push_back(arg.data());
    options.toolkitArgv.push_back(nullptr);
  }
  std::vector<std::string> text;
  XOptions options;
};

TEST(ToolkitStart, TheDisplayAndNameAreTheOnesTheToolkitsStartUpReads) {
  const struct {
    std::vector<std::string> arguments;
    const char *display;
    const char *name;
  } cases[] = {
      {{}, "", ""},
      {{"-bg", "white", "-display", ":7", "-iconic", "-name", "lab"}, ":7", "lab"},
      {{"-dpy", ":3"}, ":3", ""},
      {{"-display", ":1", "-dpy", ":2"}, ":2", ""},  // the last one wins
      {{"-d", ":4"}, "", ""},                        // -display or -dpy: neither
      {{"-display", "-name"}, "-name", ""},          // a value, whatever it looks like
      {{"-display"}, "", ""},                        // no value: the toolkit leaves it
  };
  for (const auto &c : cases) {
    Arguments line(c.arguments);
    const std::vector<char *> before = line.options.toolkitArgv;
    const ToolkitStart start = ReadToolkitStart(line.options);
    EXPECT_EQ(start.display, c.display) << testing::PrintToString(c.arguments);
    EXPECT_EQ(start.name, c.name) << testing::PrintToString(c.arguments);
    // The arguments stay whole for the toolkit.
    EXPECT_EQ(line.options.toolkitArgv, before);
  }
}

TEST(ToolkitRefusals, AnArgumentLeftAndABadGeometryAreNamed) {
  EXPECT_EQ(LeftByToolkit("-bogus"), "unknown option '-bogus', or an X option without its value");
  EXPECT_EQ(LeftByToolkit("+x"), "unknown option '+x', or an X option without its value");
  EXPECT_EQ(LeftByToolkit("stray"), "unexpected argument 'stray'");
  EXPECT_EQ(LeftByToolkit("-"), "unexpected argument '-'");
  for (const char *geometry : {"+0+0", "-10-20", "300x200", "300x200+5+6", "=80x24"})
    EXPECT_EQ(GeometryProblem(geometry), "") << geometry;
  for (const char *geometry : {"big", "10x20+5+5junk", ""}) {
    EXPECT_EQ(GeometryProblem(geometry),
              "'" + std::string(geometry) + "' is not an X geometry (WIDTHxHEIGHT+X+Y)");
  }
}

}  // namespace
