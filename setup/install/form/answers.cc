/*
 * answers.cc - reading and writing answer files.
 */
#include "answers.h"

#include <ini.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "atomic_file.h"
#include "file_writing.h"
#include "form.h"
#include "utility.h"

namespace {

constexpr char kSection[] = "form";
// Escaped text per line of a written value, so that every line fits.
constexpr std::size_t kPieceLength = 120;
constexpr char kIndent[] = "    ";
// Larger than any form's answers can be.
constexpr off_t kMaxAnswerFileBytes = off_t{1} << 20;
// A host-dependent value left to the host that reads the file.
constexpr char kAuto[] = "auto";
// The kinds as answer files name them.
constexpr char kFull[] = "full";
constexpr char kUser[] = "user";

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
  int line = 0;                           // the line inih has just been given
  bool indented = false;                  // that line begins with a blank
  bool holdsNul = false;                  // that line holds a NUL, where inih ends it
  std::string lastKey;                    // the key of the line before, for a piece
  std::array<int, kFieldCount> lineOf{};  // 0: not given
  std::array<std::string, kFieldCount> values;
  bool autoShellPath = false;           // shell-path = auto, unquoted
  std::map<int, std::string> problems;  // by line: every fault, the first of each line
};

void fail(Reading &r, int line, const std::string &what) {
  r.problems.emplace(line, r.file + ":" + std::to_string(line) + ": " + what);
}

// inih's reader: one line per call, counted.
char *readLine(char *buffer, int size, void *stream) {
  auto &r = *static_cast<Reading *>(stream);
  std::string line;
  if (!std::getline(*r.in, line)) return nullptr;
  ++r.line;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  r.indented = !line.empty() && (line[0] == ' ' || line[0] == '\t');
  r.holdsNul = line.find('\0') != std::string::npos;
  if (line.size() + 2 > static_cast<std::size_t>(size)) {
    fail(r, r.line,
         "the line is longer than " + std::to_string(size - 2) +
             " characters; write a long value in pieces on the lines below it");
    line.clear();
  }
  std::memcpy(buffer, line.c_str(), line.size());
  buffer[line.size()] = '\n';
  buffer[line.size() + 1] = '\0';
  return buffer;
}

