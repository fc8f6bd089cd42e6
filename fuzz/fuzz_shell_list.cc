/*
 * fuzz_shell_list.cc - fuzzes the shell list file "shells.vel" and the
 * shell path text.
 *
 * Input: the list file, NUL, the value of SHELL, NUL, the options of a
 * shell style.  The style found must be one of the two known ones, and
 * the path text must keep to its limit.
 */
#include "fuzz_support.h"
#include "form_fields.h"
#include "shell_detection.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vxfuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> part = vxfuzz::SplitInput(data, size, 3);
  vxfuzz::WriteFile(kShellListFile, part[0]);
  const ShellDetection found = DetectShellStyle(kShellListFile, part[1].c_str());
  if (found.style != kShellStyleCsh && found.style != kShellStyleKsh) std::abort();
  DetectShellStyle(kShellListFile, nullptr);

  std::string text;
  const bool fits = ShellPathText(part[1].c_str(), "csh", part[2].c_str(), kShellPathLimit, &text);
  if (fits ? text.size() > kShellPathLimit : !text.empty()) std::abort();
  ShellPathText(nullptr, nullptr, nullptr, kShellPathLimit, &text);
  return 0;
}
