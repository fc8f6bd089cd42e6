/*
 * fuzz_settings.cc - fuzzes reference expansion and the settings reads.
 *
 * Input: a settings file, NUL, a text.  The settings file replaces
 * ./.velorixrc of the private directory and the core library's copy is
 * dropped; the text is then expanded in a settings-sized buffer (Translate
 * and TranslateRef), stored as the scratch key [TMP] TMP and read back
 * through every read operation, as the installation does with template
 * lines; [A] B, C and [KernelErrors] W are read too, so that values from
 * the file reach the checked formatter.  The text is also expanded in a
 * small buffer, where values fill it sooner.
 */
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr size_t kText = VX_PARBUF_SIZE;

void CheckExpanded(const char *text) {
  // Expansion leaves no line-break or empty mark, resolved or not, and
  // never runs past the buffer.
  if (strnlen(text, kText) >= kText || std::strchr(text, VX_LINE_BREAK_MARK) != nullptr ||
      std::strchr(text, VX_EMPTY_MARK) != nullptr) {
    std::abort();
  }
}

void ReadWithArguments(const char *section, const char *key) {
  GetParamString(section, key);
  GetParam(section, key);
  GetParam(section, key, 26, "text", 1.5);
  GetParam(section, key, static_cast<const char *>(nullptr), 7u, -3L, &kText);
}

// Room for a text of the input and a few characters more.
constexpr size_t kSmall = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vxfuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::string> part = vxfuzz::SplitInput(data, size, 2);
  vxfuzz::WriteFile(".velorixrc", part[0]);
  SettingsReload();

  char text[kText];
  std::snprintf(text, sizeof text, "%s", part[1].c_str());
  if (std::strlen(text) < kSmall) {
    char small[kSmall];
    std::memcpy(small, text, std::strlen(text) + 1);
    TranslateSized(small, sizeof small, "Fuzz", "TEXT");
    if (strnlen(small, kSmall) >= kSmall) std::abort();
  }
  char copy[kText];
  std::memcpy(copy, text, sizeof copy);
  Translate(text, "Fuzz", "TEXT");
  CheckExpanded(text);
  TranslateRef(copy, nullptr, nullptr);
  if (strnlen(copy, kText) >= kText) std::abort();

  ReadWithArguments("A", "B");
  std::snprintf(ParBuf, sizeof ParBuf, "%s", "prefix/");
  GetParamAppend("A", "C");
  Warning("W");
  Warning("W", "velorix", "A", 3);

  // The scratch-key road: store, read back expanded, remove the section.
  std::snprintf(text, sizeof text, "%s", part[1].c_str());
  if (SetParam("TMP", "TMP", text)) {
    ReadWithArguments("TMP", "TMP");
    if (GetParamString("TMP", "TMP") != nullptr) CheckExpanded(ParBuf);
  }
  SetParam("TMP", nullptr, nullptr);
  return 0;
}
