/*
 * test_installation.cc - the installation procedure on its record, without
 * a display: messages are caught through the core library's message hook.
 *
 * Each test builds a scratch tree of its own: a product directory holding
 * a "velorix" file, a class description file and autodif sources, a
 * working directory for User installations, and a directory beside them
 * that nothing may touch.  The compiler is a stand-in script that logs its
 * calls, except where the real c++ is the point.
 */
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installation.h"
#include "notice.h"
#include "scratch_directory.h"
#include "installation_fixture.h"
#include "product_files.h"
#include "settings_fixture.h"
#include "templates.h"
#include "utility.h"

namespace fs = std::filesystem;

namespace {

using vxtest::FileMode;
using vxtest::Installation;
using vxtest::kClassFile;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::ReadSettings;
using vxtest::SetTime;
using vxtest::SettingsFile;
using vxtest::Snapshot;
using vxtest::WriteFile;

// ---- stopping failures before anything is written ----------------------

TEST_F(Installation, EmptyOrWrongProductDirectoryStopsWithoutWriting) {
  const auto before = Snapshot(root_);
  InstallForm form = Form(false);
  form.text(Field::kKernel).clear();
  EXPECT_EQ(RunUser(form), InstallOutcome::Stopped);
  form.text(Field::kKernel) = aside_.string();
  EXPECT_EQ(RunUser(form), InstallOutcome::Stopped);
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            "Specify full path to the VELORIX's home directory",
                            "The path you've specified does not contain VELORIX executable"}));
  EXPECT_EQ(Snapshot(root_), before);
}

// The paths of the files a refusal lists as missing.
std::vector<std::string> MissingPaths(const Result &result) {
  std::vector<std::string> paths;
  for (const MissingFile &file : result.about().missing)
    paths.push_back(file.path);
  return paths;
}

// A newcomer's product directory, empty and then filled a file at a time:
// the first refusal lists every file the run needs that is missing, and
// one that only turns symbolic differentiation off stops nothing.
TEST_F(Installation, EveryMissingProductFileIsListedAtOnce) {
  const fs::path empty = root_ / "empty";
  fs::create_directory(empty);
  const auto placed = [&empty](const std::string &path) {
    return path[0] == '/' ? path : (empty / path).string();
  };
  const auto in = [&empty](const char *name) { return (empty / name).string(); };
  InstallForm full = Form(true);
  full.text(Field::kKernel) = empty.string();
  Result refused = CheckBeforeWriting(full, placed);
  EXPECT_EQ(refused.message(), "The path you've specified does not contain VELORIX executable");
  EXPECT_EQ(MissingPaths(refused),
            (std::vector<std::string>{in("velorix"), in("classes.vel"), in("autodif.cc")}));

  WriteFile(empty / "velorix", "#!/bin/sh\n");
  refused = CheckBeforeWriting(full, placed);
  EXPECT_EQ(refused.fault(), Fault::kRefused);
  EXPECT_EQ(refused.message(), "Cannot open class description file\n" + in("classes.vel"));
  EXPECT_EQ(MissingPaths(refused), (std::vector<std::string>{in("classes.vel"), in("autodif.cc")}));

  WriteFile(empty / "classes.vel", kClassFile);
  EXPECT_TRUE(CheckBeforeWriting(full, placed).ok());
  EXPECT_EQ(MissingPaths(Result().listing(MissingProductFiles(full, placed))),
            std::vector<std::string>{in("autodif.cc")});
  InstallForm user = full;
  user.full = false;
  EXPECT_TRUE(CheckBeforeWriting(user, placed).ok());
  EXPECT_EQ(MissingPaths(Result().listing(MissingProductFiles(user, placed))),
            std::vector<std::string>{in("autodif.o")});
  EXPECT_EQ(MissingFilesText({}), "");
}

