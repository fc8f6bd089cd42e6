/*
 * bench_settings.cc - reference expansion against its floor.
 *
 * The settings file is the built-in template with a chain of five nested
 * references added to [Paths] (E refers to D, ... A refers to KERNEL).
 * GetParam of E needs six lookups in the core library's parsed copy; the
 * floor is those six Nlm_GetAppParam calls and nothing else.  The peer,
 * Python's configparser reading the same chain, is timed by scripts/bench.sh.
 */
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
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

// The floor: the six raw lookups, each into a settings-sized buffer.
void BM_SixRawLookups(benchmark::State &state) {
  if (!Prepare(state)) return;
  std::array<char, VX_PARBUF_SIZE> buf{};
  for (auto _ : state) {
    for (const char *key : kChain) {
      benchmark::DoNotOptimize(Nlm_GetAppParam(VX_SETTINGS_BASE, "Paths", key, "", buf.data(),
                                               static_cast<Nlm_Int2>(buf.size())));
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SixRawLookups);

// What the splice-and-rescan expansion costs at the least: the lookups,
// finding each reference and splicing its value in, with none of the
// checks (lengths, loops, depth, marks, "%", formatting) that GetParam
// makes.  Not a usable expansion; it shows how much of GetParam's time
// above the floor the algorithm itself takes.
void BM_BareSpliceLoop(benchmark::State &state) {
  if (!Prepare(state)) return;
  std::array<char, VX_PARBUF_SIZE + 1> text{};
  std::array<char, VX_PARBUF_SIZE + 1> value{};
  std::array<char, VX_PARBUF_SIZE> section{};
  std::array<char, VX_PARBUF_SIZE> key{};
  for (auto _ : state) {
    Nlm_GetAppParam(VX_SETTINGS_BASE, "Paths", "E", "", text.data(),
                    static_cast<Nlm_Int2>(text.size()));
    std::size_t length = std::strlen(text.data());
    for (char *dollar = std::strchr(text.data(), '$'); dollar != nullptr;
         dollar = std::strchr(dollar, '$')) {
      char *dot = std::strchr(dollar, '.');
      char *close = std::strchr(dot, ')');
      std::memcpy(section.data(), dollar + 2, static_cast<std::size_t>(dot - dollar - 2));
      section[static_cast<std::size_t>(dot - dollar - 2)] = '\0';
      std::memcpy(key.data(), dot + 1, static_cast<std::size_t>(close - dot - 1));
      key[static_cast<std::size_t>(close - dot - 1)] = '\0';
      Nlm_GetAppParam(VX_SETTINGS_BASE, section.data(), key.data(), "", value.data(),
                      static_cast<Nlm_Int2>(value.size()));
      const std::size_t valueLength = std::strlen(value.data());
      const std::size_t start = static_cast<std::size_t>(dollar - text.data());
      const std::size_t end = static_cast<std::size_t>(close + 1 - text.data());
      std::memmove(text.data() + start + valueLength, text.data() + end, length - end + 1);
      std::memcpy(text.data() + start, value.data(), valueLength);
      length = start + valueLength + length - end;
    }
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  if (std::strcmp(text.data(), kExpected) != 0)
    state.SkipWithError("the bare loop expanded wrongly");
}
BENCHMARK(BM_BareSpliceLoop);

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
