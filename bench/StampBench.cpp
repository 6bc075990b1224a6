// Stamping cost on a 12-megapixel 24-bit picture with a 10-point brand text
// at 96 PPI, the common case of a batch run. Target: about 1 ms per megapixel.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/Bitmap.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"

namespace {

using namespace sigilon;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Smooth gradients with some texture, so the blend works on varied values.
TBitmap PhotoLike() {
  TBitmap bitmap(kWidth, kHeight, TPixelFormat::pf24bit);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = bitmap.Row(y).data();
    for (int x = 0; x < kWidth; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 255 / kWidth);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / kHeight);
      row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) & 0x3F) + 96;
    }
  }
  return bitmap;
}

void BM_Stamp12Megapixels(benchmark::State& state, const char* fontText,
                          const TStampLook& look = {}) {
  TBitmap bitmap = PhotoLike();
  TFont font;
  TextToFont(fontText, font);
  for (auto _ : state) {
    StampBrandText("\xC2\xA9 Studio Sigilon", font, bitmap, look);
    benchmark::DoNotOptimize(bitmap.Pixels().data());
  }
  // Reported as pixels per second; 1 ms per megapixel is 1 G/s.
  state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, At10Points, "\"DejaVu Sans\", 10, [], [clWhite]")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, At10PointsBoldItalicUnderlined,
                  "\"DejaVu Serif\", 10, [Bold|Italic|Underline], [clBlack]")
    ->Unit(benchmark::kMillisecond);
// Each look option alone, then all together. The smallest relative size,
// 0.5 % of the shorter side, is 15 pixels here: near the 13 of 10 points at
// 96 PPI, so that the size itself changes the work little.
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, RelativeSize, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.RelativeSize = 0.5})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, Opacity50, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.Opacity = 50})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, Outline, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.Outline = 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, AllLookOptions, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.RelativeSize = 0.5, .Opacity = 50, .Outline = 0})
    ->Unit(benchmark::kMillisecond);
// The placement options: a soft shadow (against At10Points), the tiling
// turned to 30 degrees (against At10Points), also spread out, and one mark
// at 4 % in the corner.
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, Shadow, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.Shadow = true})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, Angle30, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.Angle = 30})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, Angle30Spacing2, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.Spacing = 2, .Angle = 30})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stamp12Megapixels, SingleMarkShadow, "\"DejaVu Sans\", 10, [], [clWhite]",
                  TStampLook{.RelativeSize = 4, .Layout = TMarkLayout::Single, .Shadow = true})
    ->Unit(benchmark::kMillisecond);

}  // namespace
