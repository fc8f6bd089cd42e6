/*
 * setting_up.cc - the words for where a run puts what.
 */
#include "setting_up.h"

#include <sys/stat.h>

#include "form.h"
#include "product_files.h"

namespace {

// The same directory, by what it is rather than how it is written
// ("/opt/velorix/", "/opt/./velorix", a link to it).
bool sameDirectory(const std::string &a, const std::string &b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool FullFromElsewhere(const InstallForm &form, const std::string &here) {
  const std::string &kernel = form.text(Field::kKernel);
  return form.full && !kernel.empty() && !sameDirectory(kernel, here);
}

std::string FullFromElsewhereWords(const InstallForm &form, const std::string &here) {
  if (!FullFromElsewhere(form, here)) return {};
  const std::string kernel = WithSlash(form.text(Field::kKernel));
  return "This Full installation is run from " + here + ",\nnot from its VELORIX directory " +
         kernel + ":\nthe installation-wide files (interface strings, compile script, system " +
         "header)\ngo to " + kernel + ", but autodif.o is compiled here, from the autodif.cc " +
         "here.\nTo have it all in " + kernel + ", run velorix-setup there;\nto set up this " +
         "directory alone, choose a User installation.";
}

std::string AdviceBeforeWriting(const InstallForm &form, const std::string &here,
                                const std::vector<MissingFile> &missing) {
  if (!form.full) return {};
  if (std::string words = FullFromElsewhereWords(form, here); !words.empty()) return words;
  if (missing.empty()) return {};
  return std::string(kAutodifSource) + " is not in " + here +
         ", where this Full installation compiles " + kProductObject + ".";
}

std::array<std::string, 2> SettingUpLines(const InstallForm &form, const std::string &here) {
  const std::string kind = form.full ? "Full" : "User";
  if (!FullFromElsewhere(form, here))
    return {"Setting up " + here + " (" + kind + " installation)", ""};
  return {"Setting up " + here + " (Full installation): autodif.o is compiled here,",
          "installation-wide files go to " + WithSlash(form.text(Field::kKernel)) +
              ". Run it there, or choose User."};
}
