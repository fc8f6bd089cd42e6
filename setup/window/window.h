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
#include <string>

#include "form_fields.h"
#include "run_window.h"

// Every control of the Setup window that another part reads, made from
// the form's table (form_fields.h): by field, its control; by group, its
// group and its Help item.
struct SetupControls {
  // A text field, the group of a switch's radio buttons, or the consent
  // box; NULL when not made (a Tuning field whose key the template lacks,
  // the consent box when the notice preview cannot be read).
  std::array<Nlm_Handle, kFieldCount> field{};
  std::array<Nlm_GrouP, kGroupCount> group{};
  // The group's Help item, or for a group with help per field (Tuning),
  // each field's item in the group's submenu.
  std::array<Nlm_IteM, kGroupCount> groupHelp{};
  std::array<Nlm_IteM, kFieldCount> fieldHelp{};
  Nlm_MenU mAdjust = nullptr;  // the Tuning submenu
  Nlm_GrouP gTerm = nullptr;   // the button row
  Nlm_ButtoN setupButton = nullptr;
  Nlm_ButtoN cancelButton = nullptr;
  // Below the buttons: the step "Setup" is at, or while the form waits,
  // what it sets up and where, which may take the second line too.
  Nlm_PrompT status = nullptr;
  Nlm_PrompT statusMore = nullptr;

  Nlm_Handle of(Field f) const { return field[static_cast<std::size_t>(f)]; }
  Nlm_GrouP of(FormGroup g) const { return group[static_cast<std::size_t>(g)]; }
};

// The controls of the one Setup window of the run.
SetupControls &Controls();

// The text field that shows field; NULL when the window has none (a
// Tuning field whose key the template lacks) or the field is no text.
Nlm_TexT TextControl(const SetupControls &c, Field field);

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

// Vibrant copies every title it is given but declares it writable.
inline Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

#endif
