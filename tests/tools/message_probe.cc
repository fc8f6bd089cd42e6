/*
 * message_probe.cc - shows one message box through Vibrant, the way the
 * setup tool shows its messages (with the same keyboard conventions), so
 * that a GUI test can compare the tool's box with the box of the text it
 * expects, pixel for pixel.
 *
 * The text comes from the environment variable VX_MESSAGE_TEXT (line
 * feeds included); VX_MESSAGE_KEY=yn asks it with Yes and No, as a
 * question, instead of one OK.  The program prints the answer ("yes",
 * "no" or "ok") and ends when the box is dismissed.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vibrant.h>

#include "motif_conventions.h"

extern "C" Nlm_Int2 Nlm_Main(void) {
  FocusMessageBoxes();
  const char *text = std::getenv("VX_MESSAGE_TEXT");
  const char *key = std::getenv("VX_MESSAGE_KEY");
  const bool question = key != nullptr && std::strcmp(key, "yn") == 0;
  const MsgAnswer answer = Nlm_Message(question ? MSG_YN : MSG_OK, "%s", text != nullptr ? text : "");
  std::puts(answer == ANS_YES ? "yes" : answer == ANS_NO ? "no" : "ok");
  return 0;
}