// The names the product directory is looked for by are the ones the
// settings written give those files.
TEST_F(Installation, TheProductFilesAreTheOnesTheSettingsName) {
  ASSERT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  SettingsReload();
  // Each read into the one shared buffer: kept before the next.
  const auto read = [](const char *section, const char *key) {
    const char *value = GetParam(section, key);
    return std::string(value != nullptr ? value : "(none)");
  };
  EXPECT_EQ(read("Files", "CLASSFILE"), Kernel() + kProductClassFile);
  EXPECT_EQ(read("TMP", "TMP"), Kernel() + kProductObject);
  SettingsReload();
}

TEST_F(Installation, ADirectoryNamedVelorixPassesTheExistenceTest) {
  fs::create_directory(aside_ / "velorix");
  WriteFile(aside_ / "classes.vel", kClassFile);
  InstallForm form = Form(false);
  form.text(Field::kKernel) = aside_.string();
  RunUser(form);
  // It went on past the test to the files of the working directory.
  EXPECT_EQ(std::count(Messages().begin(), Messages().end(),
                       "The path you've specified does not contain VELORIX executable"),
            0);
  EXPECT_TRUE(fs::exists(work_ / "palette.vpf"));
}

TEST_F(Installation, OverlongTextsAreRefusedNotCut) {
  const auto before = Snapshot(root_);
  InstallForm form = Form(true);
  form.text(Field::kKernel) = std::string(kFieldLimit + 1, 'x');
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  form = Form(true);
  form.text(Field::kCppOptions) = std::string(kCppOptionsLimit + 1, 'o');
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  form = Form(true);
  form.text(Field::kPrinter) = std::string(300, 'p');  // fits the field, not a settings line
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  form = Form(true);
  form.text(Field::kKernel) = "/tmp/a~b";
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_EQ(Messages()[0],
            "The text of the field 'VELORIX directory' is longer than 16384 characters.\n"
            "Please shorten it.");
  EXPECT_EQ(Messages()[1],
            "The text of the field 'C++ compiler: Options' is longer than 499 characters.\n"
            "Please shorten it.");
  EXPECT_EQ(Messages()[2],
            "The text of the field 'Printer command' is too long for the settings file:\n"
            "a settings line holds at most 255 characters.\nPlease shorten it.");
  EXPECT_NE(Messages()[3].find("must not contain '~'"), std::string::npos);
  EXPECT_EQ(Snapshot(root_), before);
}

TEST_F(Installation, OverlongCompileCommandStopsFullButNotUser) {
  InstallForm form = Form(true);
  form.text(Field::kCppName) = std::string(240, 'c');
  form.text(Field::kCppOptions) = std::string(240, 'o');
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find("would exceed 499 characters"), std::string::npos);
  EXPECT_FALSE(fs::exists(product_ / ".velorixrc"));
  form.full = false;
  Messages().clear();
  WriteFile(product_ / "autodif.o", vxtest::RelocatableObject());
  EXPECT_EQ(RunUser(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty());
}

// The compile script's first line must fit the settings buffer: a longer
// shell path is refused before anything is written, not after the files
// before the script, and not as an unopenable script.
TEST_F(Installation, OverlongShellPathStopsFullBeforeWriting) {
  const auto before = Snapshot(root_);
  InstallForm form = Form(true);
  form.text(Field::kShellPath) = "/" + std::string(495, 's');
  EXPECT_EQ(RunFull(form), InstallOutcome::Stopped);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "The text of the field 'Shell path' is longer than 495 characters.\n"
                            "Please shorten it."});
  EXPECT_EQ(Snapshot(root_), before);

  // The longest that fits is written; a User installation never uses it.
  Messages().clear();
  form.text(Field::kShellPath).pop_back();
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  EXPECT_EQ(ReadFile(product_ / "CompRhs").substr(0, form.text(Field::kShellPath).size() + 4),
            "#! " + form.text(Field::kShellPath) + "\n");
  form.text(Field::kShellPath) += "ss";
  form.full = false;
  EXPECT_EQ(RunUser(form), InstallOutcome::Ended);
}

// ---- Full and User from end to end ---------------------------------------

