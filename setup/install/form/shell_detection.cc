/*
 * shell_detection.cc - the shell style from SHELL and the shell list file,
 * and the shell path text built from SHELL and a style's options.
 */
#include "shell_detection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "raii.h"
#include "utility.h"

namespace {

// Base names by the syntax their shells run.
constexpr const char *kKshFamily[] = {"sh", "bash", "dash", "ksh", "mksh", "zsh", "ash"};
constexpr const char *kCshFamily[] = {"csh", "tcsh"};

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isScanBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The text after the last "/" of path, or the whole of it.
const char *baseNameOf(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// Splits a trimmed line into its first word and the first non-blank
// character after it.  FALSE when the line holds no such character.
bool splitLine(const char *line, std::string *word, char *letter) {
  const char *end = line;
  while (*end != '\0' && !isScanBlank(*end))
    ++end;
  const char *after = end;
  while (*after != '\0' && isScanBlank(*after))
    ++after;
  if (end == line || *after == '\0') return false;
  word->assign(line, static_cast<std::size_t>(end - line));
  *letter = *after;
  return true;
}

// The style that the last line of the shell list file at listPath naming
// baseName with a known letter gives; 0 when the file cannot be read or no
// such line decides.  *problem receives the first line that was ignored.
int styleFromList(const char *listPath, const std::string &baseName, std::string *problem) {
  // Only a file, and one of a size a list can have: a directory, a device
  // or a pipe under that name would be read for ever, or never.
  struct stat st;
  if (stat(listPath, &st) != 0) return 0;
  if (!S_ISREG(st.st_mode) || st.st_size > kShellListMaxBytes) {
    *problem =
        std::string("The shell list file ") + listPath +
        (S_ISREG(st.st_mode) ? " is larger than " + std::to_string(kShellListMaxBytes) + " bytes"
                             : std::string(" is not a regular file")) +
        "; it was not read.";
    return 0;
  }
  vx::File file(std::fopen(listPath, "rt"));
  if (!file) return 0;
  int style = 0;
  // One read holds at most VX_PARBUF_SIZE - 1 characters; the rest of a
  // longer line comes with the next read, as a line of its own.
  char line[VX_PARBUF_SIZE];
  std::string word;
  char letter = '\0';
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    StrTrim(line);
    if (!isAsciiLetter(line[0])) continue;  // comment
    if (!splitLine(line, &word, &letter)) continue;
    if (word.size() > kShellNameWordMax) {
      if (problem->empty()) {
        *problem = std::string("A shell's name in ") + listPath + " is longer than " +
                   std::to_string(kShellNameWordMax) + " characters; that line is ignored.";
      }
      continue;
    }
    if (word != baseName) continue;
    switch (std::tolower(static_cast<unsigned char>(letter))) {
      case 'c':
        style = kShellStyleCsh;
        break;
      case 'k':
        style = kShellStyleKsh;
        break;
      default:  // an unknown letter leaves the style as it was
        break;
    }
  }
  return style;
}

}  // namespace

int ShellFamilyStyle(const std::string &baseName) {
  for (const char *name : kKshFamily) {
    if (baseName == name) return kShellStyleKsh;
  }
  for (const char *name : kCshFamily) {
    if (baseName == name) return kShellStyleCsh;
  }
  return 0;
}

std::string ShellPathCommand(const std::string &shellPath) {
  const std::size_t start = shellPath.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  const std::size_t end = shellPath.find_first_of(" \t", start);
  return shellPath.substr(start, end == std::string::npos ? end : end - start);
}

int ShellPathFamilyStyle(const std::string &shellPath) {
  return ShellFamilyStyle(baseNameOf(ShellPathCommand(shellPath).c_str()));
}

ShellDetection DetectShellStyle(const char *listPath, const char *shellValue) {
  ShellDetection result;
  if (shellValue == nullptr) return result;
  const std::string baseName = baseNameOf(shellValue);
  int listed = 0;
  if (listPath != nullptr && access(listPath, F_OK) == 0) {
    if (baseName.size() > kShellBaseNameMax) {
      result.problem = "The shell's name in SHELL is longer than " +
                       std::to_string(kShellBaseNameMax) +
                       " characters; the csh shell style is assumed.";
      return result;
    }
    listed = styleFromList(listPath, baseName, &result.problem);
  }
  // A list line wins; without one, the shell's own family; csh otherwise.
  const int style = listed != 0 ? listed : ShellFamilyStyle(baseName);
  if (style != 0) result.style = style;
  return result;
}

bool ShellPathText(const char *shellValue, const char *defaultName, const char *options,
                   std::size_t limit, std::string *text) {
  if (shellValue != nullptr && *shellValue != '\0') {
    *text = shellValue;
  } else {
    *text = std::string(kDefaultShellDirectory) + (defaultName != nullptr ? defaultName : "");
  }
  if (options != nullptr) *text += options;
  if (text->size() > limit) {
    text->clear();
    return false;
  }
  return true;
}
