/*
 * x_options.cc - the display that the toolkit's start-up will open, and
 * what it says of an argument it leaves.
 */
#include "x_options.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>

namespace {

// Vibrant's start-up opens the display before Xt sees the rest of the
// command line, with this table of its own; asking the same question
// first names the very display it would fail on.
char kDisplayOption[] = "-display";
char kDisplayShortOption[] = "-dpy";
char kDisplaySpecifier[] = ".display";
XrmOptionDescRec kToolkitDisplayOptions[] = {
    {kDisplayOption, kDisplaySpecifier, XrmoptionSepArg, nullptr},
    {kDisplayShortOption, kDisplaySpecifier, XrmoptionSepArg, nullptr},
};
// Xt reads -name before the rest too, but Vibrant names the resources
// after argv[0] alone.
char kNameOption[] = "-name";
char kNameSpecifier[] = ".name";
XrmOptionDescRec kToolkitNameOptions[] = {
    {kNameOption, kNameSpecifier, XrmoptionSepArg, nullptr},
};

// The value that table reads from the options' arguments, or empty.
template <std::size_t N>
std::string preparsed(const XOptions &options, XrmOptionDescRec (&table)[N], const char *name,
                      const char *className) {
  // XrmParseCommand takes the options it reads out of the vector: a copy.
  std::vector<char *> argv(options.toolkitArgv);
  int argc = options.toolkitArgc();
  XrmInitialize();
  XrmDatabase parsed = nullptr;
  XrmParseCommand(&parsed, table, static_cast<int>(N), "toolkit", &argc, argv.data());
  std::string found;
  char *type = nullptr;
  XrmValue value;
  if (XrmGetResource(parsed, name, className, &type, &value) && value.addr != nullptr)
    found = value.addr;
  XrmDestroyDatabase(parsed);
  return found;
}

}  // namespace

ToolkitStart ReadToolkitStart(const XOptions &options) {
  return {preparsed(options, kToolkitDisplayOptions, "toolkit.display", "Toolkit.Display"),
          preparsed(options, kToolkitNameOptions, "toolkit.name", "Toolkit.Name")};
}

std::string LeftByToolkit(const char *argument) {
  const std::string text = argument;
  if (text.size() > 1 && (text[0] == '-' || text[0] == '+'))
    return "unknown option '" + text + "', or an X option without its value";
  return "unexpected argument '" + text + "'";
}

std::string GeometryProblem(const std::string &geometry) {
  int x, y;
  unsigned width, height;
  // XParseGeometry reads the whole text or nothing.
  if (XParseGeometry(geometry.c_str(), &x, &y, &width, &height) != NoValue) return {};
  return "'" + geometry + "' is not an X geometry (WIDTHxHEIGHT+X+Y)";
}
