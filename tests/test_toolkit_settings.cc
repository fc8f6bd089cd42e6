/*
 * test_toolkit_settings.cc - how the NCBI core library itself keeps,
 * searches and rewrites the settings file (Nlm_GetAppParam,
 * Nlm_SetAppParam).
 *
 * The support library relies on these behaviours and works around some of
 * them; these tests call the core library directly so that a different
 * toolkit build shows up here first, not as a puzzling failure elsewhere.
 */
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <utility>

#include "settings_fixture.h"

namespace {

using vxtest::SettingsTest;

constexpr const char *kBase = "velorix";
// Longest physical line that the core library reads as one line.
constexpr std::size_t kMaxPhysicalLine = 255;

// The length the core library reports and the text in the buffer.
std::pair<int, std::string> Get(const char *section, const char *key, const char *dflt = "",
                                Nlm_Int2 size = VX_PARBUF_SIZE) {
  char buf[VX_PARBUF_SIZE + 1] = "untouched";
  const Nlm_Int2 length = Nlm_GetAppParam(kBase, section, key, dflt, buf, size);
  return {length, buf};
}

using Read = std::pair<int, std::string>;

TEST_F(SettingsTest, ToolkitComparesNamesWithoutCaseAndReadsTheFirstOfTwoKeys) {
  WriteSettings("[Paths]\nKERNEL=first\nkernel=second\n");
  EXPECT_EQ(Get("paths", "Kernel"), Read(5, "first"));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "PATHS", "kernel", "changed"));
  // The first key changes and keeps the letter case of the file.
  EXPECT_EQ(FileText(), "[Paths]\nKERNEL=changed\nkernel=second\n\n");
}

TEST_F(SettingsTest, ToolkitTreatsEmptyValuesAsMissingAndMissingKeysAsTheDefault) {
  WriteSettings("[S]\nEMPTY=\nBLANK=   \nNOEQUALS\n");
  EXPECT_EQ(Get("S", "EMPTY", "dflt"), Read(0, ""));
  EXPECT_EQ(Get("S", "BLANK", "dflt"), Read(0, ""));
  EXPECT_EQ(Get("S", "MISSING", "dflt"), Read(4, "dflt"));
  EXPECT_EQ(Get("S", "MISSING"), Read(0, ""));
  // A line without "=" is a key whose value is its own name.
  EXPECT_EQ(Get("S", "NOEQUALS"), Read(8, "NOEQUALS"));
  // A buffer of N bytes gets N - 1 characters.
  EXPECT_EQ(Get("S", "NOEQUALS", "", 4), Read(3, "NOE"));
}

TEST_F(SettingsTest, ToolkitLosesOuterBlanksOnlyWhenReadingTheFile) {
  WriteSettings("[S]\n  KEY \t=  \tspaced value \t \n");
  EXPECT_EQ(Get("S", "KEY"), Read(12, "spaced value"));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "S", "KEY", "  padded  "));
  EXPECT_EQ(Get("S", "KEY"), Read(10, "  padded  "));
  EXPECT_EQ(FileText(), "[S]\nKEY=  padded  \n\n");
  SettingsReload();
  EXPECT_EQ(Get("S", "KEY"), Read(6, "padded"));
}

TEST_F(SettingsTest, ToolkitEndsALineAtACarriageReturn) {
  WriteSettings("[S]\r\nCRLF=dos\r\nINSIDE=a\rb\n");
  EXPECT_EQ(Get("S", "CRLF"), Read(3, "dos"));
  EXPECT_EQ(Get("S", "INSIDE"), Read(1, "a"));
}

TEST_F(SettingsTest, ToolkitKeepsCommentsInFrontOfTheirLinesAndDropsLinesBeforeTheFirstSection) {
  WriteSettings("stray=1\n; about paths\n[Paths]\n; about kernel\nKERNEL=/k/\n\n\nINCLUDE=/i/\n"
                "[Files]\nA=1\n; at the end\n");
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "Files", "B", "2"));
  EXPECT_EQ(FileText(), "; about paths\n[Paths]\n; about kernel\nKERNEL=/k/\nINCLUDE=/i/\n\n"
                        "[Files]\nA=1\nB=2\n\n; at the end\n");
}

