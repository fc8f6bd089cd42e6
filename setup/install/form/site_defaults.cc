/*
 * site_defaults.cc - reading and writing a host's starting values.
 */
#include "site_defaults.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "answers.h"
#include "atomic_file.h"
#include "file_writing.h"

namespace {

constexpr char kPermissions[] = "rw-r--r--";
// The site directory: root's, readable by all.
constexpr mode_t kDirectoryMode = 0755;
constexpr char kNotUsed[] = "The site defaults were not used.";

// The fields the site defaults hold when written: what a lab shares.
constexpr Field kSavedFields[] = {Field::kKernel, Field::kInclude, Field::kLibraries,
                                  Field::kCppName, Field::kCppOptions};

void addLine(std::string &lines, const std::string &line) {
  lines += (lines.empty() ? "" : "\n") + line;
}

}  // namespace

Result ApplySiteDefaults(const std::string &path, InstallForm *form) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return {};
  Answers answers;
  if (Result read = ReadAnswers(path, &answers); !read.ok())
    return Result::Notice(read.message() + "\n" + kNotUsed);
  // Each user chooses these for their own installation.
  std::string lines;
  const auto ignore = [&](Field field, bool given) {
    if (!given) return;
    const FormField &row = FieldRow(field);
    addLine(lines, path + ":" + std::to_string(answers.lineOf[static_cast<std::size_t>(field)]) +
                       ": " + row.answerKey +
                       " is each user's choice, which site defaults cannot make; ignored");
  };
  ignore(Field::kKind, answers.full.has_value());
  ignore(Field::kShellStyle, answers.shellStyle.has_value());
  ignore(Field::kNotify, answers.notify.has_value());
  answers.full.reset();
  answers.shellStyle.reset();
  answers.notify.reset();
  Result applied = ApplyAnswers(answers, form);
  if (!applied.ok()) {
    addLine(lines, applied.message() + "\n" + kNotUsed);
    return Result::Notice(lines);
  }
  if (!applied.message().empty()) addLine(lines, applied.message());
  form->siteDefaults = path;
  return Result::Notice(lines);
}

std::string SiteDefaultsText(const InstallForm &form) {
  std::string out =
      "; velorix-setup site defaults: the starting values of every Setup form on this host.\n"
      "; Written by velorix-setup --save-site-defaults; answer files and options win over them.\n"
      "[form]\n";
  for (const Field field : kSavedFields)
    out += AnswerTextLine(FieldRow(field).answerKey, form.text(field));
  return out;
}

bool SiteDefaultsHold(const std::string &path, const InstallForm &form) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 ||
      (st.st_mode & 07777) != ModeFromPermissions(kPermissions))
    return false;
  return FileHolds(path, SiteDefaultsText(form)).value_or(false);
}

Result SaveSiteDefaults(const std::string &path, const InstallForm &form, bool *unchanged) {
  // Run again with the same values, it changes nothing, not even a time.
  const bool same = SiteDefaultsHold(path, form);
  if (unchanged != nullptr) *unchanged = same;
  if (same) return {};
  const std::string directory = std::filesystem::path(path).parent_path().string();
  if (mkdir(directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
    return Result::Failed(
        Fault::kNotOpened,
        "Cannot write the site defaults '" + path + "' (" + std::strerror(errno) + ")", {path});
  }
  const Result saved =
      WriteWholeFile(path, SiteDefaultsText(form), ModeFromPermissions(kPermissions));
  if (saved.ok()) return saved;
  return Result::Failed(saved.fault(),
                        "Cannot write the site defaults '" + path + "' (" + saved.detail() + ")",
                        {path});
}
