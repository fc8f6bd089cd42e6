/*
 * bench_descriptor.cc - the description-file reader against a raw fgets
 * loop over the same bytes.
 *
 * The main file is 10 MiB of ordinary lines: sections, entries with "|"
 * columns, comment lines and trailing comments, one line in a hundred with
 * a settings reference, and one in a thousand an include of a small file.
 * GetLine reads it all, following the includes; the floor reads, with
 * fgets into a buffer of the same size, one file that holds the same bytes
 * in the same order (each included file's text placed after its include
 * line).  Both report bytes per second over those bytes.
 */
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <string>

#include "bench_support.h"

namespace {

constexpr std::size_t kMainBytes = 10u << 20;
constexpr int kReferenceEvery = 100;
constexpr int kIncludeEvery = 1000;
constexpr int kSectionEvery = 50;
constexpr const char *kIncluded = "! included by the main file\n"
                                  "Fold | LP | 1\n"
                                  "Branch point | BP | 1 ! trailing comment\n"
                                  "Neutral saddle | NS | 2\n"
                                  "$(Paths.KERNEL)include.dat | data\n";

struct Files {
  std::string main;       // path of the main file
  std::string flat;       // path of the file of the same bytes, includes inlined
  std::size_t bytes = 0;  // bytes GetLine reads, included files counted
  std::size_t lines = 0;  // logical lines GetLine gives
};

// Writes the files once per process.
const Files &MakeFiles() {
  static const Files files = [] {
    Files made;
    const std::string &dir = vxbench::PrivateDirectory();
    vxbench::UseSettings("[Paths]\nKERNEL=" + dir + "/\n");
    vxbench::WriteFile(dir + "/inc.vel", kIncluded);
    std::string main;
    std::string flat;
    for (int n = 0; main.size() < kMainBytes; ++n) {
      std::string line;
      if (n % kSectionEvery == 0) {
        line = "&section" + std::to_string(n / kSectionEvery) + "\n";
      } else if (n % kIncludeEvery == 7) {
        line = "&&inc.vel\n";
      } else if (n % kReferenceEvery == 3) {
        line = "$(Paths.KERNEL)data" + std::to_string(n) + ".dat | data file\n";
      } else if (n % 10 == 5) {
        line = "! comment line number " + std::to_string(n) + " about the entries below\n";
      } else {
        line = "  Equilibrium point " + std::to_string(n) + " | EP | " + std::to_string(n % 7) +
               "   ! trailing comment\n";
      }
      main += line;
      flat += line;
      if (line == "&&inc.vel\n") flat += kIncluded;
    }
    made.main = dir + "/main.vel";
    made.flat = dir + "/flat.vel";
    vxbench::WriteFile(made.main, main);
    vxbench::WriteFile(made.flat, flat);
    made.bytes = flat.size();
    return made;
  }();
  return files;
}

void BM_GetLineTenMiB(benchmark::State &state) {
  const Files &files = MakeFiles();
  vxbench::MessageCount() = 0;
  std::array<Nlm_Char, VX_LINE_SIZE> line{};
  std::size_t lines = 0;
  for (auto _ : state) {
    if (!DescOpen(files.main.c_str())) {
      state.SkipWithError("cannot open the main file");
      return;
    }
    lines = 0;
    while (GetLine(line.data()) != nullptr)
      ++lines;
    DescClose();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.bytes));
  state.counters["lines"] = static_cast<double>(lines);
  if (vxbench::MessageCount() != 0) state.SkipWithError("messages were shown");
}
BENCHMARK(BM_GetLineTenMiB)->Unit(benchmark::kMillisecond);

void BM_FgetsTenMiB(benchmark::State &state) {
  const Files &files = MakeFiles();
  std::array<char, VX_LINE_SIZE> line{};
  std::size_t lines = 0;
  for (auto _ : state) {
    std::FILE *file = std::fopen(files.flat.c_str(), "r");
    if (file == nullptr) {
      state.SkipWithError("cannot open the flat file");
      return;
    }
    lines = 0;
    while (std::fgets(line.data(), static_cast<int>(line.size()), file) != nullptr)
      ++lines;
    std::fclose(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.bytes));
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_FgetsTenMiB)->Unit(benchmark::kMillisecond);

}  // namespace
