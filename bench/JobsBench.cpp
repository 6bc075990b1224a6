// Throughput of sigilon-brand on a folder of 16 photo-like 12-megapixel JPEGs
// with one job and with two: whole processes, as a user runs them.
//
//   BM_Folder/1   sigilon-brand --jobs 1
//   BM_Folder/2   sigilon-brand --jobs 2
//
// Run the repetitions interleaved so both see the same machine:
//   jobsbench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
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

constexpr int kPhotos = 16;
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
}  // namespace
}  // namespace sigilon
