/*
 * test_installation_safety.cc - what the installation does when things go
 * wrong around it: a settings file it would replace, links, a second run
 * in the same directory, text that a shell would run, values too long for
 * the generated files, and a notice that cannot be sent.
 *
 * Each case checks that nothing is reported as done that is not, and that
 * no file of the user's is lost or opened up.  Faults of the file system
 * itself (a full disk, a killed run) are in tests/faults/.
 */
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "actions.h"
#include "real_actions.h"
#include "installation.h"
#include "installation_fixture.h"
#include "record_actions.h"
#include "settings_fixture.h"

namespace fs = std::filesystem;

namespace {

using vxtest::FileMode;
using vxtest::Installation;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::ReadSettings;
using vxtest::Snapshot;
using vxtest::WriteFile;

using Safety = Installation;

std::vector<std::string> Names(const fs::path &dir) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- the settings file it replaces ----------------------------------------

TEST_F(Safety, ReplacedSettingsAreKeptAndNoBackupIsEverOverwritten) {
  const std::string mine = "[Mine]\nKEY=kept\n";
  WriteFile(work_ / ".velorixrc", mine);
  ASSERT_EQ(chmod((work_ / ".velorixrc").c_str(), 0600), 0);
  ASSERT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  EXPECT_EQ(ReadFile(work_ / ".velorixrc.bak"), mine);
  EXPECT_EQ(FileMode(work_ / ".velorixrc.bak"), 0600u);  // as private as it was
  EXPECT_EQ(FileMode(work_ / ".velorixrc"), 0600u);      // and so is the new one
  const std::string first = ReadFile(work_ / ".velorixrc");
  EXPECT_EQ(ReadSettings(work_ / ".velorixrc")["Paths.KERNEL"], Kernel());

  // The same answers again: nothing to keep, nothing changes.
  ASSERT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  EXPECT_EQ(ReadFile(work_ / ".velorixrc"), first);
  EXPECT_FALSE(fs::exists(work_ / ".velorixrc.bak.1"));

  // Other answers: the first installation's file is kept as the newest
  // backup, and the user's own moves up one name.
  InstallForm other = Form(false);
  other.text(Field::kLibraries) = "-lm";
  ASSERT_EQ(RunUser(other), InstallOutcome::Ended);
  EXPECT_EQ(ReadFile(work_ / ".velorixrc.bak"), first);
  EXPECT_EQ(ReadFile(work_ / ".velorixrc.bak.1"), mine);
  EXPECT_EQ(ReadSettings(work_ / ".velorixrc")["Compiler.LIB"], "-lm");
  // No scratch directory, temporary file or lock is left.
  EXPECT_EQ(Names(work_),
            (std::vector<std::string>{".velorix-setup.sha256", ".velorixrc", ".velorixrc.bak",
                                      ".velorixrc.bak.1", "filenums.vpf", "palette.vpf"}));
}

TEST_F(Safety, SettingsReachedThroughALinkStayPrivate) {
  WriteFile(aside_ / "private", "[Mine]\nKEY=1\n");
  ASSERT_EQ(chmod((aside_ / "private").c_str(), 0600), 0);
  fs::create_symlink(aside_ / "private", work_ / ".velorixrc");
  ASSERT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  EXPECT_TRUE(fs::is_symlink(work_ / ".velorixrc"));
  EXPECT_EQ(ReadSettings(aside_ / "private")["Paths.KERNEL"], Kernel());
  EXPECT_EQ(FileMode(aside_ / "private"), 0600u);
  EXPECT_EQ(ReadFile(work_ / ".velorixrc.bak"), "[Mine]\nKEY=1\n");
}

TEST_F(Safety, SettingsLinkedToADeviceAreRefusedAtOnce) {
  fs::create_symlink("/dev/full", work_ / ".velorixrc");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Cannot open file './.velorixrc'",
                                                  "Cannot open settings file './.velorixrc'"}));
  EXPECT_EQ(Names(work_), std::vector<std::string>{".velorixrc"});
  EXPECT_TRUE(fs::is_symlink(work_ / ".velorixrc"));
}

// ---- one installation at a time -------------------------------------------

TEST_F(Safety, ASecondRunInTheSameDirectoryWaitsAndThenStops) {
  // The first run is played by a lock held here, as an installation holds
  // it; it never ends.
  const int fd = open((work_ / kLockFileName).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kLockWaitMilliseconds));
  close(fd);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Another installation is running in the "
                                                 "directory '" +
                                                 work_.string() +
                                                 "'.\nPlease wait until it has ended, and try "
                                                 "again."});
  EXPECT_EQ(Names(work_), std::vector<std::string>{kLockFileName});

  // Once it has ended, the next run goes ahead.
  Messages().clear();
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Ended);
  EXPECT_FALSE(fs::exists(work_ / kLockFileName));
}

