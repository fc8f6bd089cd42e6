/*
 * bench_notice.cc - the shell commands that the Setup window runs at
 * start-up to make the notice preview, timed on their own, so that the
 * start-up figure can be split into the toolkit's part and theirs.
 */
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_support.h"
#include "notice_preview.h"

namespace {

void BM_NoticePreviewCommands(benchmark::State &state) {
  vxbench::PrivateDirectory();
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::system(kNoticeCommand));
    benchmark::DoNotOptimize(std::system(kNoticeCleanupCommand));
  }
}
BENCHMARK(BM_NoticePreviewCommands)->Unit(benchmark::kMillisecond);

}  // namespace
