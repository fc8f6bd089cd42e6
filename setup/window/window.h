/*
 * window.h - the Setup window: the handles of its controls and their
 * actions.
 *
 * Handles are NULL until start-up makes their controls, and stay NULL for
 * a control that is not made (a Tuning field whose key the template lacks,
 * the Registration group when the notice preview cannot be read).
 */
#ifndef VELORIX_SETUP_WINDOW_H
#define VELORIX_SETUP_WINDOW_H

#include <vibrant.h>

#include <array>

#include "form_fields.h"
#include "run_window.h"

// Every control of the Setup window that another part reads.  The letter
// before each name tells its kind: g group, t text field, i Help item,
// b check box, m menu.
struct SetupControls {
  Nlm_TexT tKernel = nullptr, tInclude = nullptr, tLib = nullptr, tCppName = nullptr,
           tCppLib = nullptr, tShellPath = nullptr;
  Nlm_GrouP gC = nullptr, gCpp = nullptr, gInst = nullptr, gShellStyle = nullptr,
            gShellPath = nullptr, gAdjust = nullptr, gReg = nullptr, gTerm = nullptr;
  Nlm_IteM iKernel = nullptr, iC = nullptr, iCpp = nullptr, iInst = nullptr, iShell = nullptr;
  Nlm_ButtoN bReg = nullptr;
  Nlm_MenU mAdjust = nullptr;
  // Per Adjust record: its Tuning field and Help item, NULL when the
  // settings template lacks its key.
  std::array<Nlm_TexT, kAdjustRecords> adjustField{};
  std::array<Nlm_IteM, kAdjustRecords> adjustHelp{};
};

// The controls of the one Setup window of the run.
SetupControls &Controls();

// The text field that shows field; NULL when the window has none (a
// Tuning field whose key the template lacks) or the field is no text.
Nlm_TexT TextControl(const SetupControls &c, Field field);

// How the window was asked to start (run_window.h).
WindowStart &Start();

void InstActnProc(Nlm_GrouP g);
void ShellStyleProc(Nlm_GrouP g);
void PathCheckProc(Nlm_TexT t);
void CancelProc(Nlm_ButtoN b);
void SetupProc(Nlm_ButtoN b);
// The Setup window's close box: what "Cancel" does, while "Cancel" can be
// pressed.
void SetupCloseProc(Nlm_WindoW w);

// TRUE once "Cancel" or the close box has ended the event loop.
bool Cancelled();

// Vibrant copies every title it is given but declares it writable.
inline Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

#endif
