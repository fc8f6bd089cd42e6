/*
 * line_input.cc - reading the answers: libedit on a terminal, plain lines
 * from anything else.
 */
#include "line_input.h"

#include <histedit.h>
// After histedit.h: libedit's readline interface, for its file-name
// completion alone.
#include <editline/readline.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Answers kept for Up; far more than one run asks.
constexpr int kHistorySize = 100;

// Set by Ctrl-C while a LineInput lives.
volatile sig_atomic_t interrupted = 0;

// Bytes read at once while an overlong line is skipped.
constexpr std::size_t kSkipChunk = 4096;

// The line libedit is reading, as the reader below counts it: how many
// characters it holds, the most it may hold, and whether more came and
// were dropped.  What was read past the end of a dropped line waits in
// pending for the lines after it.
struct EditedLine {
  std::size_t characters = 0;
  std::size_t longest = 0;
  bool overlong = false;
  std::string pending;
};
EditedLine edited;

bool endsLine(wchar_t c) { return c == L'\n' || c == L'\r'; }

// One byte of standard input, those left over from a skipped line first:
// 1, 0 at end of input, -1 on an error (errno set).
ssize_t readByte(char *byte) {
  if (!edited.pending.empty()) {
    *byte = edited.pending.front();
    edited.pending.erase(0, 1);
    return 1;
  }
  return ::read(STDIN_FILENO, byte, 1);
}