// One line of a message that may hold several.
std::string oneLine(std::string text) {
  for (char &c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

int onValue(void *user, const char *section, const char *name, const char *value) {
  auto &r = *static_cast<Reading *>(user);
  if (std::strcmp(section, kSection) != 0) {
    fail(r, r.line,
         std::string("unknown section [") + section + "] (the values go into [" + kSection + "])");
    return 1;
  }
  const FormField *field = FieldByAnswerKey(name);
  if (field == nullptr) {
    fail(r, r.line, std::string("unknown key '") + name + "'");
    return 1;
  }
  const std::size_t index = static_cast<std::size_t>(field->id);
  // inih has the value up to the NUL only: refused as the form refuses
  // one, never taken cut short.
  if (r.holdsNul) {
    fail(r, r.line,
         std::string("the value of ") + name + " " + oneLine(FieldRefusal(field->id, {'\0'})));
    return 1;
  }
  std::string text, why;
  if (!unquoted(value, &text, &why)) {
    fail(r, r.line, std::string("bad value of ") + name + ": " + why);
    return 1;
  }
  // inih hands an indented line on as one more value of the key above.
  if (r.indented && r.lastKey == name) {
    if (field->type != FieldType::kText) {
      fail(r, r.line, std::string("the value of ") + name + " does not go on over several lines");
      return 1;
    }
    r.values[index] += text;
    return 1;
  }
  r.lastKey = name;
  if (r.lineOf[index] != 0) {
    fail(r, r.line,
         std::string("key '") + name + "' given twice (first on line " +
             std::to_string(r.lineOf[index]) + ")");
    return 1;
  }
  r.lineOf[index] = r.line;
  r.values[index] = text;
  // Only the bare word: a quoted "auto" is a path like any other.
  if (field->id == Field::kShellPath) r.autoShellPath = std::strcmp(value, kAuto) == 0;
  return 1;
}

// Every problem found, one line each, in line order.
std::string joinedProblems(const Reading &r) {
  std::string text;
  for (const auto &[line, problem] : r.problems)
    text += (text.empty() ? "" : "\n") + problem;
  return text;
}

// Puts a whole value into answers; a choice that is none of its words is
// named by the line where its key stands.  Texts are checked once they
// are in the form (ApplyAnswers), on what will be stored.
void take(Reading &r, const FormField &field, Answers *answers) {
  const std::size_t index = static_cast<std::size_t>(field.id);
  const std::string &value = r.values[index];
  const int line = r.lineOf[index];
  auto choose = [&](const std::vector<std::string> &words) -> int {
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (value == words[i]) return static_cast<int>(i) + 1;
    }
    std::string list;
    for (std::size_t i = 0; i < words.size(); ++i)
      list += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    fail(r, line, std::string("bad value of ") + field.answerKey + ": '" + value + "' (" + list + ")");
    return 0;
  };
  switch (field.type) {
    case FieldType::kKind:
      if (const int choice = choose({kFull, kUser})) answers->full = choice == 1;
      return;
    case FieldType::kShellStyle: {
      std::vector<std::string> words;
      for (int style = 1; style <= kShellRecords; ++style)
        words.emplace_back(ShellStyleName(style));
      words.emplace_back(kAuto);
      if (const int choice = choose(words))
        answers->shellStyle = choice > kShellRecords ? kAutoShellStyle : choice;
      return;
    }
    case FieldType::kYesNo:
      if (const int choice = choose({"yes", "no"})) answers->notify = choice == 1;
      return;
    case FieldType::kText:
      break;
  }
  if (field.id == Field::kShellPath && r.autoShellPath) {
    answers->autoShellPath = true;
    return;
  }
  answers->texts[index] = value;
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

Result ReadAnswers(const std::string &path, Answers *answers) {
  const auto refused = [&path](const std::string &why) {
    return Result::Failed(Fault::kRefused, path + ": cannot be read (" + why + ")", {path});
  };
  // Only a file of the size an answer file has: a directory, a device or a
  // pipe would be read for ever, or never.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return refused("it is not a regular file");
  if (stat(path.c_str(), &st) == 0 && st.st_size > kMaxAnswerFileBytes) {
    return refused("it is larger than " + std::to_string(kMaxAnswerFileBytes >> 20) +
                   " MiB, which no answer file is");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return refused(std::strerror(errno));
  Reading r;
  r.in = &in;
  r.file = path;
  const int result = ini_parse_stream(readLine, &r, onValue, &r);
  if (result > 0 && r.problems.count(result) == 0)
    fail(r, result,
         "not a line of an answer file (KEY = VALUE, [form], or a comment after ; or #)");
  if (in.bad()) return Result::Failed(Fault::kRefused, path + ": cannot be read", {path});
  Answers taken;
  taken.file = path;
  taken.lineOf = r.lineOf;
  for (const FormField &field : kFormFields) {
    if (r.lineOf[static_cast<std::size_t>(field.id)] != 0) take(r, field, &taken);
  }
  if (!r.problems.empty()) return Result::Failed(Fault::kRefused, joinedProblems(r), {path});
  *answers = taken;
  return {};
}

Result ApplyAnswers(const Answers &answers, InstallForm *form) {
  InstallForm applied = *form;
  for (const FormField &field : kFormFields) {
    const auto &text = answers.texts[static_cast<std::size_t>(field.id)];
    // A Tuning value for a field that the form lacks is left out.
    if (text && (applied.has(field.id) || !field.tuning())) {
      applied.text(field.id) = *text;
      const int line = answers.lineOf[static_cast<std::size_t>(field.id)];
      applied.origins[static_cast<std::size_t>(field.id)] =
          InstallForm::Origin{answers.file + ":" + std::to_string(line), *text};
    }
  }
  if (answers.texts[static_cast<std::size_t>(Field::kShellPath)]) applied.shellPathGiven = true;
  Result told;
  if (answers.shellStyle && *answers.shellStyle != kAutoShellStyle)
    told = ChooseShellStyle(applied, *answers.shellStyle);
  if (answers.notify) applied.noticeConsent = *answers.notify && applied.noticeBoxExists;
  // Each text as the form checks it, on what will be stored, named by the
  // line where its key stands.
  std::map<int, std::string> problems;
  for (const FormField &field : kFormFields) {
    const int line = answers.lineOf[static_cast<std::size_t>(field.id)];
    if (line == 0 || !answers.texts[static_cast<std::size_t>(field.id)]) continue;
    const Result checked = CheckField(applied, field.id);
    if (!checked.ok()) {
      problems.emplace(line, answers.file + ":" + std::to_string(line) + ": the value of " +
                                 field.answerKey + " " + oneLine(checked.detail()));
    }
  }
  if (!problems.empty()) {
    std::string text;
    for (const auto &[line, problem] : problems)
      text += (text.empty() ? "" : "\n") + problem;
    return Result::Failed(Fault::kRefused, text, {answers.file});
  }
  *form = applied;
  return told;
}

std::string AnswerTextLine(const char *key, const std::string &value) {
  std::string out;
  addText(out, key, value);
  return out;
}

std::string AnswersText(const InstallForm &form) {
  std::string out = "; velorix-setup answers: the values of the Setup form.\n"
                    "; Install from them with: velorix-setup --unattended --answers FILE\n";
  out += std::string("[") + kSection + "]\n";
  for (const FormField &field : kFormFields) {
    switch (field.type) {
      case FieldType::kKind:
        out += std::string(field.answerKey) + " = " + (form.full ? kFull : kUser) + "\n";
        break;
      case FieldType::kShellStyle: {
        const int style =
            form.shellStyle >= 1 && form.shellStyle <= kShellRecords ? form.shellStyle : 1;
        out += std::string(field.answerKey) + " = " +
               (form.shellStyleGiven ? ShellStyleName(style) : kAuto) + "\n";
        break;
      }
      case FieldType::kYesNo:
        out += std::string(field.answerKey) + " = " +
               (form.noticeBoxExists && form.noticeConsent ? "yes" : "no") + "\n";
        break;
      case FieldType::kText:
        if (field.id == Field::kShellPath && !form.shellPathGiven) {
          out += std::string(field.answerKey) + " = " + kAuto + "\n";
        } else if (form.has(field.id)) {
          addText(out, field.answerKey, form.text(field.id));
        }
        break;
    }
  }
  return out;
}

Result SaveAnswers(const std::string &path, const InstallForm &form) {
  // Only a file: a pipe would hold the run in open() until someone reads
  // it, and a device keeps nothing.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return Result::Failed(Fault::kRefused,
                          "Cannot write the answer file '" + path + "' (it is not a regular file)",
                          {path});
  }
  const Result saved = WriteWholeFile(path, AnswersText(form), ModeFromPermissions("rw-r--r--"));
  if (saved.ok()) return saved;
  return Result::Failed(saved.fault(),
                        "Cannot write the answer file '" + path + "' (" + saved.detail() + ")",
                        {path});
}
