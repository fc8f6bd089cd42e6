/*
 * test_registry.cc - tests of the shared-library registry with real shared
 * libraries: record.c (entry points that report to the recorder below
 * through CoreFuncTable[0]) and plain.c (no entry points).  The test works
 * in a private directory holding copies of both and a settings file whose
 * [Libraries] keys name them.  Messages are caught with the toolkit's
 * message hook.
 */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "registry_internal.h"
#include "settings_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPlainCopies = VX_LIBRARY_SLOTS + 1;

std::vector<std::string> &messages = vxtest::Messages();

// One call of an entry point of record.c.
struct Event {
  std::string what;                              // "init", "iinit" or "iterm"
  std::string file;                              // the loaded file that made the call
  void *table;                                   // the table it received
  void *handle;                                  // the handle it received (iinit)
  std::array<int32_t, VX_LIBRARY_SLOTS> counts;  // the slot counts then
};
std::vector<Event> events;

extern "C" void recordEvent(const char *what, const void *self, void *table, void *handle) {
  Dl_info info{};
  dladdr(self, &info);
  Event e{what, info.dli_fname != nullptr ? info.dli_fname : "", table, handle, {}};
  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i)
    e.counts[i] = Libs[i].count;
  events.push_back(e);
}

// Whether the loader has path loaded (without loading it).
bool isLoaded(const std::string &path) {
  void *h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

int slotsInUse() {
  int n = 0;
  for (const VxLibrarySlot &slot : Libs)
    n += slot.name != nullptr;
  return n;
}

std::string scratch;  // the private directory, with a trailing "/"
std::string recordPath() { return scratch + "record.so"; }
std::string plainPath() { return scratch + "plain.so"; }
std::string plainCopy(int i) {
  char name[32];
  snprintf(name, sizeof name, "plain%02d.so", i);
  return scratch + name;
}
std::string plainKey(int i) {
  char key[16];
  snprintf(key, sizeof key, "P%02d", i);
  return key;
}

// The private directory with the libraries and the settings file.
class RegistryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(directory_.Make("registry-XXXXXX", true));
    scratch = directory_.path().string() + "/";
    fs::copy_file(VX_RECORD_LIB, recordPath());
    fs::copy_file(VX_PLAIN_LIB, plainPath());
    for (int i = 0; i < kPlainCopies; ++i)
      fs::copy_file(VX_PLAIN_LIB, plainCopy(i));

    std::ofstream rc(".velorixrc");
    rc << "[Libraries]\n"
       << "RECORD=" << recordPath() << "\n"
       << "RECORD2=" << scratch << "./record.so\n"
       << "PLAIN=" << plainPath() << "\n"
       << "MISSING=" << scratch << "missing%%s.so\n"
       << "EMPTY=`\n";
    for (int i = 0; i < kPlainCopies; ++i)
      rc << plainKey(i) << "=" << plainCopy(i) << "\n";
    rc << "\n[KernelErrors]\n"
       << "LIBLOAD=- cannot load.~\n"
       << "LIBLOAD=- cannot load shared library\n";
    rc.close();
    ASSERT_TRUE(rc);
    SettingsReload();
    Nlm_SetMessageHook(vxtest::CaptureMessage);
  }
  void TearDown() override {
    LibraryUnlockAll();
    directory_.Remove();
  }

 private:
  vxtest::ScratchDirectory directory_;
};

const auto *environment = ::testing::AddGlobalTestEnvironment(new RegistryEnvironment);

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(slotsInUse(), 0);
    ASSERT_EQ(UnlockList, nullptr);
    messages.clear();
    events.clear();
    CoreFuncTable[0] = reinterpret_cast<VxHostFunc>(recordEvent);
    LibHandles[0] = nullptr;
  }
  void TearDown() override {
    registrySetAllocator(nullptr);
    LibraryUnlockAll();
    EXPECT_EQ(slotsInUse(), 0);
    EXPECT_FALSE(isLoaded(recordPath()));
    EXPECT_FALSE(isLoaded(plainPath()));
  }
};

