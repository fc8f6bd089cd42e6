/*
 * x_options.h - the window's X options.
 *
 * Every standard X toolkit option (-display, -geometry, -bg, -fg, -fn,
 * -title, -name, -iconic, -reverse, -xrm, ...) is the toolkit's to parse:
 * the command line hands it every argument that is not one of ours, and
 * the toolkit's start-up takes what it knows.  What it leaves is no X
 * option, and the window refuses it before it opens.
 */
#ifndef VELORIX_SETUP_X_OPTIONS_H
#define VELORIX_SETUP_X_OPTIONS_H

#include <string>

#include "window_module.h"

// What the toolkit's start-up reads of these arguments before anything
// else, as it reads them.
struct ToolkitStart {
  // The display it opens: the value of the last -display (or -dpy);
  // empty when none is given ($DISPLAY then).
  std::string display;
  // The value of -name, empty when none is given.  The toolkit names the
  // program's resources after its argv[0], which is therefore to be this.
  std::string name;
};
ToolkitStart ReadToolkitStart(const XOptions &options);

// Why the toolkit's option parsing leaves argument (an argument it does
// not know, or an option of its own without a value), in one line.
std::string LeftByToolkit(const char *argument);

// Why geometry (the value of -geometry) is no X geometry; empty when it
// is one.
std::string GeometryProblem(const std::string &geometry);

#endif
