/*
 * questions.h - the Setup form as questions in the terminal.
 *
 * The questions come from the form's field table, in the window's order:
 * the installation kind first, then every field that kind enables, each
 * with the value the window would show; then the installation notice, a
 * numbered summary of the answers and "Set up now? [y/N]".  Enter keeps
 * the value shown, "?" prints the field's help text, "<" goes back to the
 * question before, a number at the summary asks that field again, and a
 * value the window would refuse is refused at once with the window's
 * message (through Nlm_Message) and asked again.  Before the summary, each
 * file that the installation would replace although its user changed it
 * since the last one is asked about, as ucf asks: take the new one (the
 * user's kept as NAME.velorix-old, the default), keep the user's (the new
 * one written to NAME.velorix-new), or show the differences first.
 */
#ifndef VELORIX_SETUP_TERMINAL_QUESTIONS_H
#define VELORIX_SETUP_TERMINAL_QUESTIONS_H

#include <optional>
#include <set>
#include <string>

#include "form_fields.h"

class MessagePrinter;

struct TextAnswers {
  InstallForm form;
  // The files changed since the last installation whose user keeps their
  // copy (absolute, as the record keys them).
  std::set<std::string> keepYours;
};

// Asks the form's questions, starting from form (the window's initial
// values, or a preset).  The answers once the user has said yes to the
// summary; nothing after no, Ctrl-C or end of input, with nothing
// written.
std::optional<TextAnswers> AskForm(const InstallForm &form, MessagePrinter &printer);

// Asks prompt until the answer is yes or no (Enter: answerDefault);
// false on Ctrl-C or end of input.
bool AskYesNo(const std::string &prompt, bool answerDefault);

// Whether standard input and standard output are both a terminal.
bool OnTerminal();

enum class TextOffer {
  kAccepted,   // set up in the terminal
  kDeclined,   // no
  kCancelled,  // Ctrl-C or end of input
};

// Asks "No X display. Set up in this terminal? [Y/n]".
TextOffer OfferTextSetup();

#endif
