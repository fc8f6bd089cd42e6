/*
 * initial_form.h - the form as the Setup window starts it, the host's
 * site defaults over the built-in texts.
 */
#ifndef VELORIX_SETUP_INITIAL_FORM_H
#define VELORIX_SETUP_INITIAL_FORM_H

#include "form_fields.h"
#include "result.h"

// The form as the Setup window starts it: the fields' initial texts (a
// Tuning field's from the settings template), the kind chosen as
// ChooseKind does, and the shell style and path detected from SHELL and
// "shells.vel".  *told, when given, receives what detection or the current
// directory had to say (a notice), or nothing.
InstallForm InitialForm(bool full, Result *told = nullptr);

#endif
