/*
 * message_box.cc - the window's boxes for what it has to tell.
 */
#include "message_box.h"

#include <ncbi.h>

#include <cstdio>

#include "product_files.h"

void ShowInBox(const std::string &text, const MessageSubject &about) {
  if (!about.missing.empty()) {
    std::fprintf(stderr, "velorix-setup: %s\n%s", text.c_str(),
                 MissingFilesText(about.missing).c_str());
    std::fflush(stderr);
  }
  Nlm_Message(MSG_OK, "%s", text.c_str());
}

void ShowResult(const Result &result) {
  if (!result.message().empty()) ShowInBox(result.message(), result.about());
}

void ShowSummary(const std::string &summary) {
  // Without its last line feed, which a box would show as an empty line.
  std::string text = summary;
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  ShowInBox(text);
}
