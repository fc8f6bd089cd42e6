/*
 * questions.cc - the Setup form asked in the terminal.
 *
 * Questions walks the field table, asking each field by its type: the
 * installation kind and the shell style as choices, a text field as a
 * line, the notice consent as yes or no.  A choice is made as the form
 * makes it (form.h): Full puts the current directory into the product
 * directory, a shell style its shell path.  Every answer is checked at
 * once with the procedure's own check before writing; the whole form is
 * checked again before the summary, since some values are only wrong
 * together.  "<" goes back to the question answered before, which shows
 * that answer as its value; at the summary, a field's number asks that
 * field again.
 */
#include "questions.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <ncbi.h>

#include "actions.h"
#include "form.h"
#include "hand_edited.h"
#include "installation.h"
#include "line_input.h"
#include "notice.h"
#include "product_files.h"
#include "report.h"
#include "setting_up.h"

namespace {

constexpr const char *kHowToAnswer =
    "Enter keeps the value in brackets, ? shows the help text, Ctrl-C cancels.\n"
    "Type a text with blanks at its ends, or an empty one, in double quotes.\n"
    "< goes back one question; a text that is ? or < alone is typed in double quotes too.";
constexpr const char *kBlankWord = "blank";
constexpr const char *kBlankHere =
    "Here, a blank (empty) field is typed as \"\" (two double quotes): Enter alone keeps the "
    "value in brackets.";
constexpr const char *kHowToChange = "A number changes that answer, < goes back one question.";
constexpr const char *kConfirm = "Set up now? [y/N] ";
constexpr const char *kNoEarlier = "This is the first question.";
constexpr const char *kBackMark = "<";
constexpr const char *kOffer = "No X display. Set up in this terminal? [Y/n] ";
constexpr const char *kHandEditChoices = "Take the new one, keep yours, or show the differences? "
                                         "[T/k/d] ";
constexpr char kFullMark = 'm';
constexpr char kUserMark = 'u';
constexpr const char *kPreviewIndent = "    ";

// The longest answer: the longest text a field takes, in double quotes.
constexpr std::size_t longestAnswer() {
  std::size_t longest = 0;
  for (const FormField &field : kFormFields)
    longest = field.limit > longest ? field.limit : longest;
  return longest + 2;
}
constexpr std::size_t kLongestAnswer = longestAnswer();

// The choice that an answer picks: the one it names, in any letter case,
// or the only one it begins; nothing when it picks none or several.
std::optional<std::size_t> picked(const std::string &answer,
                                  const std::vector<std::string> &choices) {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    const std::string &choice = choices[i];
    if (answer.size() > choice.size() ||
        strncasecmp(choice.c_str(), answer.c_str(), answer.size()) != 0)
      continue;
    if (answer.size() == choice.size()) return i;
    if (found) return std::nullopt;
    found = i;
  }
  return found;
}

