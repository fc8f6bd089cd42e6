/*
 * installation_fixture.h - a scratch tree for installation tests: a
 * product directory holding a "velorix" file, a class description file
 * and autodif sources, a working directory for User installations, and a
 * directory beside them that nothing may touch.  The compiler is a
 * stand-in script that logs its calls and leaves an object
 * (RelocatableObject), and so is the mail command.
 */
#ifndef VELORIX_TESTS_INSTALLATION_FIXTURE_H
#define VELORIX_TESTS_INSTALLATION_FIXTURE_H

#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "form.h"
#include "initial_form.h"
#include "installation.h"
#include "shell_detection.h"
#include "settings_fixture.h"

namespace vxtest {

namespace fs = std::filesystem;

inline void SetTime(const fs::path &path, time_t when) {
  struct utimbuf times {
    when, when
  };
  ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

// The settings file as the analysis program will read it: "Section.KEY" to
// the raw value, and the section names in order.
struct SettingsFile {
  std::map<std::string, std::string> values;
  std::vector<std::string> sections;
  bool Has(const std::string &name) const { return values.count(name) != 0; }
  std::string operator[](const std::string &name) const {
    auto found = values.find(name);
    return found == values.end() ? "<missing>" : found->second;
  }
};

inline SettingsFile ReadSettings(const fs::path &path) {
  SettingsFile file;
  std::istringstream in(ReadFile(path));
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      file.sections.push_back(section);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = section + "." + line.substr(0, eq);
    if (!file.values.count(name)) file.values[name] = line.substr(eq + 1);
  }
  return file;
}

// Every regular file below root with its contents, for "nothing else
// changed" checks.
inline std::map<std::string, std::string> Snapshot(const fs::path &root) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files[entry.path().string()] = ReadFile(entry.path());
    else if (entry.is_directory())
      files[entry.path().string() + "/"] = "";
  }
  return files;
}

// The smallest ELF relocatable object of this machine: its header and, at
// the end, a section header table holding the null section.  Only an
// object counts as compiled; one cut anywhere short is none.
inline std::string RelocatableObject() {
  ElfW(Ehdr) header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = __ELF_NATIVE_CLASS == 64 ? ELFCLASS64 : ELFCLASS32;
  header.e_ident[EI_DATA] = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
  header.e_ident[EI_VERSION] = EV_CURRENT;
  header.e_type = ET_REL;
  header.e_version = EV_CURRENT;
  header.e_ehsize = sizeof header;
  header.e_shoff = sizeof header;
  header.e_shentsize = sizeof(ElfW(Shdr));
  header.e_shnum = 1;
  const ElfW(Shdr) null{};
  return std::string(reinterpret_cast<const char *>(&header), sizeof header) +
         std::string(reinterpret_cast<const char *>(&null), sizeof null);
}

inline const char kClassFile[] = "! classes of the test product\n"
                                 "&classes\n"
                                 "Z z\n"
                                 "&hierarchy\n"
                                 "A b ! first entry\n"
                                 "C d\n";

// The scratch tree lies in /tmp and is not entered: each run enters the
// directory that it installs.
class Installation : public vxtest::ScratchTest {
 protected:
  Installation() : ScratchTest("/tmp/vx_install_XXXXXX", false) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ScratchTest::SetUp());
    root_ = dir_;
    product_ = root_ / "product";
    work_ = root_ / "work";
    aside_ = root_ / "aside";
    bin_ = root_ / "bin";
    for (const auto &dir : {product_, work_, aside_, bin_})
      fs::create_directory(dir);
    WriteFile(product_ / "velorix", "#!/bin/sh\n");
    WriteFile(product_ / "classes.vel", kClassFile);
    WriteFile(product_ / "autodif.cc", "int autodif_marker() { return 7; }\n");
    WriteFile(aside_ / "untouched", "keep");
    // A stand-in compiler: logs its arguments, then leaves an object at
    // the -o target.
    WriteFile(bin_ / "object.o", RelocatableObject());
    WriteFile(bin_ / "fakecc", "#!/bin/sh\necho \"$@\" >>\"" + (root_ / "compiler.log").string() +
                                   "\"\nwhile [ $# -gt 0 ]; do\n  if [ \"$1\" = -o ]; then cp \"" +
                                   (bin_ / "object.o").string() + "\" \"$2\"; fi\n  shift\ndone\n");
    fs::permissions(bin_ / "fakecc", fs::perms::owner_all);
    // A stand-in mail: records its arguments and what it reads.
    WriteFile(bin_ / "mail", "#!/bin/sh\necho \"$@\" >\"" + (root_ / "mail.args").string() +
                                 "\"\ncat >\"" + (root_ / "mail.body").string() + "\"\n");
    fs::permissions(bin_ / "mail", fs::perms::owner_all);
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin_.string() + ":" + oldPath_).c_str(), 1);
  }

  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    ScratchTest::TearDown();
  }

  // The form as the window starts it, for the product directory and the
  // stand-in compiler; the shell is fixed, not this host's.
  InstallForm Form(bool full) const {
    InstallForm form = InitialForm(full);
    form.text(Field::kKernel) = product_.string();
    form.text(Field::kCppName) = (bin_ / "fakecc").string();
    form.shellStyle = kShellStyleKsh;
    form.text(Field::kShellPath) = "/bin/sh ";
    return form;
  }

  InstallOutcome RunFull(const InstallForm &form) {
    fs::current_path(product_);
    return RunInstallation(form);
  }
  InstallOutcome RunUser(const InstallForm &form) {
    fs::current_path(work_);
    return RunInstallation(form);
  }
  std::string Kernel() const { return product_.string() + "/"; }
  int Compiles() const {
    std::istringstream log(ReadFile(root_ / "compiler.log"));
    int count = 0;
    for (std::string line; std::getline(log, line);)
      ++count;
    return count;
  }

  fs::path root_, product_, work_, aside_, bin_;
  std::string oldPath_;
};

}  // namespace vxtest

#endif
