/*
 * test_settings_template.cc - the default settings file SetData.
 *
 * What each line says is pinned by the golden copies of the settings file
 * an installation writes (tests/golden); here, the template's shape (its
 * sections, comments and keys) and what holds between its lines.  The
 * second half installs the template as ./.velorixrc in a private
 * directory and reads the keys that the installation and the analysis
 * program depend on through the support library.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "file_writing.h"
#include "form_fields.h"
#include "settings_fixture.h"
#include "templates.h"
#include "tuning_fields.h"

namespace {

constexpr std::size_t kSectionCount = 17;
constexpr std::size_t kTextComments = 2;
constexpr std::size_t kKeyLines = 179;
constexpr std::size_t kKernelErrorCount = 66;
// The core library splits physical lines longer than this.
constexpr std::size_t kMaxPhysicalLine = VX_SETTINGS_LINE_MAX;

std::vector<std::string> TemplateLines() {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < kSetDataLines && SetData[i] != nullptr; ++i)
    lines.emplace_back(SetData[i]);
  return lines;
}

std::string KeyOf(const std::string &line) { return line.substr(0, line.find('=')); }

bool IsHeader(const std::string &line) {
  return line.size() > 2 && line.front() == '[' && line.back() == ']';
}

// Lines of section header, without the ";" line that introduces the next one.
std::vector<std::string> SectionLines(const std::string &header) {
  const auto all = TemplateLines();
  std::vector<std::string> out;
  bool in = false;
  for (const auto &line : all) {
    if (IsHeader(line)) {
      in = line == header;
      continue;
    }
    if (in && line != ";") out.push_back(line);
  }
  return out;
}

TEST(SettingsTemplate, TableShape) {
  for (std::size_t i = 0; i < kSetDataLines; ++i)
    ASSERT_NE(SetData[i], nullptr) << "line " << i;
  EXPECT_EQ(SetData[kSetDataLines], nullptr);

  std::size_t separators = 0, headers = 0, comments = 0, keys = 0;
  for (const auto &line : TemplateLines()) {
    EXPECT_LT(line.size(), kMaxPhysicalLine) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    if (line == ";") {
      ++separators;
    } else if (IsHeader(line)) {
      ++headers;
    } else if (line.front() == ';') {
      ++comments;
    } else {
      EXPECT_NE(line.find('='), std::string::npos) << line;
      ++keys;
    }
  }
  EXPECT_EQ(separators, kSectionCount);
  EXPECT_EQ(headers, kSectionCount);
  EXPECT_EQ(comments, kTextComments);
  EXPECT_EQ(keys, kKeyLines);
  EXPECT_STREQ(SetData[0], ";");
  EXPECT_EQ(std::strncmp(SetData[kSetDataLines - 1], "SECONDCOPY=", 11), 0)
      << SetData[kSetDataLines - 1];
}

TEST(SettingsTemplate, EverySectionAfterItsSeparator) {
  const auto lines = TemplateLines();
  std::set<std::string> headers;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!IsHeader(lines[i])) continue;
    EXPECT_TRUE(headers.insert(lines[i]).second) << "twice: " << lines[i];
    ASSERT_GT(i, 0u);
    EXPECT_EQ(lines[i - 1], ";") << "before " << lines[i];
  }
  EXPECT_EQ(headers.size(), kSectionCount);
}

TEST(SettingsTemplate, KernelErrorsAreMessages) {
  const auto got = SectionLines("[KernelErrors]");
  ASSERT_EQ(got.size(), kKernelErrorCount);
  // Every text is a message: not empty.
  for (const auto &line : got)
    EXPECT_GT(line.size(), KeyOf(line).size() + 1) << line;
}

// Every $(Section.KEY) reference names a key the template itself defines,
// so that nothing but the placeholders can report an undefined value.
TEST(SettingsTemplate, ReferencesNameExistingKeys) {
  std::map<std::string, std::set<std::string>> keys;
  std::string current;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      current = line.substr(1, line.size() - 2);
    } else if (line.front() != ';') {
      keys[current].insert(KeyOf(line));
    }
  }
  // A reference: "$(", a section name without ".", ".", a key without ")", ")".
  for (const auto &line : TemplateLines()) {
    for (std::size_t at = line.find("$("); at != std::string::npos; at = line.find("$(", at + 1)) {
      const std::size_t dot = line.find('.', at + 2);
      const std::size_t close = dot == std::string::npos ? dot : line.find(')', dot + 1);
      ASSERT_NE(close, std::string::npos) << "incomplete reference in " << line;
      const auto section = keys.find(line.substr(at + 2, dot - at - 2));
      ASSERT_NE(section, keys.end()) << line;
      EXPECT_EQ(section->second.count(line.substr(dot + 1, close - dot - 1)), 1u) << line;
    }
  }
}

// Only LIBLOAD may be repeated within a section: a second copy of any
// other key would never be read.
TEST(SettingsTemplate, NoUnintendedDuplicateKeys) {
  std::string current;
  std::set<std::string> seen;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      current = line;
      seen.clear();
    } else if (line.front() != ';') {
      const auto key = KeyOf(line);
      if (!seen.insert(key).second) {
        EXPECT_TRUE(current == "[KernelErrors]" && key == "LIBLOAD") << current << " " << key;
      }
    }
  }
}

// ---- the template as a settings file, read through the support library ----

constexpr const char *kKernel = "/opt/velorix/";
constexpr const char *kKernelW = "/home/user/work/";
// Longest text any settings read may give.
constexpr std::size_t kMaxValue = VX_PARBUF_SIZE - 1;
constexpr std::size_t kWrtLongLength = 438;

std::string Or(const char *text) { return text != nullptr ? text : "(null)"; }

std::vector<std::string> FileLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string TemplateText() {
  std::string text;
  for (const auto &line : TemplateLines())
    text += line + "\n";
  return text;
}

class TemplateSettings : public vxtest::SettingsTest {
 protected:
  // The template as the installation writes it, then the two directories
  // it stores at once.
  void InstallTemplate() {
    WriteSettings(TemplateText());
    Store("Paths", "KERNEL", kKernel);
    Store("Paths", "KERNELW", kKernelW);
    Shown().clear();
  }

  static void Store(const char *section, const char *key, const std::string &value) {
    std::vector<char> buf(value.begin(), value.end());
    buf.push_back('\0');
    ASSERT_TRUE(SetParam(section, key, buf.data())) << section << "." << key;
  }
};

TEST_F(TemplateSettings, WrittenByCreateFileLineForLine) {
  ASSERT_TRUE(CreateFile(".velorixrc", SetData, "rw-r--r--", false).ok());
  const std::string text = FileText();
  EXPECT_EQ(text, TemplateText());
  const auto lines = FileLines(text);
  ASSERT_EQ(lines.size(), kSetDataLines);
  EXPECT_EQ(lines.front(), ";");
  EXPECT_EQ(lines.back().rfind("SECONDCOPY=", 0), 0u);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, PathsFollowTheProductDirectory) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParam("Libraries", "AUTODIF")), std::string(kKernel) + "velodiff.so");
  EXPECT_EQ(Or(GetParam("Files", "CLASSFILE")), std::string(kKernel) + "classes.vel");
  EXPECT_EQ(Or(GetParam("Paths", "INCLUDE")), kKernel);
  EXPECT_EQ(Or(GetParam("Files", "NAMES1.2")), std::string(kKernelW) + "filenums.vel");
  EXPECT_EQ(Or(GetParam("Compiler", "BATCH")), std::string(kKernel) + "CompRhs");
  EXPECT_EQ(Or(GetParam("Files", "CLASSFILECUR", "base")), std::string(kKernel) + "base.vel");
  EXPECT_EQ(Or(GetParam("Files", "FORMAT", 26)), "velo001a");
  EXPECT_EQ(Or(GetParam("Window_2DGraphic", "HARDCOPY")),
            "hardcopy.ps 425.19685 340.15748 2 Times-Roman 10 2 2 1 f t f");
  // Values stored as the empty mark read as the empty text.
  EXPECT_EQ(Or(GetParam("Extensions", "RUN")), "");
  EXPECT_EQ(Or(GetParam("Compiler", "RHSATTR")), "");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, IncludeLinesEndInNewlines) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParam("Compiler", "HEADER")), "#include \"vel_sys.h\"\n");
  EXPECT_EQ(Or(GetParam("Visual", "INCLUDE")), "#include <stdio.h>\n#include \"tmp_win.h\"\n");
  EXPECT_EQ(Or(GetParam("Compiler", "HEADERPAR")), "#include \"stagen1.h\"\n#include <stdio.h>\n");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, CompileCommandNeedsItsSource) {
  InstallTemplate();
  EXPECT_EQ(GetParam("Compiler", "MAKERHS"), nullptr);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Settings file 'velorix',\nsection 'Compiler',\nkey 'MAKERHS'\n"
                        "contains a reference to undefined value");

  Shown().clear();
  Store("Compiler", "SOURCE", "model");
  Store("Compiler", "TARGET", "libmodel");
  EXPECT_EQ(Or(GetParam("Compiler", "MAKERHS")), std::string(kKernel) + "CompRhs model libmodel n");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(TemplateSettings, MessageTexts) {
  InstallTemplate();
  EXPECT_EQ(Or(GetParamString("KernelErrors", "LIBLOAD")), "- cannot load.\n");
  const std::string wrtlong = Or(GetParamString("KernelErrors", "ED_WRTLONG"));
  EXPECT_EQ(wrtlong.size(), kWrtLongLength);
  EXPECT_EQ(wrtlong.rfind("?yncThe text length is greater than 32767 characters.\n", 0), 0u);
  EXPECT_EQ(Or(GetParamString("KernelErrors", "MENUMEM")), "CreateMenus:\ncannot allocate memory");
  EXPECT_TRUE(Shown().empty());

  // Every message, worded here or not, expands within the limit and
  // without an undefined reference.
  for (const auto &line : SectionLines("[KernelErrors]")) {
    const std::string key = KeyOf(line);
    const char *text = GetParamString("KernelErrors", key.c_str());
    ASSERT_NE(text, nullptr) << key;
    EXPECT_LE(std::strlen(text), kMaxValue) << key;
    EXPECT_EQ(std::strchr(text, '~'), nullptr) << key;
  }
  EXPECT_TRUE(Shown().empty());
}

// Every key of the installed template reads, except the placeholders that
// only the analysis program fills and the values built from them.
TEST_F(TemplateSettings, EveryOtherKeyReads) {
  InstallTemplate();
  std::set<std::string> unfilled = {
      "Libraries.RHSLIB", "Libraries.WINLIB", "Libraries.PARLIB", "Libraries.UDFLIB",
      "Libraries.WINCLASSLIB", "Libraries.LIBNAME", "Compiler.SOURCE", "Compiler.TARGET",
      "Compiler.CURERMSG", "Compiler.MAKERHS", "Compiler.CERRLINEO",
      // filled by the installation
      "Currents.CLASSCUR"};
  // and the keys of the form's fields that the template leaves empty,
  // which the installation fills from the form (the directory's
  // InstallTemplate stores)
  for (const FormField &field : kFormFields) {
    if (field.section == nullptr || field.id == Field::kKernel) continue;
    const auto values = TemplateValues(SetData, kSetDataLines, field.section, field.key);
    if (!values.empty() && *values.back() == '\0')
      unfilled.insert(std::string(field.section) + "." + field.key);
  }
  std::string section;
  for (const auto &line : TemplateLines()) {
    if (IsHeader(line)) {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    if (line.front() == ';') continue;
    const std::string name = section + "." + KeyOf(line);
    Shown().clear();
    const char *text = GetParamString(section.c_str(), KeyOf(line).c_str());
    if (unfilled.count(name) != 0) {
      EXPECT_EQ(text, nullptr) << name;
      EXPECT_EQ(Shown().size(), 1u) << name;
    } else {
      EXPECT_NE(text, nullptr) << name;
      EXPECT_TRUE(Shown().empty()) << name << ": " << (Shown().empty() ? "" : Shown()[0]);
    }
  }
}

TEST_F(TemplateSettings, CommentLinesSurviveARewrite) {
  InstallTemplate();
  Store("Currents", "CLASSCUR", "standard");
  const auto lines = FileLines(FileText());
  std::size_t headers = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsHeader(lines[i])) {
      ++headers;
      ASSERT_GT(i, 0u);
      EXPECT_EQ(lines[i - 1], ";") << "before " << lines[i];
    }
    if (lines[i] == "LOCK=-") {
      EXPECT_EQ(lines.at(i - 1), "; Set LOCK to - to run Velorix after a crash");
    }
    if (lines[i] == "STARTUP=0") {
      EXPECT_EQ(lines.at(i - 1),
                "; Set STARTUP to 1 to run Velorix without active system after crash");
    }
  }
  EXPECT_EQ(headers, kSectionCount);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CLASSCUR=standard"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("KERNEL=") + kKernel), lines.end());
}

}  // namespace
