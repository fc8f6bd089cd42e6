/*
 * fuzz_descriptor.cc - fuzzes the description-file reader.
 *
 * Input: one byte choosing a column, then the main file, NUL, an included
 * file "a.des", NUL, an included file "b.des", NUL, a line to search for.
 * The files are written into the private directory, which is the product
 * directory of the private settings file, so that "&&a.des" includes a
 * file of the input; the settings file also defines a few values for
 * references in lines.  Every operation of the reader runs over the
 * files: line by line in buffers of several sizes, by column, the search,
 * the counts, positions kept and restored, rewinding and the end test.
 */
#include <cstring>

#include "descriptor_internal.h"
#include "fuzz_support.h"

namespace {

// Lines taken from one reading loop at most: with includes two levels
// deep a small input can still make many lines.
constexpr int kMaxLines = 3000;
// Include lines allowed in one input.  Each include line reads its file
// whole, so k of them in each of three files make k * k * k readings of
// the innermost one, and the search and the counts read to the end: more
// would only make the target slow, not reach other code.
constexpr int kMaxIncludes = 8;

int CountIncludes(const std::vector<std::string> &parts) {
  int count = 0;
  for (const std::string &part : parts) {
    for (std::size_t at = part.find("&&"); at != std::string::npos; at = part.find("&&", at + 2))
      ++count;
  }
  return count;
}
constexpr size_t kWide = 2 * VX_LINE_SIZE;

void CheckLine(const char *line, size_t size) {
  if (strnlen(line, size) >= size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vxfuzz::Setup();
  vxfuzz::WriteFile(".velorixrc",
                    "[Paths]\nKERNEL=" + vxfuzz::PrivateDirectory() +
                        "/\n[A]\nB=bee\nC=$(A.B)/see~\nE=`\n[KernelErrors]\n"
                        "TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference "
                        "to undefined value\n");
  SettingsReload();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const Nlm_Int2 column = static_cast<Nlm_Int2>(static_cast<int8_t>(data[0]) % 4);
  const std::vector<std::string> part = vxfuzz::SplitInput(data + 1, size - 1, 4);
  if (CountIncludes(part) > kMaxIncludes) return 0;
  vxfuzz::WriteFile("main.des", part[0]);
  vxfuzz::WriteFile("a.des", part[1]);
  vxfuzz::WriteFile("b.des", part[2]);

  char line[VX_LINE_SIZE];
  char wide[kWide];
  char narrow[8];
  if (!DescOpen("main.des")) std::abort();
  Nlm_Int4 kept = -1;
  for (int n = 0; n < kMaxLines && GetLine(line) != nullptr; ++n) {
    CheckLine(line, sizeof line);
    if (n == 3) kept = descTell();
  }
  DescEof();
  if (kept >= 0 && DescSeek(kept) == 0) GetLine(line);

  DescRewind();
  for (int n = 0; n < kMaxLines && mGetLine(line, column) != nullptr; ++n)
    CheckLine(line, sizeof line);
  DescRewind();
  for (int n = 0; n < kMaxLines && GetLineSized(wide, sizeof wide) != nullptr; ++n)
    CheckLine(wide, sizeof wide);
  DescRewind();
  for (int n = 0; n < kMaxLines && GetLineSized(narrow, sizeof narrow) != nullptr; ++n) {
    CheckLine(narrow, sizeof narrow);
  }
  DescRewind();
  for (int n = 0; n < kMaxLines && mGetLineSized(wide, sizeof wide, column) != nullptr; ++n) {
    CheckLine(wide, sizeof wide);
  }

  DescRewind();
  const Nlm_Int4 found = FindLine(part[3].c_str());
  CountLines();
  mCountLines(column);
  if (found >= 0) {
    DescSeek(found);
    if (GetLine(line) != nullptr) CheckLine(line, sizeof line);
    DescRewind();
    DescSeek(found);
  }
  DescSeek(0);
  CountLines();
  DescClose();
  // Operations on a closed descriptor do nothing.
  GetLine(line);
  CountLines();
  FindLine("x");
  DescEof();
  return 0;
}
