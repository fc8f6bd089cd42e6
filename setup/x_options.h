/*
 * x_options.h - the standard X options of the window: -display NAME,
 * -geometry GEOM and -xrm RESOURCE, as any X program takes them.
 *
 * A command line made of these alone opens the Setup window; anything
 * else on it makes it the unattended mode's command line.
 */
#ifndef VELORIX_SETUP_X_OPTIONS_H
#define VELORIX_SETUP_X_OPTIONS_H

#include <string>
#include <vector>

struct XOptions {
  const char *display = nullptr;   // -display, or NULL for $DISPLAY
  const char *geometry = nullptr;  // -geometry, or NULL to centre the window
  // What the toolkit's start-up parses: the program's name, -display and
  // the -xrm options, ending with NULL.  -geometry is left out: the
  // toolkit would apply it to every window, message boxes included, and
  // it is meant for the Setup window alone.
  std::vector<char *> toolkitArgv;
  int toolkitArgc() const { return static_cast<int>(toolkitArgv.size()) - 1; }
};

enum class XOptionsReading {
  Taken,        // every argument was an X option (or there was none)
  NotXOptions,  // some argument is not: the command line's own
  Refused       // an X option without its value, given twice, or a bad geometry
};

// Reads argv (argc entries) as X options into *options; the pointers stay
// argv's.  On Refused, *problem says why in one line.
XOptionsReading ReadXOptions(int argc, char **argv, XOptions *options, std::string *problem);

#endif
