/*
 * window.h - the Setup window: control handles, the Adjust and shells
 * tables, and the actions of the controls.
 *
 * Handles are NULL until start-up makes their controls, and stay NULL for
 * a control that is not made (a Tuning field whose key the template lacks,
 * the Registration group when the notice preview cannot be read).
 */
#ifndef VELORIX_SETUP_WINDOW_H
#define VELORIX_SETUP_WINDOW_H

#include <vibrant.h>

constexpr int kAdjustRecords = 3;  // Tuning settings
constexpr int kShellRecords = 2;   // shell styles

// One Tuning setting: a field of the Tuning group and its Help item.
struct AdjustRecord {
  const char *label;     // prompt and Help item label
  const char *section;   // settings section, without brackets
  const char *key;       // settings key
  Nlm_TexT field;        // set at start-up; NULL when the template lacks the key
  Nlm_IteM help;         // Help item, set with the field
  const char *helpText;  // shown by HelpProc
};
extern AdjustRecord Adjust[kAdjustRecords + 1];  // ends with an all-NULL record

// One shell style: radio button label, options appended to $SHELL, and the
// compile-script template.
struct ShellRecord {
  const char *name;
  const char *options;
  const char *const *script;
};
extern const ShellRecord shells[kShellRecords + 1];  // ends with an all-NULL record

extern Nlm_TexT tKernel, tInclude, tLib, tCppName, tCppLib, tShellPath;
extern Nlm_GrouP gC, gCpp, gInst, gShellStyle, gShellPath, gAdjust, gReg, gTerm;
extern Nlm_IteM iKernel, iC, iCpp, iInst, iShell;
extern Nlm_ButtoN bReg;
extern Nlm_MenU mAdjust;

void InstActnProc(Nlm_GrouP g);
void ShellStyleProc(Nlm_GrouP g);
void PathCheckProc(Nlm_TexT t);
void CancelProc(Nlm_ButtoN b);
void SetupProc(Nlm_ButtoN b);

// Builds the Setup window and runs the event loop; returns 0.
int RunSetupWindow(void);

// Never called by the tool; part of the interface shared with the analysis
// program's switch controls.
extern "C" {
Nlm_Handle SwitchCreate(void);
int SwitchGetValue(void);
int SwitchHeight(void);
void SwitchSetValue(void);
void SwitchSetMax(void);
void SwitchSetParams(void);
}

#endif
