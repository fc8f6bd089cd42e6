/*
 * result.h - what a step of the installation came to: done, or a fault
 * with the message that tells the user about it.
 *
 * Whatever does the work (an action, a file writer, a check of the form)
 * says what went wrong and about what; the installation procedure, or the
 * frontend that asked, shows the message, in one place, and decides
 * whether to go on.  A message the support library raises inside a step
 * is caught into that step's Result (CaughtMessages), so that it too is
 * shown once, by whoever shows the step's.  A notice is a Result that is
 * ok but has something to tell (a value ignored, a choice that may not
 * work).
 */
#ifndef VELORIX_SETUP_RESULT_H
#define VELORIX_SETUP_RESULT_H

#include <string>
#include <utility>
#include <vector>

#include "form_fields.h"

// A file that a run needs and that is not there, or not as it can be
// read: where it was looked for, what it is (product_files.h), and what is
// wrong with it, in one or two words ("missing", "too large").
struct MissingFile {
  std::string path;
  std::string what;
  std::string wrong = "missing";
};

// What a message is about, for a reader who cannot see the form: the
// path that was tested, if any, the form fields that set it, a line of
// evidence (a compiler's first error line) that the command line shows
// beside the message, and every file the run needs that is missing, so
// that one message tells them all; the window shows its message alone.
struct MessageSubject {
  MessageSubject() = default;
  // Not explicit: {path} and {path, {fields}} read as what they are.
  MessageSubject(std::string tested, std::vector<Field> about = {},  // NOLINT
                 std::string evidence = {}, std::vector<MissingFile> lacking = {})
      : path(std::move(tested)),
        fields(std::move(about)),
        note(std::move(evidence)),
        missing(std::move(lacking)) {}
  std::string path;
  std::vector<Field> fields;
  std::string note;
  std::vector<MissingFile> missing;
};

enum class Fault {
  kNone,
  kNotice,         // nothing failed, but the message is to be told
  kNotOpened,      // a file could not be opened or made; nothing changed
  kNotWritten,     // a file could not be written whole; the old one is kept
  kCommandFailed,  // a command ran and did not do its work
  kRefused,        // refused before anything was done
  kCancelled,      // stopped by the user while it ran; nothing of it was kept
};

class [[nodiscard]] Result {
 public:
  Result() = default;  // done

  static Result Failed(Fault fault, std::string message, MessageSubject about = {},
                       std::string detail = {}) {
    Result result;
    result.fault_ = fault;
    result.message_ = std::move(message);
    result.about_ = std::move(about);
    result.detail_ = std::move(detail);
    return result;
  }

  // Something to tell, though nothing failed.
  static Result Notice(std::string message, MessageSubject about = {}) {
    Result result;
    if (!message.empty()) result.fault_ = Fault::kNotice;
    result.message_ = std::move(message);
    result.about_ = std::move(about);
    return result;
  }

  bool ok() const { return fault_ == Fault::kNone || fault_ == Fault::kNotice; }
  Fault fault() const { return fault_; }
  // What to show; empty when there is nothing to tell.
  const std::string &message() const { return message_; }
  const MessageSubject &about() const { return about_; }
  // The system's reason in a few words ("no space left on device"), for a
  // caller that words the message itself; may be empty.
  const std::string &detail() const { return detail_; }

  // The same result, with what it is about listing missing as well.
  Result listing(std::vector<MissingFile> missing) && {
    about_.missing = std::move(missing);
    return std::move(*this);
  }

 private:
  Fault fault_ = Fault::kNone;
  std::string message_;
  MessageSubject about_;
  std::string detail_;
};

#endif
