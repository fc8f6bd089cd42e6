/*
 * product_files.cc - the files a run needs from the product directory.
 */
#include "product_files.h"

#include <unistd.h>

#include <filesystem>

#include "form.h"

namespace {

// What the list says of each file: what it is, and for a file the run
// can do without, what its absence turns off.
constexpr char kExecutableIs[] = "the VELORIX executable";
constexpr char kClassFileIs[] = "the class description file";
constexpr char kSourceIs[] =
    "the source of the symbolic-differentiation object; without it, symbolic "
    "differentiation is turned off";
constexpr char kObjectIs[] =
    "the symbolic-differentiation object a Full installation compiles; without it, "
    "symbolic differentiation is turned off";
constexpr char kWhereToRead[] = "man velorix-setup (PRODUCT DIRECTORY) tells what each file holds";

}  // namespace

std::string ProductFilePath(const InstallForm &form, const char *name,
                            const PathResolver &resolve) {
  return resolve(WithSlash(form.text(Field::kKernel)) + name);
}

std::vector<MissingFile> MissingProductFiles(const InstallForm &form, const PathResolver &resolve) {
  std::vector<MissingFile> missing;
  if (form.text(Field::kKernel).empty()) return missing;
  const auto lookFor = [&missing](const std::string &path, const char *what) {
    // As the procedure tests the executable: whatever is there counts.
    if (access(path.c_str(), F_OK) == 0) return;
    // Told by its whole path, even where the caller resolves nothing.
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(path, error);
    missing.push_back({error ? path : whole.string(), what});
  };
  lookFor(ProductFilePath(form, kProductExecutable, resolve), kExecutableIs);
  lookFor(ProductFilePath(form, kProductClassFile, resolve), kClassFileIs);
  if (form.full) {
    // Compiled where the installation runs: the product directory, or
    // the directory a Full installation is run in when that is another.
    lookFor(resolve(kAutodifSource), kSourceIs);
  } else {
    lookFor(ProductFilePath(form, kProductObject, resolve), kObjectIs);
  }
  return missing;
}

std::string MissingFilesText(const std::vector<MissingFile> &missing) {
  if (missing.empty()) return {};
  std::string text;
  for (const MissingFile &file : missing)
    text += "  missing: " + std::filesystem::path(file.path).lexically_normal().string() + " (" +
            file.what + ")\n";
  return text + "  " + kWhereToRead + "\n";
}
