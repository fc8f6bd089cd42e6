/*
 * product_files.cc - the files a run needs from the product directory.
 */
#include "product_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "descriptor_internal.h"
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
constexpr char kClassFileTooLarge[] =
    "the class description file; the reader takes one of less than 16 MiB";
constexpr char kWhereToRead[] = "man velorix-setup (PRODUCT DIRECTORY) tells what each file holds";

}  // namespace

std::string ProductFilePath(const InstallForm &form, const char *name,
                            const PathResolver &resolve) {
  return resolve(WithSlash(form.text(Field::kKernel)) + name);
}

MissingFile ClassFileProblem(const std::string &path) {
  // Followed through a link, as the reader opens it; what is not there is
  // for the existence test to tell.
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return {path, kClassFileIs, "not a regular file"};
  if (st.st_size >= VX_DESC_OFFSET_LIMIT) return {path, kClassFileTooLarge, "too large"};
  return {};
}

std::vector<MissingFile> MissingProductFiles(const InstallForm &form, const PathResolver &resolve) {
  std::vector<MissingFile> missing;
  if (form.text(Field::kKernel).empty()) return missing;
  // Told by its whole path, even where the caller resolves nothing.
  const auto whole = [](const std::string &path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
  };
  const auto lookFor = [&missing, &whole](const std::string &path, const char *what) {
    // As the procedure tests the executable: whatever is there counts.
    if (access(path.c_str(), F_OK) == 0) return;
    missing.push_back({whole(path), what});
  };
  lookFor(ProductFilePath(form, kProductExecutable, resolve), kExecutableIs);
  const std::string classFile = ProductFilePath(form, kProductClassFile, resolve);
  lookFor(classFile, kClassFileIs);
  if (MissingFile unread = ClassFileProblem(classFile); !unread.path.empty()) {
    unread.path = whole(unread.path);
    missing.push_back(std::move(unread));
  }
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
    text += "  " + file.wrong + ": " +
            std::filesystem::path(file.path).lexically_normal().string() + " (" + file.what + ")\n";
  return text + "  " + kWhereToRead + "\n";
}
