/*
 * help.h - field help windows opened from the Help menu.
 */
#ifndef VELORIX_SETUP_HELP_H
#define VELORIX_SETUP_HELP_H

#include <vibrant.h>

#include "form_tables.h"

extern Nlm_WindoW msgPrevWin;

void HelpProc(Nlm_IteM item);
void msgCloseProc(Nlm_WindoW w);

#endif
