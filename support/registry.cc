/*
 * registry.cc - the registry of shared libraries that the analysis program
 * loads by their [Libraries] settings key.
 *
 * A library locked several times is loaded once and counted; each lock
 * hands it the host's function tables through its optional entry points
 * _VeloInit and _VeloIInit.  Releases are immediate (LibraryUnlock),
 * deferred (LibraryUnlockRequest, carried out by LibraryUnlockRequested) or
 * all at once at the end (LibraryUnlockAll, which calls _VeloITerm).
 * Loader texts are shown as they are and never used as a format.
 */
#include "registry_internal.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

extern "C" {
VxHostFunc CoreFuncTable[VX_CORE_FUNCS];
VxHostFunc InterFuncTable[VX_INTER_FUNCS];
void *LibHandles[VX_LIB_HANDLES];
VxLibrarySlot Libs[VX_LIBRARY_SLOTS];
VxUnlockRequest *UnlockList;
}

namespace {

// Lazy binding: a library's functions are resolved when first called.
constexpr int kLoadMode = RTLD_LAZY;
static_assert(kLoadMode == 1, "the loader mode is lazy binding, value 1");
// A count cannot be raised past this; a further lock is refused.
constexpr int32_t kMaxCount = std::numeric_limits<int32_t>::max();
// A path must fit into ParBuf, which shows it in the load failure text.
constexpr size_t kMaxPathLength = VX_PARBUF_SIZE - 1;

// The library entry points; their results are ignored.
using VeloInitFunc = int (*)(VxHostFunc *core);
using VeloIInitFunc = int (*)(VxHostFunc *inter, void *handle);
using VeloITermFunc = int (*)(void);

void *toolkitAlloc(size_t size) { return Nlm_MemGet(size, MGET_CLEAR); }

VxRegistryAlloc registryAlloc = toolkitAlloc;

// Why the last my_LibraryLock failed in the loader; empty when it did not.
std::string loadError;

// Shows text in a message box exactly as it is.
void showText(const char *text) { Nlm_Message(MSG_OK, "%s", text); }

// Index of the first slot in use that holds handle, or -1.
int findSlot(const void *handle) {
  if (handle == nullptr) return -1;
  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i) {
    if (Libs[i].name != nullptr && Libs[i].handle == handle) return i;
  }
  return -1;
}

// Lowers the count of slot i; at 0 the slot becomes free and the library
// is closed.  The slot must be in use.
void releaseSlot(int i) {
  VxLibrarySlot &slot = Libs[i];
  if (--slot.count > 0) return;
  void *handle = slot.handle;
  Nlm_MemFree(slot.name);
  slot.name = nullptr;
  slot.handle = nullptr;
  slot.count = 0;
  dlclose(handle);
}

