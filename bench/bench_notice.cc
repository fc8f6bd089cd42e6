/*
 * bench_notice.cc - the shell commands that the Setup window runs at
 * start-up to make the notice preview (and the removal of its scratch
 * files), timed on their own.  The window starts them first and builds
 * its controls while they run, so this is the most they can add to the
 * start-up.
 */
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <unistd.h>

#include "bench_support.h"
#include "notice.h"

namespace {

void BM_NoticePreviewCommands(benchmark::State &state) {
  vxbench::PrivateDirectory();
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::system(kNoticeCommand));
    for (const char *name : kNoticeScratchFiles)
      benchmark::DoNotOptimize(unlink(name));
  }
}
BENCHMARK(BM_NoticePreviewCommands)->Unit(benchmark::kMillisecond);

}  // namespace