TEST_F(Installation, FullInstallationWithTheRealCompiler) {
  InstallForm form = Form(true);
  form.text(Field::kCppName) = "c++";
  form.text(Field::kInclude) = "-I/usr/local/include";
  form.text(Field::kPrinter) = "  lpr  -P x %s \t";
  form.text(Field::kPreviewer) = "   ";
  WriteFile(product_ / "visuals.vpf", "old");
  WriteFile(product_ / "palette.vpf", "old palette");
  WriteFile(product_ / "vel_sys.h", "old header");
  fs::permissions(product_ / "vel_sys.h", fs::perms::owner_read);
  const auto asideBefore = Snapshot(aside_);

  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty()) << Messages().front();

  const SettingsFile settings = ReadSettings(product_ / ".velorixrc");
  EXPECT_EQ(settings["Paths.KERNEL"], Kernel());
  EXPECT_EQ(settings["Paths.KERNELW"], "./");
  EXPECT_EQ(settings["Compiler.INCLUDE"], "-I/usr/local/include -I" + Kernel());
  EXPECT_EQ(settings["Compiler.LIB"], "-lc -lm");
  EXPECT_EQ(settings["Compiler.CPPNAME"], "c++");
  EXPECT_EQ(settings["Compiler.CPPLIB"], " -O2 -fPIC -lc -lm");
  EXPECT_EQ(settings["Visual.HCPRINTER"], "lpr  -P x %s");
  EXPECT_EQ(settings["Visual.HCVIEWER"], "`");
  EXPECT_EQ(settings["Compiler.EXTDIFF"], form.text(Field::kDifferentiator));
  EXPECT_EQ(settings["Libraries.AUTODIFOPT"], "+");
  EXPECT_EQ(settings["Currents.CLASSCUR"], "A");
  EXPECT_EQ(settings["Files.CLASSFILECUR"], Kernel() + "b.vel");
  EXPECT_EQ(std::count(settings.sections.begin(), settings.sections.end(), "TMP"), 0);
  EXPECT_EQ(FileMode(product_ / ".velorixrc"), 0644u);

  EXPECT_EQ(ReadFile(product_ / "filenums.vpf"), "-");
  EXPECT_EQ(FileMode(product_ / "filenums.vpf"), 0644u);
  EXPECT_EQ(FileMode(product_ / "init.vpf"), 0444u);
  std::string initText;
  for (std::size_t i = 0; i < kInitLines; ++i)
    initText += std::string(init[i]) + "\n";
  EXPECT_EQ(ReadFile(product_ / "init.vpf"), initText);
  EXPECT_EQ(FileMode(product_ / "CompRhs"), 0755u);
  EXPECT_EQ(ReadFile(product_ / "CompRhs").substr(0, 12), "#! /bin/sh \n");
  // Rewritten, but not opened up for others: it was private to its owner.
  EXPECT_EQ(FileMode(product_ / "vel_sys.h"), 0400u);
  EXPECT_EQ(ReadFile(product_ / "vel_sys.h").substr(0, 19), "#include <math.h>\n\n");
  EXPECT_TRUE(fs::exists(product_ / "autodif.o"));
  EXPECT_FALSE(fs::exists(product_ / "visuals.vpf"));
  std::string palette;
  for (std::size_t i = 0; i < kPaletteLines; ++i)
    palette += std::string(Palette[i]) + "\n";
  EXPECT_EQ(ReadFile(product_ / "palette.vpf"), palette);
  EXPECT_EQ(FileMode(product_ / "palette.vpf"), 0644u);
  EXPECT_FALSE(fs::exists(product_ / "del1"));
  EXPECT_FALSE(fs::exists(root_ / "mail.args"));
  EXPECT_EQ(Snapshot(aside_), asideBefore);
}

