/*
 * test_file_writing.cc - CreateFile: expansion, permissions, and files
 * written whole or not at all.
 *
 * Each test runs in a fresh directory of its own holding a small settings
 * file, so that expanding writes never reach the user's settings.  What
 * the templates themselves hold is compared, as installed, with the golden
 * copies of test_installed_files.py.  The settings code's own messages are
 * caught through the core library's message hook.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "file_writing.h"
#include "settings_fixture.h"
#include "templates.h"
#include "utility.h"

namespace {

namespace fs = std::filesystem;
using vxtest::FileMode;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::WriteFile;

constexpr uid_t kNobody = 65534;
// A limit on file size that the palette (about 300 bytes) exceeds.
constexpr rlim_t kSmallFileLimit = 100;

constexpr char kTestSettings[] =
    "[Compiler]\n"
    "LOGFILE=ErrLog\n"
    "[Extensions]\n"
    "BAT=`\n"
    "[KernelErrors]\n"
    "TRANSLN=Settings file '%s',~section '%s',~key '%s'~contains a reference to undefined value\n";

// A fresh working directory with a small settings file, left again and
// removed after the test.
class FileWritingTest : public vxtest::SettingsTest {
 protected:
  FileWritingTest() : SettingsTest("fwXXXXXX") {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
    WriteSettings(kTestSettings);
  }
};

TEST(PermissionStrings, TurnIntoModes) {
  EXPECT_EQ(ModeFromPermissions("rw-r--r--"), 0644u);
  EXPECT_EQ(ModeFromPermissions("r--r--r--"), 0444u);
  EXPECT_EQ(ModeFromPermissions("rwxr-xr-x"), 0755u);
  EXPECT_EQ(ModeFromPermissions("rwxrwxrwx"), 0777u);
  EXPECT_EQ(ModeFromPermissions("---------"), 0u);
  // A letter grants only in its own position of a group.
  EXPECT_EQ(ModeFromPermissions("xw-r--r--"), 0244u);
  EXPECT_EQ(ModeFromPermissions("wrxwrxwrx"), 0111u);
  // Missing positions grant nothing.
  EXPECT_EQ(ModeFromPermissions("rw"), 0600u);
  EXPECT_EQ(ModeFromPermissions(""), 0u);
  EXPECT_EQ(ModeFromPermissions(nullptr), 0u);
  // Nothing beyond the ninth character counts.
  EXPECT_EQ(ModeFromPermissions("r--------rwx"), 0400u);
}

TEST_F(FileWritingTest, AppliesPermissionStrings) {
  for (const char *permissions : {"rw-r--r--", "r--r--r--", "rwxr-xr-x"}) {
    const std::string name = std::string("out") + permissions;
    ASSERT_TRUE(CreateFile(name, Palette, permissions, false).ok()) << permissions;
    EXPECT_EQ(FileMode(name), ModeFromPermissions(permissions)) << permissions;
  }
}

TEST_F(FileWritingTest, UnexpandedLinesPassThroughUnchanged) {
  const char *const lines[] = {";",     "[Extensions]",        "RUN=`",
                               "A=x~y", "B=$(Paths.KERNEL)%s", nullptr};
  ASSERT_TRUE(CreateFile("raw", lines, "rw-r--r--", false).ok());
  EXPECT_EQ(ReadFile("raw"), ";\n[Extensions]\nRUN=`\nA=x~y\nB=$(Paths.KERNEL)%s\n");
}

// Expanded as the settings read a value back, and without writing the
// settings file: not even its time changes.
TEST_F(FileWritingTest, ExpansionKeepsBlanksAndLeavesTheSettingsFileAlone) {
  struct stat before, after;
  ASSERT_EQ(stat(".velorixrc", &before), 0);
  const char *const lines[] = {"   ./tmp_der >>&$(Compiler.LOGFILE)1", "`", "two~lines`", "50%",
                               nullptr};
  ASSERT_TRUE(CreateFile("expanded", lines, "rw-r--r--", true).ok());
  EXPECT_EQ(ReadFile("expanded"), "   ./tmp_der >>&ErrLog1\n\ntwo\nlines\n50%\n");
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ReadFile(".velorixrc"), kTestSettings);
  ASSERT_EQ(stat(".velorixrc", &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// A file one of whose lines cannot be expanded would run half a command:
// it is not written, and the one it would replace stays.
TEST_F(FileWritingTest, FailedExpansionLeavesTheFileAsItWas) {
  const std::string overlong(VX_PARBUF_SIZE + 100, 'x');
  const char *const lines[] = {"a", "x $(Nowhere.KEY) y", "b", overlong.c_str(), "c", nullptr};
  WriteFile("partial", "the script that worked\n");
  const Result written = CreateFile("partial", lines, "r--r--r--", true);
  EXPECT_EQ(written.fault(), Fault::kNotWritten);
  EXPECT_EQ(ReadFile("partial"), "the script that worked\n");
  // The settings code reports the reference itself, as the scratch key
  // [TMP] TMP that such lines once went through.
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0],
            "Settings file 'velorix',\nsection 'TMP',\nkey 'TMP'\ncontains a reference to "
            "undefined value");
  const char *const tooLong[] = {"a", overlong.c_str(), nullptr};
  EXPECT_EQ(CreateFile("partial", tooLong, "r--r--r--", true).message(),
            "Line 2 of file 'partial' is longer than 499 characters and cannot be expanded");
  EXPECT_EQ(ReadFile("partial"), "the script that worked\n");
}

TEST_F(FileWritingTest, EmptyTemplateGivesEmptyFileWithPermissions) {
  const char *const none[] = {nullptr};
  for (bool expand : {false, true}) {
    WriteFile("empty", "old text\n");
    ASSERT_TRUE(CreateFile("empty", none, "r--r--r--", expand).ok());
    EXPECT_EQ(ReadFile("empty"), "");
    EXPECT_EQ(FileMode("empty"), 0444u);
  }
}

TEST_F(FileWritingTest, ReadOnlyFileIsRewrittenByItsOwner) {
  // Root may write any file, so the owner is played by an ordinary user in
  // a child process; its exit status tells what it found.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir_.c_str(), kNobody, kNobody), 0);
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && setuid(kNobody) != 0) _exit(10);
    const char *const first[] = {"first", nullptr};
    const char *const second[] = {"second", nullptr};
    if (!CreateFile("ro", first, "r--r--r--", false).ok()) _exit(11);
    if (FileMode("ro") != 0444) _exit(12);
    if (access("ro", W_OK) == 0) _exit(13);  // really read-only for us
    if (!CreateFile("ro", second, "r--r--r--", false).ok()) _exit(14);
    if (ReadFile("ro") != "second\n") _exit(15);
    if (FileMode("ro") != 0444) _exit(16);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FileWritingTest, UnopenableFileIsReported) {
  // The name goes into the message as text: its % signs stay as they are.
  const Result written = CreateFile("no_such_dir/%s%n%d.vpf", Palette, "rw-r--r--", false);
  EXPECT_EQ(written.fault(), Fault::kNotOpened);
  EXPECT_EQ(written.message(), "Cannot open file 'no_such_dir/%s%n%d.vpf'");
  EXPECT_FALSE(fs::exists("no_such_dir"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileWritingTest, OverlongNameIsRefused) {
  const std::string tooLong(4096, 'n');
  EXPECT_EQ(CreateFile(tooLong, Palette, "rw-r--r--", false).message(),
            "Cannot open file: its name is longer than 4095 characters");
  // The longest accepted name gets as far as the open, which the system
  // refuses for a name component this long.
  const std::string longest(4095, 'n');
  EXPECT_EQ(CreateFile(longest, Palette, "rw-r--r--", false).message(),
            "Cannot open file '" + longest + "'");
}

TEST_F(FileWritingTest, WriteFailureIsReported) {
  const mode_t deviceMode = FileMode("/dev/full");
  for (bool expand : {false, true}) {
    const Result written = CreateFile("/dev/full", Palette, "r--------", expand);
    EXPECT_EQ(written.fault(), Fault::kNotWritten);
    EXPECT_EQ(written.message(), "Cannot write file '/dev/full'");
  }
  // A device keeps its own permissions.
  EXPECT_EQ(FileMode("/dev/full"), deviceMode);
}

// A file that cannot be written whole is never left cut under its name:
// an old file keeps its text and mode, a new one does not appear, and no
// temporary file stays behind.
TEST_F(FileWritingTest, FileCutShortLeavesTheOldFileOrNone) {
  WriteFile("cut.vpf", "old\n");
  ASSERT_EQ(chmod("cut.vpf", 0640), 0);
  // A regular file that cannot grow past a limit: the writes fail (EFBIG)
  // instead of raising SIGXFSZ.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = kSmallFileLimit;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const Result replaced = CreateFile("cut.vpf", Palette, "r--r--r--", false);
  const Result fresh = CreateFile("new.vpf", Palette, "r--r--r--", false);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(replaced.message(), "Cannot write file 'cut.vpf'");
  EXPECT_EQ(fresh.message(), "Cannot write file 'new.vpf'");
  EXPECT_EQ(ReadFile("cut.vpf"), "old\n");
  EXPECT_EQ(FileMode("cut.vpf"), 0640u);
  EXPECT_FALSE(fs::exists("new.vpf"));
  std::vector<std::string> left;
  for (const auto &entry : fs::directory_iterator("."))
    left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".velorixrc", "cut.vpf"}));
}

// A file replaced is never opened up for its group or others; its owner's
// rights come from the permission string, so a read-only file is still
// rewritten.
TEST_F(FileWritingTest, ReplacedFilesAreNeverMadeMoreOpen) {
  struct Case {
    mode_t before;
    const char *permissions;
    mode_t after;
  };
  for (const Case &c :
       {Case{0600, "rw-r--r--", 0600}, Case{0640, "rw-r--r--", 0640}, Case{0644, "rw-------", 0600},
        Case{0444, "rw-r--r--", 0644}, Case{0700, "rwxr-xr-x", 0700}}) {
    WriteFile("narrow", "old\n");
    ASSERT_EQ(chmod("narrow", c.before), 0);
    ASSERT_TRUE(CreateFile("narrow", Palette, c.permissions, false).ok());
    EXPECT_EQ(FileMode("narrow"), c.after) << std::oct << c.before << " " << c.permissions;
  }
}

// A file that would get the same bytes and mode is not rewritten: its time
// stays, so that nothing that depends on it is rebuilt.
TEST_F(FileWritingTest, UnchangedFileKeepsItsTime) {
  ASSERT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", false).ok());
  const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, "palette.vpf", past, 0), 0);
  struct stat st;
  ASSERT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", false).ok());
  ASSERT_EQ(stat("palette.vpf", &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  // Another mode, or other bytes, and it is written.
  ASSERT_TRUE(CreateFile("palette.vpf", Palette, "r--r--r--", false).ok());
  ASSERT_EQ(stat("palette.vpf", &st), 0);
  EXPECT_NE(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(FileMode("palette.vpf"), 0444u);
}

// A file reached through a link: the link stays, the file behind it gets
// the text, and its mode is never widened (a private file stays private).
// A link to a device, a dangling link and a directory are refused.
TEST_F(FileWritingTest, LinksAreWrittenThroughWithoutWideningAndOddTargetsRefused) {
  WriteFile("private", "secret\n");
  ASSERT_EQ(chmod("private", 0600), 0);
  fs::create_symlink("private", "palette.vpf");
  EXPECT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", false).ok());
  EXPECT_TRUE(fs::is_symlink("palette.vpf"));
  EXPECT_EQ(ReadFile("private").substr(0, 9), "64  0   0");
  EXPECT_EQ(FileMode("private"), 0600u);

  fs::create_symlink("/dev/full", "full.vpf");
  fs::create_symlink("nowhere/none", "dangling.vpf");
  fs::create_directory("dir.vpf");
  for (const char *name : {"full.vpf", "dangling.vpf", "dir.vpf"}) {
    const Result written = CreateFile(name, Palette, "rw-r--r--", false);
    EXPECT_EQ(written.fault(), Fault::kNotOpened) << name;
    EXPECT_EQ(written.message(), std::string("Cannot open file '") + name + "'");
  }
  EXPECT_TRUE(fs::is_symlink("full.vpf"));
  EXPECT_FALSE(fs::exists("nowhere"));
}

// What a killed run leaves beside a file is cleared the next time the
// file is written; other files that merely look alike are not touched.
TEST_F(FileWritingTest, TemporaryFilesOfAKilledRunAreRemoved) {
  WriteFile(".palette.vpf.vx-AbC123", "half a file");
  WriteFile(".palette.vpf.vx-keep", "not ours: the name is too short");
  WriteFile("palette.vpf.vx-AbC123", "not ours: no leading dot");
  EXPECT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", false).ok());
  EXPECT_FALSE(fs::exists(".palette.vpf.vx-AbC123"));
  EXPECT_TRUE(fs::exists(".palette.vpf.vx-keep"));
  EXPECT_TRUE(fs::exists("palette.vpf.vx-AbC123"));
}

TEST_F(FileWritingTest, SettingsTemplateReplacesTheCachedCopy) {
  WriteFile(".velorixrc", "[Paths]\nKERNEL=/old/\n[Stale]\nKEY=1\n");
  SettingsReload();
  ASSERT_NE(GetParamString("Paths", "KERNEL"), nullptr);
  ASSERT_STREQ(ParBuf, "/old/");
  // After a change the core library writes its parsed copy over the file
  // at every further change, as on a second press of "Setup".
  char older[] = "/older/";
  ASSERT_TRUE(SetParam("Paths", "KERNEL", older));

  ASSERT_TRUE(CreateFile("./.velorixrc", SetData, "rw-r--r--", false).ok());
  EXPECT_EQ(FileMode(".velorixrc"), 0644u);
  char kernel[] = "/new/";
  ASSERT_TRUE(SetParam("Paths", "KERNEL", kernel));

  ASSERT_NE(GetParam("Extensions", "C"), nullptr);
  EXPECT_STREQ(ParBuf, ".c");
  ASSERT_NE(GetParam("Libraries", "AUTODIF"), nullptr);
  EXPECT_STREQ(ParBuf, "/new/velodiff.so");
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(GetParam("Stale", "KEY"), nullptr);

  const std::string settings = ReadFile(".velorixrc");
  EXPECT_NE(settings.find("KERNEL=/new/"), std::string::npos);
  EXPECT_NE(settings.find("[KernelErrors]"), std::string::npos);
  EXPECT_EQ(settings.find("[Stale]"), std::string::npos);
}

}  // namespace
