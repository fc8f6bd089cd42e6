/*
 * form_defaults.h - the initial texts of the Setup form's fields.
 *
 * The window shows them and the unattended mode takes them when an option
 * is not given, so that both install the same thing from the same input.
 * The Tuning fields start from the settings template (tuning_fields.h) and
 * the shell controls from shell detection (shell_detection.h).
 */
#ifndef VELORIX_SETUP_FORM_DEFAULTS_H
#define VELORIX_SETUP_FORM_DEFAULTS_H

constexpr const char *kInitialKernel = "";
constexpr const char *kInitialInclude = "";
constexpr const char *kInitialLibraries = "-lc -lm";
constexpr const char *kInitialCppName = "c++";
constexpr const char *kInitialCppOptions = " -O2 -fPIC -lc -lm";  // leading blank kept

#endif
