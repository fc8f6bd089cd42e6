/*
 * test_file_writing.cc - CreateFile and the templates it writes.
 *
 * Each test runs in a fresh directory of its own holding a small settings
 * file, so that expanding writes never reach the user's settings.  The
 * expected texts of the templates are typed here apart from the templates
 * themselves, so that a slip in either shows up as a mismatch.  Messages
 * are caught through the core library's message hook.
 */
#include <gtest/gtest.h>

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
using vxtest::JoinLines;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::WriteFile;

constexpr uid_t kNobody = 65534;
// A limit on file size that the palette (about 300 bytes) exceeds.
constexpr rlim_t kSmallFileLimit = 100;

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

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

const std::vector<std::string> kPaletteText = {
    "64  0   0",   "128 0   0",   "255 0   0",   "255 255 128", "255 255 0",   "255 128 0",
    "128 255 0",   "128 128 0",   "0   64  0",   "0   128 0",   "0   255 0",   "0   255 255",
    "0   128 128", "0   64  64",  "0   0   255", "0   0   160", "0   0   128", "0   0   64",
    "64  0   64",  "128 0   128", "255 0   255", "255 255 255", "192 192 192", "128 128 128",
    "64  64  64",  "0   0   0",
};

// The system header as written: the empty marks have become empty lines.
const std::vector<std::string> kHeaderText = {
    "#include <math.h>",
    "",
    "#define iff(cond,e1,e2) ((cond) ? (e1) : (e2))",
    "#define sqr(x) ((x)*(x))",
    "#define cube(x) ((x)*(x)*(x))",
    "",
    "#define dersub2(i,j) ((i)+(((j)*((j)+1))>>1))",
    "#define dersub3(i,j,k) ((i)+(((j)*((j)+1))>>1)+(k)*((k)+1)*((k)+2)/6)",
    "#define dersub4(i,j,k,l) dersub3(i,j,k)+(l)*((l)+1)*((l)+2)*((l)+3)/24",
    "#define dersub5(i,j,k,l,m) dersub4(i,j,k,l)+(m)*((m)+1)*((m)+2)*((m)+3)*((m)+4)/120",
    "",
    "#define FALSE 0",
    "#define TRUE  1",
};

// The compile scripts as held, after their placeholder first line.
const std::vector<std::string> kCshScriptLines = {
    "unset noclobber",
    "cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >&$(Compiler.LOGFILE)",
    "cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>&$(Compiler.LOGFILE)",
    "if ( $3 == 'y' ) then",
    " if ( -r $2$(Extensions.LIB) ) then",
    "  if ( -r tmp_der ) then",
    "   rm -f tmp_der tmp_fun$(Extensions.C) tmp_fun1$(Extensions.H)",
    "  endif",
    "  $(Compiler.CPPNAME)  -o tmp_der $(Compiler.INCLUDE) tmp_der$(Extensions.CPP) $(Paths.KERNEL)autodif$(Extensions.OBJ) $(Compiler.CPPLIB) >&$(Compiler.LOGFILE)1",
    "  if ( -r tmp_der ) then",
    "   ./tmp_der >>&$(Compiler.LOGFILE)1",
    "   if ( -r $(Compiler.EXTDIFFB) ) then",
    "     $(Compiler.EXTDIFFB)",
    "   endif",
    "  endif",
    "  cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >&$(Compiler.LOGFILE)",
    "  cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>&$(Compiler.LOGFILE)",
    " endif",
    "endif",
    "rm -f delete$(Extensions.OBJ)",
};

