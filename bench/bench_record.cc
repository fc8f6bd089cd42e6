/*
 * bench_record.cc - reading the record of an installation, from 1,250 to
 * 20,000 lines.
 *
 * A record of N entries (each with its description line, as an
 * installation writes them, in no order) is parsed again and again; the
 * time per line at each size tells whether reading stays linear: a reader
 * that sorts at every line takes sixteen times as long per line at the
 * largest size as at the smallest.
 */
#include <benchmark/benchmark.h>

#include <string>

#include "install_record.h"

namespace {

constexpr char kDigest[] = "0b5d4f3c2a1908f7e6d5c4b3a29180f7e6d5c4b3a2918f7e6d5c4b3a29180fe1";

std::string recordOf(long entries) {
  std::string text = "# velorix-setup: the files of the installation in this directory.\n";
  for (long n = 0; n < entries; ++n) {
    // Names out of order, so that a reader that keeps them sorted works.
    const long name = (n * 7919) % entries;
    text += "# 0644 1000:1000 " + std::to_string(n) + "\n";
    text += std::string(kDigest) + "  ./file" + std::to_string(name) + ".vpf\n";
  }
  return text;
}

void BM_ParseRecord(benchmark::State &state) {
  const std::string text = recordOf(state.range(0));
  for (auto _ : state) {
    InstallRecord record("/home/ann/velorix");
    const Result parsed = InstallRecord::Parse(record.directory(), text, &record);
    if (!parsed.ok()) state.SkipWithError("the record does not parse");
    benchmark::DoNotOptimize(record.entries().data());
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseRecord)->RangeMultiplier(2)->Range(1250, 20000)->Complexity(benchmark::oN);

}  // namespace
