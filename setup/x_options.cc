/*
 * x_options.cc - reading -display, -geometry and -xrm for the window.
 */
#include "x_options.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace {

constexpr const char *kDisplayOption = "-display";
constexpr const char *kGeometryOption = "-geometry";
constexpr const char *kResourceOption = "-xrm";

bool isXOption(const char *arg) {
  return std::strcmp(arg, kDisplayOption) == 0 || std::strcmp(arg, kGeometryOption) == 0 ||
         std::strcmp(arg, kResourceOption) == 0;
}

// TRUE for a geometry that XParseGeometry reads whole.
bool isGeometry(const char *text) {
  int x, y;
  unsigned width, height;
  return XParseGeometry(text, &x, &y, &width, &height) != NoValue;
}

}  // namespace

XOptionsReading ReadXOptions(int argc, char **argv, XOptions *options, std::string *problem) {
  *options = XOptions();
  for (int i = 1; i < argc; i += 2) {
    if (!isXOption(argv[i])) return XOptionsReading::NotXOptions;
  }
  options->toolkitArgv.push_back(argv[0]);
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      *problem = "option " + name + " needs a value";
      return XOptionsReading::Refused;
    }
    char *value = argv[i + 1];
    if (name == kResourceOption) {
      // The toolkit reads any number of them.
      options->toolkitArgv.push_back(argv[i]);
      options->toolkitArgv.push_back(value);
      continue;
    }
    const char **slot = name == kDisplayOption ? &options->display : &options->geometry;
    if (*slot != nullptr) {
      *problem = "option " + name + " given twice";
      return XOptionsReading::Refused;
    }
    if (name == kGeometryOption && !isGeometry(value)) {
      *problem = "'" + std::string(value) + "' is not an X geometry (WIDTHxHEIGHT+X+Y)";
      return XOptionsReading::Refused;
    }
    *slot = value;
    if (name == kDisplayOption) {
      options->toolkitArgv.push_back(argv[i]);
      options->toolkitArgv.push_back(value);
    }
  }
  options->toolkitArgv.push_back(nullptr);
  return XOptionsReading::Taken;
}
