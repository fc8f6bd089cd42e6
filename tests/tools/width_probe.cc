/*
 * width_probe.cc - a small Vibrant program for the widest-line test.
 *
 * Run under an X server with arguments of two kinds: "text:TEXT" prints the
 * width of TEXT measured directly with the toolkit, any other argument is a
 * path whose FileLineMaxWidth is printed.  One line of output per argument,
 * "argument<TAB>width", so the test can compare the two.  Texts may use
 * "\n" for a line feed.
 */
#include <ncbi.h>
#include <vibrant.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "utility.h"

namespace {

constexpr char kTextPrefix[] = "text:";
constexpr size_t kTextPrefixLength = sizeof kTextPrefix - 1;

// The text of a "text:" argument with "\n" turned into a line feed.
std::string unescape(const char *text) {
  std::string out;
  for (const char *p = text; *p != '\0'; ++p) {
    if (p[0] == '\\' && p[1] == 'n') {
      out += '\n';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

extern "C" Nlm_Int2 Nlm_Main(void) {
  const Nlm_Int4 argc = Nlm_GetArgc();
  Nlm_CharPtr *argv = Nlm_GetArgv();
  for (Nlm_Int4 i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    long width;
    if (std::strncmp(arg, kTextPrefix, kTextPrefixLength) == 0) {
      const std::string text = unescape(arg + kTextPrefixLength);
      width = Nlm_StringWidth(text.c_str());
    } else {
      width = FileLineMaxWidth(arg);
    }
    std::printf("%s\t%ld\n", arg, width);
  }
  std::fflush(stdout);
  return 0;
}
