/*
 * directory.cc - the working directory, the file dialogs and truncation.
 *
 * The GUI layer's file dialogs may leave the process in the directory the
 * user browsed to, which would move every relative path of the program
 * (the settings file among them).  The wrappers here put the working
 * directory back, whatever the dialog did.
 */
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <vibrant.h>

#include "utility.h"

namespace {

// Size of the block CurrentDirectory returns: a path and its NUL.
constexpr std::size_t kDirectoryBlockSize = 4096;

// Remembers the working directory for as long as it lives and makes it
// the working directory again when it goes.
class DirectoryKeeper {
 public:
  DirectoryKeeper() : saved_(CurrentDirectory()) {}
  ~DirectoryKeeper() {
    ChangeDirectory(saved_);
    Nlm_MemFree(saved_);
  }
  DirectoryKeeper(const DirectoryKeeper &) = delete;
  DirectoryKeeper &operator=(const DirectoryKeeper &) = delete;

 private:
  Nlm_CharPtr saved_;
};

}  // namespace

// A directory that cannot be determined (removed, or deeper than the block
// holds) is reported, and NULL returned rather than a made-up path.
extern "C" Nlm_CharPtr CurrentDirectory(void) {
  auto block = static_cast<Nlm_CharPtr>(Nlm_MemGet(kDirectoryBlockSize, MGET_CLEAR | MGET_ERRPOST));
  if (block == nullptr) return nullptr;
  if (getcwd(block, kDirectoryBlockSize) == nullptr) {
    const int error = errno;
    Nlm_MemFree(block);
    Nlm_Message(MSG_OK, "Cannot determine the working directory: %s", std::strerror(error));
    return nullptr;
  }
  return block;
}

extern "C" void ChangeDirectory(const char *path) {
  if (path == nullptr) return;
  // Callers restore a directory they were just in; a failure leaves them
  // where they are, which is all they could do about it.
  if (chdir(path) != 0) return;
}

extern "C" Nlm_Boolean myGetInputFileName(Nlm_CharPtr name, size_t size, Nlm_CharPtr extType) {
  if (name == nullptr || size == 0) return FALSE;
  DirectoryKeeper keep;
  return Nlm_GetInputFileName(name, size, extType, nullptr);
}

extern "C" Nlm_Boolean myGetOutputFileName(Nlm_CharPtr name, size_t size, Nlm_CharPtr proposed) {
  if (name == nullptr || size == 0) return FALSE;
  DirectoryKeeper keep;
  return Nlm_GetOutputFileName(name, size, proposed);
}

// The stream is not flushed: a caller that wrote through it flushes first.
extern "C" Nlm_Boolean TruncateFile(FILE *stream, long length) {
  if (stream == nullptr || length < 0) return FALSE;
  const int fd = fileno(stream);
  if (fd < 0) return FALSE;
  return ftruncate(fd, static_cast<off_t>(length)) == 0 ? TRUE : FALSE;
}
