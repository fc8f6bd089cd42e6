/*
 * settings_internal.h - the two roads of reference expansion, for tests
 * that hold the faster one against the general one.
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
// value, handing over to the splice loop when it must.
bool ExpandReferencesFast(char *text, std::size_t *length, std::size_t size, const char *section,
                          const char *key, bool forFormat);

// The splice loop alone.
bool ExpandReferencesBySplicing(char *text, std::size_t *length, std::size_t size,
                                const char *section, const char *key, bool forFormat);

}  // namespace vx

#endif