TEST_F(Registry, LockingAKeyTwiceLoadsOnceAndInitialisesTwice) {
  ASSERT_FALSE(isLoaded(recordPath()));
  void *first = LibraryLock("RECORD");
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(isLoaded(recordPath()));
  void *second = LibraryLock("RECORD");
  EXPECT_EQ(second, first);
  EXPECT_STREQ(Libs[0].name, recordPath().c_str());
  EXPECT_EQ(Libs[0].handle, first);
  EXPECT_EQ(Libs[0].count, 2);
  EXPECT_EQ(slotsInUse(), 1);
  EXPECT_TRUE(messages.empty());

  ASSERT_EQ(events.size(), 4u);
  for (int lock = 0; lock < 2; ++lock) {
    const Event &init = events[2 * lock];
    const Event &iinit = events[2 * lock + 1];
    EXPECT_EQ(init.what, "init");
    EXPECT_EQ(init.table, static_cast<void *>(CoreFuncTable));
    EXPECT_EQ(init.file, recordPath());
    EXPECT_EQ(iinit.what, "iinit");
    EXPECT_EQ(iinit.table, static_cast<void *>(InterFuncTable));
    EXPECT_EQ(iinit.handle, first);
  }

  EXPECT_EQ(LibraryUnlock(first), nullptr);
  EXPECT_TRUE(isLoaded(recordPath()));
  EXPECT_EQ(Libs[0].count, 1);
  EXPECT_EQ(LibraryUnlock(first), nullptr);
  EXPECT_FALSE(isLoaded(recordPath()));
  EXPECT_EQ(Libs[0].name, nullptr);
  EXPECT_EQ(Libs[0].handle, nullptr);
  // Plain unlocking never terminates a library.
  EXPECT_EQ(events.size(), 4u);
}

TEST_F(Registry, TwoPathsToOneFileTakeTwoSlots) {
  void *a = LibraryLock("RECORD");
  void *b = LibraryLock("RECORD2");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(b, a);
  EXPECT_EQ(slotsInUse(), 2);
  EXPECT_EQ(Libs[0].count, 1);
  EXPECT_EQ(Libs[1].count, 1);
  EXPECT_STREQ(Libs[1].name, (scratch + "./record.so").c_str());

  // The common handle releases the first slot in index order.
  EXPECT_EQ(my_LibraryUnlock(b), 0);
  EXPECT_EQ(Libs[0].name, nullptr);
  EXPECT_EQ(Libs[1].count, 1);
  EXPECT_TRUE(isLoaded(recordPath()));
  EXPECT_EQ(my_LibraryUnlock(b), 1);
  EXPECT_FALSE(isLoaded(recordPath()));
}

TEST_F(Registry, TwentyFirstLibraryIsRefusedWhileATwentiethLocksAgain) {
  std::array<void *, VX_LIBRARY_SLOTS> handles{};
  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i) {
    handles[i] = LibraryLock(plainKey(i).c_str());
    ASSERT_NE(handles[i], nullptr) << i;
    EXPECT_EQ(Libs[i].handle, handles[i]);
  }
  EXPECT_TRUE(messages.empty());

  // The libraries lack the entry points, so lookups have failed before:
  // only the registry's own message may appear, no stale loader text.
  EXPECT_EQ(LibraryLock(plainKey(VX_LIBRARY_SLOTS).c_str()), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "More then 20 shared libraries are loaded");
  EXPECT_FALSE(isLoaded(plainCopy(VX_LIBRARY_SLOTS)));
  EXPECT_EQ(slotsInUse(), VX_LIBRARY_SLOTS);

  EXPECT_EQ(LibraryLock(plainKey(5).c_str()), handles[5]);
  EXPECT_EQ(Libs[5].count, 2);
  EXPECT_EQ(messages.size(), 1u);

  LibraryUnlockAll();
  EXPECT_EQ(slotsInUse(), 0);
  for (int i = 0; i < VX_LIBRARY_SLOTS; ++i)
    EXPECT_FALSE(isLoaded(plainCopy(i))) << i;
  // The registry is usable again after releasing everything.
  EXPECT_NE(LibraryLock(plainKey(VX_LIBRARY_SLOTS).c_str()), nullptr);
  EXPECT_EQ(Libs[0].count, 1);
}

TEST_F(Registry, FailedLoadLeavesNoTraceAndShowsTheLoaderTextVerbatim) {
  void *plain = LibraryLock("PLAIN");
  ASSERT_NE(plain, nullptr);

  // The settings value doubles its "%"; the path holds a single one.
  const std::string missing = scratch + "missing%s.so";
  EXPECT_EQ(LibraryLock("MISSING"), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(missing + ": cannot open shared object file", 0), 0u) << messages[0];
  EXPECT_STREQ(ParBuf, (missing + "- cannot load.\n").c_str());
  EXPECT_EQ(slotsInUse(), 1);
  EXPECT_EQ(Libs[1].name, nullptr);
  EXPECT_EQ(Libs[1].handle, nullptr);
  EXPECT_EQ(Libs[1].count, 0);
  EXPECT_TRUE(events.empty());

  // The slot that the failed load would have taken is the next one used.
  EXPECT_NE(LibraryLock("RECORD"), nullptr);
  EXPECT_STREQ(Libs[1].name, recordPath().c_str());
}

TEST_F(Registry, EmptyPathIsALoadFailureNotTheProgramItself) {
  EXPECT_EQ(LibraryLock("EMPTY"), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "No shared library path given");
  EXPECT_STREQ(ParBuf, "- cannot load.\n");
  EXPECT_EQ(slotsInUse(), 0);
}

