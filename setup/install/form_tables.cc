/*
 * form_tables.cc - the Tuning settings (Adjust) and the shell styles
 * (shells).
 */
#include "form_tables.h"

#include "templates.h"

// Label, section, key, help text.
const AdjustRecord Adjust[kAdjustRecords + 1] = {
    {"Printer command", "Visual", "HCPRINTER", kPrinterHelp},
    {"PostScript previewer", "Visual", "HCVIEWER", kPreviewerHelp},
    {"External differentiator", "Compiler", "EXTDIFF", kDifferentiatorHelp},
    {nullptr, nullptr, nullptr, nullptr},
};

// The radio button's label, the options appended to the shell's path, and
// the compile script written for that style.  The style number shown by
// the shell style switch is the 1-based record number.
const ShellRecord shells[kShellRecords + 1] = {
    {"csh", " -f", CompileRhs},
    {"ksh", " ", CompileRhsKsh},
    {nullptr, nullptr, nullptr},
};
