/*
 * fuzz_strings.cc - fuzzes the heap-string helpers StrSubstitute,
 * StrInsert and StrTrim.
 *
 * Input: one byte of options (whole word; the insert position from the
 * next byte), then the text, NUL, the search text, NUL, the replacement.
 * Results are checked against what each helper promises.
 */
#include <cstring>

#include "fuzz_support.h"

namespace {

Nlm_CharPtr Block(const std::string &text) {
  auto block = static_cast<Nlm_CharPtr>(Nlm_MemGet(text.size() + 1, MGET_CLEAR));
  if (block == nullptr) std::abort();
  std::memcpy(block, text.c_str(), std::strlen(text.c_str()));
  return block;
}

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 26; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vxfuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const bool wholeWord = (data[0] & 1) != 0;
  // Positions beyond either end are allowed and must be clamped.
  const Nlm_Int2 position = static_cast<Nlm_Int2>(static_cast<int8_t>(data[1]) * 4);
  const std::vector<std::string> part = vxfuzz::SplitInput(data + 2, size - 2, 3);
  const std::string text = part[0].c_str();

  Nlm_Int2 count = -1;
  Nlm_CharPtr str = StrSubstitute(Block(text), part[1].c_str(), part[2].c_str(),
                                  wholeWord ? TRUE : FALSE, &count);
  if (str == nullptr || count < 0) std::abort();
  if (count == 0 && std::strcmp(str, text.c_str()) != 0) std::abort();
  // Without whole-word matching the result is every occurrence, left to
  // right and not overlapping, replaced (unless it was refused as too long).
  if (!wholeWord && count > 0) {
    const std::string search = part[1].c_str();
    const std::string replacement = part[2].c_str();
    std::string expected;
    size_t from = 0;
    for (size_t at = text.find(search); at != std::string::npos; at = text.find(search, from)) {
      expected.append(text, from, at - from).append(replacement);
      from = at + search.size();
    }
    expected.append(text, from, std::string::npos);
    if (expected != str) std::abort();
  }

  const size_t before = std::strlen(str);
  str = StrInsert(str, position, part[2].c_str());
  if (str == nullptr) std::abort();
  const size_t after = std::strlen(str);
  if (after != before && after != before + std::strlen(part[2].c_str())) std::abort();

  StrTrim(str);
  const size_t trimmed = std::strlen(str);
  if (trimmed > 0 && (IsTrimmed(str[0]) || IsTrimmed(str[trimmed - 1]))) std::abort();
  Nlm_MemFree(str);

  char line[VX_LINE_SIZE];
  std::snprintf(line, sizeof line, "%s", text.c_str());
  StrTrim(line);
  StrTrim(nullptr);
  return 0;
}