TEST_F(Installation, UserInstallationAgainstAFullOne) {
  ASSERT_EQ(RunFull(Form(true)), InstallOutcome::Ended);
  const auto productBefore = Snapshot(product_);
  InstallForm form = Form(false);
  form.text(Field::kKernel) = Kernel();  // typed with its "/": stored the same
  form.text(Field::kShellPath) = "/nonexistent/shell";
  Messages().clear();

  ASSERT_EQ(RunUser(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Snapshot(product_), productBefore);
  EXPECT_EQ(Compiles(), 1);  // the Full one's only
  const SettingsFile settings = ReadSettings(work_ / ".velorixrc");
  EXPECT_EQ(settings["Paths.KERNEL"], Kernel());
  EXPECT_EQ(settings["Paths.KERNELW"], "./");
  EXPECT_EQ(settings["TMP.TMP"], "$(Paths.KERNEL)autodif$(Extensions.OBJ)");
  EXPECT_EQ(settings.sections.back(), "TMP");
  EXPECT_EQ(settings["Libraries.AUTODIFOPT"], "+");
  EXPECT_EQ(settings["Currents.CLASSCUR"], "A");
  EXPECT_EQ(ReadFile(work_ / "filenums.vpf"), "-");
  EXPECT_TRUE(fs::exists(work_ / "palette.vpf"));
  for (const char *absent : {"init.vpf", "CompRhs", "vel_sys.h", "autodif.o"})
    EXPECT_FALSE(fs::exists(work_ / absent)) << absent;
}

// Full from elsewhere: the installation-wide files go into the product
// directory, the object is compiled and the working files are written here;
// the one message says so beforehand.
TEST_F(Installation, FullInstallationFromAnotherDirectory) {
  WriteFile(work_ / "autodif.cc", "int autodif_marker() { return 7; }\n");
  WriteFile(work_ / "visuals.vpf", "old");
  ASSERT_EQ(RunUser(Form(true)), InstallOutcome::Ended);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].rfind("This Full installation is run from " + work_.string() +
                                    ",\nnot from its VELORIX directory " + Kernel() + ":\n",
                                0),
            0u)
      << Messages()[0];

  for (const char *made : {"init.vpf", "CompRhs", "vel_sys.h"}) {
    EXPECT_TRUE(fs::exists(product_ / made)) << made;
    EXPECT_FALSE(fs::exists(work_ / made)) << made;
  }
  for (const char *made : {".velorixrc", "filenums.vpf", "palette.vpf", "autodif.o"}) {
    EXPECT_TRUE(fs::exists(work_ / made)) << made;
    EXPECT_FALSE(fs::exists(product_ / made)) << made;
  }
  EXPECT_FALSE(fs::exists(work_ / "visuals.vpf"));
  EXPECT_EQ(Compiles(), 1);
  const SettingsFile settings = ReadSettings(work_ / ".velorixrc");
  EXPECT_EQ(settings["Paths.KERNEL"], Kernel());
  EXPECT_EQ(settings["Paths.KERNELW"], "./");
  EXPECT_EQ(settings["Libraries.AUTODIFOPT"], "+");
  EXPECT_FALSE(settings.Has("TMP.TMP"));
  EXPECT_EQ(settings["Currents.CLASSCUR"], "A");
  const std::string script = ReadFile(product_ / "CompRhs");
  EXPECT_NE(script.find(" " + Kernel() + "autodif.o "), std::string::npos) << script;
}

TEST_F(Installation, UserInstallationWithoutTheProductObject) {
  ASSERT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Could not run C++ compiler during the full installation.\n"
                                     "Symbolical differentiation feature will be disabled."});
  const SettingsFile settings = ReadSettings(work_ / ".velorixrc");
  EXPECT_EQ(settings["Libraries.AUTODIFOPT"], "-");
  EXPECT_EQ(settings.sections.back(), "TMP");
}

TEST_F(Installation, CompilerThatMakesNoObject) {
  InstallForm form = Form(true);
  form.text(Field::kCppName) = "false";
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Cannot compile autodif.cc.\nSymbolical differentiation feature "
                            "will be disabled.\nPlease check the name of C++ compiler\nand "
                            "ensure it is accessable via the PATH variable"});
  EXPECT_EQ(ReadSettings(product_ / ".velorixrc")["Libraries.AUTODIFOPT"], "-");
}

