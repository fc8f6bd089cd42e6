/*
 * help.cc - the field help windows opened from the Setup window's Help
 * menu.
 *
 * Each choice of a Help item opens a new small window with one prompt per
 * line of the item's text (a group's item: the texts of all its fields);
 * any number may be open at once.  Closing one selects the window that was
 * current when the most recent help window opened.  The open help windows
 * are tracked so that the window to select is never one that has been
 * closed meanwhile: in that case the Setup window is selected instead.  A
 * help window takes the keyboard when it opens, and Escape closes it as its
 * close box does.
 */
#include "help.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "motif_conventions.h"
#include "raii.h"
#include "setup_controls.h"

Nlm_WindoW msgPrevWin = nullptr;

namespace {

constexpr Nlm_Int2 kCentred = -50;
// One column of prompts; the longest text has 16 lines.
constexpr Nlm_Int2 kHelpRows = 100;
// Shown instead of the text when no working copy of it can be made.
const char *const kNoMemoryText = "There is not enough memory to show this help text.";

// The Setup window, the parent of every Help item.
Nlm_WindoW helpHome = nullptr;
// Help windows that are open now.
std::vector<Nlm_WindoW> openHelpWindows;

bool isOpenHelpWindow(Nlm_WindoW w) {
  return std::find(openHelpWindows.begin(), openHelpWindows.end(), w) != openHelpWindows.end();
}

// w when it is the Setup window or an open help window, else the Setup
// window: never a handle of a window that no longer exists.
Nlm_WindoW liveOrHome(Nlm_WindoW w) {
  return (w != nullptr && (w == helpHome || isOpenHelpWindow(w))) ? w : helpHome;
}

void addLine(Nlm_GrouP group, const char *line) {
  Nlm_StaticPrompt(group, Title(line), 0, 0, Nlm_systemFont, 'l');
}

// Builds and shows one help window for text.
void helpMessage(const char *text) {
  msgPrevWin = liveOrHome(Nlm_CurrentWindow());
  Nlm_WindoW window =
      Nlm_FixedWindow(kCentred, kCentred, static_cast<Nlm_Int2>(-Nlm_stdCharWidth),
                      static_cast<Nlm_Int2>(-Nlm_stdLineHeight), nullptr, msgCloseProc);
  Nlm_GrouP group = Nlm_HiddenGroup(window, 0, kHelpRows, nullptr);

  const std::size_t length = std::strlen(text);
  vx::MemBlock copy(static_cast<char *>(Nlm_MemGet(length + 1, MGET_CLEAR | MGET_ERRPOST)));
  if (copy) {
    std::memcpy(copy.get(), text, length + 1);
    // Each piece before a line feed, and the piece after the last, is one
    // prompt; an empty piece shows as a blank line.
    char *piece = copy.get();
    for (char *feed = std::strchr(piece, '\n'); feed != nullptr; feed = std::strchr(piece, '\n')) {
      *feed = '\0';
      addLine(group, piece);
      piece = feed + 1;
    }
    addLine(group, piece);
  } else {
    addLine(group, kNoMemoryText);
  }
  copy.reset();

  // If the list cannot grow, the window still works; it just cannot be
  // chosen as the one to select later.
  try {
    openHelpWindows.push_back(window);
  } catch (...) {
  }
  EscapeClosesWindow(window, msgCloseProc);
  Nlm_Show(window);
}

// The text of a Help item: a Tuning item shows its field's text; a group's
// item shows the texts of the group's fields, in table order, each once
// (fields that share a text show it once), a blank line between two.
// Empty for any other item.
std::string chooseText(Nlm_IteM item) {
  const SetupControls &c = Controls();
  std::string text;
  if (item == nullptr) return text;
  for (const FormField &field : kFormFields) {
    if (field.helpText == nullptr) continue;
    if (item == c.fieldHelp[static_cast<std::size_t>(field.id)]) return *field.helpText;
    if (item != c.groupHelp[static_cast<std::size_t>(field.group)]) continue;
    const bool shown = std::any_of(kFormFields, &field, [&](const FormField &earlier) {
      return earlier.group == field.group && earlier.helpText == field.helpText;
    });
    if (shown) continue;
    if (!text.empty()) text += "\n\n";
    text += *field.helpText;
  }
  return text;
}

}  // namespace

void HelpProc(Nlm_IteM item) {
  if (helpHome == nullptr) helpHome = Nlm_ParentWindow(item);
  std::string text;
  const char *shown = kNoMemoryText;
  try {
    text = chooseText(item);
    shown = text.c_str();
  } catch (const std::bad_alloc &) {
  }
  if (*shown != '\0') helpMessage(shown);
}

void msgCloseProc(Nlm_WindoW w) {
  openHelpWindows.erase(std::remove(openHelpWindows.begin(), openHelpWindows.end(), w),
                        openHelpWindows.end());
  Nlm_Remove(w);
  msgPrevWin = liveOrHome(msgPrevWin);
  if (msgPrevWin != nullptr) Nlm_Select(msgPrevWin);
}
