// Branding one 24-megapixel photo against the codec work it cannot avoid.
//
//   BM_BrandFile           the whole job as the command line runs it: read, decode,
//                          stamp, encode, write
//   BM_BrandFileTwoThreads the same with two threads for the one file
//   BM_BrandFilePreview    the same with a preview callback, as the window program runs it
//   BM_BrandFileLook       the same with look and placement options: against BM_BrandFile
//                          (or its look without the shadow) for what an option adds; the
//                          single mark against BM_PlainStreamed, the codec floor
//   BM_BrandFileLogo       a logo over the brand text (text at 2 %, as RelativeSize2), tiled
//                          and single: against BM_BrandFileLook/RelativeSize2
//   BM_MarkPreview         one redraw of the live preview after a change (the sample
//                          loaded once): whole in a 1200 x 800 view, and at its own size
//   BM_MarkSampleLoad      loading that sample, once per file or switch of view
//   BM_CodecWork           decode of the source + quality-100 encode of the stamped picture
//   BM_CommandLine         a whole sigilon-brand process on a folder holding the one photo
//   BM_PlainTranscode      read the file, decode, encode at quality 100 unstamped, write
//   (both /0 writing a new file, /1 replacing the last one)
//   BM_PlainStreamed       the same a band of rows at a time, never holding the picture
//
// Compare BM_BrandFile / BM_CodecWork and BM_CommandLine / BM_PlainTranscode
// from the same run: the machine is shared, so only ratios mean anything.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/BenchSupport.h"
#include "bench/Photo.h"
#include "engine/Bitmap.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/JpegCodec.h"
#include "engine/MarkPreview.h"
#include "platform/Platform.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
// The command line's default brand font: 10 points, black.
const std::string kFontText = "\"DejaVu Sans\", 10, [], [clBlack]";
const std::string kBrand = "© Studio Proof";

struct Fixture {
  bench::TScratchFolders folders{"sigilon-bench"};
  const std::string& sourceDir = folders.source;
  const std::string& targetDir = folders.target;
  std::string sourcePath, targetPath;
  std::vector<std::byte> sourceBytes;
  TBitmap stamped;
  TBitmap plain;

  Fixture() {
    sourcePath = sourceDir + "photo.jpg";
    targetPath = targetDir + "photo.jpg";
    plain = Photo(kWidth, kHeight);
    sourceBytes = EncodeJpeg(plain, 92, "photo");
    std::ofstream(sourcePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(sourceBytes.data()),
               static_cast<std::streamsize>(sourceBytes.size()));
    plain = DecodeJpeg(sourceBytes, "photo");
    stamped = plain;
    TFont font;
    TextToFont(kFontText, font);
    StampBrandText(kBrand, font, stamped);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BrandLoop(benchmark::State& state, const TPreviewCallback& preview,
               const TBrandOptions& options = {}) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const TBrandOutcome outcome =
        BrandFile(kBrand, kFontText, f.sourcePath, f.targetPath, preview, options);
    if (outcome.Kind != TOutcomeKind::Processed) state.SkipWithError(outcome.Reason.c_str());
  }
  state.counters["MP"] = kWidth * kHeight / 1e6;
}

void BM_BrandFile(benchmark::State& state) { BrandLoop(state, nullptr); }

// One photo on two cores: decoding and stamping overlap with encoding.
void BM_BrandFileTwoThreads(benchmark::State& state) {
  TBrandOptions options;
  options.Threads = 2;
  BrandLoop(state, nullptr, options);
}

void BM_BrandFilePreview(benchmark::State& state) {
  std::size_t previewBytes = 0;
  BrandLoop(state, [&](std::span<const std::byte> bytes) { previewBytes = bytes.size(); });
  benchmark::DoNotOptimize(previewBytes);
}

// The look options, each against BM_BrandFile: a brand at 2 % of the
// shorter side (60 pixels), half opacity, a white outline, and all three.
void BM_BrandFileLook(benchmark::State& state, TStampLook look) {
  BrandLoop(state, nullptr, TBrandOptions{.Look = look});
}

// A 256 x 256 logo with soft alpha (a ring fading out), made once as a run
// reads it once.
std::shared_ptr<const TBitmap> BenchLogo() {
  auto logo = std::make_shared<TBitmap>(256, 256, TPixelFormat::pfBGRA32);
  for (int y = 0; y < 256; ++y) {
    std::uint8_t* row = logo->Row(y).data();
    for (int x = 0; x < 256; ++x) {
      const double r = std::hypot(x - 127.5, y - 127.5);
      const double ring = std::clamp(1.0 - std::abs(r - 90.0) / 30.0, 0.0, 1.0);
      row[4 * x] = static_cast<std::uint8_t>(x);
      row[4 * x + 1] = static_cast<std::uint8_t>(y);
      row[4 * x + 2] = 200;
      row[4 * x + 3] = static_cast<std::uint8_t>(ring * 255);
    }
  }
  return logo;
}

// The logo 8 % of the shorter side high, the text under it a quarter of
// that (the 2 % of RelativeSize2).
void BM_BrandFileLogo(benchmark::State& state, TMarkLayout layout) {
  BrandLoop(state, nullptr,
            TBrandOptions{.Look = {.RelativeSize = 8, .Layout = layout, .Logo = BenchLogo()}});
}

