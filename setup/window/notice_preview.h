/*
 * notice_preview.h - the Registration group of the Setup window: the
 * consent box for the installation notice and a preview of what the
 * notice will say.
 */
#ifndef VELORIX_SETUP_NOTICE_PREVIEW_H
#define VELORIX_SETUP_NOTICE_PREVIEW_H

#include <vibrant.h>

#include "notice.h"
#include "setup_controls.h"

// Finishes command and, when its preview can be read, adds to window the
// Registration group with the consent box (cleared) and one prompt per
// notice line; otherwise neither is made, and their handles stay NULL.  h and v are
// the half character width and the half line height.
void MakeNoticePreview(SetupControls &c, NoticePreviewCommand &command, Nlm_WindoW window,
                       Nlm_Int2 h, Nlm_Int2 v);

#endif
