/*
 * bare_window.cc - a Vibrant window with the same controls as the Setup
 * window and nothing else: no settings template, no shell detection, no
 * notice-preview commands, no actions.  The start-up benchmark compares the
 * Setup window's time to appear with this one's.  The two preview lines
 * are fixed texts of the length the notice commands usually give.
 */
#include <ncbi.h>
#include <vibrant.h>

namespace {

constexpr Nlm_Int2 kFieldChars = 25;
const char kTitle[] = "velorix bare window";

Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

void Spaced(Nlm_GrouP group, Nlm_Int2 h, Nlm_Int2 v) {
  Nlm_SetGroupMargins(group, h, v);
  Nlm_SetGroupSpacing(group, h, v);
}

Nlm_TexT Field(Nlm_GrouP group, const char *label, const char *initial) {
  Nlm_StaticPrompt(group, Title(label), 0, Nlm_dialogTextHeight, Nlm_systemFont, 'l');
  return Nlm_DialogText(group, Title(initial), kFieldChars, nullptr);
}

Nlm_Int2 ButtonWidth(Nlm_GrouP row, const char *title) {
  Nlm_ButtoN probe = Nlm_PushButton(row, Title(title), nullptr);
  Nlm_RecT r;
  Nlm_GetPosition(probe, &r);
  Nlm_Remove(probe);
  return static_cast<Nlm_Int2>(r.right - r.left);
}

}  // namespace

