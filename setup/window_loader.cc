/*
 * window_loader.cc - finds and loads the Setup window's module.
 *
 * The module is checked before it is loaded: the dynamic loader maps a
 * file by what its ELF headers say, and a file cut short (a full disk
 * during an install, a copy broken off) is mapped all the same; the
 * program then dies of a bus error when it touches a page past the end.
 */
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "window_module.h"

namespace {

// The program's own directory, from the kernel rather than argv[0], which
// a caller may set to anything.
std::string programDirectory() {
  std::vector<char> path(4096);
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  std::string text(path.data(), static_cast<std::size_t>(length));
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

// Reads size bytes at offset of fd into out; false when the file holds
// fewer.
bool readAt(int fd, std::uint64_t offset, void *out, std::size_t size) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
  return got >= 0 && static_cast<std::size_t>(got) == size;
}

// Whether length bytes from offset lie inside a file of size bytes.
bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Whether the ELF file open as fd, of size bytes, holds everything its
// header says it does: the program and section header tables, and each
// segment that is to be mapped.
bool wholeElf(int fd, const ElfHeader &header, std::uint64_t size) {
  if (!within(0, sizeof header, size)) return false;
  // The section header table lies at the end of the file: the first thing
  // a cut loses.  Its entry 0 holds the count when that is too large for
  // the header.  Counts and entry sizes are 16-bit: no product overflows.
  const std::uint64_t sections = header.e_shoff != 0 && header.e_shnum == 0 ? 1 : header.e_shnum;
  if (!within(header.e_phoff, std::uint64_t{header.e_phnum} * sizeof(ProgramHeader), size) ||
      !within(header.e_shoff, sections * header.e_shentsize, size))
    return false;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ProgramHeader segment{};
    if (!readAt(fd, header.e_phoff + std::uint64_t{i} * sizeof segment, &segment, sizeof segment))
      return false;
    if (segment.p_type == PT_LOAD && !within(segment.p_offset, segment.p_filesz, size))
      return false;
  }
  return true;
}

// Why the file at path is no shared object that this program can load
// whole (not one of this machine's, or shorter than its headers say);
// empty when it is one.
std::string moduleProblem(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return path + ": cannot be opened";
  std::string problem;
  struct stat st;
  ElfHeader header{};
  const ssize_t got =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? pread(fd, &header, sizeof header, 0) : -1;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const bool ours =
      got > EI_CLASS && header.e_ident[EI_CLASS] == (sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32);
  if (got < SELFMAG || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    problem = path + ": not an ELF file";
  } else if (ours && !wholeElf(fd, header, size)) {
    problem = path + ": cut short at " + std::to_string(size) +
              " bytes, fewer than its ELF headers describe";
  } else if (!ours || header.e_type != ET_DYN || header.e_phentsize != sizeof(ProgramHeader)) {
    problem = path + ": not a shared object of this machine";
  }
  close(fd);
  return problem;
}

}  // namespace

const SetupWindowModule *LoadWindowModule() {
  const std::string directory = programDirectory();
  if (directory.empty()) {
    std::fprintf(stderr, "velorix-setup: the window cannot be loaded: the program's own "
                         "directory is unknown (/proc/self/exe)\n");
    return nullptr;
  }
  // Installed, the module is in the library directory, by the same path
  // from the program as at build time; in the build tree it is beside it.
  const std::string candidates[] = {
      directory + "/" VX_WINDOW_MODULE_FROM_PROGRAM "/" + kWindowModuleFile,
      directory + "/" + kWindowModuleFile};
  std::string why;
  for (const std::string &path : candidates) {
    if (access(path.c_str(), F_OK) != 0) continue;
    why = moduleProblem(path);
    if (!why.empty()) break;
    // Local: its toolkit symbols (Vibrant's main above all) stay out of
    // the program's own lookups.
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char *error = dlerror();
      why = error != nullptr ? error : path;
      break;
    }
    using Entry = const SetupWindowModule *(*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, kWindowModuleEntry));
    if (entry != nullptr) return entry();
    why = path + ": no " + kWindowModuleEntry;
    break;
  }
  if (why.empty()) why = "neither " + candidates[0] + " nor " + candidates[1] + " exists";
  std::fprintf(stderr,
               "velorix-setup: the window cannot be loaded (%s); "
               "answer in a terminal with --text, or install without a window with "
               "--unattended\n",
               why.c_str());
  return nullptr;
}