TEST_F(Registry, MissingKeyShowsTheSettingsMessageOnly) {
  EXPECT_EQ(LibraryLock("NOSUCH"), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Settings file 'velorix', section 'Libraries', key 'NOSUCH': not found");
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_EQ(LibraryLock(nullptr), nullptr);
}

TEST_F(Registry, UnlockAllTerminatesOnceBeforeTheLastRelease) {
  void *h = LibraryLock("RECORD");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(LibraryLock("RECORD"), h);
  ASSERT_EQ(LibraryLock("RECORD"), h);
  void *plain = LibraryLock("PLAIN");
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(Libs[0].count, 3);
  events.clear();

  LibraryUnlockAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].what, "iterm");
  EXPECT_EQ(events[0].file, recordPath());
  // Two releases done, the third one still to come.
  EXPECT_EQ(events[0].counts[0], 1);
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_FALSE(isLoaded(recordPath()));
  EXPECT_FALSE(isLoaded(plainPath()));
  EXPECT_TRUE(messages.empty());
}

// Callbacks of deferred requests write here what they saw.
struct Seen {
  std::string who;
  void *libHandle;
  int32_t count;
};
std::vector<Seen> seen;
void *requested;  // the handle that the callbacks below record requests for

void see(const char *who) { seen.push_back({who, LibHandles[0], Libs[0].count}); }
void olderCallback() { see("older"); }
void newerCallback() { see("newer"); }
void innerCallback() { see("inner"); }
void recordingCallback() {
  see("recording");
  EXPECT_NE(LibraryUnlockRequest(requested, innerCallback), nullptr);
}
void nestingCallback() {
  see("nesting");
  LibraryUnlockRequested();
}

class Deferred : public Registry {
 protected:
  void SetUp() override {
    Registry::SetUp();
    seen.clear();
  }
  // Locks RECORD times times; its handle also goes into LibHandles.
  void lockRecord(int times) {
    for (int i = 0; i < times; ++i)
      requested = LibraryLock("RECORD");
    ASSERT_NE(requested, nullptr);
    ASSERT_EQ(Libs[0].count, times);
    LibHandles[0] = requested;
  }
};

TEST_F(Deferred, TwoRequestsRunNewestFirstAndClearLibHandlesAtTheLastRelease) {
  lockRecord(2);
  ASSERT_NE(LibraryUnlockRequest(requested, olderCallback), nullptr);
  ASSERT_NE(LibraryUnlockRequest(requested, newerCallback), nullptr);
  EXPECT_EQ(Libs[0].count, 2);  // nothing released yet
  EXPECT_TRUE(seen.empty());

  LibraryUnlockRequested();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].who, "newer");
  EXPECT_EQ(seen[0].count, 2);
  EXPECT_EQ(seen[0].libHandle, requested);
  EXPECT_EQ(seen[1].who, "older");
  EXPECT_EQ(seen[1].count, 1);
  EXPECT_EQ(seen[1].libHandle, requested);  // not cleared by the first release
  EXPECT_EQ(LibHandles[0], nullptr);
  EXPECT_EQ(UnlockList, nullptr);
  EXPECT_FALSE(isLoaded(recordPath()));
}

TEST_F(Deferred, ARequestThatKeepsTheLibraryLoadedKeepsLibHandles) {
  lockRecord(2);
  ASSERT_NE(LibraryUnlockRequest(requested, nullptr), nullptr);
  LibraryUnlockRequested();
  EXPECT_EQ(LibHandles[0], requested);
  EXPECT_EQ(Libs[0].count, 1);
  EXPECT_TRUE(isLoaded(recordPath()));
}

TEST_F(Deferred, ARequestRecordedByACallbackRunsOnceInTheSameCall) {
  lockRecord(3);
  ASSERT_NE(LibraryUnlockRequest(requested, olderCallback), nullptr);
  ASSERT_NE(LibraryUnlockRequest(requested, recordingCallback), nullptr);

  LibraryUnlockRequested();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].who, "recording");
  EXPECT_EQ(seen[1].who, "inner");
  EXPECT_EQ(seen[1].count, 2);
  EXPECT_EQ(seen[2].who, "older");
  EXPECT_EQ(seen[2].count, 1);
  EXPECT_EQ(UnlockList, nullptr);
  EXPECT_FALSE(isLoaded(recordPath()));
  EXPECT_EQ(LibHandles[0], nullptr);
}

TEST_F(Deferred, ANestedRunCarriesOutEachRequestOnce) {
  lockRecord(2);
  ASSERT_NE(LibraryUnlockRequest(requested, olderCallback), nullptr);
  ASSERT_NE(LibraryUnlockRequest(requested, nestingCallback), nullptr);

  LibraryUnlockRequested();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].who, "nesting");
  EXPECT_EQ(seen[1].who, "older");
  EXPECT_EQ(UnlockList, nullptr);
  EXPECT_FALSE(isLoaded(recordPath()));
}

