/*
 * bench_settings.cc - reference expansion against its floor.
 *
 * The settings file is the built-in template with a chain of five nested
 * references added to [Paths] (E refers to D, ... A refers to KERNEL).
 * GetParam of E needs six lookups in the core library's parsed copy; the
 * floor is those six Nlm_GetAppParam calls and nothing else, each with
 * the default "" as a caller would write it.  GetParam makes them without
 * a default, which gives the same result for less: the same lookups made
 * so are timed too, so that the report can show what the expansion itself
 * costs.  The peer, Python's configparser reading the same chain, is
 * timed by scripts/bench.sh.
 */
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <iterator>
#include <string>

#include "bench_support.h"
#include "templates.h"

namespace {

constexpr const char *kChain[] = {"KERNEL", "A", "B", "C", "D", "E"};
constexpr const char *kExpected = "/opt/velorix/abcde";

// The template with KERNEL set and the chain right after the [Paths]
// header, so that each lookup searches a file of the real size.
std::string ChainSettings() {
  std::string text;
  for (std::size_t i = 0; i < kSetDataLines && SetData[i] != nullptr; ++i) {
    const std::string line = SetData[i];
    if (line == "KERNEL=") continue;
    text += line + "\n";
    if (line == "[Paths]") {
      text += "KERNEL=/opt/velorix/\n"
              "A=$(Paths.KERNEL)a\n"
              "B=$(Paths.A)b\n"
              "C=$(Paths.B)c\n"
              "D=$(Paths.C)d\n"
              "E=$(Paths.D)e\n";
    }
  }
  return text;
}

bool Prepare(benchmark::State &state) {
  vxbench::UseSettings(ChainSettings());
  vxbench::MessageCount() = 0;
  const char *value = GetParam("Paths", "E");
  if (value == nullptr || std::strcmp(value, kExpected) != 0) {
    state.SkipWithError("the chain does not expand as expected");
    return false;
  }
  return true;
}

void BM_GetParamFiveReferences(benchmark::State &state) {
  if (!Prepare(state)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetParam("Paths", "E"));
  }
  if (vxbench::MessageCount() != 0) state.SkipWithError("messages were shown");
}
BENCHMARK(BM_GetParamFiveReferences);

// The six raw lookups, each into a settings-sized buffer, with the given
// default.
void SixRawLookups(benchmark::State &state, const char *fallback) {
  if (!Prepare(state)) return;
  std::array<char, VX_PARBUF_SIZE> buf{};
  for (auto _ : state) {
    for (const char *key : kChain) {
      benchmark::DoNotOptimize(Nlm_GetAppParam(VX_SETTINGS_BASE, "Paths", key, fallback, buf.data(),
                                               static_cast<Nlm_Int2>(buf.size())));
    }
    benchmark::ClobberMemory();
  }
}

// The floor.
void BM_SixRawLookups(benchmark::State &state) { SixRawLookups(state, ""); }
BENCHMARK(BM_SixRawLookups);

// The lookups as GetParam makes them.
void BM_SixRawLookupsNoDefault(benchmark::State &state) { SixRawLookups(state, nullptr); }
BENCHMARK(BM_SixRawLookupsNoDefault);

// What reading the chain costs at the least: the lookups, each value
// scanned where it lies for the reference it holds, and the last one
// copied out, with none of the checks (lengths, loops, depth, marks, "%",
// formatting) that GetParam makes and nothing written but the result.
// Not a usable expansion; it shows how much of GetParam's time above the
// floor the checks and the writing of the text take.
void BM_BareChainWalk(benchmark::State &state) {
  if (!Prepare(state)) return;
  std::array<std::array<char, VX_PARBUF_SIZE + 1>, std::size(kChain)> values{};
  std::array<const char *, std::size(kChain)> suffix{};  // after each value's reference
  std::array<char, VX_PARBUF_SIZE> result{};
  for (auto _ : state) {
    Nlm_GetAppParam(VX_SETTINGS_BASE, "Paths", "E", nullptr, values[0].data(),
                    static_cast<Nlm_Int2>(values[0].size()));
    std::size_t level = 0;
    for (char *dollar = std::strchr(values[0].data(), '$'); dollar != nullptr;
         dollar = std::strchr(values[level].data(), '$')) {
      char *dot = std::strchr(dollar, '.');
      char *close = std::strchr(dot, ')');
      *dot = '\0';
      *close = '\0';
      suffix[level] = close + 1;
      ++level;
      Nlm_GetAppParam(VX_SETTINGS_BASE, dollar + 2, dot + 1, nullptr, values[level].data(),
                      static_cast<Nlm_Int2>(values[level].size()));
    }
    std::strcpy(result.data(), values[level].data());
    for (std::size_t l = level; l-- > 0;)
      std::strcat(result.data(), suffix[l]);
    benchmark::DoNotOptimize(result.data());
    benchmark::ClobberMemory();
  }
  if (std::strcmp(result.data(), kExpected) != 0)
    state.SkipWithError("the bare walk expanded wrongly");
}
BENCHMARK(BM_BareChainWalk);

// The same chain read without formatting, for comparison.
void BM_GetParamStringFiveReferences(benchmark::State &state) {
  if (!Prepare(state)) return;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetParamString("Paths", "E"));
  }
  if (vxbench::MessageCount() != 0) state.SkipWithError("messages were shown");
}
BENCHMARK(BM_GetParamStringFiveReferences);

}  // namespace
