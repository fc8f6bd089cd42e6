/*
 * window.h - the Setup window: how it started, and its controls' actions
 * (the controls themselves: setup_controls.h).
 */
#ifndef VELORIX_SETUP_WINDOW_H
#define VELORIX_SETUP_WINDOW_H

#include <vibrant.h>

#include <array>
#include <string>

#include "form_fields.h"
#include "run_window.h"
#include "setup_controls.h"

// How the window was asked to start (run_window.h).
WindowStart &Start();

// The site defaults file the form started from; empty for none.
std::string &StartingSiteDefaults();

// Shows on the status line what the form, as it stands, sets up and
// where: the line of an idle window.
void ShowSettingUp();

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

// While "Setup" works, "Cancel" (enabled only while the compile runs) and
// the close box ask the work to stop instead of ending the program.
struct SetupWork {
  bool underway = false;
  bool stopAsked = false;
};
SetupWork &CurrentWork();

#endif
