/*
 * test_check_and_log.cc - the check of an installed directory and the log
 * of a run, on the installation procedure itself.
 */
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "actions.h"
#include "real_actions.h"
#include "plan_report.h"
#include "planner.h"
#include "installation.h"
#include "installation_fixture.h"
#include "record_actions.h"
#include "settings_fixture.h"

namespace fs = std::filesystem;

namespace {

using vxtest::Installation;
using vxtest::Messages;
using vxtest::ReadFile;
using vxtest::Snapshot;
using vxtest::WriteFile;

using CheckAndLog = Installation;

// The differences a check of the current directory finds for form.
std::vector<std::string> Check(const InstallForm &form, InstallOutcome *outcome = nullptr) {
  Planner check(DiffDetail::kNone, Planner::Compile::kToKnow);
  const InstallOutcome result = RunInstallation(form, check);
  if (outcome != nullptr) *outcome = result;
  std::vector<std::string> lines;
  for (const Difference &difference : PlanDifferences(check.plan()))
    lines.push_back(difference.line);
  return lines;
}

TEST_F(CheckAndLog, ACheckFindsEachDifferenceAndChangesNothing) {
  const InstallForm form = Form(true);
  fs::current_path(product_);
  InstallOutcome outcome;
  EXPECT_FALSE(Check(form, &outcome).empty());  // nothing installed yet
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  Messages().clear();
  const auto installed = Snapshot(root_);
  EXPECT_EQ(Check(form, &outcome), std::vector<std::string>{});
  EXPECT_EQ(outcome, InstallOutcome::Ended);
  EXPECT_EQ(Snapshot(root_), installed);
  EXPECT_TRUE(Messages().empty());

  // Other answers than those installed: the script, and the settings
  // file, naming the key and the backup the run would make, and the
  // record of both.
  InstallForm other = form;
  other.text(Field::kLibraries) = "-lm";
  EXPECT_EQ(
      Check(other),
      (std::vector<std::string>{
          Kernel() + "CompRhs: contents differ from what the installation writes",
          Kernel() +
              ".velorixrc: contents differ from what the installation writes ([Compiler] LIB)",
          Kernel() + ".velorixrc.bak: missing (the installation keeps the settings file it "
                     "replaces there)",
          Kernel() + ".velorix-setup.sha256: contents differ from what the installation writes"}));

  WriteFile(product_ / "palette.vpf", "edited\n");
  ASSERT_EQ(chmod((product_ / "init.vpf").c_str(), 0644), 0);
  const time_t now = time(nullptr);
  vxtest::SetTime(product_ / "autodif.o", now - 100);
  vxtest::SetTime(product_ / "autodif.cc", now - 50);
  fs::remove(product_ / "filenums.vpf");
  WriteFile(product_ / "visuals.vpf", "old visuals\n");
  // Every path absolute, however the settings name it.
  EXPECT_EQ(Check(form), (std::vector<std::string>{
                             Kernel() + "filenums.vpf: missing",
                             Kernel() + "init.vpf: mode 0644, the installation gives it 0444",
                             Kernel() + "autodif.o: older than its sources",
                             Kernel() + "visuals.vpf: present (the installation removes it)",
                             Kernel() +
                                 "palette.vpf: changed since the last installation (the "
                                 "installation keeps it as " +
                                 Kernel() + "palette.vpf.velorix-old)",
                             Kernel() +
                                 "palette.vpf.velorix-old: missing (the installation keeps "
                                 "the changed " +
                                 Kernel() + "palette.vpf there)"}));
  EXPECT_EQ(ReadFile(product_ / "palette.vpf"), "edited\n");

  // A second installation with the same answers leaves the same bytes.
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(Check(form), std::vector<std::string>{});
  const auto again = Snapshot(root_);
  ASSERT_EQ(RunFull(form), InstallOutcome::Ended);
  EXPECT_EQ(Snapshot(root_), again);
}

std::string Logged(const std::function<void(Actions &)> &run, const InstallForm &form) {
  LogFile log("run.log");
  {
    RealActions real;
    RecordActions record(real, form, "test", &log,
                         {"velorix-setup 1.5", "velorix-setup --test", ""});
    run(record);
  }
  EXPECT_EQ(log.close().message(), "");
  return ReadFile("run.log");
}

TEST_F(CheckAndLog, TheLogListsEveryFileAndTheCompilersOwnError) {
  const InstallForm form = Form(true);
  fs::current_path(product_);
  const std::string log = Logged(
      [&form](Actions &actions) {
        auto &record = static_cast<RecordActions &>(actions);
        record.finish(RunInstallation(form, actions));
      },
      form);
  // Every path absolute, whichever way the procedure names it.
  const std::vector<std::string> expected = {
      "velorix-setup 1.5, test: Full installation\n  working directory: " + product_.string() +
          "\n  product directory: " + product_.string() +
          "\n  command line: velorix-setup --test\n  answer file: none\n",
      "written the settings template",
      "stored [Paths] KERNEL=" + Kernel(),
      "created " + Kernel() + "filenums.vpf (1 bytes, rw-r--r--)",
      "written " + Kernel() + "init.vpf",
      "written " + Kernel() + "CompRhs",
      "rwxr-xr-x)",
      "written " + Kernel() + "vel_sys.h",
      "ran (compile) ",
      "compiled " + Kernel() + "autodif.o",
      "written " + Kernel() + "palette.vpf",
      "settings file in place: " + Kernel() + ".velorixrc",
      "outcome: installed"};
  for (const std::string &line : expected)
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

  // A compiler that fails says why on its standard error; the log keeps it.
  fs::remove(product_ / "autodif.o");
  WriteFile(bin_ / "failcc", "#!/bin/sh\necho 'autodif.cc:1: error: no such thing' >&2\nexit 1\n");
  fs::permissions(bin_ / "failcc", fs::perms::owner_all);
  InstallForm failing = form;
  failing.text(Field::kCppName) = (bin_ / "failcc").string();
  fs::remove("run.log");
  const std::string failed = Logged(
      [&failing](Actions &actions) {
        static_cast<RecordActions &>(actions).finish(RunInstallation(failing, actions));
      },
      failing);
  EXPECT_NE(failed.find(": exit status 1\n  its error output:\n  | autodif.cc:1: error: no such "
                        "thing"),
            std::string::npos)
      << failed;
  EXPECT_NE(failed.find("message:\n  | Cannot compile autodif.cc."), std::string::npos) << failed;
  EXPECT_NE(failed.find("NOT compiled " + Kernel() + "autodif.o"), std::string::npos) << failed;
}

}  // namespace

// A log that cannot take what is written to it is never lost without a
// word: the first failure is kept and told when the log is closed.
TEST(LogFile, AWriteThatFailsLaterIsTold) {
  const std::string path = ::testing::TempDir() + "vx_log_limit.log";
  std::remove(path.c_str());
  LogFile log(path);
  ASSERT_TRUE(log.ok());
  log.write("header");
  ASSERT_TRUE(log.ok());
  // A file size limit that the next lines pass: the writes fail (EFBIG)
  // instead of raising SIGXFSZ.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 10; ++i)
    log.write(std::string(40, 'x'));
  const std::string told = log.close().message();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(told, "Cannot write the log file '" + path +
                      "' (File too large):\nwhat this run did is not all in it.");
  std::remove(path.c_str());

  EXPECT_EQ(LogFile("/").close().message(),
            "Cannot open the log file '/' (it is neither a file nor a terminal)");
}