std::string lowered(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A text as the questions and the summary show it: in double quotes when
// it is empty, or when blanks or a quote at its ends would hide where it
// begins and ends.
std::string shown(const std::string &text) {
  const bool bare =
      !text.empty() && !isBlank(text.front()) && !isBlank(text.back()) && text.front() != '"';
  return bare ? text : "\"" + text + "\"";
}

// The text of a typed answer: the text between double quotes when it is
// in them, otherwise the line as typed.
std::string typedText(const std::string &line) {
  if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
    return line.substr(1, line.size() - 2);
  return line;
}

// A message as the window shows one, in the terminal's one way
// (report.h): beneath it, the files missing from the product directory.
// Not the path and option lines of a command line's messages: the answer
// was just typed.
void tell(MessagePrinter &printer, const Result &result) {
  std::fflush(stdout);
  printer.print(result.message(), {{}, {}, {}, result.about().missing});
}

// Reads an answer to prompt; a line longer than any answer is told and
// asked again.
LineInput::Read readAnswer(LineInput &input, MessagePrinter &printer, const std::string &prompt,
                           std::string *line, const std::string &recall = {}) {
  for (;;) {
    const LineInput::Read read = input.read(prompt, line, recall);
    if (read != LineInput::Read::kTooLong) return read;
    tell(printer, Result::Failed(Fault::kRefused,
                                 "The answer is longer than " + std::to_string(kLongestAnswer) +
                                     " characters, which no answer is.\nIt has not been "
                                     "taken; please answer again."));
  }
}

// Resolves nothing: the questions are asked in the installed directory.
std::string asGiven(const std::string &path) { return path; }

// Whether an answer is yes (true) or no (false) to a [y/n] question, or
// any beginning of either; the empty answer is answerDefault; nothing for
// anything else.
std::optional<bool> yesOrNo(const std::string &line, bool answerDefault) {
  if (line.empty()) return answerDefault;
  if (const std::optional<std::size_t> answer = picked(line, {"yes", "no"})) return *answer == 0;
  return std::nullopt;
}

// How a question was left.
enum class Answer {
  kGiven,      // answered; the form holds the answer
  kBack,       // "<": back to the question before
  kCancelled,  // Ctrl-C or end of input
};

// What the user said at the summary.
struct Verdict {
  enum Kind { kYes, kNo, kBack, kChange, kCancelled } kind = kNo;
  std::size_t row = 0;  // for kChange: the field's place in the table
};

class Questions {
 public:
  Questions(LineInput &input, MessagePrinter &printer, const InstallForm &form)
      : input_(input), printer_(printer), form_(form) {
    notice_.start();
  }

  // Asks every question, the summary and the confirmation; false when the
  // user did not say yes.
  bool run();

  const InstallForm &form() const { return form_; }
  const std::set<std::string> &keepYours() const { return keepYours_; }

 private:
  // Reads an answer; "?" prints help (when there is any) and asks again.
  Answer answer(const std::string &prompt, const char *help, const std::string &recall,
                std::string *line);
  Answer askField(const FormField &field);
  Answer askKind(const FormField &field);
  Answer askShellStyle(const FormField &field);
  Answer askText(const FormField &field);
  Answer askNotice(const FormField &field);
  // Reads the notice for the kind chosen, unless it has been read for it.
  void readNotice();
  // Asks the questions from row on, each after the one before: "<" goes
  // back to the one answered before.  False on Ctrl-C or end of input.
  bool walk(std::size_t row);
  // Asks again the first field that the procedure refuses, until it
  // refuses none that can be asked; false when the user gave up.
  bool askRefused();
  // Asks about each file that the installation would replace although
  // its user changed it; false when the user gave up.
  bool askHandEdited();
  Verdict summary();
  // Whether the questions ask field for the kind chosen.
  bool asked(const FormField &field) const;
  // The answer to field as the summary shows it.
  std::string summaryValue(const FormField &field) const;
  // Tells the procedure's refusal of form when it is about field.
  bool refuses(const InstallForm &form, Field field) const;

  LineInput &input_;
  MessagePrinter &printer_;
  InstallForm form_;
  NoticePreviewCommand notice_;
  std::optional<std::vector<std::string>> noticeLines_;
  std::optional<bool> noticeReadFor_;  // the kind (full) whose letter it carries
  // The rows of the questions answered so far, in the order asked: where
  // "<" goes back to.
  std::vector<std::size_t> answered_;
  std::set<std::string> keepYours_;
};

Answer Questions::answer(const std::string &prompt, const char *help, const std::string &recall,
                         std::string *line) {
  for (;;) {
    if (readAnswer(input_, printer_, prompt, line, recall) != LineInput::Read::kLine)
      return Answer::kCancelled;
    if (*line == kBackMark) return Answer::kBack;
    if (*line != "?") return Answer::kGiven;
    std::printf("\n%s\n\n", help != nullptr ? help : "There is no help text for this question.");
    // The help texts are the window's, where a field is emptied by
    // deleting its text; here Enter keeps the value.
    if (help != nullptr && std::strstr(help, kBlankWord) != nullptr)
      std::printf("%s\n\n", kBlankHere);
  }
}

bool Questions::asked(const FormField &field) const {
  if (field.fullOnly && !form_.full) return false;
  // A Tuning field whose key the settings template lacks is not in the
  // window either.
  if (field.type == FieldType::kText && !form_.has(field.id)) return false;
  if (field.type == FieldType::kYesNo) return form_.noticeBoxExists;
  return true;
}

bool Questions::refuses(const InstallForm &form, Field field) const {
  const Result refusal = CheckBeforeWriting(form, asGiven);
  if (refusal.ok()) return false;
  const std::vector<Field> &about = refusal.about().fields;
  if (std::find(about.begin(), about.end(), field) == about.end()) return false;
  tell(printer_, refusal);
  return true;
}

Answer Questions::askKind(const FormField &field) {
  const char *full = kKindNames[kFullValue - 1];
  const char *user = kKindNames[kUserValue - 1];
  const std::string prompt = std::string(field.label) + " (" + full + ", " + user + ") [" +
                             (form_.full ? full : user) + "]: ";
  const std::vector<std::string> kinds = {full, user};
  input_.completeChoices(kinds);
  std::string line;
  for (;;) {
    if (const Answer a = answer(prompt, *field.helpText, {}, &line); a != Answer::kGiven) return a;
    bool chosen = form_.full;
    if (!line.empty()) {
      const std::optional<std::size_t> kind = picked(line, kinds);
      if (!kind) {
        std::printf("Please answer %s or %s.\n", full, user);
        continue;
      }
      chosen = *kind == 0;
    }
    // As picking it in the window: only a change of kind fills anything.
    if (chosen != form_.full) tell(printer_, ChooseKind(form_, chosen));
    return Answer::kGiven;
  }
}

Answer Questions::askShellStyle(const FormField &field) {
  const int current = std::clamp(form_.shellStyle, 1, kShellRecords);
  const std::string prompt = std::string(field.label) + " (" + ShellStyleNames(", ") + ") [" +
                             ShellStyleName(current) + "]: ";
  std::vector<std::string> styles;
  for (int style = 1; style <= kShellRecords; ++style)
    styles.emplace_back(ShellStyleName(style));
  input_.completeChoices(styles);
  std::string line;
  for (;;) {
    if (const Answer a = answer(prompt, *field.helpText, {}, &line); a != Answer::kGiven) return a;
    if (line.empty()) return Answer::kGiven;
    const std::optional<std::size_t> chosen = picked(line, styles);
    const int style = chosen ? ShellStyleByName(styles[*chosen]) : 0;
    if (style == 0) {
      std::printf("Please answer one of %s.\n", ShellStyleNames(", ").c_str());
      continue;
    }
    // A style typed is the user's, kept as it is in an answer file.
    tell(printer_, ChooseShellStyle(form_, style));
    return Answer::kGiven;
  }
}

Answer Questions::askText(const FormField &field) {
  const std::string &current = form_.text(field.id);
  const std::string prompt =
      std::string(field.label) + (current.empty() ? "" : " [" + shown(current) + "]") + ": ";
  const char *help = field.helpText != nullptr ? *field.helpText : nullptr;
  input_.completePaths();
  std::string line;
  for (;;) {
    if (const Answer a = answer(prompt, help, current, &line); a != Answer::kGiven) return a;
    if (line.empty()) {
      // The value shown may still be refused, once an answer before it
      // has changed (the product directory of a Full installation).
      if (!refuses(form_, field.id)) return Answer::kGiven;
      continue;
    }
    InstallForm tried = form_;
    tried.text(field.id) = typedText(line);
    if (refuses(tried, field.id)) continue;
    if (field.id == Field::kShellPath) tried.shellPathGiven = true;
    form_ = tried;
    return Answer::kGiven;
  }
}

Answer Questions::askNotice(const FormField &field) {
  std::printf("%s\n%s\n", field.label, kNoticeConsentLabel);
  for (const std::string &line : *noticeLines_)
    std::printf("%s%s\n", kPreviewIndent, line.c_str());
  std::printf("%s\n", kNoticeNote);
  const std::string prompt = std::string("Send it? ") + (form_.noticeConsent ? "[Y/n] " : "[y/N] ");
  input_.completeNothing();
  std::string line;
  for (;;) {
    if (const Answer a = answer(prompt, kNoticeNote, {}, &line); a != Answer::kGiven) return a;
    if (const auto yes = yesOrNo(line, form_.noticeConsent)) {
      form_.noticeConsent = *yes;
      return Answer::kGiven;
    }
    std::printf("Please answer y or n.\n");
  }
}

Answer Questions::askField(const FormField &field) {
  switch (field.type) {
    case FieldType::kKind:
      return askKind(field);
    case FieldType::kShellStyle:
      return askShellStyle(field);
    case FieldType::kText:
      return askText(field);
    case FieldType::kYesNo:
      return askNotice(field);
  }
  return Answer::kCancelled;
}

void Questions::readNotice() {
  if (noticeReadFor_ == form_.full) return;
  // The notice carries the kind's letter: read again when the kind has
  // changed since.
  noticeLines_ = notice_.finish(form_.full ? kFullMark : kUserMark);
  noticeReadFor_ = form_.full;
  form_.noticeBoxExists = noticeLines_.has_value();
  if (!form_.noticeBoxExists) form_.noticeConsent = false;
}

bool Questions::walk(std::size_t row) {
  while (row < std::size(kFormFields)) {
    const FormField &field = kFormFields[row];
    if (field.type == FieldType::kYesNo) readNotice();
    if (!asked(field)) {
      ++row;
      continue;
    }
    switch (askField(field)) {
      case Answer::kGiven:
        answered_.push_back(row++);
        break;
      case Answer::kBack:
        if (answered_.empty()) {
          std::printf("%s\n", kNoEarlier);
        } else {
          row = answered_.back();
          answered_.pop_back();
        }
        break;
      case Answer::kCancelled:
        return false;
    }
  }
  return true;
}

bool Questions::askRefused() {
  for (;;) {
    const Result refusal = CheckBeforeWriting(form_, asGiven);
    if (refusal.ok()) return true;
    const std::vector<Field> &about = refusal.about().fields;
    const auto again =
        std::find_if(about.begin(), about.end(), [this](Field f) { return asked(FieldRow(f)); });
    // A refusal of no field asked is the procedure's to tell.
    if (again == about.end()) return true;
    tell(printer_, refusal);
    const auto row = static_cast<std::size_t>(*again);
    switch (askField(FieldRow(*again))) {
      case Answer::kGiven:
        break;
      case Answer::kBack: {
        // Back from the field refused: the question before it, and then
        // the ones after that again, in their order.
        while (!answered_.empty() && answered_.back() >= row)
          answered_.pop_back();
        std::size_t from = row;
        if (answered_.empty()) {
          std::printf("%s\n", kNoEarlier);
        } else {
          from = answered_.back();
          answered_.pop_back();
        }
        if (!walk(from)) return false;
        break;
      }
      case Answer::kCancelled:
        return false;
    }
  }
}

std::string Questions::summaryValue(const FormField &field) const {
  switch (field.type) {
    case FieldType::kKind:
      return kKindNames[(form_.full ? kFullValue : kUserValue) - 1];
    case FieldType::kShellStyle:
      return ShellStyleName(std::clamp(form_.shellStyle, 1, kShellRecords));
    case FieldType::kText:
      return shown(form_.text(field.id));
    case FieldType::kYesNo:
      return form_.noticeConsent ? "send the installation notice" : "no notice";
  }
  return {};
}

bool Questions::askHandEdited() {
  // Which files the run would replace, and how, the check tells; it runs
  // only when the record says a file was changed, since it compiles the
  // object when that is due.  Asked again after an answer has changed.
  keepYours_.clear();
  const std::vector<HandEdited> files = HandEditedFiles(form_, DiffDetail::kSized);
  if (files.empty()) return true;
  input_.completeNothing();
  std::string line;
  for (const HandEdited &file : files) {
    std::printf("\n%s was changed since the last installation.\n"
                "  t: take the new one, and keep yours as %s\n"
                "  k: keep yours, and write the new one to %s%s\n"
                "  d: show the differences between yours and the new one\n",
                file.shown.c_str(), file.kept.c_str(), file.shown.c_str(), kKeptNewSuffix);
    for (;;) {
      if (readAnswer(input_, printer_, kHandEditChoices, &line) != LineInput::Read::kLine)
        return false;
      const std::string word = lowered(line);
      if (word == "d") {
        std::printf("%s\n", file.diff.c_str());
        continue;
      }
      if (word.empty() || word == "t") break;
      if (word == "k") {
        keepYours_.insert(file.path);
        break;
      }
      std::printf("Please answer t, k or d.\n");
    }
  }
  return true;
}

Verdict Questions::summary() {
  if (!askHandEdited()) return {Verdict::kCancelled};
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  std::printf("\n%s installation in %s:\n", kKindNames[(form_.full ? kFullValue : kUserValue) - 1],
              error ? "the current directory" : here.c_str());
  // Numbered as shown; a number names the field's row.
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < std::size(kFormFields); ++row) {
    const FormField &field = kFormFields[row];
    if (!asked(field)) continue;
    rows.push_back(row);
    std::printf("  %zu. %s: %s\n", rows.size(), field.label, summaryValue(field).c_str());
  }
  // Before the yes: what the run would tell once it is underway.
  if (!error) {
    const std::vector<MissingFile> missing =
        MissingProductFiles(form_, [](const std::string &path) { return path; });
    const std::string advice = AdviceBeforeWriting(form_, here, missing);
    if (!advice.empty()) std::printf("%s\n%s", advice.c_str(), MissingFilesText(missing).c_str());
  }
  std::printf("%s\n", kHowToChange);
  input_.completeNothing();
  std::string line;
  for (;;) {
    if (readAnswer(input_, printer_, kConfirm, &line) != LineInput::Read::kLine)
      return {Verdict::kCancelled};
    if (line == kBackMark) return {Verdict::kBack};
    if (const auto yes = yesOrNo(line, false)) return {*yes ? Verdict::kYes : Verdict::kNo};
    const bool digits = line.find_first_not_of("0123456789") == std::string::npos;
    // Longer than any count of rows: not a number of one.
    const std::size_t number = digits && line.size() < 4 ? std::stoul(line) : 0;
    if (number >= 1 && number <= rows.size()) return {Verdict::kChange, rows[number - 1]};
    std::printf("Please answer y or n.\n%s\n", kHowToChange);
  }
}

