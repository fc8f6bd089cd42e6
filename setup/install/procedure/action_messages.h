/*
 * action_messages.h - what the installation actions share: the names of
 * the files they make, and the messages they fail with.
 */
#ifndef VELORIX_SETUP_ACTION_MESSAGES_H
#define VELORIX_SETUP_ACTION_MESSAGES_H

#include <string>
#include <vector>

#include "result.h"

namespace action_messages {

constexpr char kSettingsName[] = VX_SETTINGS_FILE;
// The scratch directory of a real run lies in the installed directory, so
// that one left by a killed run is found and removed by the next.
constexpr char kRunScratchPrefix[] = ".velorix-setup.vx-";
constexpr char kRandomPart[] = "XXXXXX";

bool exists(const std::string &path);

// result's message with its detail after it, for messages of our own
// (the settings code's texts stay as they are).
Result withDetail(Result result);

Result failed(Fault fault, std::string message, std::string path = {},
              std::vector<Field> fields = {});

Result lockNotMade(const std::string &path, int error);

// The lock of directory, at path, could not be made: told as the settings
// file that cannot be made there when the directory cannot be written
// (error), for that is what it means to whoever runs the installation.
Result lockNotMadeIn(const std::string &directory, const std::string &path, int error);

Result scratchNotMade(const std::string &pattern, int error);

// The compile script lies in the product directory.
Result aboutScript(Result written, const std::string &path);

Result notRenamed(const std::string &from, const std::string &to, const std::string &fromPath,
                  int error);

Result notRemoved(const std::string &path, const std::string &resolved, int error);

}  // namespace action_messages

#endif
