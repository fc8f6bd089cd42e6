/*
 * install_writes.cc - counts how often a Full installation rewrites the
 * settings file, and sets that beside the count its procedure implies.
 *
 *   install_writes PATH-TO-velorix-setup
 *
 * The core library rewrites the whole settings file at every change, so
 * the procedure implies one rewrite per stored key, besides the one write
 * of the settings template itself and its placement; template lines are
 * expanded in memory and write nothing.
 * The installation runs unattended under strace in a temporary product
 * directory; every successful open of .velorixrc for writing is counted.
 * Then fresh Full installations and the compile of autodif.cc alone, with
 * the same command, are timed in turns; the medians are printed
 * ("install_ms", "compile_ms").  Exit status 1 when the two counts differ.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <vector>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "form_fields.h"

namespace {

// KERNEL, KERNELW, the C compiler's INCLUDE and LIB, the C++ compiler's
// CPPNAME and CPPLIB.
constexpr int kPathAndCompilerKeys = 6;
// CLASSCUR and CLASSFILECUR, stored when "&hierarchy" names a class.
constexpr int kClassKeys = 2;

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
constexpr int kTimedRounds = 15;

// Wall time of command through the shell, in milliseconds.
double Timed(const std::string &command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
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

  const int storedKeys = kPathAndCompilerKeys + static_cast<int>(kAdjustRecords) +
                         (compiled ? 0 : 1) + (classStored ? kClassKeys : 0);
  // The template is written whole under a temporary name in the scratch
  // directory, and the finished file goes into place the same way.
  const int templateWrite = 1;
  const int placement = 1;
  const int implied = storedKeys + templateWrite + placement;

  std::printf("installation exit status: %d%s\n", WEXITSTATUS(status),
              compiled ? "" : " (autodif.o not compiled: AUTODIFOPT stored)");
  std::printf("settings-file writes measured: %d\n", writes);
  std::printf(
      "settings-file writes implied:  %d = %d stored keys + %d template write + %d placement\n",
      implied, storedKeys, templateWrite, placement);

  // A fresh Full installation each round: nothing of the one before is
  // left but the product's own files.
  const std::string install = "cd '" + dir.string() +
                              "' && rm -f .velorixrc* filenums.vpf init.vpf CompRhs vel_sys.h "
                              "palette.vpf autodif.o && : >.velorixrc && env -u DISPLAY "
                              "SHELL=/bin/sh '" +
                              tool + "' --unattended --full --shell-style csh >/dev/null 2>&1";
  const std::string compile = "cd '" + dir.string() +
                              "' && rm -f autodif.o && c++ -c -o autodif.o autodif.cc  -O2 -fPIC "
                              "-lc -lm >/dev/null 2>&1";
  std::vector<double> installs, compiles;
  for (int round = 0; round < kTimedRounds; ++round) {
    installs.push_back(Timed(install));
    compiles.push_back(Timed(compile));
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
