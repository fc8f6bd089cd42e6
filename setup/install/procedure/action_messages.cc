/*
 * action_messages.cc - the messages the installation actions fail with.
 */
#include "action_messages.h"

#include <unistd.h>

#include <cstring>

namespace action_messages {

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

Result withDetail(Result result) {
  if (result.ok() || result.detail().empty()) return result;
  return Result::Failed(result.fault(), result.message() + " (" + result.detail() + ")",
                        result.about(), result.detail());
}

Result failed(Fault fault, std::string message, std::string path, std::vector<Field> fields) {
  return Result::Failed(fault, std::move(message), {std::move(path), std::move(fields)});
}

Result lockNotMade(const std::string &path, int error) {
  return failed(Fault::kNotOpened,
                "Cannot create the lock file '" + path + "': " + std::strerror(error) +
                    ".\nThe installation has been stopped.",
                path);
}

Result lockNotMadeIn(const std::string &directory, const std::string &path, int error) {
  if (exists(path) || (error != EACCES && error != EPERM && error != EROFS))
    return lockNotMade(path, error);
  return failed(Fault::kNotOpened, std::string("Cannot open file './") + kSettingsName + "'",
                directory + "/" + kSettingsName);
}

Result scratchNotMade(const std::string &pattern, int error) {
  return failed(Fault::kNotOpened,
                "Cannot make a scratch directory for the settings file ('" + pattern +
                    "'): " + std::strerror(error) + ".",
                pattern);
}

// The compile script lies in the product directory.
Result aboutScript(Result written, const std::string &path) {
  if (written.ok()) return written;
  return Result::Failed(written.fault(), written.message(), {path, {Field::kKernel}},
                        written.detail());
}

Result notRenamed(const std::string &from, const std::string &to, const std::string &fromPath,
                  int error) {
  return failed(Fault::kNotWritten,
                "Cannot rename '" + from + "' to '" + to + "' (" + std::strerror(error) + ")",
                fromPath);
}

Result notRemoved(const std::string &path, const std::string &resolved, int error) {
  return failed(Fault::kNotWritten,
                "Cannot remove file '" + path + "' (" + std::strerror(error) + ")", resolved);
}

}  // namespace action_messages
