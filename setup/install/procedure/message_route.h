/*
 * message_route.h - where the core library's messages go.
 *
 * Every message of the program, the support library's included, is shown
 * with Nlm_Message.  The core library lets one hook see them all, but
 * hands it no context; this module is that hook.  It passes each message
 * to the listeners in scope, newest first, until one has shown it; when
 * none does, the toolkit shows it as it would without a hook (a modal box
 * in the window).  The list of listeners is the one piece of process-wide
 * state that this needs.
 */
#ifndef VELORIX_SETUP_MESSAGE_ROUTE_H
#define VELORIX_SETUP_MESSAGE_ROUTE_H

#include <string>

#include "result.h"

class MessageListener {
 public:
  virtual ~MessageListener() = default;
  // Sees a message; true when it has shown it, so that nobody else does.
  virtual bool onMessage(const char *text) = 0;
};

// Keeps listener in the route while it lives.
class MessageRoute {
 public:
  explicit MessageRoute(MessageListener &listener);
  ~MessageRoute();
  MessageRoute(const MessageRoute &) = delete;
  MessageRoute &operator=(const MessageRoute &) = delete;

 private:
  MessageListener &listener_;
};

// Catches every message raised while it lives (the support library's)
// instead of letting it be shown, so that the step it was raised in can
// carry it in its Result and the message is shown once, with the step's.
class CaughtMessages : private MessageListener {
 public:
  CaughtMessages() : route_(*this) {}

  // What was caught, the messages one after another; empty for none.
  const std::string &text() const { return text_; }

  // result carrying what was caught: as its message when it has none, or
  // else after it; a notice when result is done but a message was raised.
  Result into(Result result) const;

 private:
  bool onMessage(const char *text) override;

  std::string text_;
  MessageRoute route_;
};

#endif
