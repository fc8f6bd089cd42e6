/*
 * settings_fixture.h - a private settings file and captured message boxes
 * for the tests of the settings access.
 *
 * Each test runs in a fresh directory below the test's scratch directory,
 * with its own ./.velorixrc written by plain stdio and the core library's
 * parsed copy dropped, so that no test ever reaches the settings file of
 * the home directory.  Messages are captured through the core library's
 * message hook instead of being shown.
 */
#ifndef VELORIX_TESTS_SETTINGS_FIXTURE_H
#define VELORIX_TESTS_SETTINGS_FIXTURE_H

#include <gtest/gtest.h>
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

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    original_ = std::filesystem::current_path();
    dir_ = original_ / pattern;
    std::filesystem::current_path(dir_);
    Nlm_SetMessageHook(CaptureMessage);
    Messages().clear();
    WriteSettings("[Paths]\nKERNEL=/opt/velorix/\n");
  }

  void TearDown() override {
    SettingsReload();
    std::filesystem::current_path(original_);
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
    Nlm_SetMessageHook(nullptr);
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

  static std::string FileText(const std::string &path = ".velorixrc") {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  static std::vector<std::string> &Shown() { return Messages(); }

  std::filesystem::path original_;
  std::filesystem::path dir_;
};

}  // namespace vxtest

#endif  // VELORIX_TESTS_SETTINGS_FIXTURE_H
