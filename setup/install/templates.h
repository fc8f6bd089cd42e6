/*
 * templates.h - the built-in templates and tables of the setup tool.
 *
 * A template is an array of line texts ended by a NULL entry; each text is
 * one line of the written file, without its line feed.  The data lives in
 * the templates_*.cc files, apart from the code that writes it.
 */
#ifndef VELORIX_SETUP_TEMPLATES_H
#define VELORIX_SETUP_TEMPLATES_H

#include <cstddef>

constexpr std::size_t kSetDataLines = 215;    // settings file
constexpr std::size_t kInitLines = 290;       // interface-strings file
constexpr std::size_t kCompileRhsLines = 21;  // compile script, placeholder first
constexpr std::size_t kIncludeRhsLines = 13;  // system header
constexpr std::size_t kPaletteLines = 26;     // palette file

extern const char *const SetData[kSetDataLines + 1];
extern const char *const init[kInitLines + 1];
extern const char *const CompileRhs[kCompileRhsLines + 1];
extern const char *const CompileRhsKsh[kCompileRhsLines + 1];
extern const char *const IncludeRhs[kIncludeRhsLines + 1];
extern const char *const Palette[kPaletteLines + 1];

// What a template makes, for messages and plans ("palette template").
const char *TemplateName(const char *const *lines);

#endif
