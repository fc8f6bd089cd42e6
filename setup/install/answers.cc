/*
 * answers.cc - reading and writing answer files.
 */
#include "answers.h"

#include <ini.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "atomic_file.h"
#include "file_writing.h"
#include "utility.h"

namespace {

constexpr char kSection[] = "form";
// Escaped text per line of a written value, so that every line fits.
constexpr std::size_t kPieceLength = 120;
constexpr char kIndent[] = "    ";

enum class KeyKind { kText, kKind, kStyle, kYesNo };

// Every key: its kind and, for a text, where it goes in the form, the
// longest text accepted, and the settings key whose line must hold it.
struct KeyRecord {
  const char *name;
  KeyKind kind;
  std::size_t limit;
  const char *settingsKey;  // nullptr: not stored in the settings file
  int tuning;               // index into Adjust, or -1
};
constexpr KeyRecord kKeys[] = {
    {"kind", KeyKind::kKind, 0, nullptr, -1},
    {"kernel", KeyKind::kText, kFieldLimit, "KERNEL", -1},
    {"include", KeyKind::kText, kFieldLimit, "INCLUDE", -1},
    {"libs", KeyKind::kText, kFieldLimit, "LIB", -1},
    {"cpp-name", KeyKind::kText, kFieldLimit, "CPPNAME", -1},
    {"cpp-options", KeyKind::kText, kCppOptionsLimit, "CPPLIB", -1},
    {"printer", KeyKind::kText, kFieldLimit, "HCPRINTER", 0},
    {"previewer", KeyKind::kText, kFieldLimit, "HCVIEWER", 1},
    {"differentiator", KeyKind::kText, kFieldLimit, "EXTDIFF", 2},
    {"shell-style", KeyKind::kStyle, 0, nullptr, -1},
    {"shell-path", KeyKind::kText, kShellPathLimit, nullptr, -1},
    {"notify", KeyKind::kYesNo, 0, nullptr, -1},
};

const KeyRecord *findKey(const char *name) {
  for (const KeyRecord &key : kKeys) {
    if (std::strcmp(key.name, name) == 0) return &key;
  }
  return nullptr;
}

// ---- quoting --------------------------------------------------------------

// The written form of one character of a quoted value.
std::string escaped(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  switch (c) {
    case '\\':
      return "\\\\";
    case '"':
      return "\\\"";
    case ';':
      return "\\;";
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    default:
      if (u < 0x20 || u == 0x7f) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", u);
        return hex;
      }
      return std::string(1, c);
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of one written piece: a quoted text is unescaped, anything else
// taken as inih gives it (trimmed).  False for a quote left open or an
// unknown escape.
bool unquoted(const std::string &raw, std::string *text, std::string *why) {
  if (raw.empty() || raw[0] != '"') {
    *text = raw;
    return true;
  }
  if (raw.size() < 2 || raw.back() != '"') {
    *why = "a quoted value must end with a quote";
    return false;
  }
  text->clear();
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    char c = raw[i];
    if (c == '"') {
      *why = "a quote inside a quoted value must be written \\\"";
      return false;
    }
    if (c != '\\') {
      *text += c;
      continue;
    }
    if (i + 2 >= raw.size()) {
      *why = "a backslash ends the quoted value";
      return false;
    }
    c = raw[++i];
    switch (c) {
      case '\\':
      case '"':
      case ';':
        *text += c;
        break;
      case 'n':
        *text += '\n';
        break;
      case 't':
        *text += '\t';
        break;
      case 'x': {
        const int high = i + 2 < raw.size() - 1 ? hexDigit(raw[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(raw[i + 2]) : -1;
        if (low < 0) {
          *why = "\\x must be followed by two hexadecimal digits";
          return false;
        }
        *text += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        *why = std::string("unknown escape \\") + c;
        return false;
    }
  }
  return true;
}

// ---- reading ----------------------------------------------------------------

// What the parse has seen so far; inih calls back line by line.
struct Reading {
  std::istream *in;
  std::string file;
  int line = 0;           // the line inih has just been given
  bool indented = false;  // that line begins with a blank
  bool tooLong = false;
  std::string lastKey;  // the key of the line before, for a piece
  std::array<int, sizeof kKeys / sizeof kKeys[0]> lineOf{};  // 0: not given
  std::array<std::string, sizeof kKeys / sizeof kKeys[0]> values;
  std::string problem;  // the first problem, with its line
};

void fail(Reading &r, const std::string &what) {
  if (r.problem.empty()) r.problem = r.file + ":" + std::to_string(r.line) + ": " + what;
}

// inih's reader: one line per call, counted.
char *readLine(char *buffer, int size, void *stream) {
  auto &r = *static_cast<Reading *>(stream);
  std::string line;
  if (!std::getline(*r.in, line)) return nullptr;
  ++r.line;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  r.indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
  if (line.size() + 2 > static_cast<std::size_t>(size)) {
    fail(r, "the line is longer than " + std::to_string(size - 2) +
                " characters; write a long value in pieces on the lines below it");
    r.tooLong = true;
    line.clear();
  }
  std::memcpy(buffer, line.c_str(), line.size());
  buffer[line.size()] = '\n';
  buffer[line.size() + 1] = '\0';
  return buffer;
}

int onValue(void *user, const char *section, const char *name, const char *value) {
  auto &r = *static_cast<Reading *>(user);
  if (!r.problem.empty()) return 0;
  if (std::strcmp(section, kSection) != 0) {
    fail(r,
         std::string("unknown section [") + section + "] (the values go into [" + kSection + "])");
    return 0;
  }
  const KeyRecord *key = findKey(name);
  if (key == nullptr) {
    fail(r, std::string("unknown key '") + name + "'");
    return 0;
  }
  const std::size_t index = static_cast<std::size_t>(key - kKeys);
  std::string text, why;
  if (!unquoted(value, &text, &why)) {
    fail(r, std::string("bad value of ") + name + ": " + why);
    return 0;
  }
  // inih hands an indented line on as one more value of the key above.
  if (r.indented && r.lastKey == name) {
    if (key->kind != KeyKind::kText) {
      fail(r, std::string("the value of ") + name + " does not go on over several lines");
      return 0;
    }
    r.values[index] += text;
    return 1;
  }
  if (r.lineOf[index] != 0) {
    fail(r, std::string("key '") + name + "' given twice (first on line " +
                std::to_string(r.lineOf[index]) + ")");
    return 0;
  }
  r.lineOf[index] = r.line;
  r.values[index] = text;
  r.lastKey = name;
  return 1;
}

// Checks a whole value and puts it into answers; false with the problem,
// named by the line where its key stands.
bool take(Reading &r, std::size_t index, Answers *answers) {
  const KeyRecord &key = kKeys[index];
  const std::string &value = r.values[index];
  r.line = r.lineOf[index];
  auto choose = [&](const char *a, const char *b) -> int {
    if (value == a) return 1;
    if (value == b) return 2;
    fail(r, std::string("bad value of ") + key.name + ": '" + value + "' (" + a + " or " + b + ")");
    return 0;
  };
  switch (key.kind) {
    case KeyKind::kKind: {
      const int choice = choose("full", "user");
      if (choice == 0) return false;
      answers->full = choice == 1;
      return true;
    }
    case KeyKind::kStyle: {
      const int choice = choose(shells[0].name, shells[1].name);
      if (choice == 0) return false;
      answers->shellStyle = choice;
      return true;
    }
    case KeyKind::kYesNo: {
      const int choice = choose("yes", "no");
      if (choice == 0) return false;
      answers->notify = choice == 1;
      return true;
    }
    case KeyKind::kText:
      break;
  }
  if (value.size() > key.limit) {
    fail(r, std::string("the value of ") + key.name + " is longer than " +
                std::to_string(key.limit) + " characters");
    return false;
  }
  if (key.settingsKey != nullptr &&
      std::strlen(key.settingsKey) + 1 + value.size() > kSettingsLineLimit) {
    fail(r, std::string("the value of ") + key.name +
                " is too long for the settings file, which holds at most " +
                std::to_string(kSettingsLineLimit) + " characters on a line");
    return false;
  }
  const std::string name = key.name;
  if (name == "kernel") {
    if (FindRefusedPathCharacter(value) != std::string::npos) {
      fail(r, std::string("the VELORIX directory may not hold a blank, a backslash, a comma, a "
                          "control character or any of ") +
                  kShellSpecialCharacters);
      return false;
    }
    answers->kernel = value;
  } else if (name == "include") {
    answers->include = value;
  } else if (name == "libs") {
    answers->lib = value;
  } else if (name == "cpp-name") {
    answers->cppName = value;
  } else if (name == "cpp-options") {
    answers->cppOptions = value;
  } else if (name == "shell-path") {
    answers->shellPath = value;
  } else if (key.tuning >= 0) {
    answers->tuning[static_cast<std::size_t>(key.tuning)] = value;
  }
  return true;
}

// ---- writing ----------------------------------------------------------------

// Writes name = "value", going on in quoted pieces on indented lines
// below when it is long; no escape is split between two pieces.
void addText(std::string &out, const char *name, const std::string &value) {
  out += name;
  out += " = \"";
  std::size_t piece = 0;
  for (const char c : value) {
    const std::string written = escaped(c);
    if (piece + written.size() > kPieceLength) {
      out += "\"\n";
      out += kIndent;
      out += "\"";
      piece = 0;
    }
    out += written;
    piece += written.size();
  }
  out += "\"\n";
}

}  // namespace

bool ReadAnswers(const std::string &path, Answers *answers, std::string *problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *problem = path + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  Reading r;
  r.in = &in;
  r.file = path;
  const int result = ini_parse_stream(readLine, &r, onValue, &r);
  if (r.problem.empty() && result > 0) {
    r.line = result;
    fail(r, "not a line of an answer file (KEY = VALUE, [form], or a comment after ; or #)");
  }
  if (r.problem.empty() && in.bad()) {
    *problem = path + ": cannot be read";
    return false;
  }
  Answers taken;
  for (std::size_t i = 0; r.problem.empty() && i < r.lineOf.size(); ++i) {
    if (r.lineOf[i] != 0) take(r, i, &taken);
  }
  if (!r.problem.empty()) {
    *problem = r.problem;
    return false;
  }
  *answers = taken;
  return true;
}

void ApplyAnswers(const Answers &answers, InstallForm *form) {
  if (answers.full) form->full = *answers.full;
  if (answers.kernel) form->kernel = *answers.kernel;
  if (answers.include) form->include = *answers.include;
  if (answers.lib) form->lib = *answers.lib;
  if (answers.cppName) form->cppName = *answers.cppName;
  if (answers.cppOptions) form->cppOptions = *answers.cppOptions;
  for (int i = 0; i < kAdjustRecords; ++i) {
    if (answers.tuning[i] && form->tuning[i]) form->tuning[i] = *answers.tuning[i];
  }
  if (answers.shellStyle) form->shellStyle = *answers.shellStyle;
  if (answers.shellPath) form->shellPath = *answers.shellPath;
  if (answers.notify) form->noticeConsent = *answers.notify && form->noticeBoxExists;
}

std::string AnswersText(const InstallForm &form) {
  std::string out = "; velorix-setup answers: the values of the Setup form.\n"
                    "; Install from them with: velorix-setup --unattended --answers FILE\n";
  out += std::string("[") + kSection + "]\n";
  out += std::string("kind = ") + (form.full ? "full" : "user") + "\n";
  addText(out, "kernel", form.kernel);
  addText(out, "include", form.include);
  addText(out, "libs", form.lib);
  addText(out, "cpp-name", form.cppName);
  addText(out, "cpp-options", form.cppOptions);
  for (const KeyRecord &key : kKeys) {
    if (key.tuning >= 0 && form.tuning[static_cast<std::size_t>(key.tuning)])
      addText(out, key.name, *form.tuning[static_cast<std::size_t>(key.tuning)]);
  }
  const int style = form.shellStyle >= 1 && form.shellStyle <= kShellRecords ? form.shellStyle : 1;
  out += std::string("shell-style = ") + shells[style - 1].name + "\n";
  addText(out, "shell-path", form.shellPath);
  out +=
      std::string("notify = ") + (form.noticeBoxExists && form.noticeConsent ? "yes" : "no") + "\n";
  return out;
}

bool SaveAnswers(const std::string &path, const InstallForm &form, std::string *problem) {
  const std::string text = AnswersText(form);
  AtomicFile file(path);
  if (!file.open() || std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size() ||
      !file.commit(ModeFromPermissions("rw-r--r--"))) {
    *problem = "Cannot write the answer file '" + path + "' (" + file.problem() + ")";
    return false;
  }
  return true;
}