const std::vector<std::string> kKshScriptLines = {
    "unset noclobber",
    "cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >$(Compiler.LOGFILE) 2>&1",
    "cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>$(Compiler.LOGFILE) 2>&1",
    "if [ $3 = 'y' ]; then",
    " if [ -r $2$(Extensions.LIB) ]; then",
    "  if [ -r tmp_der ]; then",
    "   rm -f tmp_der tmp_fun$(Extensions.C) tmp_fun1$(Extensions.H)",
    "  fi",
    "  $(Compiler.CPPNAME)  -o tmp_der $(Compiler.INCLUDE) tmp_der$(Extensions.CPP) $(Paths.KERNEL)autodif$(Extensions.OBJ) $(Compiler.CPPLIB) >$(Compiler.LOGFILE)1 2>&1",
    "  if [ -r tmp_der ]; then",
    "   ./tmp_der >>$(Compiler.LOGFILE)1 2>&1",
    "   if [ -r $(Compiler.EXTDIFFB) ]; then",
    "     $(Compiler.EXTDIFFB)",
    "   fi",
    "  fi",
    "  cc -c -O2 -fPIC -o delete$(Extensions.OBJ) $(Compiler.INCLUDE) $1$(Extensions.C) >$(Compiler.LOGFILE) 2>&1",
    "  cc -shared -Wl,-soname,$2.so -o $2$(Extensions.LIB) delete$(Extensions.OBJ) $(Compiler.LIB) >>$(Compiler.LOGFILE) 2>&1",
    " fi",
    "fi",
    "rm -f delete$(Extensions.OBJ)",
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
    ASSERT_TRUE(CreateFile("out", Palette, permissions, FALSE)) << permissions;
    EXPECT_EQ(FileMode("out"), ModeFromPermissions(permissions)) << permissions;
  }
  EXPECT_EQ(FileMode("out"), 0755u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileWritingTest, PaletteIsWrittenByteForByte) {
  ASSERT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", FALSE));
  EXPECT_EQ(ReadFile("palette.vpf"), JoinLines(kPaletteText));
  EXPECT_EQ(FileMode("palette.vpf"), 0644u);
}

