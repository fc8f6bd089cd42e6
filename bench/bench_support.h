/*
 * bench_support.h - a private working directory and a message counter for
 * the benchmarks.
 *
 * Every benchmark that touches the settings runs in its own temporary
 * directory with its own ./.velorixrc, written before the first settings
 * call, so that the core library never reaches the home directory's file.
 * Messages are counted instead of shown; a benchmark whose work produced a
 * message measured something else than it meant to, and says so.
 */
#ifndef VELORIX_BENCH_SUPPORT_H
#define VELORIX_BENCH_SUPPORT_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "utility.h"
#undef Message
#undef huge

namespace vxbench {

inline int &MessageCount() {
  static int count = 0;
  return count;
}

inline MsgAnswer LIBCALLBACK CountMessage(MsgKey, ErrSev, const char *, const char *text) {
  ++MessageCount();
  std::fprintf(stderr, "bench: unexpected message: %s\n", text != nullptr ? text : "");
  return ANS_OK;
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::FILE *file = std::fopen(path.c_str(), "w");
  if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fclose(file);
}

// Enters a private temporary directory (once per process; removed at
// exit) holding an empty ./.velorixrc, and installs the message counter.
inline const std::string &PrivateDirectory() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velorix-bench-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr || chdir(pattern.c_str()) != 0) {
      std::perror("private bench directory");
      std::exit(1);
    }
    WriteFile(".velorixrc", "");
    Nlm_SetMessageHook(CountMessage);
    static char made[4096];
    std::snprintf(made, sizeof made, "%s", pattern.c_str());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(made, ignored);
    });
    return pattern;
  }();
  return dir;
}

// Replaces the private settings file and makes the core library read it.
inline void UseSettings(const std::string &text) {
  PrivateDirectory();
  WriteFile(".velorixrc", text);
  SettingsReload();
}

}  // namespace vxbench

#endif