// Argument: the view's side (kWholeSizeBox: the sample at its own size).
void BM_MarkPreview(benchmark::State& state) {
  Fixture& f = Shared();
  const int box = static_cast<int>(state.range(0));
  const TBrandOptions options{.Look = {.Shadow = true}};
  const int height = box == kWholeSizeBox ? box : box / 3 * 2;
  const TMarkSample sample = LoadMarkSample(f.sourcePath, box, height, options);
  for (auto _ : state) {
    const TBitmap shown = StampMarkSample(sample, kBrand, kFontText, options);
    benchmark::DoNotOptimize(shown.Pixels().data());
  }
  state.counters["SampleMP"] = sample.Picture->Width() * sample.Picture->Height() / 1e6;
}

void BM_MarkSampleLoad(benchmark::State& state) {
  Fixture& f = Shared();
  const int box = static_cast<int>(state.range(0));
  const int height = box == kWholeSizeBox ? box : box / 3 * 2;
  for (auto _ : state) {
    const TMarkSample sample = LoadMarkSample(f.sourcePath, box, height, {});
    benchmark::DoNotOptimize(sample.Picture->Pixels().data());
  }
}

void BM_CodecWork(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    TBitmap decoded = DecodeJpeg(f.sourceBytes, "photo");
    std::vector<std::byte> encoded = EncodeJpeg(f.stamped, 100, "photo");
    benchmark::DoNotOptimize(decoded.Pixels().data());
    benchmark::DoNotOptimize(encoded.data());
  }
}

// Argument 0: every iteration writes a new file, as a run into a new target
// folder does (the last output is removed and everything written so far
// flushed, untimed). Argument 1: it replaces the last output, as a run over
// old copies does; ext4 then starts writing the new file out at once, which
// costs in proportion to its size.
void PrepareOutput(benchmark::State& state, const std::string& path) {
  if (state.range(0) != 0) return;
  state.PauseTiming();
  fs::remove(path);
  ::sync();
  state.ResumeTiming();
}

// What any tool that rewrites the file at quality 100 must do, files included.
void BM_PlainTranscode(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    PrepareOutput(state, f.folders.baseline + "plain.jpg");
    TBitmap decoded = DecodeJpeg(ReadWholeFile(f.sourcePath), "photo");
    std::vector<std::byte> encoded = EncodeJpeg(decoded, 100, "photo");
    WriteWholeFile(f.folders.baseline + "plain.jpg", encoded);
  }
}

// The cheapest way to rewrite the file: no whole picture is ever allocated.
void BM_PlainStreamed(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const std::vector<std::byte> source = ReadWholeFile(f.sourcePath);
    TJpegBandDecoder decoder(source, "photo");
    std::vector<std::byte> encoded;
    TJpegBandEncoder encoder(decoder.Width(), decoder.Height(), 100, "photo",
                             [&](std::span<const std::byte> bytes) {
                               encoded.insert(encoded.end(), bytes.begin(), bytes.end());
                             });
    TBitmap band = decoder.NewBand(64);
    while (decoder.NextRow() < decoder.Height()) encoder.WriteBand(band, decoder.ReadBand(band));
    decoder.Finish();
    encoder.Finish();
    WriteWholeFile(f.folders.baseline + "streamed.jpg", encoded);
  }
}

void BM_CommandLine(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string program = bench::BrandProgram();
  if (!fs::exists(program)) {
    state.SkipWithError("sigilon-brand not built");
    return;
  }
  for (auto _ : state) {
    PrepareOutput(state, f.targetPath);
    if (bench::RunQuietly({program, "--font", kFontText, kBrand, f.sourceDir, f.targetDir}) != 0) {
      state.SkipWithError("sigilon-brand failed");
      break;
    }
  }
}

BENCHMARK(BM_BrandFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BrandFileTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BrandFilePreview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, RelativeSize2, TStampLook{.RelativeSize = 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, Opacity50, TStampLook{.Opacity = 50})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, Outline, TStampLook{.Outline = 0x00FFFFFF})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, All,
                  TStampLook{.RelativeSize = 2, .Opacity = 50, .Outline = 0x00FFFFFF})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// A shadow under the default brand and under the 2 % one (against
// RelativeSize2); one mark in the corner and the tiling turned to 30 degrees.
BENCHMARK_CAPTURE(BM_BrandFileLook, Shadow, TStampLook{.Shadow = true})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, RelativeSize2Shadow,
                  TStampLook{.RelativeSize = 2, .Shadow = true})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, SingleMark,
                  TStampLook{.RelativeSize = 4, .Layout = TMarkLayout::Single, .Shadow = true})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLook, Angle30, TStampLook{.Angle = 30})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLogo, Tiled, TMarkLayout::Tile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_BrandFileLogo, Single, TMarkLayout::Single)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MarkPreview)
    ->Arg(1200)
    ->Arg(kWholeSizeBox)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MarkSampleLoad)
    ->Arg(1200)
    ->Arg(kWholeSizeBox)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CodecWork)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommandLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainTranscode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainStreamed)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace sigilon
