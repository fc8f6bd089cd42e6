/*
 * fuzz_settings.cc - fuzzes reference expansion and the settings reads.
 *
 * Input: a settings file, NUL, a text.  The settings file replaces
 * ./.velorixrc of the private directory and the core library's copy is
 * dropped; the text is then expanded in a settings-sized buffer (Translate
 * and TranslateRef), stored as the scratch key [TMP] TMP and read back
 * through every read operation, as the installation does with template
 * lines; [A] B, C and [KernelErrors] W are read too, so that values from
 * the file reach the checked formatter.  The text is also expanded by both
 * roads of the expansion, in a settings-sized and in a small buffer, with
 * and without "%" doubling: they must agree on text, result and reports.
 */
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings_internal.h"

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

std::vector<std::string> &Reports() {
  static std::vector<std::string> reports;
  return reports;
}

MsgAnswer LIBCALLBACK KeepReport(MsgKey, ErrSev, const char *, const char *text) {
  Reports().push_back(text != nullptr ? text : "");
  return ANS_OK;
}

struct Expansion {
  bool resolved;
  std::string text;
  size_t length;
  std::vector<std::string> reports;
};

Expansion ExpandBy(bool fast, const std::string &input, size_t size, bool forFormat) {
  std::vector<char> buf(size, '\0');
  std::memcpy(buf.data(), input.c_str(), input.size() + 1);
  size_t length = input.size();
  Reports().clear();
  Nlm_SetMessageHook(KeepReport);
  const bool resolved =
      fast ? vx::expandReferences(buf.data(), &length, size, "Fuzz", "TEXT", forFormat)
           : vx::expandReferencesBySplicing(buf.data(), &length, size, "Fuzz", "TEXT", forFormat);
  Nlm_SetMessageHook(vxfuzz::DropMessage);
  if (strnlen(buf.data(), size) >= size) std::abort();
  return Expansion{resolved, buf.data(), resolved ? length : 0, Reports()};
}

void CompareRoads(const std::string &input) {
  for (const size_t size : {kText, size_t{64}}) {
    if (input.size() >= size) continue;
    for (const bool forFormat : {false, true}) {
      const Expansion walked = ExpandBy(true, input, size, forFormat);
      const Expansion spliced = ExpandBy(false, input, size, forFormat);
      if (walked.resolved != spliced.resolved || walked.text != spliced.text ||
          walked.reports != spliced.reports || walked.length != spliced.length ||
          (walked.resolved && walked.length != walked.text.size())) {
        std::abort();
      }
    }
  }
}

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
  CompareRoads(text);
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
