/*
 * report.cc - messages on standard error.
 */
#include "report.h"

#include <cstdio>
#include <filesystem>

#include "exit_status.h"
#include "product_files.h"

namespace {

constexpr const char *kProgram = "velorix-setup";

// A path as the reader can find it: without "." and ".." steps.
std::string shownPath(const std::string &path) {
  return std::filesystem::path(path).lexically_normal().string();
}

// "  path: P, option: O" for what a message is about; empty for nothing.
std::string subjectLine(const std::string &path, const std::vector<Field> &fields) {
  std::string line;
  if (!path.empty()) line = "path: " + shownPath(path);
  std::string options;
  for (const Field field : fields)
    options += (options.empty() ? "" : ", ") + std::string(FieldRow(field).option);
  if (!options.empty()) line += (line.empty() ? "" : ", ") + std::string("option: ") + options;
  return line.empty() ? line : "  " + line;
}

}  // namespace

void MessagePrinter::print(const std::string &text, const MessageSubject &about) {
  if (text.empty()) return;
  if (printed_) std::fputc('\n', stderr);
  std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
  printed_ = true;
  const std::string line = subjectLine(about.path, about.fields);
  if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
  if (!about.note.empty()) std::fprintf(stderr, "  %s\n", about.note.c_str());
  std::fputs(MissingFilesText(about.missing).c_str(), stderr);
}

bool MessagePrinter::onMessage(const char *text) {
  print(text != nullptr ? text : "");
  return true;
}

void PrintingActions::show(const std::string &text, const MessageSubject &about) {
  // The run works in a scratch directory: a relative path belongs to the
  // directory being installed.
  printer_.print(text, {resolve(about.path), about.fields, about.note, about.missing});
  lastFields_ = about.fields;
}

int BadOptions(const std::string &problem) {
  // One fault a line; an answer file may have several.
  std::size_t start = 0;
  for (std::size_t end = problem.find('\n'); end != std::string::npos;
       start = end + 1, end = problem.find('\n', start))
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.substr(start, end - start).c_str());
  std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, problem.substr(start).c_str());
  return kExitTrouble;
}