TEST_F(Installation, CompilesOnlyWhenTheObjectIsMissingOrOlder) {
  const time_t base = time(nullptr) - 1000;
  ASSERT_EQ(RunFull(Form(true)), InstallOutcome::Ended);
  EXPECT_EQ(Compiles(), 1);
  // The compiler writes into the run's scratch directory under TMPDIR,
  // under a temporary name: a killed compile leaves nothing in the
  // directory.
  const std::string command = ReadFile(root_ / "compiler.log");
  const std::string head = "-c -o " + TemporaryDirectory() + "/velorix-install-",
                    middle = "/.autodif.o.vx-", tail = " autodif.cc -O2 -fPIC -lc -lm\n";
  ASSERT_EQ(command.size(), head.size() + 6 + middle.size() + 6 + tail.size()) << command;
  EXPECT_EQ(command.substr(0, head.size()), head);
  EXPECT_EQ(command.substr(head.size() + 6, middle.size()), middle);
  EXPECT_EQ(command.substr(command.size() - tail.size()), tail);
  EXPECT_TRUE(fs::exists(product_ / "autodif.o"));
  for (const auto &entry : fs::directory_iterator(product_))
    EXPECT_EQ(entry.path().filename().string().find(".vx-"), std::string::npos) << entry.path();

  SetTime(product_ / "autodif.cc", base);
  SetTime(product_ / "autodif.o", base);  // equal times: up to date
  RunFull(Form(true));
  EXPECT_EQ(Compiles(), 1);
  SetTime(product_ / "autodif.cc", base + 1);
  RunFull(Form(true));
  EXPECT_EQ(Compiles(), 2);
  SetTime(product_ / "autodif.o", base + 5);
  SetTime(product_ / "autodif.cc", base);
  WriteFile(product_ / "autodif.c", "");
  SetTime(product_ / "autodif.c", base + 6);
  RunFull(Form(true));
  EXPECT_EQ(Compiles(), 3);
}