// ---- text that would break the generated files ----------------------------

TEST_F(Safety, ShellTextInTheProductDirectoryIsRefused) {
  for (const std::string name : {"a;date>INJECTED;b", "a$(id)b", "a\tb", "x`y"}) {
    const fs::path product = root_ / name;
    fs::create_directory(product);
    WriteFile(product / "velorix", "");
    const auto before = Snapshot(root_);
    Messages().clear();
    InstallForm form = Form(true);
    form.text(Field::kKernel) = product.string();
    fs::current_path(product);
    EXPECT_EQ(RunInstallation(form), InstallOutcome::Stopped) << name;
    ASSERT_EQ(Messages().size(), 1u) << name;
    EXPECT_NE(Messages()[0].find("The text of the field 'VELORIX directory' must not contain"),
              std::string::npos);
    EXPECT_EQ(Snapshot(root_), before) << name;
  }
}

TEST_F(Safety, FieldsThatWouldBreakALineAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char *what;
    void (*change)(InstallForm &);
    const char *message;
    // A line measured once the values are stored is refused as such.
    InstallOutcome outcome = InstallOutcome::Stopped;
  };
  const Case cases[] = {
      {"tilde in Include", [](InstallForm &f) { f.text(Field::kInclude) = "-I/a~b"; },
       "The text of the field 'C compiler: Include' must not contain '~'"},
      {"tilde in Libraries", [](InstallForm &f) { f.text(Field::kLibraries) = "-lm~-lc"; },
       "The text of the field 'C compiler: Libraries' must not contain '~'"},
      {"no shell path", [](InstallForm &f) { f.text(Field::kShellPath) = " "; },
       "The text of the field 'Shell path' is empty"},
      {"script line too long",
       [](InstallForm &f) {
         f.text(Field::kCppName) = "/" + std::string(199, 'c');
         f.text(Field::kCppOptions) = std::string(240, 'O');
       },
       "Line 10 of the compile script would be longer than 499 characters with the values of "
       "the form.\nPlease shorten the field 'C++ compiler: Options'.",
       InstallOutcome::Refused},
  };
  for (const Case &c : cases) {
    const auto before = Snapshot(root_);
    Messages().clear();
    InstallForm form = Form(true);
    c.change(form);
    EXPECT_EQ(RunFull(form), c.outcome) << c.what;
    ASSERT_EQ(Messages().size(), 1u) << c.what;
    EXPECT_EQ(Messages()[0].substr(0, std::string(c.message).size()), c.message) << c.what;
    EXPECT_EQ(Snapshot(root_), before) << c.what;
  }
}

TEST_F(Safety, ALongProductDirectoryNeverGivesAnEmptyScriptLine) {
  // Short enough for each settings line, too long for the compile line
  // that names it twice.
  const fs::path product = root_ / std::string(200, 'p');
  fs::create_directory(product);
  WriteFile(product / "velorix", "");
  WriteFile(product / "classes.vel", vxtest::kClassFile);
  WriteFile(product / "autodif.cc", "int autodif_marker() { return 7; }\n");
  InstallForm form = Form(true);
  form.text(Field::kKernel) = product.string();
  fs::current_path(product);
  EXPECT_EQ(RunInstallation(form), InstallOutcome::Refused);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find("Please shorten the field 'VELORIX directory'"), std::string::npos)
      << Messages()[0];
  EXPECT_FALSE(fs::exists(product / "CompRhs"));
  EXPECT_FALSE(fs::exists(product / ".velorixrc"));
}

TEST_F(Safety, ANamesFileThatIsADirectoryIsNamed) {
  fs::create_directory(work_ / "filenums.vpf");
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_EQ(std::count(Messages().begin(), Messages().end(),
                       "Cannot open file './filenums.vpf' (it is a directory)"),
            1);
  // The procedure goes on to its end, but the run stopped: nothing of it
  // is put in place.
  EXPECT_FALSE(fs::exists(work_ / "palette.vpf"));
  EXPECT_FALSE(fs::exists(work_ / ".velorixrc"));
}

TEST_F(Safety, AVisualsFileThatStaysIsNamedAndTheRunDoesNotEndAsInstalled) {
  // The old visuals would be read as the new installation's.
  fs::create_directory(work_ / "visuals.vpf");
  WriteFile(work_ / "visuals.vpf" / "inside", "x");
  EXPECT_EQ(RunUser(Form(false)), InstallOutcome::Stopped);
  EXPECT_EQ(std::count(Messages().begin(), Messages().end(),
                       "Cannot remove file './visuals.vpf' (Is a directory)"),
            1);
  EXPECT_EQ(ReadFile(work_ / "visuals.vpf" / "inside"), "x");
}

