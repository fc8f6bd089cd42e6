/*
 * directory.cc - the working directory and truncation.
 */
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "raii.h"
#include "utility.h"

namespace {

// Size of the block CurrentDirectory returns: a path and its NUL.
constexpr std::size_t kDirectoryBlockSize = 4096;

}  // namespace

// A directory that cannot be determined (removed, or deeper than the block
// holds) is reported, and NULL returned rather than a made-up path.
extern "C" Nlm_CharPtr CurrentDirectory(void) {
  vx::MemBlock block(
      static_cast<Nlm_CharPtr>(Nlm_MemGet(kDirectoryBlockSize, MGET_CLEAR | MGET_ERRPOST)));
  if (block == nullptr) return nullptr;
  if (getcwd(block.get(), kDirectoryBlockSize) == nullptr) {
    const int error = errno;
    block.reset();
    Nlm_Message(MSG_OK, "Cannot determine the working directory: %s", std::strerror(error));
    return nullptr;
  }
  return block.release();
}

extern "C" void ChangeDirectory(const char *path) {
  if (path == nullptr) return;
  // Callers restore a directory they were just in; a failure leaves them
  // where they are, which is all they could do about it.
  if (chdir(path) != 0) return;
}

// The stream is not flushed: a caller that wrote through it flushes first.
extern "C" Nlm_Boolean TruncateFile(FILE *stream, long length) {
  if (stream == nullptr || length < 0) return FALSE;
  const int fd = fileno(stream);
  if (fd < 0) return FALSE;
  return ftruncate(fd, static_cast<off_t>(length)) == 0 ? TRUE : FALSE;
}
