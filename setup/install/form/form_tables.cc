/*
 * form_tables.cc - the shell styles (shells).
 */
#include "form_tables.h"

#include "templates.h"

// The radio button's label, the options appended to the shell's path, and
// the compile script written for that style.  The style number shown by
// the shell style switch is the 1-based record number.
const ShellRecord shells[kShellRecords + 1] = {
    {"csh", " -f", CompileRhs},
    {"ksh", " ", CompileRhsKsh},
    {nullptr, nullptr, nullptr},
};