// Reads on, in chunks, to the end of the line being dropped; what follows
// it is kept for the next line.  1 at the line's end, 0 at end of input,
// -1 on Ctrl-C or an error.
int skipRestOfLine() {
  std::string chunk(kSkipChunk, '\0');
  for (;;) {
    if (interrupted) {
      errno = EINTR;
      return -1;
    }
    std::size_t got = 0;
    if (!edited.pending.empty()) {
      chunk.assign(edited.pending);
      edited.pending.clear();
      got = chunk.size();
    } else {
      chunk.resize(kSkipChunk);
      const ssize_t read = ::read(STDIN_FILENO, chunk.data(), chunk.size());
      if (read == 0) return 0;
      if (read < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      got = static_cast<std::size_t>(read);
    }
    const std::size_t end = chunk.find_first_of("\r\n", 0);
    if (end < got) {
      edited.pending = chunk.substr(end + 1, got - end - 1);
      return 1;
    }
  }
}

extern "C" void onInterrupt(int) { interrupted = 1; }

// Where the word being completed begins: after the last blank or double
// quote before the cursor (a path is typed in quotes when it has blanks
// at its ends).
std::size_t wordStart(const std::string &before) {
  const std::size_t last = before.find_last_of(" \t\"");
  return last == std::string::npos ? 0 : last + 1;
}

bool startsWithNoCase(const std::string &text, const std::string &start) {
  return text.size() >= start.size() &&
         std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The longest beginning that every candidate shares (letter case as the
// first one has it, since a choice is taken in any case).
std::string sharedBeginning(const std::vector<std::string> &candidates) {
  std::string shared = candidates.front();
  for (const std::string &candidate : candidates) {
    std::size_t n = 0;
    while (n < shared.size() && n < candidate.size() &&
           std::tolower(static_cast<unsigned char>(shared[n])) ==
               std::tolower(static_cast<unsigned char>(candidate[n])))
      ++n;
    shared.resize(n);
  }
  return shared;
}

// libedit's own reader tries a read that a signal cut short once more, so
// Ctrl-C would have to be pressed twice; this one gives up at once.  It
// reads one character, decoding a multibyte one: 1 for a character, 0 at
// end of input, -1 on Ctrl-C or an error.
// A character past the longest line ends the line, and the rest of it is
// read and dropped here: libedit never holds more than the longest.
int readCharacter(EditLine * /*el*/, wchar_t *out) {
  std::mbstate_t state{};
  for (;;) {
    if (interrupted) {
      errno = EINTR;
      return -1;
    }
    char byte;
    const ssize_t got = readByte(&byte);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;  // the loop looks at the flag
      return -1;
    }
    const std::size_t decoded = std::mbrtowc(out, &byte, 1, &state);
    if (decoded == static_cast<std::size_t>(-2)) continue;  // more bytes to come
    if (decoded == static_cast<std::size_t>(-1)) {
      // Not a character of the locale: taken as the byte it is.
      *out = static_cast<unsigned char>(byte);
      state = std::mbstate_t{};
    }
    if (endsLine(*out)) {
      edited.characters = 0;
    } else if (++edited.characters > edited.longest) {
      edited.overlong = true;
      edited.characters = 0;
      const int skipped = skipRestOfLine();
      if (skipped <= 0) return skipped;
      *out = L'\n';
    }
    return 1;
  }
}

}  // namespace

LineInput::LineInput(std::size_t longest) : longest_(longest) {
  interrupted = 0;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read that Ctrl-C cuts short returns at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &oldInterrupt_);
  if (isatty(STDIN_FILENO) == 0) return;
  // The terminal's characters, for libedit to tell where one ends; only
  // while the questions are asked.
  if (const char *old = std::setlocale(LC_CTYPE, nullptr)) oldCharacters_ = old;
  std::setlocale(LC_CTYPE, "");
  editor_ = el_init("velorix-setup", stdin, stdout, stderr);
  history_ = history_init();
  if (editor_ == nullptr || history_ == nullptr) {
    // Without libedit's terminal handling the plain reading still works.
    if (editor_ != nullptr) el_end(editor_);
    if (history_ != nullptr) history_end(history_);
    editor_ = nullptr;
    history_ = nullptr;
    return;
  }
  HistEvent event;
  history(history_, &event, H_SETSIZE, kHistorySize);
  history(history_, &event, H_SETUNIQUE, 1);
  el_set(editor_, EL_EDITOR, "emacs");
  // libedit puts the terminal back as it was on a signal, and then hands
  // the signal on to our handler.
  el_set(editor_, EL_SIGNAL, 1);
  el_set(editor_, EL_HIST, history, history_);
  el_set(editor_, EL_CLIENTDATA, this);
  el_set(editor_, EL_PROMPT, &LineInput::promptOf);
  el_set(editor_, EL_GETCFN, readCharacter);
  el_set(editor_, EL_ADDFN, "vx-complete", "complete a choice or a path", &LineInput::complete);
  el_set(editor_, EL_BIND, "^I", "vx-complete", nullptr);
  // The user's own key bindings (~/.editrc), as every libedit program.
  el_source(editor_, nullptr);
}

LineInput::~LineInput() {
  if (editor_ != nullptr) el_end(editor_);
  if (history_ != nullptr) history_end(history_);
  if (!oldCharacters_.empty()) std::setlocale(LC_CTYPE, oldCharacters_.c_str());
  sigaction(SIGINT, &oldInterrupt_, nullptr);
}

char *LineInput::promptOf(editline *el) {
  void *self = nullptr;
  el_get(el, EL_CLIENTDATA, &self);
  return const_cast<char *>(static_cast<LineInput *>(self)->prompt_.c_str());
}

std::vector<std::string> LineInput::candidates(const std::string &before, std::size_t *word) const {
  std::vector<std::string> found;
  if (completion_ == Completion::kChoices) {
    // A choice is the whole answer.
    *word = 0;
    for (const std::string &choice : choices_)
      if (startsWithNoCase(choice, before)) found.push_back(choice);
    return found;
  }
  *word = wordStart(before);
  const std::string start = before.substr(*word);
  for (int state = 0;; ++state) {
    char *name = filename_completion_function(start.c_str(), state);
    if (name == nullptr) break;
    std::string candidate = name;
    std::free(name);
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && candidate.back() != '/')
      candidate += '/';
    found.push_back(std::move(candidate));
  }
  std::sort(found.begin(), found.end());
  return found;
}

