/*
 * fuzz_support.h - what every fuzz target shares: a private working
 * directory with its own ./.velorixrc, made before any settings call so
 * that the core library never falls back to the settings file of the home
 * directory, and a message hook that drops every message instead of
 * opening a window or writing to standard error.
 *
 * Inputs are split into parts at NUL bytes (SplitInput): a harness reads
 * its files and texts from them, so that one input carries several files.
 */
#ifndef VELORIX_FUZZ_SUPPORT_H
#define VELORIX_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "utility.h"
#undef Message
#undef huge

namespace vxfuzz {

inline MsgAnswer LIBCALLBACK DropMessage(MsgKey, ErrSev, const char *, const char *) {
  return ANS_OK;
}

// Writes text to path with plain stdio; aborts when it cannot, since a
// harness that silently worked on a stale file would test nothing.
inline void WriteFile(const char *path, const std::string &text) {
  std::FILE *file = std::fopen(path, "w");
  if (file == nullptr) {
    std::perror(path);
    std::abort();
  }
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// The directory every harness works in, made and entered once per process
// (in /dev/shm when there is one: each input rewrites small files).
inline const std::string &PrivateDirectory() {
  static const std::string dir = [] {
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/velorix-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr || chdir(pattern.c_str()) != 0) {
      std::perror("private fuzz directory");
      std::abort();
    }
    // Removed at a normal exit; after a crash it is left for a look.  The
    // path is copied: this string is destroyed before the exit handler runs.
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

// Enters the private directory, gives it a settings file, drops messages
// and keeps the core library from looking anywhere but here.  Call first,
// from LLVMFuzzerInitialize.
inline void Setup(const std::string &settings = "[Paths]\nKERNEL=/nonexistent/\n") {
  unsetenv("NCBI_DONT_USE_LOCAL_CONFIG");
  PrivateDirectory();
  WriteFile(".velorixrc", settings);
  Nlm_SetMessageHook(DropMessage);
  SettingsReload();
}

// The input cut at each NUL byte; a missing part is empty.
inline std::vector<std::string> SplitInput(const uint8_t *data, size_t size, size_t parts) {
  std::vector<std::string> out(parts);
  size_t part = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < parts) {
      ++part;
      continue;
    }
    out[part].push_back(static_cast<char>(data[i]));
  }
  return out;
}

}  // namespace vxfuzz

#endif
