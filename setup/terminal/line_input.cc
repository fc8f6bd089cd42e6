/*
 * line_input.cc - reading the answers: libedit on a terminal, plain lines
 * from anything else.
 */
#include "line_input.h"

#include <histedit.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

// Answers kept for Up; far more than one run asks.
constexpr int kHistorySize = 100;

// Set by Ctrl-C while a LineInput lives.
volatile sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// libedit's own reader tries a read that a signal cut short once more, so
// Ctrl-C would have to be pressed twice; this one gives up at once.  It
// reads one character, decoding a multibyte one: 1 for a character, 0 at
// end of input, -1 on Ctrl-C or an error.
int readCharacter(EditLine * /*el*/, wchar_t *out) {
  std::mbstate_t state{};
  for (;;) {
    if (interrupted) {
      errno = EINTR;
      return -1;
    }
    char byte;
    const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
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
    return 1;
  }
}

}  // namespace

LineInput::LineInput() {
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
  int count = 0;
  const char *text = el_gets(editor_, &count);
  if (recalled >= 0) history(history_, &event, H_DEL, recalled);
  if (interrupted) return Read::kInterrupted;
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
  char *text = nullptr;
  std::size_t size = 0;
  const ssize_t length = ::getline(&text, &size, stdin);
  if (length < 0) {
    std::free(text);
    if (interrupted) return Read::kInterrupted;
    // A transcript of piped answers reads on a line of its own.
    std::fputc('\n', stdout);
    return Read::kEnd;
  }
  line->assign(text, static_cast<std::size_t>(length));
  std::free(text);
  if (!line->empty() && line->back() == '\n') line->pop_back();
  return Read::kLine;
}
