/*
 * shell_detection.cc - the shell style from SHELL and the shell list file,
 * and the shell path text built from SHELL and a style's options.
 */
#include "shell_detection.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "utility.h"

namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsScanBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The text after the last "/" of path, or the whole of it.
const char *BaseName(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// Splits a trimmed line into its first word and the first non-blank
// character after it.  FALSE when the line holds no such character.
bool SplitLine(const char *line, std::string *word, char *letter) {
  const char *end = line;
  while (*end != '\0' && !IsScanBlank(*end))
    ++end;
  const char *after = end;
  while (*after != '\0' && IsScanBlank(*after))
    ++after;
  if (end == line || *after == '\0') return false;
  word->assign(line, static_cast<std::size_t>(end - line));
  *letter = *after;
  return true;
}

}  // namespace

ShellDetection DetectShellStyle(const char *listPath, const char *shellValue) {
  ShellDetection result;
  if (listPath == nullptr || shellValue == nullptr || access(listPath, F_OK) != 0) {
    return result;
  }
  const std::string baseName = BaseName(shellValue);
  if (baseName.size() > kShellBaseNameMax) {
    result.problem = "The shell's name in SHELL is longer than " +
                     std::to_string(kShellBaseNameMax) +
                     " characters; the csh shell style is assumed.";
    return result;
  }
  File file(std::fopen(listPath, "rt"));
  if (!file) return result;

  // One read holds at most VX_PARBUF_SIZE - 1 characters; the rest of a
  // longer line comes with the next read, as a line of its own.
  char line[VX_PARBUF_SIZE];
  std::string word;
  char letter = '\0';
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    StrTrim(line);
    if (!IsAsciiLetter(line[0])) continue;  // comment
    if (!SplitLine(line, &word, &letter)) continue;
    if (word.size() > kShellNameWordMax) {
      if (result.problem.empty()) {
        result.problem = std::string("A shell's name in ") + listPath + " is longer than " +
                         std::to_string(kShellNameWordMax) + " characters; that line is ignored.";
      }
      continue;
    }
    if (word != baseName) continue;
    switch (std::tolower(static_cast<unsigned char>(letter))) {
      case 'c':
        result.style = kShellStyleCsh;
        break;
      case 'k':
        result.style = kShellStyleKsh;
        break;
      default:  // an unknown letter leaves the style as it was
        break;
    }
  }
  return result;
}

bool ShellPathText(const char *shellValue, const char *defaultName, const char *options,
                   std::string *text) {
  if (shellValue != nullptr && *shellValue != '\0') {
    *text = shellValue;
  } else {
    *text = std::string(kDefaultShellDirectory) + (defaultName != nullptr ? defaultName : "");
  }
  if (options != nullptr) *text += options;
  if (text->size() > kShellPathMax) {
    text->clear();
    return false;
  }
  return true;
}
