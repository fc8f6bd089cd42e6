/*
 * settings_fixture.h - scratch directories, a private settings file and
 * captured message boxes for the unit tests.
 *
 * MessageTest catches the core library's messages in Messages() instead of
 * showing them.  ScratchTest adds a fresh directory of its own, entered or
 * not, left and removed after the test.  SettingsTest enters it with its
 * own ./.velorixrc written by plain stdio and the core library's parsed
 * copy dropped, so that no test ever reaches the settings file of the home
 * directory.  ScratchDirectory serves where a fixture cannot: a global test
 * environment.  Setting VX_KEEP keeps the scratch directories for a look.
 */
#ifndef VELORIX_TESTS_SETTINGS_FIXTURE_H
#define VELORIX_TESTS_SETTINGS_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "utility.h"

// The core library's Message macro would hide GoogleTest's testing::Message.
#undef Message

namespace vxtest {

inline std::vector<std::string> &Messages() {
  static std::vector<std::string> messages;
  return messages;
}

inline MsgAnswer LIBCALLBACK CaptureMessage(MsgKey, ErrSev, const char *, const char *message) {
  Messages().push_back(message != nullptr ? message : "");
  return ANS_OK;
}

// The whole file, byte for byte; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The permission bits; (mode_t)-1 when the file cannot be examined.
inline mode_t FileMode(const std::filesystem::path &path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return static_cast<mode_t>(-1);
  return st.st_mode & 07777;
}

// Lines as a file holds them: each one ended by a line feed.
inline std::string JoinLines(const std::vector<std::string> &lines) {
  std::string text;
  for (const auto &line : lines)
    text += line + "\n";
  return text;
}

// A directory made fresh from a mkdtemp pattern (a relative pattern lands
// in the current directory), entered or not.  Remove() goes back to where
// Make() was called and deletes the directory with everything in it.
class ScratchDirectory {
 public:
  // False when the directory cannot be made or entered.
  bool Make(const std::string &pattern, bool enter) {
    origin_ = std::filesystem::current_path();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return false;
    path_ = std::filesystem::absolute(name.data());
    return !enter || chdir(path_.c_str()) == 0;
  }

  void Remove() {
    if (path_.empty()) return;
    EXPECT_EQ(chdir(origin_.c_str()), 0) << origin_;
    if (std::getenv("VX_KEEP") != nullptr) {
      std::printf("kept %s\n", path_.c_str());
      return;
    }
    std::error_code error;
    // A test may have taken away the owner's rights to the directory.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, error);
    std::filesystem::remove_all(path_, error);
    EXPECT_FALSE(error) << path_ << ": " << error.message();
    path_.clear();
  }

  const std::filesystem::path &path() const { return path_; }
  const std::filesystem::path &origin() const { return origin_; }

 private:
  std::filesystem::path origin_;
  std::filesystem::path path_;
};

// Messages are caught for the length of the test; the hook that was set
// before is put back afterwards.
class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Messages().clear();
    previous_ = Nlm_SetMessageHook(CaptureMessage);
  }
  void TearDown() override { Nlm_SetMessageHook(previous_); }

  static std::vector<std::string> &Shown() { return Messages(); }

 private:
  MessageHook previous_ = nullptr;
};

// A scratch directory of the test's own: dir_, made from pattern and
// entered unless enter is false; original_ is where the test started.
class ScratchTest : public MessageTest {
 protected:
  explicit ScratchTest(const char *pattern = "scratch-XXXXXX", bool enter = true)
      : pattern_(pattern), enter_(enter) {}

  void SetUp() override {
    MessageTest::SetUp();
    ASSERT_TRUE(scratch_.Make(pattern_, enter_)) << pattern_;
    original_ = scratch_.origin();
    dir_ = scratch_.path();
  }

  void TearDown() override {
    SettingsReload();
    scratch_.Remove();
    MessageTest::TearDown();
  }

  std::filesystem::path original_;
  std::filesystem::path dir_;

 private:
  const char *pattern_;
  bool enter_;
  ScratchDirectory scratch_;
};

// An entered scratch directory holding a small ./.velorixrc.
class SettingsTest : public ScratchTest {
 protected:
  explicit SettingsTest(const char *pattern = "settings-XXXXXX") : ScratchTest(pattern) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ScratchTest::SetUp());
    WriteSettings("[Paths]\nKERNEL=/opt/velorix/\n");
  }

  // Replaces ./.velorixrc with text, written by plain stdio, and drops
  // the core library's copy so that the next call reads it.
  static void WriteSettings(const std::string &text) {
    WriteSettingsBehindTheLibrary(text);
    SettingsReload();
    Messages().clear();
  }

  // Replaces ./.velorixrc without telling the core library.
  static void WriteSettingsBehindTheLibrary(const std::string &text) {
    FILE *file = std::fopen(".velorixrc", "w");
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }

  static std::string FileText(const std::string &path = ".velorixrc") { return ReadFile(path); }
};

}  // namespace vxtest

#endif  // VELORIX_TESTS_SETTINGS_FIXTURE_H
