// Throughput of sigilon-brand on a folder of 8 photo-like 12-megapixel JPEGs
// with one job and with two: whole processes, as a user runs them.
//
//   BM_Folder/1   sigilon-brand --jobs 1
//   BM_Folder/2   sigilon-brand --jobs 2
//
// Run the repetitions interleaved so both see the same machine:
//   jobsbench --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
//             --benchmark_report_aggregates_only=true
// and compare the medians: throughput ratio = time(1) / time(2).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/Photo.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

constexpr int kPhotos = 8;
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

struct Folder : bench::TScratchFolders {
  Folder() : TScratchFolders("sigilon-jobs-bench") {
    for (int i = 0; i < kPhotos; ++i) {
      WriteWholeFile(source + "IMG_" + std::to_string(1000 + i) + ".JPG",
                     EncodeJpeg(Photo(kWidth, kHeight, 2463534242u + 7919u * i), 92, "photo"));
    }
  }
};

void BM_Folder(benchmark::State& state) {
  static const Folder folder;
  const std::string program = bench::BrandProgram();
  const std::string jobs = std::to_string(state.range(0));
  for (auto _ : state) {
    // Every run writes new files, as a run into a new target folder does:
    // replacing files that are still being written back costs in proportion
    // to their size, whatever the number of jobs.
    state.PauseTiming();
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.target)) {
      fs::remove(entry.path());
    }
    ::sync();
    state.ResumeTiming();
    if (bench::RunQuietly(
            {program, "--jobs", jobs, "© Studio Proof", folder.source, folder.target}) != 0) {
      state.SkipWithError("sigilon-brand failed or is not built");
      break;
    }
  }
  state.counters["photos/s"] =
      benchmark::Counter(static_cast<double>(kPhotos) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Folder)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace sigilon