bool Questions::run() {
  std::printf("%s\n\n", kHowToAnswer);
  if (!walk(0)) return false;
  for (;;) {
    if (!askRefused()) return false;
    const Verdict verdict = summary();
    switch (verdict.kind) {
      case Verdict::kYes:
        return true;
      case Verdict::kNo:
      case Verdict::kCancelled:
        return false;
      case Verdict::kBack: {
        // To the last question, and on to the summary again.
        if (answered_.empty()) break;
        const std::size_t last = answered_.back();
        answered_.pop_back();
        if (!walk(last)) return false;
        break;
      }
      case Verdict::kChange: {
        const FormField &field = kFormFields[verdict.row];
        const bool wasFull = form_.full;
        if (field.type == FieldType::kYesNo) readNotice();
        const Answer changed = askField(field);
        if (changed == Answer::kCancelled) return false;
        // Another kind asks other questions: those after it are asked
        // again, each with the value it has now.
        if (form_.full != wasFull) {
          while (!answered_.empty() && answered_.back() > verdict.row)
            answered_.pop_back();
          if (!walk(verdict.row + 1)) return false;
        }
        break;
      }
    }
  }
}

}  // namespace

bool OnTerminal() { return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0; }

std::optional<TextAnswers> AskForm(const InstallForm &form, MessagePrinter &printer) {
  LineInput input(kLongestAnswer);
  Questions questions(input, printer, form);
  if (!questions.run()) return std::nullopt;
  return TextAnswers{questions.form(), questions.keepYours()};
}

bool AskYesNo(const std::string &prompt, bool answerDefault) {
  LineInput input(kLongestAnswer);
  std::string line;
  for (;;) {
    if (input.read(prompt, &line) != LineInput::Read::kLine) return false;
    if (const auto yes = yesOrNo(line, answerDefault)) return *yes;
    std::printf("Please answer y or n.\n");
  }
}

TextOffer OfferTextSetup() {
  MessagePrinter printer;
  LineInput input(kLongestAnswer);
  std::string line;
  for (;;) {
    if (readAnswer(input, printer, kOffer, &line) != LineInput::Read::kLine)
      return TextOffer::kCancelled;
    if (const auto yes = yesOrNo(line, true))
      return *yes ? TextOffer::kAccepted : TextOffer::kDeclined;
    std::printf("Please answer y or n.\n");
  }
}