TEST_F(Installation, NamesFileIsKeptMovedOrCreated) {
  // Kept byte for byte, mode included.
  WriteFile(work_ / "filenums.vpf", "existing\nnames");
  fs::permissions(work_ / "filenums.vpf", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(work_ / "filenums.vel", "former");
  RunUser(Form(false));
  EXPECT_EQ(ReadFile(work_ / "filenums.vpf"), "existing\nnames");
  EXPECT_EQ(FileMode(work_ / "filenums.vpf"), 0600u);
  EXPECT_EQ(ReadFile(work_ / "filenums.vel"), "former");

  // Moved from its former name.
  fs::remove(work_ / "filenums.vpf");
  RunUser(Form(false));
  EXPECT_EQ(ReadFile(work_ / "filenums.vpf"), "former");
  EXPECT_FALSE(fs::exists(work_ / "filenums.vel"));

  // Created with one byte and rw-r--r--, whatever the umask.
  fs::remove(work_ / "filenums.vpf");
  const mode_t oldMask = umask(077);
  RunUser(Form(false));
  umask(oldMask);
  EXPECT_EQ(ReadFile(work_ / "filenums.vpf"), "-");
  EXPECT_EQ(FileMode(work_ / "filenums.vpf"), 0644u);
}

TEST_F(Installation, NamesFileThatCannotBeCreatedIsReported) {
  // A dangling link: nothing may be created through it.  The procedure
  // goes on, but does not end as if the directory were ready.
  fs::create_symlink(root_ / "missing-dir" / "x", work_ / "filenums.vpf");
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_FALSE(fs::exists(work_ / "palette.vpf"));
  EXPECT_EQ(
      std::count(Messages().begin(), Messages().end(),
                 "Cannot open file './filenums.vpf' (it is a link to a file that does not exist)"),
      1);
  EXPECT_FALSE(fs::exists(root_ / "missing-dir"));
}

TEST_F(Installation, TuningFieldsThatDoNotExistKeepTheTemplate) {
  InstallForm form = Form(false);
  for (const FormField *field : Adjust)
    form.texts[static_cast<std::size_t>(field->id)].reset();
  RunUser(form);
  const SettingsFile settings = ReadSettings(work_ / ".velorixrc");
  EXPECT_EQ(settings["Visual.HCPRINTER"], "lpr %s");
  EXPECT_EQ(settings["Visual.HCVIEWER"], "ghostview -a5 -magstep 0 %s");
  EXPECT_EQ(settings["Compiler.EXTDIFF"].substr(0, 9), "maple -q ");
}

// ---- the class description file -----------------------------------------

TEST_F(Installation, MissingClassFileStopsAndASecondPressCompletes) {
  fs::remove(product_ / "classes.vel");
  // The first press is a User installation without the product object,
  // which would store AUTODIFOPT "-" and a [TMP] section that the second
  // press must not keep; it stops before anything is written, at the class
  // description file.
  const auto before = Snapshot(root_);
  ASSERT_EQ(RunFull(Form(false)), InstallOutcome::Stopped);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot open class description file\n" + Kernel() +
                                                 "classes.vel"});
  EXPECT_EQ(Snapshot(root_), before);

  // One too large for the reader's positions, or no file, stops as early,
  // and the list says what is wrong with it.
  const fs::path classes = product_ / "classes.vel";
  for (const char *wrong : {"too large", "not a regular file"}) {
    if (std::string(wrong) == "too large") {
      WriteFile(classes, kClassFile);
      fs::resize_file(classes, 18u << 20);
    } else {
      fs::remove(classes);
      fs::create_directory(classes);
    }
    const auto unread = Snapshot(root_);
    Messages().clear();
    EXPECT_EQ(RunFull(Form(true)), InstallOutcome::Stopped) << wrong;
    EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot open class description file\n" +
                                                   Kernel() + "classes.vel"});
    EXPECT_EQ(Snapshot(root_), unread) << wrong;
    const Result refused = CheckBeforeWriting(Form(true), [](const std::string &p) { return p; });
    ASSERT_EQ(refused.about().missing.size(), 1u) << wrong;
    EXPECT_NE(MissingFilesText(refused.about().missing)
                  .find(std::string("  ") + wrong + ": " + classes.string() +
                        " (the class description file"),
              std::string::npos)
        << wrong;
  }
  fs::remove(product_ / "classes.vel");

  InstallForm form = Form(true);
  form.noticeBoxExists = form.noticeConsent = true;
  WriteFile(product_ / "classes.vel", kClassFile);
  Messages().clear();
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty());
  const SettingsFile settings = ReadSettings(product_ / ".velorixrc");
  EXPECT_EQ(settings["Libraries.AUTODIFOPT"], "+");
  EXPECT_FALSE(settings.Has("TMP.TMP"));
  EXPECT_EQ(settings["Currents.CLASSCUR"], "A");
  EXPECT_TRUE(fs::exists(root_ / "mail.args"));
}

// Entries that name no class store nothing; a "&hierarchy" with none
// after it is said, a file without "&hierarchy" is not.
TEST_F(Installation, HierarchyEntriesThatNameNoClassStoreNothing) {
  const std::string file = Kernel() + "classes.vel";
  const std::string notTwoWords = "The entry after &hierarchy in\n" + file +
                                  "\nis not a class and the name of its description file (two "
                                  "words).\nThe current class has not been stored.";
  const std::pair<const char *, std::string> cases[] = {
      {"&hierarchy\n", "The class description file\n" + file +
                           "\nends with its line &hierarchy: no class entry follows it.\nThe "
                           "current class has not been stored."},
      {"&hierarchy\nonlyone\n", notTwoWords},
      {"&hierarchy\n&other\nA b\n", notTwoWords},
      {"&classes\nA b\n", ""}};
  for (const auto &[text, told] : cases) {
    WriteFile(product_ / "classes.vel", text);
    Messages().clear();
    ASSERT_EQ(RunFull(Form(true)), InstallOutcome::Ended) << text;
    EXPECT_EQ(Messages(), told.empty() ? std::vector<std::string>{} : std::vector{told}) << text;
    const SettingsFile settings = ReadSettings(product_ / ".velorixrc");
    EXPECT_EQ(settings["Currents.CLASSCUR"], "") << text;
    EXPECT_EQ(settings["Files.CLASSFILECUR"], "$(Paths.KERNEL)%s$(Extensions.DESC)") << text;
  }
}