unsigned char LineInput::complete(editline *el, int /*key*/) {
  void *data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  const LineInput *self = static_cast<LineInput *>(data);
  if (self->completion_ == Completion::kNothing) return CC_NORM;
  const LineInfo *line = el_line(el);
  const std::string before(line->buffer, static_cast<std::size_t>(line->cursor - line->buffer));
  std::size_t word = 0;
  const std::vector<std::string> found = self->candidates(before, &word);
  if (found.empty()) return CC_REFRESH_BEEP;
  const std::string typed = before.substr(word);
  const std::string shared = sharedBeginning(found);
  if (found.size() == 1 || shared.size() > typed.size()) {
    // As far as the candidates agree, in their own letter case.
    el_deletestr(el, static_cast<int>(typed.size()));
    if (el_insertstr(el, shared.c_str()) != 0) return CC_REFRESH_BEEP;
    return CC_REFRESH;
  }
  // Nothing more to add: the candidates, then the line again.
  // A path's candidates by their last part, as a shell lists them.
  std::string list = "\n";
  for (const std::string &candidate : found) {
    const std::size_t slash = self->completion_ == Completion::kPaths && candidate.size() > 1
                                  ? candidate.find_last_of('/', candidate.size() - 2)
                                  : std::string::npos;
    list += (slash == std::string::npos ? candidate : candidate.substr(slash + 1)) + "  ";
  }
  list.back() = '\n';
  std::fputs(list.c_str(), stdout);
  std::fflush(stdout);
  return CC_REDISPLAY;
}

LineInput::Read LineInput::read(const std::string &prompt, std::string *line,
                                const std::string &recall) {
  // A Ctrl-C between two questions counts too: the flag is cleared only
  // when the input is made.
  prompt_ = prompt;
  const Read result = editor_ != nullptr ? readEdited(line, recall) : readPlain(line);
  if (result == Read::kInterrupted || (result == Read::kEnd && interrupted)) {
    // The next output starts on a line of its own.
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return Read::kInterrupted;
  }
  return result;
}

LineInput::Read LineInput::readEdited(std::string *line, const std::string &recall) {
  HistEvent event;
  // The value the question starts with is the newest line for Up while
  // this question is asked, and only then.
  int recalled = -1;
  if (!recall.empty() && history(history_, &event, H_ENTER, recall.c_str()) == 1 &&
      history(history_, &event, H_FIRST) == 0)
    recalled = event.num;
  edited.characters = 0;
  edited.longest = longest_;
  edited.overlong = false;
  int count = 0;
  const char *text = el_gets(editor_, &count);
  if (recalled >= 0) history(history_, &event, H_DEL, recalled);
  if (interrupted) return Read::kInterrupted;
  if (edited.overlong) return Read::kTooLong;
  if (text == nullptr || count <= 0) {
    // libedit leaves the cursor after the prompt at end of input.
    std::fputc('\n', stdout);
    return Read::kEnd;
  }
  line->assign(text, static_cast<std::size_t>(count));
  if (!line->empty() && line->back() == '\n') line->pop_back();
  if (!line->empty()) history(history_, &event, H_ENTER, line->c_str());
  return Read::kLine;
}

LineInput::Read LineInput::readPlain(std::string *line) {
  std::fputs(prompt_.c_str(), stdout);
  std::fflush(stdout);
  line->clear();
  bool any = false;
  bool overlong = false;
  int c;
  while ((c = getc_unlocked(stdin)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() < longest_) {
      line->push_back(static_cast<char>(c));
    } else {
      overlong = true;
    }
  }
  if (!any) {
    if (interrupted) return Read::kInterrupted;
    // A transcript of piped answers reads on a line of its own.
    std::fputc('\n', stdout);
    return Read::kEnd;
  }
  if (c == EOF && interrupted) return Read::kInterrupted;
  if (overlong) {
    line->clear();
    return Read::kTooLong;
  }
  return Read::kLine;
}
