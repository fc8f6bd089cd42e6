/*
 * tables.cc - the Tuning settings (Adjust), the shell styles (shells) and
 * the module-level handles of the Setup window's controls.
 *
 * The tables are data that the window, the installation procedure and the
 * help windows all read; the handles are filled once at start-up and stay
 * NULL for a control that is not made.
 */
#include "help.h"
#include "templates.h"
#include "window.h"

// Label, section, key, field, Help item, help text.  The handles are set
// while the settings template is walked at start-up.
AdjustRecord Adjust[kAdjustRecords + 1] = {
    {"Printer command", "Visual", "HCPRINTER", nullptr, nullptr, kPrinterHelp},
    {"PostScript previewer", "Visual", "HCVIEWER", nullptr, nullptr, kPreviewerHelp},
    {"External differentiator", "Compiler", "EXTDIFF", nullptr, nullptr, kDifferentiatorHelp},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The radio button's label, the options appended to the shell's path, and
// the compile script written for that style.  The style number shown by
// the shell style switch is the 1-based record number.
const ShellRecord shells[kShellRecords + 1] = {
    {"csh", " -f", CompileRhs},
    {"ksh", " ", CompileRhsKsh},
    {nullptr, nullptr, nullptr},
};

Nlm_TexT tKernel = nullptr;
Nlm_TexT tInclude = nullptr;
Nlm_TexT tLib = nullptr;
Nlm_TexT tCppName = nullptr;
Nlm_TexT tCppLib = nullptr;
Nlm_TexT tShellPath = nullptr;

Nlm_GrouP gC = nullptr;
Nlm_GrouP gCpp = nullptr;
Nlm_GrouP gInst = nullptr;
Nlm_GrouP gShellStyle = nullptr;
Nlm_GrouP gShellPath = nullptr;
Nlm_GrouP gAdjust = nullptr;
Nlm_GrouP gReg = nullptr;
Nlm_GrouP gTerm = nullptr;

Nlm_IteM iKernel = nullptr;
Nlm_IteM iC = nullptr;
Nlm_IteM iCpp = nullptr;
Nlm_IteM iInst = nullptr;
Nlm_IteM iShell = nullptr;

Nlm_ButtoN bReg = nullptr;
Nlm_MenU mAdjust = nullptr;
