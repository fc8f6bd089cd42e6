/*
 * registry_internal.h - the inside of the shared-library registry: its slot
 * table, its list of deferred releases and the path-level operations that
 * LibraryLock and LibraryUnlock are built on.  Only registry.cc and the
 * registry's tests include this; callers use the operations in utility.h.
 */
#ifndef VELORIX_REGISTRY_INTERNAL_H
#define VELORIX_REGISTRY_INTERNAL_H

#include <stdint.h>
#include "utility.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One loaded library.  A slot is free when its name is NULL; then its
 * handle is NULL and its count 0. */
typedef struct VxLibrarySlot {
  Nlm_CharPtr name; /* owned copy of the path that was loaded */
  void *handle;     /* the dynamic loader's handle */
  int32_t count;    /* locks not yet released */
} VxLibrarySlot;

/* One deferred release, a zero-filled block of the allocator below. */
struct VxUnlockRequest {
  VxUnlockRequest *next;     /* the next older request, or NULL */
  VxUnlockCallback callback; /* called before the release, or NULL */
  void *handle;              /* the library to release */
};

extern VxLibrarySlot Libs[VX_LIBRARY_SLOTS];
/* Newest request first; NULL when none is pending. */
extern VxUnlockRequest *UnlockList;

/* Locks the library at path: raises the count of the slot whose name is
 * exactly path, or loads it into the lowest free slot.  NULL after a
 * message (no free slot, count at its limit, no memory, path too long) or
 * after a load failure; on a load failure ParBuf holds the path followed by
 * [KernelErrors] LIBLOAD and my_LibraryLoadError() the loader's text.
 * path may point into ParBuf. */
void *my_LibraryLock(const char *path);

/* The loader's description of why the last my_LibraryLock failed to load,
 * or NULL when it did not fail in the loader.  Valid until the next
 * my_LibraryLock. */
const char *my_LibraryLoadError(void);

/* Releases one lock of the first slot holding handle, unloading the
 * library when that was the last.  The slot's index, or -1 when no slot
 * holds handle (a NULL handle included). */
int my_LibraryUnlock(void *handle);

/* The allocator of request blocks and name copies: size bytes, zero-filled,
 * NULL when there is no memory; blocks are freed with Nlm_MemFree.  Tests
 * install one that fails.  Returns the previous allocator; NULL restores
 * the toolkit's. */
typedef void *(*VxRegistryAlloc)(size_t size);
VxRegistryAlloc registrySetAllocator(VxRegistryAlloc alloc);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELORIX_REGISTRY_INTERNAL_H */
