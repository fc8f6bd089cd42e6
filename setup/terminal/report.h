/*
 * report.h - messages told on a terminal: one block each on standard
 * error, marked with the program's name, in the window's words, followed
 * by a line that names the path a message is about and the option that
 * sets it, since there is no form beside it to look at, and by a line per
 * file that the product directory lacks (product_files.h).
 *
 *   velorix-setup: The path you've specified does not contain VELORIX executable
 *     path: /home/me/work/velorix/velorix, option: --kernel
 *     missing: /home/me/work/velorix/velorix (the VELORIX executable)
 *     ...
 */
#ifndef VELORIX_SETUP_TERMINAL_REPORT_H
#define VELORIX_SETUP_TERMINAL_REPORT_H

#include <string>
#include <vector>

#include "actions.h"
#include "message_route.h"
#include "result.h"

// Prints messages on standard error, one block each; while it lives it is
// also where every message raised outside the procedure goes (the support
// library's), in place of a message box.
class MessagePrinter : private MessageListener {
 public:
  MessagePrinter() : route_(*this) {}

  // Prints text as one block, then the line naming what it is about.
  void print(const std::string &text, const MessageSubject &about = {});
  // Prints what result has to tell, if anything.
  void print(const Result &result) { print(result.message(), result.about()); }

 private:
  bool onMessage(const char *text) override;

  bool printed_ = false;
  MessageRoute route_;
};

// Shows the procedure's messages through a MessagePrinter; every other
// action is the inner one's.
class PrintingActions : public ForwardingActions {
 public:
  PrintingActions(Actions &inner, MessagePrinter &printer)
      : ForwardingActions(inner), printer_(printer) {}

  void show(const std::string &text, const MessageSubject &about) override;
  // Said as any message is, on standard error.
  void advise(const std::string &text, const MessageSubject &about) override {
    show(text, about);
  }

  // The fields of the last message shown.
  const std::vector<Field> &lastFields() const { return lastFields_; }

 private:
  MessagePrinter &printer_;
  std::vector<Field> lastFields_;
};

// Tells that the command line (or the window's X options) was not
// understood, one line per fault ("try --help" after the last), and returns
// kExitTrouble.
int BadOptions(const std::string &problem);

#endif