TEST_F(Installation, OverlongClassEntryIsReportedAndNotStored) {
  WriteFile(product_ / "classes.vel", "&hierarchy\n" + std::string(250, 'A') + " b\n");
  ASSERT_EQ(RunFull(Form(true)), InstallOutcome::Ended);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"The class entry after &hierarchy in\n" + Kernel() +
                                     "classes.vel\nis too long for the settings file.\n"
                                     "The current class has not been stored."});
  const SettingsFile settings = ReadSettings(product_ / ".velorixrc");
  EXPECT_EQ(settings["Currents.CLASSCUR"], "");
  EXPECT_EQ(settings["Files.CLASSFILECUR"], "$(Paths.KERNEL)%s$(Extensions.DESC)");
}

TEST_F(Installation, ProductDirectoryHoldingPercentSigns) {
  const fs::path odd = root_ / "50%sx%d";
  fs::rename(product_, odd);
  product_ = odd;
  ASSERT_EQ(RunFull(Form(true)), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
  const SettingsFile settings = ReadSettings(product_ / ".velorixrc");
  EXPECT_EQ(settings["Paths.KERNEL"], Kernel());
  EXPECT_EQ(settings["Compiler.INCLUDE"], " -I" + Kernel());
  EXPECT_EQ(settings["Files.CLASSFILECUR"], Kernel() + "b.vel");
  for (const char *made : {"init.vpf", "CompRhs", "vel_sys.h", "autodif.o", "filenums.vpf"})
    EXPECT_TRUE(fs::exists(product_ / made)) << made;
}

// ---- compile script, notice and stopping file failures -----------------

// Runs the installed compile script the way [Compiler] MAKERHS does and
// loads the library that it builds.
void CompileModelWith(const fs::path &kernel, const fs::path &dir) {
  fs::copy_file(VX_TEST_DATA "/model.c", dir / "model.c");
  const std::string command =
      "cd '" + dir.string() + "' && " + (kernel / "CompRhs").string() + " model libmodel n";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir / "ErrLog");
  void *library = dlopen((dir / "libmodel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror() << "\n" << ReadFile(dir / "ErrLog");
  dlclose(library);
  EXPECT_FALSE(fs::exists(dir / "delete.o"));
}

TEST_F(Installation, TheInstalledCompileScriptBuildsAModel) {
  InstallForm form = Form(true);
  form.shellStyle = 1;
  form.text(Field::kShellPath) = "/usr/bin/tcsh -f";
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  fs::create_directory(root_ / "csh");
  CompileModelWith(product_, root_ / "csh");

  form.shellStyle = 2;
  form.text(Field::kShellPath) = "/bin/ksh ";
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  fs::create_directory(root_ / "ksh");
  CompileModelWith(product_, root_ / "ksh");
}

// A compile script in the syntax of the other family than its shell's
// cannot run; a warning names both before anything is written, and the
// installation goes on with the user's choice.
TEST_F(Installation, StyleAndShellOfDifferentFamiliesAreWarnedAbout) {
  InstallForm form = Form(true);
  form.shellStyle = 1;
  form.text(Field::kShellPath) = "/bin/bash -f";
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "The shell style is csh, but the shell path /bin/bash names a shell "
                            "of the ksh family:\nthe compile script may fail when it runs."});
  const std::string script = ReadFile(product_ / "CompRhs");
  EXPECT_EQ(script.substr(0, script.find('\n')), "#! /bin/bash -f");
  EXPECT_NE(script.find("if ( $3 == 'y' ) then"), std::string::npos);

  Messages().clear();
  form.shellStyle = 2;
  form.text(Field::kShellPath) = "/usr/bin/tcsh ";
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "The shell style is ksh, but the shell path /usr/bin/tcsh names a "
                            "shell of the csh family:\nthe compile script may fail when it runs."});

  // Before the settings file is written: it comes ahead of that failure.
  Messages().clear();
  fs::create_directory(work_ / ".velorixrc");
  EXPECT_EQ(RunUser(form), InstallOutcome::Stopped);
  ASSERT_EQ(Messages().size(), 4u);
  EXPECT_NE(Messages()[0].find("shell style is ksh"), std::string::npos);
  EXPECT_EQ(Messages()[1].rfind("This Full installation is run from ", 0), 0u);
  EXPECT_EQ(Messages()[2], "Cannot open file './.velorixrc'");
  fs::remove(work_ / ".velorixrc");

  // A shell of the style's family or of neither, or a User installation,
  // which writes no script: no warning.
  Messages().clear();
  for (const char *path : {"/bin/dash ", "/opt/bin/rc "}) {
    form.text(Field::kShellPath) = path;
    EXPECT_EQ(RunFull(form), InstallOutcome::Ended) << path;
  }
  form.full = false;
  form.shellStyle = 1;
  form.text(Field::kShellPath) = "/bin/bash -f";
  EXPECT_EQ(RunUser(form), InstallOutcome::Ended);
  EXPECT_TRUE(Messages().empty()) << Messages().front();
}