// A copy of text in a block of the registry's allocator, or NULL.
Nlm_CharPtr saveString(const std::string &text) {
  auto copy = static_cast<Nlm_CharPtr>(registryAlloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Records a load failure: ParBuf gets the path followed by the
// [KernelErrors] LIBLOAD text, and the loader's text is kept for the caller.
void loadFailed(const std::string &path, const char *loaderText) {
  loadError = loaderText != nullptr ? loaderText : "";
  std::memcpy(ParBuf, path.c_str(), path.size() + 1);
  GetParamAppend("KernelErrors", "LIBLOAD");
}

// Removes every LibHandles entry that holds handle.
void forgetHandle(const void *handle) {
  for (void *&entry : LibHandles) {
    if (entry == handle) entry = nullptr;
  }
}

// Looks name up in the library; NULL when it is missing, and then *error
// holds the loader's text (NULL when the loader gave none).
void *lookUp(void *handle, const char *name, const char **error) {
  *error = nullptr;
  if (handle == nullptr || name == nullptr) return nullptr;
  dlerror();  // a stale text must not be taken for this lookup's
  void *address = dlsym(handle, name);
  if (address == nullptr) *error = dlerror();
  return address;
}

}  // namespace

extern "C" {

VxRegistryAlloc registrySetAllocator(VxRegistryAlloc alloc) {
  VxRegistryAlloc previous = registryAlloc;
  registryAlloc = alloc != nullptr ? alloc : toolkitAlloc;
  return previous;
}

const char *my_LibraryLoadError(void) { return loadError.empty() ? nullptr : loadError.c_str(); }

void *my_LibraryLock(const char *pathArg) {
  loadError.clear();
  if (pathArg == nullptr) return nullptr;
  // A copy, because the caller's path usually lies in ParBuf.
  const std::string path(pathArg);
  if (path.size() > kMaxPathLength) {
    Nlm_Message(MSG_OK, "Shared library path of %d characters is too long (at most %d)",
                static_cast<int>(path.size()), static_cast<int>(kMaxPathLength));
    return nullptr;
  }

  int freeSlot = -1;
  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i) {
    VxLibrarySlot &slot = Libs[i];
    if (slot.name == nullptr) {
      if (freeSlot < 0) freeSlot = i;
    } else if (Nlm_StringCmp(slot.name, path.c_str()) == 0) {
      if (slot.count == kMaxCount) {
        Nlm_Message(MSG_OK, "Shared library '%s' is locked too many times", path.c_str());
        return nullptr;
      }
      ++slot.count;
      return slot.handle;
    }
  }
  if (freeSlot < 0) {
    Nlm_Message(MSG_OK, "More then %i shared libraries are loaded", VX_LIBRARY_SLOTS);
    return nullptr;
  }

  // The loader takes an empty path for the program itself, which is no
  // library of ours.
  if (path.empty()) {
    loadFailed(path, "No shared library path given");
    return nullptr;
  }
  void *handle = dlopen(path.c_str(), kLoadMode);
  if (handle == nullptr) {
    loadFailed(path, dlerror());
    return nullptr;
  }
  Nlm_CharPtr name = saveString(path);
  if (name == nullptr) {
    dlclose(handle);
    Nlm_Message(MSG_OK, "Not enough memory to register shared library '%s'", path.c_str());
    return nullptr;
  }
  VxLibrarySlot &slot = Libs[freeSlot];
  slot.name = name;
  slot.handle = handle;
  slot.count = 1;
  return handle;
}

int my_LibraryUnlock(void *handle) {
  int i = findSlot(handle);
  if (i >= 0) releaseSlot(i);
  return i;
}

void *LibraryLock(const char *key) {
  if (key == nullptr) return nullptr;
  Nlm_CharPtr path = GetParam("Libraries", key);
  if (path == nullptr) return nullptr;
  void *handle = my_LibraryLock(path);
  if (handle == nullptr) {
    if (const char *text = my_LibraryLoadError()) showText(text);
    return nullptr;
  }
  if (auto init = reinterpret_cast<VeloInitFunc>(LibraryFuncAddressCond(handle, "_VeloInit"))) {
    init(CoreFuncTable);
  }
  if (auto iinit = reinterpret_cast<VeloIInitFunc>(LibraryFuncAddressCond(handle, "_VeloIInit"))) {
    iinit(InterFuncTable, handle);
  }
  return handle;
}

void *LibraryUnlock(void *handle) {
  my_LibraryUnlock(handle);
  return nullptr;
}

void *LibraryFuncAddress(void *handle, const char *name) {
  const char *error = nullptr;
  void *address = lookUp(handle, name, &error);
  if (error != nullptr) showText(error);
  return address;
}

void *LibraryFuncAddressCond(void *handle, const char *name) {
  const char *error = nullptr;
  return lookUp(handle, name, &error);
}

VxUnlockRequest *LibraryUnlockRequest(void *handle, VxUnlockCallback callback) {
  auto request = static_cast<VxUnlockRequest *>(registryAlloc(sizeof(VxUnlockRequest)));
  if (request == nullptr) {
    Nlm_Message(MSG_OK, "Not enough memory to record the release of a shared library");
    return nullptr;
  }
  request->callback = callback;
  request->handle = handle;
  request->next = UnlockList;
  UnlockList = request;
  return request;
}

void LibraryUnlockRequested(void) {
  // Each request leaves the list before its callback runs, so a request
  // that the callback records (it goes to the head) is carried out next,
  // in this same call, and a nested call never sees the running one.
  while (VxUnlockRequest *request = UnlockList) {
    UnlockList = request->next;
    if (request->callback != nullptr) request->callback();
    int i = findSlot(request->handle);
    if (i >= 0 && Libs[i].count == 1) forgetHandle(request->handle);
    LibraryUnlock(request->handle);
    Nlm_MemFree(request);
  }
}

void LibraryUnlockAll(void) {
  // Pending requests would outlive the libraries they name: their callbacks
  // run now, while every library is still loaded, and the releases below
  // take the place of theirs.
  while (VxUnlockRequest *request = UnlockList) {
    UnlockList = request->next;
    if (request->callback != nullptr) request->callback();
    if (findSlot(request->handle) >= 0) forgetHandle(request->handle);
    Nlm_MemFree(request);
  }

  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i) {
    VxLibrarySlot &slot = Libs[i];
    if (slot.name == nullptr || slot.count <= 0) continue;
    void *handle = slot.handle;
    while (slot.handle == handle && slot.count > 1)
      releaseSlot(i);
    if (auto term = reinterpret_cast<VeloITermFunc>(LibraryFuncAddressCond(handle, "_VeloITerm"))) {
      term();
    }
    // _VeloITerm may itself have released the library.
    if (slot.handle == handle && slot.count > 0) releaseSlot(i);
  }
}

}  // extern "C"
