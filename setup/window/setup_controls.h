/*
 * setup_controls.h - the handles of the Setup window's controls, which
 * the window makes and its help windows, notice preview and actions read.
 *
 * Handles are NULL until start-up makes their controls, and stay NULL for
 * a control that is not made (a Tuning field whose key the template lacks,
 * the Registration group when the notice preview cannot be read).
 */
#ifndef VELORIX_SETUP_SETUP_CONTROLS_H
#define VELORIX_SETUP_SETUP_CONTROLS_H

#include <vibrant.h>

#include <array>

#include "form_fields.h"

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

// Vibrant copies every title it is given but declares it writable.
inline Nlm_CharPtr Title(const char *text) { return const_cast<Nlm_CharPtr>(text); }

#endif