TEST_F(SettingsTest, ToolkitRemovesASectionForANullOrEmptyKeyButKeepsItsComments) {
  WriteSettings("[Keep]\nA=1\n; about tmp\n[TMP]\n; about key\nTMP=x\n[Last]\nZ=9\n");
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "tmp", nullptr, nullptr));
  EXPECT_EQ(FileText(), "[Keep]\nA=1\n\n; about tmp\n; about key\n[Last]\nZ=9\n\n");
  EXPECT_EQ(Get("TMP", "TMP"), Read(0, ""));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "Last", "", "ignored"));
  EXPECT_EQ(Get("Last", "Z"), Read(0, ""));
  // A null value removes just the key.
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "Keep", "A", nullptr));
  EXPECT_EQ(Get("Keep", "A"), Read(0, ""));
}

TEST_F(SettingsTest, ToolkitSplitsLinesLongerThan255Characters) {
  const std::string key = "K=";
  const std::string tail = "[Broken]";
  const std::string line = key + std::string(kMaxPhysicalLine - key.size(), 'a') + tail;
  WriteSettings("[Long]\n" + line + "\n");
  // Characters beyond 255 of the line make a line of their own, here
  // even a section header.
  const Read first = Get("Long", "K");
  EXPECT_EQ(first.first, static_cast<int>(kMaxPhysicalLine - key.size()));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "Broken", "X", "1"));
  EXPECT_NE(FileText().find("\n[Broken]\nX=1\n"), std::string::npos) << FileText();
}

TEST_F(SettingsTest, ToolkitKeepsItsParsedCopyUntilFreed) {
  WriteSettings("[A]\nX=1\n");
  EXPECT_EQ(Get("A", "X"), Read(1, "1"));
  // A rewrite by stdio is not seen by reads...
  WriteSettingsBehindTheLibrary("[A]\nX=2\nY=3\n");
  EXPECT_EQ(Get("A", "X"), Read(1, "1"));
  // ...the first write after a read merges with the disk...
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "Z", "z"));
  EXPECT_EQ(FileText(), "[A]\nX=2\nY=3\nZ=z\n\n");
  // ...but a later one writes the kept copy over a newer file.
  WriteSettingsBehindTheLibrary("[New]\nN=1\n");
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "W", "w"));
  EXPECT_EQ(FileText(), "[A]\nX=2\nY=3\nZ=z\nW=w\n\n");
  // Dropping the copy is what makes the next call read the file.
  WriteSettingsBehindTheLibrary("[New]\nN=1\n");
  SettingsReload();
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "V", "v"));
  EXPECT_EQ(FileText(), "[New]\nN=1\n\n[A]\nV=v\n\n");
}

// SettingsBatchBegin and End rest on this: with caching on, writes stay in
// memory until flushed, and the parsed copy is written before it is freed.
TEST_F(SettingsTest, ToolkitCachesWritesUntilFlushedFreedOrUncached) {
  WriteSettings("[A]\nX=1\n");
  EXPECT_FALSE(Nlm_CacheAppParam(TRUE));  // off unless asked
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "Y", "2"));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "B", "Z", "3"));
  EXPECT_EQ(FileText(), "[A]\nX=1\n");
  EXPECT_EQ(Get("B", "Z"), Read(1, "3"));
  Nlm_FlushAppParam();
  EXPECT_EQ(FileText(), "[A]\nX=1\nY=2\n\n[B]\nZ=3\n\n");
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "Y", "4"));
  SettingsReload();
  EXPECT_EQ(FileText(), "[A]\nX=1\nY=4\n\n[B]\nZ=3\n\n");
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "A", "Y", "5"));
  EXPECT_TRUE(Nlm_CacheAppParam(FALSE));
  EXPECT_EQ(FileText(), "[A]\nX=1\nY=5\n\n[B]\nZ=3\n\n");
}

TEST_F(SettingsTest, ToolkitReadsAndChangesTheFirstOfTwoEqualSections) {
  WriteSettings("[B]\nQ=1\n[A]\nX=1\n[b]\nQ=2\nR=3\n");
  EXPECT_EQ(Get("B", "Q"), Read(1, "1"));
  EXPECT_EQ(Get("B", "R"), Read(0, ""));
  ASSERT_TRUE(Nlm_SetAppParam(kBase, "B", "R", "r"));
  EXPECT_EQ(FileText(), "[B]\nQ=1\nR=r\n\n[A]\nX=1\n\n[b]\nQ=2\nR=3\n\n");
}

TEST_F(SettingsTest, ToolkitReportsSuccessForAWriteThatFailed) {
  EXPECT_EQ(Get("Paths", "KERNEL").first, 13);
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 8;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const Nlm_Boolean result =
      Nlm_SetAppParam(kBase, "Paths", "OTHER", "a value longer than the limit");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(result);
  EXPECT_LE(FileText().size(), 8u);
}

}  // namespace
