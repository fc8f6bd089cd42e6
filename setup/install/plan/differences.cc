/*
 * differences.cc - unified diffs through diff(1), and the settings file
 * compared key by key.
 */
#include "differences.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <utility>

#include "settings_lines.h"

extern char **environ;

namespace {

constexpr char kDiffProgram[] = "diff";
constexpr char kNoFile[] = "/dev/null";
constexpr char kNone[] = "(none)";
// diff's exit status when the files differ; 0 is the same, 2 trouble.
constexpr int kDiffDiffers = 1;

// Runs argv (found on PATH) and returns what it writes to its standard
// output with its exit status; nothing when it could not be run.
std::optional<std::pair<int, std::string>> outputOf(std::vector<std::string> argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char *> args;
  for (std::string &arg : argv)
    args.push_back(arg.data());
  args.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return std::make_pair(WEXITSTATUS(status), out);
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A value in double quotes, with its quotes and backslashes escaped.
std::string quoted(const std::string &value) {
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return Printable(out + "\"");
}

struct Setting {
  std::string name;  // "[Section] KEY", as the file writes them
  std::string value;
};

// The settings of text by lower-case "section\nkey" (the first of two
// equal keys counts, as for the core library), and those keys in order.
struct Settings {
  std::map<std::string, Setting> byKey;
  std::vector<std::string> order;
};

Settings settingsOf(const std::string &text) {
  Settings found;
  std::string section, sectionKey;
  vx::ForEachSettingsLine(text, [&](std::string_view raw) {
    const vx::SettingsLine line = vx::ReadSettingsLine(raw);
    if (line.kind == vx::SettingsLine::Kind::kSection) {
      section = line.name;
      sectionKey = lowered(line.name);
    } else if (line.kind == vx::SettingsLine::Kind::kKey && !section.empty()) {
      const std::string key = sectionKey + "\n" + lowered(line.name);
      const Setting setting{Printable("[" + section + "] " + std::string(line.name)),
                            std::string(line.value)};
      if (found.byKey.emplace(key, setting).second) found.order.push_back(key);
    }
  });
  return found;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7f) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> TooLargeToCompare(const std::string &path, const std::string &shown) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 ||
      static_cast<std::uintmax_t>(st.st_size) <= kLargestComparedFile)
    return std::nullopt;
  return shown + ": holds " + std::to_string(static_cast<std::uintmax_t>(st.st_size)) +
         " bytes, far more than the installation writes; its lines are not shown";
}

std::optional<std::string> UnifiedDiff(const std::string &before, const std::string &after,
                                       const std::string &shown) {
  if (auto tooLarge = TooLargeToCompare(before, shown)) return Printable(*tooLarge + "\n");
  const std::string from = access(before.c_str(), F_OK) == 0 ? before : kNoFile;
  // --text: a file with a NUL is told line by line too, not as "Binary
  // files differ".
  const auto ran = outputOf(
      {kDiffProgram, "-u", "--text", "--label", shown, "--label", shown + " (new)", from, after});
  if (!ran || ran->first > kDiffDiffers) return std::nullopt;
  return Printable(ran->second);
}

std::vector<std::string> SettingsChanges(const std::string &before, const std::string &after) {
  const Settings old = settingsOf(before), now = settingsOf(after);
  std::vector<std::string> lines;
  for (const std::string &key : now.order) {
    const Setting &setting = now.byKey.at(key);
    const auto was = old.byKey.find(key);
    if (was == old.byKey.end()) {
      lines.push_back(setting.name + ": " + kNone + " -> " + quoted(setting.value));
    } else if (was->second.value != setting.value) {
      lines.push_back(setting.name + ": " + quoted(was->second.value) + " -> " +
                      quoted(setting.value));
    }
  }
  for (const std::string &key : old.order) {
    if (now.byKey.count(key) != 0) continue;
    const Setting &setting = old.byKey.at(key);
    lines.push_back(setting.name + ": " + quoted(setting.value) + " -> " + kNone);
  }
  return lines;
}

std::string ChangedKeys(const std::vector<std::string> &changes) {
  std::string names;
  for (const std::string &line : changes) {
    // The name ends where its key does: "[Section] KEY: ...".
    const std::size_t close = line.find("] ");
    const std::size_t colon = close == std::string::npos ? close : line.find(": ", close);
    names += (names.empty() ? "" : ", ") + line.substr(0, colon);
  }
  return names;
}

std::string NewFileLine(const std::string &shown, const std::string &content) {
  std::size_t lines = 0;
  for (const char c : content)
    lines += c == '\n' ? 1 : 0;
  if (!content.empty() && content.back() != '\n') ++lines;  // a last line without its end
  return shown + ": new file, " + std::to_string(lines) + (lines == 1 ? " line" : " lines");
}
