/*
 * line_input.h - the answers typed in the terminal, one line each.
 *
 * On a terminal the lines are read with libedit: they can be edited, and
 * Up brings back the earlier ones.  From a pipe or a file they are read as
 * plain lines, so that a script can answer.  Ctrl-C while a line is being
 * read ends the reading, as end of input does, but is told apart.  A line
 * longer than any answer can be is read to its end without being kept, so
 * that no input, however long, makes the reading hold more than that.
 * On a terminal Tab completes what is being typed: one of a question's
 * choices, or a path; a beginning that several share is completed as far
 * as they agree, and a second Tab lists them.
 */
#ifndef VELORIX_SETUP_LINE_INPUT_H
#define VELORIX_SETUP_LINE_INPUT_H

#include <signal.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct editline;
struct history;

class LineInput {
 public:
  enum class Read {
    kLine,         // a line was read
    kTooLong,      // a line longer than the longest was read and dropped
    kEnd,          // end of input
    kInterrupted,  // Ctrl-C
  };

  // Reads standard input; the prompts go to standard output.  While it
  // lives, Ctrl-C interrupts the reading instead of ending the program.
  // A line of more than longest characters is kTooLong.
  explicit LineInput(std::size_t longest);
  ~LineInput();
  LineInput(const LineInput &) = delete;
  LineInput &operator=(const LineInput &) = delete;

  // What Tab completes in the lines read from now on.
  enum class Completion {
    kNothing,  // Tab does nothing (a yes or no, a letter)
    kChoices,  // the choices given to completeChoices
    kPaths,    // the path being typed, from its last blank or quote
  };
  void completeNothing() { completion_ = Completion::kNothing; }
  void completePaths() { completion_ = Completion::kPaths; }
  void completeChoices(std::vector<std::string> choices) {
    completion_ = Completion::kChoices;
    choices_ = std::move(choices);
  }

  // Shows prompt and reads one line into *line, without its line end.
  // recall, when not empty, is offered by Up before the earlier lines, for
  // editing (the value the question starts with).
  Read read(const std::string &prompt, std::string *line, const std::string &recall = {});

 private:
  Read readEdited(std::string *line, const std::string &recall);
  Read readPlain(std::string *line);
  static char *promptOf(struct editline *el);
  static unsigned char complete(struct editline *el, int key);
  // The completions of the word before the cursor, and where it begins.
  std::vector<std::string> candidates(const std::string &before, std::size_t *word) const;

  struct editline *editor_ = nullptr;
  struct history *history_ = nullptr;
  std::string oldCharacters_;  // LC_CTYPE before libedit's
  std::string prompt_;
  std::size_t longest_;
  Completion completion_ = Completion::kNothing;
  std::vector<std::string> choices_;
  struct sigaction oldInterrupt_ {};
};

#endif
