/*
 * file_dialogs.cc - the GUI layer's file dialogs, keeping the working
 * directory.
 *
 * The dialogs may leave the process in the directory the user browsed to,
 * which would move every relative path of the program (the settings file
 * among them).  The wrappers here put the working directory back, whatever
 * the dialog did.
 */
#include <vibrant.h>

#include "raii.h"
#include "utility.h"

namespace {

// Remembers the working directory for as long as it lives and makes it
// the working directory again when it goes.
class DirectoryKeeper {
 public:
  DirectoryKeeper() : saved_(CurrentDirectory()) {}
  ~DirectoryKeeper() { ChangeDirectory(saved_.get()); }
  DirectoryKeeper(const DirectoryKeeper &) = delete;
  DirectoryKeeper &operator=(const DirectoryKeeper &) = delete;

 private:
  vx::MemBlock saved_;
};

}  // namespace

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
