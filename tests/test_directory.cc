/*
 * test_directory.cc - the working directory, file truncation and shell
 * commands with a follow-up call.
 *
 * Every case that moves the working directory puts it back before it ends,
 * so the cases stay independent of their order.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "utility.h"

namespace {

using vxtest::Messages;

constexpr std::size_t kDirectoryBlockSize = 4096;

std::string Cwd() {
  std::vector<char> buf(16 * kDirectoryBlockSize);
  return getcwd(buf.data(), buf.size()) != nullptr ? buf.data() : "";
}

// A temporary directory, and the working directory to return to.
class DirectoryTest : public vxtest::ScratchTest {
 protected:
  DirectoryTest() : ScratchTest("/tmp/vx-directory-XXXXXX", false) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ScratchTest::SetUp());
    start_ = original_.string();
    temp_ = dir_.string();
  }

  std::string start_;
  std::string temp_;
};

TEST_F(DirectoryTest, CurrentDirectoryAndChangeDirectory) {
  Nlm_CharPtr here = CurrentDirectory();
  ASSERT_NE(here, nullptr);
  EXPECT_EQ(std::string(here), start_);
  Nlm_MemFree(here);

  ChangeDirectory(temp_.c_str());
  EXPECT_EQ(Cwd(), temp_);
  Nlm_CharPtr there = CurrentDirectory();
  ASSERT_NE(there, nullptr);
  EXPECT_EQ(std::string(there), temp_);
  Nlm_MemFree(there);

  // A null path and a path that does not exist leave the directory alone.
  ChangeDirectory(nullptr);
  EXPECT_EQ(Cwd(), temp_);
  ChangeDirectory((temp_ + "/missing").c_str());
  EXPECT_EQ(Cwd(), temp_);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DirectoryTest, UndeterminableDirectoryIsReportedAsNull) {
  const std::string gone = temp_ + "/gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  EXPECT_EQ(CurrentDirectory(), nullptr);
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(DirectoryTest, PathLongerThanTheBlockIsReportedAsNull) {
  // Nested directories entered one by one, until the path is longer
  // than the block can hold.
  ASSERT_EQ(chdir(temp_.c_str()), 0);
  const std::string part(200, 'd');
  while (Cwd().size() < kDirectoryBlockSize) {
    ASSERT_EQ(mkdir(part.c_str(), 0700), 0);
    ASSERT_EQ(chdir(part.c_str()), 0);
  }
  EXPECT_EQ(CurrentDirectory(), nullptr);
  EXPECT_EQ(Messages().size(), 1u);
}

long FileSize(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

TEST_F(DirectoryTest, TruncateFile) {
  const std::string path = temp_ + "/data";
  FILE *file = std::fopen(path.c_str(), "w+");
  ASSERT_NE(file, nullptr);
  std::fputs("0123456789", file);
  std::fflush(file);
  EXPECT_TRUE(TruncateFile(file, 4));
  EXPECT_EQ(FileSize(path), 4);
  EXPECT_TRUE(TruncateFile(file, 0));
  EXPECT_EQ(FileSize(path), 0);
  EXPECT_FALSE(TruncateFile(file, -1));
  EXPECT_EQ(FileSize(path), 0);
  std::fclose(file);

  // A stream opened for reading only cannot be truncated.
  file = std::fopen(path.c_str(), "r");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(TruncateFile(file, 0));
  std::fclose(file);
  EXPECT_FALSE(TruncateFile(nullptr, 0));
}

// Follow-up functions: each returns what the test set up in g_result.
int g_result;
std::string g_marker;
int ReturnResult() { return g_result; }
int MarkerExists() { return access(g_marker.c_str(), F_OK) == 0 ? 1 : 0; }

TEST_F(DirectoryTest, ExecuteCommandWaitsThenCallsTheFunction) {
  g_marker = temp_ + "/marker";
  // The command finishes before the function looks for its output.
  const std::string command = "sleep 0.2; echo done > '" + g_marker + "'";
  EXPECT_EQ(ExecuteCommand(command.c_str(), nullptr, MarkerExists), 1);

  // A command that fails does not stop the follow-up.
  EXPECT_EQ(ExecuteCommand("exit 3", nullptr, MarkerExists), 1);
  // Without a command, only the function runs; without a function, the
  // command still runs and the result is 0.
  EXPECT_EQ(ExecuteCommand(nullptr, nullptr, MarkerExists), 1);
  const std::string other = temp_ + "/other";
  EXPECT_EQ(ExecuteCommand(("touch '" + other + "'").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(access(other.c_str(), F_OK), 0);
}

TEST_F(DirectoryTest, ExecuteCommandCutsTheResultToSixteenBits) {
  const struct {
    int result;
    Nlm_Int2 expected;
  } cases[] = {{7, 7},          {-1, -1},      {32767, 32767},   {32768, -32768},
               {40000, -25536}, {70000, 4464}, {0x12345, 0x2345}};
  for (const auto &c : cases) {
    g_result = c.result;
    EXPECT_EQ(ExecuteCommand("true", nullptr, ReturnResult), c.expected) << c.result;
  }
}

}  // namespace