// ---- a compile stopped by the user ----------------------------------------

// Whether process pid has ended (gone, or a zombie nobody has reaped yet).
bool Ended(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || stat.compare(close + 1, 3, " Z ") == 0;
}

TEST_F(Safety, ACompileStoppedWhileItRunsEndsAtOnceAndPlacesNoObject) {
  // A compiler that writes a piece of its object, starts a helper and
  // takes its time; it notes both processes.
  const fs::path pids = root_ / "compiler.pids";
  WriteFile(bin_ / "slowcc", R"(#!/bin/sh
while [ $# -gt 0 ]; do
  if [ "$1" = -o ]; then echo partial >"$2"; fi
  shift
done
sleep 60 &
echo $! $$ >"$VX_TEST_PIDS.new"
mv "$VX_TEST_PIDS.new" "$VX_TEST_PIDS"
wait
)");
  setenv("VX_TEST_PIDS", pids.c_str(), 1);
  fs::permissions(bin_ / "slowcc", fs::perms::owner_all);
  // An object of an earlier run, made with another command.
  WriteFile(product_ / "autodif.o", "earlier object");
  WriteFile(product_ / ".autodif.o.cmd", "cmd_autodif.o := earlier\n");
  const auto before = Snapshot(product_);
  InstallForm form = Form(true);
  form.text(Field::kCppName) = (bin_ / "slowcc").string();

  fs::current_path(product_);
  RealActions real;
  // Called again and again while the compiler runs; the third call stops
  // it, as the window's "Cancel" does.
  int whileRunning = 0;
  real.whileCompiling([&] {
    if (fs::exists(pids)) ++whileRunning;
    return whileRunning < 3;
  });
  const fs::path logPath = root_ / "run.log";
  const auto start = std::chrono::steady_clock::now();
  {
    LogFile log(logPath.string());
    RecordActions record(real, form, "window", &log);
    const InstallOutcome outcome = RunInstallation(form, record);
    record.finish(outcome);
    EXPECT_EQ(outcome, InstallOutcome::Stopped);
    EXPECT_TRUE(log.close().ok());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  ASSERT_EQ(whileRunning, 3);
  // The log says the compile was stopped, not that it failed.
  EXPECT_NE(ReadFile(logPath).find(": stopped before its end, as asked\n"), std::string::npos)
      << ReadFile(logPath);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "The compile of autodif.cc was cancelled.\nThe installation has "
                            "been stopped; nothing in the directory has changed."});
  // The compiler and what it started end with it: the whole group goes.
  std::istringstream noted(ReadFile(pids));
  pid_t helper = 0, compiler = 0;
  ASSERT_TRUE(noted >> helper >> compiler);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((!Ended(helper) || !Ended(compiler)) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Ended(helper));
  EXPECT_TRUE(Ended(compiler));
  // No piece of the object is placed, the earlier object and its command
  // stay, and the settings are those the directory had.
  const auto after = Snapshot(product_);
  for (const char *name : {"autodif.o", ".autodif.o.cmd", ".velorixrc"}) {
    const std::string path = (product_ / name).string();
    EXPECT_EQ(after.count(path) ? after.at(path) : "<none>",
              before.count(path) ? before.at(path) : "<none>")
        << name;
  }
  for (const std::string &name : Names(product_)) {
    EXPECT_EQ(name.find(".vx-"), std::string::npos) << name;
  }
  unsetenv("VX_TEST_PIDS");
}

// ---- the notice -----------------------------------------------------------

TEST_F(Safety, ANoticeThatCannotBeSentIsReportedAndTheInstallationStands) {
  fs::remove(bin_ / "mail");
  const fs::path onlyShell = root_ / "path";
  fs::create_directory(onlyShell);
  for (const char *tool : {"sh", "echo", "uname", "cat", "rm"}) {
    const char *found = nullptr;
    for (const char *dir : {"/usr/bin/", "/bin/"}) {
      if (fs::exists(std::string(dir) + tool)) {
        found = dir;
        break;
      }
    }
    ASSERT_NE(found, nullptr) << tool;
    fs::create_symlink(std::string(found) + tool, onlyShell / tool);
  }
  setenv("PATH", (bin_.string() + ":" + onlyShell.string()).c_str(), 1);
  InstallForm form = Form(false);
  form.noticeBoxExists = true;
  form.noticeConsent = true;
  EXPECT_EQ(RunUser(form), InstallOutcome::Ended);
  EXPECT_EQ(Messages().back(), "The installation notice was not sent: no mail command was found.");
}

}  // namespace