TEST_F(Deferred, UnlockAllRunsPendingCallbacksWhileTheLibraryIsLoaded) {
  lockRecord(1);
  ASSERT_NE(LibraryUnlockRequest(requested, olderCallback), nullptr);
  LibraryUnlockAll();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].count, 1);
  EXPECT_EQ(UnlockList, nullptr);
  EXPECT_EQ(LibHandles[0], nullptr);
  ASSERT_EQ(events.size(), 3u);  // init, iinit, iterm: terminated all the same
  EXPECT_EQ(events[2].what, "iterm");
  EXPECT_FALSE(isLoaded(recordPath()));
  // Carried out already: a later run finds nothing to do.
  LibraryUnlockRequested();
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(Registry, FunctionLookup) {
  EXPECT_EQ(LibraryFuncAddress(nullptr, "vx_plain_answer"), nullptr);
  EXPECT_EQ(LibraryFuncAddressCond(nullptr, "vx_plain_answer"), nullptr);
  EXPECT_TRUE(messages.empty());

  void *h = LibraryLock("PLAIN");
  ASSERT_NE(h, nullptr);
  auto answer = reinterpret_cast<int (*)()>(LibraryFuncAddress(h, "vx_plain_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(LibraryFuncAddressCond(h, "no_such"), nullptr);
  EXPECT_TRUE(messages.empty());

  // A loader text holding directives is shown as it is.
  EXPECT_EQ(LibraryFuncAddress(h, "no_such%s%n%p"), nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(plainPath() + ": undefined symbol: no_such%s%n%p"), std::string::npos)
      << messages[0];
}

TEST_F(Registry, ReleasingNothingOrAForeignHandleChangesNothing) {
  int foreign = 0;
  void *h = LibraryLock("RECORD");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LibraryUnlock(nullptr), nullptr);
  EXPECT_EQ(LibraryUnlock(&foreign), nullptr);
  EXPECT_EQ(my_LibraryUnlock(nullptr), -1);
  EXPECT_EQ(my_LibraryUnlock(&foreign), -1);
  EXPECT_EQ(Libs[0].count, 1);
  EXPECT_TRUE(isLoaded(recordPath()));
}

void *noMemory(size_t) { return nullptr; }

TEST_F(Registry, AllocationFailuresAreReportedAndLeaveNothingBehind) {
  void *h = LibraryLock("PLAIN");
  ASSERT_NE(h, nullptr);
  registrySetAllocator(noMemory);
  EXPECT_EQ(LibraryUnlockRequest(h, nullptr), nullptr);
  EXPECT_EQ(UnlockList, nullptr);
  ASSERT_EQ(messages.size(), 1u);

  EXPECT_EQ(my_LibraryLock(recordPath().c_str()), nullptr);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].find(recordPath()), std::string::npos) << messages[1];
  EXPECT_FALSE(isLoaded(recordPath()));
  EXPECT_EQ(slotsInUse(), 1);
  EXPECT_EQ(Libs[0].count, 1);
}

TEST_F(Registry, LimitsAreRefusedWithAMessage) {
  void *h = LibraryLock("RECORD");
  ASSERT_NE(h, nullptr);
  events.clear();
  Libs[0].count = INT32_MAX;
  EXPECT_EQ(LibraryLock("RECORD"), nullptr);
  EXPECT_EQ(Libs[0].count, INT32_MAX);
  EXPECT_TRUE(events.empty());
  ASSERT_EQ(messages.size(), 1u);
  Libs[0].count = 1;

  const std::string overlong(VX_PARBUF_SIZE, 'x');
  EXPECT_EQ(my_LibraryLock(overlong.c_str()), nullptr);
  EXPECT_EQ(messages.size(), 2u);
  EXPECT_EQ(slotsInUse(), 1);
}

TEST_F(Registry, APathInParBufIsLockedAndReportedIntact) {
  const std::string missing = scratch + "absent.so";
  std::strcpy(ParBuf, missing.c_str());
  EXPECT_EQ(my_LibraryLock(ParBuf), nullptr);
  EXPECT_STREQ(ParBuf, (missing + "- cannot load.\n").c_str());
  ASSERT_NE(my_LibraryLoadError(), nullptr);
  EXPECT_NE(std::strstr(my_LibraryLoadError(), "absent.so"), nullptr);

  std::strcpy(ParBuf, plainPath().c_str());
  void *h = my_LibraryLock(ParBuf);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(my_LibraryLoadError(), nullptr);
  EXPECT_STREQ(Libs[0].name, plainPath().c_str());
}

}  // namespace