TEST_F(Installation, NoticeIsSentOnlyWithConsent) {
  InstallForm form = Form(true);
  form.noticeBoxExists = true;
  RunFull(form);
  form.noticeBoxExists = false;
  form.noticeConsent = true;
  RunFull(form);
  EXPECT_FALSE(fs::exists(root_ / "mail.args"));

  form.noticeBoxExists = true;
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(ReadFile(root_ / "mail.args"), std::string(kNoticeRecipients) + "\n");
  const std::string body = ReadFile(root_ / "mail.body");
  EXPECT_EQ(body.substr(0, 27), "\nVELORIX 1.5m installed on\n");
  EXPECT_GT(body.size(), 28u);  // uname -a follows
  EXPECT_FALSE(fs::exists(product_ / "del1"));
  EXPECT_FALSE(fs::exists(product_ / "del2"));

  form.full = false;
  ASSERT_EQ(RunUser(form), InstallOutcome::Ended);
  EXPECT_EQ(ReadFile(root_ / "mail.body").substr(0, 27), "\nVELORIX 1.5u installed on\n");
  EXPECT_FALSE(fs::exists(work_ / "del1"));
}

TEST_F(Installation, UnwritableSettingsFileStops) {
  fs::create_directory(work_ / ".velorixrc");  // even root cannot open it for writing
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Cannot open file './.velorixrc'",
                                                  "Cannot open settings file './.velorixrc'"}));
  EXPECT_FALSE(fs::exists(work_ / "filenums.vpf"));
}

TEST_F(Installation, UnwritableCompileScriptStopsAndLeavesTheEarlierFilesUnwritten) {
  fs::create_directory(product_ / "CompRhs");
  EXPECT_EQ(RunFull(Form(true)), InstallOutcome::Stopped);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Cannot open batch file for compiler '" +
                                                 Kernel() + "CompRhs'"});
  EXPECT_FALSE(fs::exists(product_ / "filenums.vpf"));
  EXPECT_FALSE(fs::exists(product_ / "init.vpf"));
  EXPECT_FALSE(fs::exists(product_ / "vel_sys.h"));
  EXPECT_FALSE(fs::exists(product_ / "palette.vpf"));
}

}  // namespace
