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
 * message (through Nlm_Message) and asked again.
 */
#ifndef VELORIX_SETUP_TERMINAL_QUESTIONS_H
#define VELORIX_SETUP_TERMINAL_QUESTIONS_H

#include <optional>

#include "form_fields.h"

// Asks the form's questions, starting from form (the window's initial
// values, or a preset).  The answered form once the user has said yes to
// the summary; nothing after no, Ctrl-C or end of input, with nothing
// written.
std::optional<InstallForm> AskForm(const InstallForm &form);

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
