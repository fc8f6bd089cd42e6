/*
 * fuzz_permissions.cc - fuzzes the permission string that gives a
 * written file its mode.
 *
 * Input: the permission string.  Its mode must hold permission bits only,
 * one for each of the first nine characters that is the letter of its
 * place; and a file written with CreateFile and that string must end with
 * exactly that mode.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "file_writing.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vxfuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string permissions(reinterpret_cast<const char *>(data), size);
  const char *text = permissions.c_str();
  const mode_t mode = ModeFromPermissions(text);
  static const char kLetters[] = "rwxrwxrwx";
  mode_t expected = 0;
  for (size_t i = 0; i < 9 && text[i] != '\0'; ++i) {
    if (text[i] == kLetters[i]) expected |= static_cast<mode_t>(0400 >> i);
  }
  if (mode != expected) std::abort();

  static const char *const kLines[] = {"first line", "$(Paths.KERNEL)", nullptr};
  // A new file each time: one left by the input before would keep its
  // group and others from being given more than it had.
  (void)unlink("written.txt");
  if (!CreateFile("written.txt", kLines, text, false).ok()) std::abort();
  struct stat written {};
  if (stat("written.txt", &written) != 0 || (written.st_mode & 07777) != mode) std::abort();
  return 0;
}