extern "C" Nlm_Int2 Nlm_Main(void) {
  const Nlm_Int2 h = static_cast<Nlm_Int2>(Nlm_stdCharWidth >> 1);
  const Nlm_Int2 v = static_cast<Nlm_Int2>(Nlm_stdFontHeight >> 1);
  Nlm_WindoW window = Nlm_FixedWindow(-50, -50, -10, -10, Title(kTitle), nullptr);
  Nlm_MenU help = Nlm_PulldownMenu(window, Title("Help"));

  Nlm_GrouP row = Nlm_HiddenGroup(window, 2, 0, nullptr);
  Spaced(row, h, v);
  Nlm_TexT kernel = Field(row, "VELORIX directory", "");
  Nlm_CommandItem(help, Title("VELORIX directory"), nullptr);

  Nlm_GrouP c = Nlm_NormalGroup(window, 2, 0, Title("C compiler"), nullptr, nullptr);
  Spaced(c, h, v);
  Nlm_TexT include = Field(c, "Include", "");
  Nlm_TexT lib = Field(c, "Libraries", "-lc -lm");
  Nlm_CommandItem(help, Title("C compiler"), nullptr);

  Nlm_GrouP cpp = Nlm_NormalGroup(window, 2, 0, Title("C++ compiler"), nullptr, nullptr);
  Spaced(cpp, h, v);
  Nlm_TexT cppName = Field(cpp, "Name", "c++");
  Nlm_TexT cppLib = Field(cpp, "Options", " -O2 -fPIC -lc -lm");
  Nlm_CommandItem(help, Title("C++ compiler"), nullptr);

  Nlm_GrouP tuning = Nlm_NormalGroup(window, 2, 0, Title("Tuning"), nullptr, nullptr);
  Spaced(tuning, h, v);
  Nlm_MenU tuningMenu = Nlm_SubMenu(help, Title("Tuning"));
  Nlm_TexT tuned[3];
  const char *const labels[3] = {"Printer command", "PostScript previewer",
                                 "External differentiator"};
  const char *const values[3] = {"lpr %s", "ghostview -a5 -magstep 0 %s", "maple -q <%s >tmp.mo"};
  for (int i = 0; i < 3; ++i) {
    tuned[i] = Field(tuning, labels[i], values[i]);
    Nlm_CommandItem(tuningMenu, Title(labels[i]), nullptr);
  }

  Nlm_GrouP switches = Nlm_HiddenGroup(window, 5, 0, nullptr);
  Nlm_SetGroupSpacing(switches, h, v);
  Nlm_GrouP inst = Nlm_NormalGroup(switches, 2, 0, Title("Installation"), nullptr, nullptr);
  Spaced(inst, h, v);
  Nlm_CommandItem(help, Title("Installation"), nullptr);
  Nlm_RadioButton(inst, Title("Full"));
  Nlm_RadioButton(inst, Title("User"));
  Nlm_SetValue(inst, 2);
  Nlm_GrouP style = Nlm_NormalGroup(switches, 2, 0, Title("Shell style"), nullptr, nullptr);
  Spaced(style, h, v);
  Nlm_RadioButton(style, Title("csh"));
  Nlm_RadioButton(style, Title("ksh"));
  Nlm_SetValue(style, 1);
  Nlm_GrouP path = Nlm_NormalGroup(switches, 2, 0, Title("Shell path"), nullptr, nullptr);
  Nlm_SetGroupMargins(path, h, v);
  Nlm_TexT shellPath = Nlm_DialogText(path, Title("/bin/sh -f"), 1, nullptr);
  Nlm_CommandItem(help, Title("Shell"), nullptr);
  Nlm_Hide(style);
  Nlm_Hide(path);

  Nlm_GrouP reg = Nlm_NormalGroup(window, 0, 10, Title("Registration"), nullptr, nullptr);
  Spaced(reg, h, v);
  Nlm_ButtoN consent = Nlm_CheckBox(
      reg, Title("I authorize the following e-mail message be sent to the authors:"), nullptr);
  Nlm_SetStatus(consent, FALSE);
  Nlm_GrouP preview = Nlm_HiddenGroup(reg, 0, 20, nullptr);
  Nlm_SetGroupMargins(preview, static_cast<Nlm_Int2>(2 * h), 0);
  Nlm_SetGroupSpacing(preview, 0, 0);
  Nlm_StaticPrompt(preview, Title("VELORIX 1.5u installed on"), 0, 0, Nlm_systemFont, 'l');
  Nlm_StaticPrompt(
      preview,
      Title("Linux host 6.1.0-28-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.119-1 x86_64 GNU/Linux"),
      0, 0, Nlm_systemFont, 'l');
  Nlm_StaticPrompt(reg, Title("This data will be used to notify you about new versions of Velorix"),
                   0, 0, nullptr, 'l');

  Nlm_RecT r;
  Nlm_GetPosition(row, &r);
  int room = r.right - r.left;
  Nlm_GrouP buttons = Nlm_HiddenGroup(window, 3, 0, nullptr);
  room -= ButtonWidth(buttons, "Setup");
  room -= ButtonWidth(buttons, "Cancel");
  const Nlm_Int2 gap = static_cast<Nlm_Int2>(room > 0 ? room / 3 : 0);
  Nlm_SetGroupMargins(buttons, gap, v);
  Nlm_SetGroupSpacing(buttons, gap, v);
  Nlm_PushButton(buttons, Title("Setup"), nullptr);
  Nlm_PushButton(buttons, Title("Cancel"), nullptr);

  for (int i = 0; i < 3; ++i) {
    Nlm_AlignObjects(ALIGN_JUSTIFY, static_cast<Nlm_Handle>(kernel),
                     static_cast<Nlm_Handle>(include), static_cast<Nlm_Handle>(lib),
                     static_cast<Nlm_Handle>(cppName), static_cast<Nlm_Handle>(cppLib),
                     static_cast<Nlm_Handle>(tuned[i]), static_cast<Nlm_Handle>(nullptr));
  }
  Nlm_AlignObjects(ALIGN_RIGHT, static_cast<Nlm_Handle>(kernel), static_cast<Nlm_Handle>(shellPath),
                   static_cast<Nlm_Handle>(consent), static_cast<Nlm_Handle>(nullptr));
  Nlm_AlignObjects(ALIGN_LOWER, static_cast<Nlm_Handle>(inst), static_cast<Nlm_Handle>(style),
                   static_cast<Nlm_Handle>(path), static_cast<Nlm_Handle>(nullptr));

  Nlm_Show(window);
  Nlm_ProcessEvents();
  return 0;
}
