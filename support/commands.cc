/*
 * commands.cc - running a shell command and judging it by what it left.
 */
#include <cstdio>
#include <cstdlib>

#include "utility.h"

// The command's exit status is not looked at: callers judge success by
// what it left on disk, which the follow-up function examines.
extern "C" Nlm_Int2 ExecuteCommand(const char *command, void * /* unused */, VxFollowUp then) {
  if (command != nullptr) {
    // The command's output must follow, not precede, what we printed.
    std::fflush(nullptr);
    // system's status is deliberately ignored (see above).
    const int status = std::system(command);
    static_cast<void>(status);
  }
  if (then == nullptr) return 0;
  return static_cast<Nlm_Int2>(then());
}
