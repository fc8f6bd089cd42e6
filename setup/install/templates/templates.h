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

// Each template's number of lines, its NULL end excluded.  They are taken
// from the arrays where the lines are defined, so a line is added or
// removed there alone.
extern const std::size_t kSetDataLines;     // settings file
extern const std::size_t kInitLines;        // interface-strings file
extern const std::size_t kCompileRhsLines;  // compile script, placeholder first
extern const std::size_t kIncludeRhsLines;  // system header
extern const std::size_t kPaletteLines;     // palette file

extern const char *const SetData[];
extern const char *const init[];
extern const char *const CompileRhs[];
extern const char *const CompileRhsKsh[];
extern const char *const IncludeRhs[];
extern const char *const Palette[];

// The number of lines of a template array, checked at compile time to
// hold its one NULL end, last; for the definitions of the counts above.
template <std::size_t N>
constexpr std::size_t TemplateLines(const char *const (&lines)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    if (lines[i] == nullptr) throw "a template line is NULL before its end";
  }
  if (lines[N - 1] != nullptr) throw "a template lacks its NULL end";
  return N - 1;
}

// What a template makes, for messages and plans ("palette template").
const char *TemplateName(const char *const *lines);

#endif
