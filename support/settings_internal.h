/*
 * settings_internal.h - the two roads of reference expansion: the one
 * the settings module takes, and the general one that tests hold it
 * against.
 *
 * Both expand text in place (*length characters, a buffer of size bytes)
 * as Translate does before the marks are applied; forFormat doubles each
 * "%" that comes in through a reference.  They must agree on the result,
 * the return value and every report shown.
 */
#ifndef VELORIX_SUPPORT_SETTINGS_INTERNAL_H
#define VELORIX_SUPPORT_SETTINGS_INTERNAL_H

#include <cstddef>

namespace vx {

// What every caller gets: the level walk for texts that fit a settings
// value, handing over to the splice loop when it must.  section and key
// name the text in reports and may be null.  Nothing is allocated or
// cleared: this runs for every value read and every line of a description
// file.  On success *length is set to that of the result.
bool expandReferences(char *text, std::size_t *length, std::size_t size, const char *section,
                      const char *key, bool forFormat);

// The splice loop alone.
bool expandReferencesBySplicing(char *text, std::size_t *length, std::size_t size,
                                const char *section, const char *key, bool forFormat);

}  // namespace vx

#endif