TEST_F(FileWritingTest, HeaderIsExpandedIntoEmptyLines) {
  ASSERT_TRUE(CreateFile("vel_sys.h", IncludeRhs, "r--r--r--", TRUE));
  EXPECT_EQ(ReadFile("vel_sys.h"), JoinLines(kHeaderText));
  EXPECT_EQ(FileMode("vel_sys.h"), 0444u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileWritingTest, CompileScriptTemplatesAsHeld) {
  struct Case {
    const char *const *lines;
    const char *placeholder;
    const std::vector<std::string> *text;
  };
  for (const Case &c : {Case{CompileRhs, "#! /bin/csh -f", &kCshScriptLines},
                        Case{CompileRhsKsh, "#! /bin/bash", &kKshScriptLines}}) {
    ASSERT_TRUE(CreateFile("script", c.lines, "rw-r--r--", FALSE));
    const std::string text = ReadFile("script");
    const std::size_t firstEnd = text.find('\n');
    ASSERT_NE(firstEnd, std::string::npos);
    const std::string first = text.substr(0, firstEnd);
    // The placeholder is followed by trailing blanks only.
    ASSERT_GT(first.size(), std::strlen(c.placeholder));
    EXPECT_EQ(first.compare(0, std::strlen(c.placeholder), c.placeholder), 0) << first;
    EXPECT_EQ(first.find_first_not_of(' ', std::strlen(c.placeholder)), std::string::npos) << first;
    EXPECT_EQ(text.substr(firstEnd + 1), JoinLines(*c.text));
  }
}

TEST_F(FileWritingTest, UnexpandedLinesPassThroughUnchanged) {
  const char *const lines[] = {";",     "[Extensions]",        "RUN=`",
                               "A=x~y", "B=$(Paths.KERNEL)%s", nullptr};
  ASSERT_TRUE(CreateFile("raw", lines, "rw-r--r--", FALSE));
  EXPECT_EQ(ReadFile("raw"), ";\n[Extensions]\nRUN=`\nA=x~y\nB=$(Paths.KERNEL)%s\n");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileWritingTest, ExpansionKeepsBlanksAndRemovesScratchSection) {
  const char *const lines[] = {"   ./tmp_der >>&$(Compiler.LOGFILE)1", "`", "two~lines`", "50%",
                               nullptr};
  ASSERT_TRUE(CreateFile("expanded", lines, "rw-r--r--", TRUE));
  EXPECT_EQ(ReadFile("expanded"), "   ./tmp_der >>&ErrLog1\n\ntwo\nlines\n50%\n");
  EXPECT_TRUE(Messages().empty());
  const std::string settings = lowerCase(ReadFile(".velorixrc"));
  EXPECT_EQ(settings.find("[tmp]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("logfile=errlog"), std::string::npos) << settings;
}

TEST_F(FileWritingTest, FailedExpansionWritesAnEmptyLineAndGoesOn) {
  const std::string overlong(VX_PARBUF_SIZE + 100, 'x');
  const char *const lines[] = {"a", "x $(Nowhere.KEY) y", "b", overlong.c_str(), "c", nullptr};
  ASSERT_TRUE(CreateFile("partial", lines, "r--r--r--", TRUE));
  EXPECT_EQ(ReadFile("partial"), "a\n\nb\n\nc\n");
  EXPECT_EQ(FileMode("partial"), 0444u);
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_NE(Messages()[0].find("contains a reference to undefined value"), std::string::npos)
      << Messages()[0];
  EXPECT_EQ(Messages()[1],
            "Line 4 of file 'partial' is longer than 499 characters and cannot be expanded");
  EXPECT_EQ(lowerCase(ReadFile(".velorixrc")).find("[tmp]"), std::string::npos);
}

TEST_F(FileWritingTest, NameMayLieInParBuf) {
  std::strcpy(ParBuf, "header_from_parbuf.h");
  ASSERT_TRUE(CreateFile(ParBuf, IncludeRhs, "r--r--r--", TRUE));
  EXPECT_EQ(ReadFile("header_from_parbuf.h"), JoinLines(kHeaderText));
  EXPECT_EQ(FileMode("header_from_parbuf.h"), 0444u);
  // Nothing else was created under a name that ParBuf held meanwhile.
  int files = 0;
  for (const auto &entry : fs::directory_iterator(".")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);  // the settings file and the header
}

TEST_F(FileWritingTest, EmptyTemplateGivesEmptyFileWithPermissions) {
  const char *const none[] = {nullptr};
  for (Nlm_Boolean expand : {FALSE, TRUE}) {
    WriteFile("empty", "old text\n");
    ASSERT_TRUE(CreateFile("empty", none, "r--r--r--", expand));
    EXPECT_EQ(ReadFile("empty"), "");
    EXPECT_EQ(FileMode("empty"), 0444u);
  }
  EXPECT_TRUE(Messages().empty());
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
    if (!CreateFile("ro", first, "r--r--r--", FALSE)) _exit(11);
    if (FileMode("ro") != 0444) _exit(12);
    if (access("ro", W_OK) == 0) _exit(13);  // really read-only for us
    if (!CreateFile("ro", second, "r--r--r--", FALSE)) _exit(14);
    if (ReadFile("ro") != "second\n") _exit(15);
    if (FileMode("ro") != 0444) _exit(16);
    _exit(Messages().empty() ? 0 : 17);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FileWritingTest, UnwritableSettingsAreReportedOnce) {
  // As above, an ordinary user in a child process, for whom the settings
  // file is read-only; the expansion cannot store its scratch key.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir_.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown(".velorixrc", kNobody, kNobody), 0);
  }
  ASSERT_EQ(chmod(".velorixrc", 0444), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && setuid(kNobody) != 0) _exit(10);
    const char *const lines[] = {"a $(Compiler.LOGFILE)", "b", "c", nullptr};
    if (!CreateFile("out", lines, "rw-r--r--", TRUE)) _exit(11);
    if (ReadFile("out") != "\n\n\n") _exit(12);
    if (FileMode("out") != 0644) _exit(13);
    _exit(Messages().size() == 1
              ? 0
              : 20 + static_cast<int>(std::min<std::size_t>(Messages().size(), 9)));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(".velorixrc"), kTestSettings);
}

TEST_F(FileWritingTest, UnopenableFileIsReported) {
  // The name goes into the message as text: its % signs stay as they are.
  const char *name = "no_such_dir/%s%n%d.vpf";
  EXPECT_FALSE(CreateFile(name, Palette, "rw-r--r--", FALSE));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], "Cannot open file 'no_such_dir/%s%n%d.vpf'");
  EXPECT_FALSE(fs::exists("no_such_dir"));
}

