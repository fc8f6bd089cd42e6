/*
 * window_loader.cc - finds and loads the Setup window's module.
 */
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
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
