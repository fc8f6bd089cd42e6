/*
 * descriptor_internal.h - the inside of the description-file reader, opened
 * up for the reader's own tests.  Programs use the Desc* and *Line
 * operations of utility.h instead.
 */
#ifndef VELORIX_DESCRIPTOR_INTERNAL_H
#define VELORIX_DESCRIPTOR_INTERNAL_H

#include <stddef.h>
#include <ncbi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A descriptor position: the level in bits 24 to 31, the byte offset in the
 * file of that level in bits 0 to 23. */
#define VX_DESC_LEVEL_SHIFT 24
#define VX_DESC_OFFSET_LIMIT (1L << VX_DESC_LEVEL_SHIFT)
/* Levels 0 (the main file) to 2: includes are followed two levels deep. */
#define VX_DESC_LEVELS 3

/* The path to open for a description file name: name itself when it holds
 * "/", otherwise ParBuf holding [Paths] KERNEL followed by name (name may
 * lie in ParBuf).  NULL, after a message, when KERNEL is missing or the
 * path would not fit in ParBuf. */
const char *descGetName(const char *name);

/* The current position of the innermost file, or -1 when it has none: no
 * open stream, a failed tell, or an offset of 16 MiB or more (reported). */
Nlm_Int4 descTell(void);

/* Next logical line of the innermost file into buf (size bytes), includes
 * not followed; NULL at its end. */
Nlm_CharPtr getLine(Nlm_CharPtr buf, size_t size);

/* Index of the innermost open file (0 when only the main file is open). */
Nlm_Int2 descLevel(void);

#ifdef __cplusplus
}
#endif

#endif