TEST_F(FileWritingTest, OverlongNameIsRefused) {
  const std::string tooLong(4096, 'n');
  EXPECT_FALSE(CreateFile(tooLong.c_str(), Palette, "rw-r--r--", FALSE));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], "Cannot open file: its name is longer than 4095 characters");

  // The longest accepted name gets as far as the open, which the system
  // refuses for a name component this long.
  Messages().clear();
  const std::string longest(4095, 'n');
  EXPECT_FALSE(CreateFile(longest.c_str(), Palette, "rw-r--r--", FALSE));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], "Cannot open file '" + longest + "'");
}

TEST_F(FileWritingTest, WriteFailureIsReportedAndNotFatal) {
  const mode_t deviceMode = FileMode("/dev/full");
  for (Nlm_Boolean expand : {FALSE, TRUE}) {
    Messages().clear();
    EXPECT_TRUE(CreateFile("/dev/full", Palette, "r--------", expand));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Cannot write file '/dev/full'");
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
  const Nlm_Boolean replaced = CreateFile("cut.vpf", Palette, "r--r--r--", FALSE);
  const WriteResult fresh = WriteTemplateFile("new.vpf", Palette, "r--r--r--", false);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(replaced);  // it could be opened
  EXPECT_EQ(fresh, WriteResult::kNotWritten);
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0], "Cannot write file 'cut.vpf'");
  EXPECT_EQ(Messages()[1], "Cannot write file 'new.vpf'");
  EXPECT_EQ(ReadFile("cut.vpf"), "old\n");
  EXPECT_EQ(FileMode("cut.vpf"), 0640u);
  EXPECT_FALSE(fs::exists("new.vpf"));
  std::vector<std::string> left;
  for (const auto &entry : fs::directory_iterator(".")) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".velorixrc", "cut.vpf"}));
}

// A file reached through a link: the link stays, the file behind it gets
// the text, and its mode is never widened (a private file stays private).
// A link to a device, a dangling link and a directory are refused.
TEST_F(FileWritingTest, LinksAreWrittenThroughWithoutWideningAndOddTargetsRefused) {
  WriteFile("private", "secret\n");
  ASSERT_EQ(chmod("private", 0600), 0);
  fs::create_symlink("private", "palette.vpf");
  EXPECT_TRUE(CreateFile("palette.vpf", Palette, "rw-r--r--", FALSE));
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(fs::is_symlink("palette.vpf"));
  EXPECT_EQ(ReadFile("private").substr(0, 9), "64  0   0");
  EXPECT_EQ(FileMode("private"), 0600u);

  fs::create_symlink("/dev/full", "full.vpf");
  fs::create_symlink("nowhere/none", "dangling.vpf");
  fs::create_directory("dir.vpf");
  for (const char *name : {"full.vpf", "dangling.vpf", "dir.vpf"}) {
    Messages().clear();
    EXPECT_EQ(WriteTemplateFile(name, Palette, "rw-r--r--", false), WriteResult::kNotOpened)
        << name;
    ASSERT_EQ(Messages().size(), 1u) << name;
    EXPECT_EQ(Messages()[0], std::string("Cannot open file '") + name + "'");
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
  EXPECT_EQ(WriteTemplateFile("palette.vpf", Palette, "rw-r--r--", false), WriteResult::kWritten);
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

  ASSERT_TRUE(CreateFile("./.velorixrc", SetData, "rw-r--r--", FALSE));
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
