/*
 * install_writes.cc - counts how often a Full installation rewrites the
 * settings file, and sets that beside the count its procedure implies.
 *
 *   install_writes PATH-TO-velorix-setup
 *
 * The core library rewrites the whole settings file at every change
 * unless its values are held in memory and written together, as the
 * procedure does with the form's values and again with the current class.
 * So the procedure implies one rewrite for the form's values, one for the
 * class, one for the symbolic-differentiation switch when the object was
 * not compiled, besides the one write of the settings template itself and
 * its placement; template lines are expanded in memory and write nothing.
 * The installation runs unattended under strace in a temporary product
 * directory; every successful open of .velorixrc for writing is counted.
 * Then fresh Full installations and the compile of autodif.cc alone, run
 * as the installation runs it (through /bin/sh), are timed in turns; the
 * files a round leaves are removed before the next, untimed.  The medians
 * are printed ("install_ms", "compile_ms").  Exit status 1 when the two
 * counts differ.
 */
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <vector>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "form_fields.h"

namespace {

// The temporary name a whole file is written under before it is renamed
// to .velorixrc: "..velorixrc.vx-" and six characters.
constexpr char kTemporaryName[] = "..velorixrc.vx-";
constexpr std::size_t kTemporaryRandom = 6;

// True for a strace line of a successful open of a file named .velorixrc,
// or of the temporary name of one, (in any directory) with O_WRONLY or
// O_RDWR.
bool OpensSettingsForWriting(const std::string &line) {
  if (line.find("open") == std::string::npos) return false;
  std::size_t name = line.find(".velorixrc\"");
  const std::size_t temporary = line.find(kTemporaryName);
  if (temporary != std::string::npos) {
    const std::size_t end = temporary + std::strlen(kTemporaryName) + kTemporaryRandom;
    if (end >= line.size() || line[end] != '"') return false;
    name = temporary;
  }
  if (name == std::string::npos) return false;
  if (name > 0 && line[name - 1] != '"' && line[name - 1] != '/') return false;
  if (line.find("O_WRONLY", name) == std::string::npos &&
      line.find("O_RDWR", name) == std::string::npos)
    return false;
  const std::size_t result = line.rfind(") = ");
  return result != std::string::npos && result + 4 < line.size() &&
         std::isdigit(static_cast<unsigned char>(line[result + 4]));
}

// Rounds of the timing: each times one installation and one compile.
constexpr int kTimedRounds = 21;

// Wall time of the program argv in directory, from its start to its end,
// in milliseconds; -1 when it fails.  Its output is thrown away.
double Timed(const std::string &directory, std::vector<std::string> argv) {
  std::vector<char *> args;
  for (std::string &arg : argv)
    args.push_back(arg.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  int status = -1;
  const bool ran = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ) == 0 &&
                   waitpid(child, &status, 0) == child;
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void Write(const std::filesystem::path &path, const std::string &text) {
  std::ofstream(path) << text;
}

int Run(const std::string &tool) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "velorix-install-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path dir = pattern;
  Write(dir / "velorix", "#!/bin/sh\n");
  Write(dir / "classes.vel", "&classes\nZ z\n&hierarchy\nA b\n");
  Write(dir / "autodif.cc", "int autodif_marker() { return 7; }\n");
  // Present before the tool starts, so that nothing can reach the home
  // directory's settings file.
  Write(dir / ".velorixrc", "");
  const fs::path trace = dir / "trace.txt";
  const std::string command = "cd '" + dir.string() +
                              "' && env -u DISPLAY SHELL=/bin/sh strace -f -qq " +
                              "-e trace=open,openat,creat -o '" + trace.string() + "' '" + tool +
                              "' --unattended --full --kernel '" + dir.string() +
                              "' --shell-style csh --cpp-name c++ --printer 'lpr %s' "
                              "--previewer 'gv %s' --differentiator 'maple %s' >install.out 2>&1";
  const int status = std::system(command.c_str());

  int writes = 0;
  std::ifstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (OpensSettingsForWriting(line)) ++writes;
  }
  const bool compiled = fs::exists(dir / "autodif.o");
  std::ifstream settingsFile(dir / ".velorixrc");
  std::stringstream settings;
  settings << settingsFile.rdbuf();
  const bool classStored = settings.str().find("CLASSCUR=A") != std::string::npos;

  // The form's values, the current class (stored when "&hierarchy" names
  // one) and, when the object was not compiled, the switch that turns
  // symbolic differentiation off.
  const int storedTogether = 1 + (classStored ? 1 : 0) + (compiled ? 0 : 1);
  // The template is written whole under a temporary name in the scratch
  // directory, and the finished file goes into place the same way.
  const int templateWrite = 1;
  const int placement = 1;
  const int implied = storedTogether + templateWrite + placement;

  std::printf("installation exit status: %d%s\n", WEXITSTATUS(status),
              compiled ? "" : " (autodif.o not compiled: AUTODIFOPT stored)");
  std::printf("settings-file writes measured: %d\n", writes);
  std::printf(
      "settings-file writes implied:  %d = %d rewrites for stored values + %d template write + %d "
      "placement\n",
      implied, storedTogether, templateWrite, placement);

  // A fresh Full installation each round: nothing of the one before is
  // left but the product's own files.
  const std::string clean = "cd '" + dir.string() +
                            "' && rm -f .velorixrc* .autodif.o.cmd filenums.vpf init.vpf CompRhs "
                            "vel_sys.h palette.vpf autodif.o && : >.velorixrc";
  setenv("SHELL", "/bin/sh", 1);
  unsetenv("DISPLAY");
  const std::vector<std::string> install = {tool, "--unattended", "--full", "--shell-style", "csh"};
  // The command the installation runs, through the shell as it runs it.
  const std::vector<std::string> compile = {"/bin/sh", "-c",
                                            "c++ -c -o autodif.o autodif.cc  -O2 -fPIC -lc -lm"};
  std::vector<double> installs, compiles;
  for (int round = 0; round < kTimedRounds; ++round) {
    if (std::system(clean.c_str()) != 0) return 1;
    installs.push_back(Timed(dir, install));
    if (std::system(("rm -f '" + dir.string() + "/autodif.o'").c_str()) != 0) return 1;
    compiles.push_back(Timed(dir, compile));
  }
  const bool timed =
      std::none_of(installs.begin(), installs.end(), [](double t) { return t < 0; }) &&
      std::none_of(compiles.begin(), compiles.end(), [](double t) { return t < 0; });
  std::printf("install_ms %.1f\ncompile_ms %.1f\n", Median(installs), Median(compiles));

  std::error_code ignored;
  fs::remove_all(dir, ignored);
  if (!timed) std::printf("the timed installation or compile failed\n");
  if (WEXITSTATUS(status) != 0 || writes == 0 || !timed) {
    std::printf("the installation did not run as expected\n");
    return 1;
  }
  return writes == implied ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-velorix-setup\n", argv[0]);
    return 2;
  }
  return Run(std::filesystem::absolute(argv[1]).string());
}
