/*
 * tuning_fields.h - the initial values of the Tuning fields, found in the
 * settings file template.
 *
 * A value belongs to a key when its template line begins with the key
 * followed at once by "=" (so "EXTDIFFB=" is not the key "EXTDIFF") and
 * the last section line before it is the section's name in brackets.
 */
#ifndef VELORIX_SETUP_TUNING_FIELDS_H
#define VELORIX_SETUP_TUNING_FIELDS_H

#include <cstddef>
#include <vector>

// The values that lines (at most maxLines of them, or fewer when a NULL
// entry ends them first) give key in section, in template order; each
// points into its template line, just after the "=".  Key lines met
// before any section line belong to no section.
std::vector<const char *> TemplateValues(const char *const *lines, std::size_t maxLines,
                                         const char *section, const char *key);

#endif
