/*
 * message_route.cc - the core library's message hook.
 */
#include "message_route.h"

#include <ncbi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The listeners in scope, oldest first, and the hook that was set before
// the first of them came.
struct Route {
  std::vector<MessageListener *> listeners;
  MessageHook before = nullptr;
};

Route &theRoute() {
  static Route route;
  return route;
}

MsgAnswer LIBCALLBACK route(MsgKey key, ErrSev severity, const char *caption, const char *message) {
  const std::string text = message != nullptr ? message : "";
  const Route now = theRoute();
  for (auto listener = now.listeners.rbegin(); listener != now.listeners.rend(); ++listener) {
    if ((*listener)->onMessage(text.c_str())) return ANS_OK;
  }
  // Nobody showed it: the hook before ours does, or the toolkit, as
  // without a hook.
  if (now.before != nullptr) return now.before(key, severity, caption, message);
  Nlm_SetMessageHook(nullptr);
  const MsgAnswer answer = Nlm_Message(key, "%s", text.c_str());
  Nlm_SetMessageHook(route);
  return answer;
}

}  // namespace

MessageRoute::MessageRoute(MessageListener &listener) : listener_(listener) {
  Route &r = theRoute();
  const MessageHook before = Nlm_SetMessageHook(route);
  if (r.listeners.empty()) r.before = before;
  r.listeners.push_back(&listener_);
}

MessageRoute::~MessageRoute() {
  Route &r = theRoute();
  r.listeners.erase(std::remove(r.listeners.begin(), r.listeners.end(), &listener_),
                    r.listeners.end());
  if (r.listeners.empty()) {
    Nlm_SetMessageHook(r.before);
    r.before = nullptr;
  }
}

bool CaughtMessages::onMessage(const char *text) {
  if (!text_.empty()) text_ += "\n";
  text_ += text;
  return true;
}

Result CaughtMessages::into(Result result) const {
  if (text_.empty()) return result;
  if (result.ok() && result.message().empty()) return Result::Notice(text_, result.about());
  // What the support library said came first.
  const std::string message = result.message().empty() ? text_ : text_ + "\n" + result.message();
  if (result.ok()) return Result::Notice(message, result.about());
  return Result::Failed(result.fault(), message, result.about(), result.detail());
}
