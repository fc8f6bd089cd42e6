/*
 * raii.h - owners for the core library's memory blocks and for stdio
 * streams, for the C++ code of the support library and the setup tool.
 * Not part of utility.h, whose callers may be C.
 */
#ifndef VELORIX_SUPPORT_RAII_H
#define VELORIX_SUPPORT_RAII_H

#include <cstdio>
#include <memory>

#include <ncbi.h>

namespace vx {

// Frees a block of Nlm_MemGet.
struct MemFreer {
  void operator()(void *block) const { Nlm_MemFree(block); }
};

// Closes a stream of fopen.
struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

using MemBlock = std::unique_ptr<char, MemFreer>;
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace vx

#endif  // VELORIX_SUPPORT_RAII_H
