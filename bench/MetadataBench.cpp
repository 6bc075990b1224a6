// What a photo's picture information costs when branding one 12-megapixel
// photo, against the same photo without any:
//
//   BM_Plain          no EXIF, no profile (the default output, unchanged)
//   BM_Profile        a 3 MB colour profile in 49 chunks, written into the copy
//   BM_Upright/N      EXIF Orientation N: 3 turns in place, 6 a quarter turn
//   BM_KeepMetadata   EXIF with a thumbnail, XMP and IPTC carried (--keep-metadata)
//   BM_Strict         the plain photo with --strict
//
// Run with --benchmark_enable_random_interleaving=true and repetitions: the
// machine is shared, so only ratios of medians from one run mean anything.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "bench/Photo.h"
#include "engine/BrandFile.h"
#include "engine/JpegCodec.h"
#include "engine/JpegMetadata.h"
#include "tests/support/JpegSegments.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

const std::string kFontText = "\"DejaVu Sans\", 10, [], [clBlack]";
const std::string kBrand = "© Studio Proof";

struct Fixture {
  fs::path root = fs::temp_directory_path() / ("sigilon-mbench-" + std::to_string(::getpid()));
  std::map<std::string, std::string> sources;

  Fixture() {
    fs::create_directories(root);
    const TBitmap photo = Photo(4000, 3000);
    std::vector<std::byte> profile(3 * 1024 * 1024);
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = std::byte(i * 31 % 251);
    const auto exif = [](int orientation) {
      return TJpegSegment{kJpegApp1, test::ExifPayload({.Orientation = orientation,
                                                        .Thumbnail = std::string(40000, 'T')})};
    };
    const std::vector<TJpegSegment> info = {
        exif(1),
        {kJpegApp1, test::Payload(std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                                  std::string(20000, 'x'))},
        {kJpegApp13, test::Payload(std::string("Photoshop 3.0\0", 14))}};
    Put("plain", EncodeJpeg(photo, 92, "plain"));
    Put("profile", EncodeJpeg(photo, 92, "profile", IccProfileSegments(profile)));
    Put("upright3", EncodeJpeg(photo, 92, "3", std::vector{exif(3)}));
    Put("upright6", EncodeJpeg(photo, 92, "6", std::vector{exif(6)}));
    Put("info", EncodeJpeg(photo, 92, "info", info));
  }
  ~Fixture() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void Put(const std::string& name, const std::vector<std::byte>& bytes) {
    sources[name] = (root / (name + ".jpg")).string();
    std::ofstream(sources[name], std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void Brand(benchmark::State& state, const std::string& source, const TBrandOptions& options) {
  Fixture& f = Shared();
  // Never beside the sources: branding refuses to write there.
  fs::create_directories(f.root / "out");
  const std::string target = (f.root / "out" / "photo.jpg").string();
  for (auto _ : state) {
    const TBrandOutcome outcome =
        BrandFile(kBrand, kFontText, f.sources[source], target, nullptr, options);
    if (outcome.Kind != TOutcomeKind::Processed) state.SkipWithError(outcome.Reason.c_str());
  }
}

void BM_Plain(benchmark::State& state) { Brand(state, "plain", {}); }
void BM_Profile(benchmark::State& state) { Brand(state, "profile", {}); }
void BM_Upright(benchmark::State& state) {
  Brand(state, "upright" + std::to_string(state.range(0)), {});
}
void BM_KeepMetadata(benchmark::State& state) { Brand(state, "info", {.KeepMetadata = true}); }
void BM_Strict(benchmark::State& state) { Brand(state, "plain", {.Strict = true}); }

BENCHMARK(BM_Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Profile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Upright)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeepMetadata)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Strict)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sigilon
