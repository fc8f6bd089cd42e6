/*
 * message_probe.cc - shows one message box through Vibrant, the way the
 * setup tool shows its messages (with the same keyboard conventions), so
 * that a GUI test can compare the tool's box with the box of the text it
 * expects, pixel for pixel.
 *
 * The text comes from the environment variable VX_MESSAGE_TEXT (line
 * feeds included); the program ends when the box is dismissed.
 */
#include <cstdlib>

#include <vibrant.h>

#include "motif_conventions.h"

extern "C" Nlm_Int2 Nlm_Main(void) {
  FocusMessageBoxes();
  const char *text = std::getenv("VX_MESSAGE_TEXT");
  Nlm_Message(MSG_OK, "%s", text != nullptr ? text : "");
  return 0;
}
