/*
 * prompt_probe.cc - shows one line of text as the Setup window's status
 * line shows it (a Vibrant prompt in the system font, left-justified, of
 * a given width), so that a GUI test can compare the tool's status line
 * with the line it expects, pixel for pixel.
 *
 * The text comes from VX_PROMPT_TEXT, the width in pixels from
 * VX_PROMPT_WIDTH; the window's title is "prompt_probe".  It runs until
 * it is killed.
 */
#include <cstdlib>

#include <vibrant.h>

extern "C" Nlm_Int2 Nlm_Main(void) {
  const char *text = std::getenv("VX_PROMPT_TEXT");
  const char *width = std::getenv("VX_PROMPT_WIDTH");
  Nlm_WindoW window = Nlm_FixedWindow(0, 0, -10, -10, const_cast<char *>("prompt_probe"), nullptr);
  Nlm_StaticPrompt(window, const_cast<char *>(text != nullptr ? text : ""),
                   static_cast<Nlm_Int2>(width != nullptr ? std::atoi(width) : 0), 0,
                   Nlm_systemFont, 'l');
  Nlm_Show(window);
  Nlm_ProcessEvents();
  return 0;
}
