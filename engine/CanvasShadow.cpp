#include "engine/CanvasShadow.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace sigilon::drawing {

namespace {

// Down and to the right, as from a light at the upper left, and soft enough
// to read as a shadow rather than a second copy: fractions of the em.
constexpr double kShadowOffset = 0.06;
constexpr double kShadowSpread = 0.04;
// How dark the shadow is where the text covers fully (of 255).
constexpr unsigned kShadowStrength = 180;

// One box blur of `radius` along a line of `count` values `step` apart;
// outside the line counts as no coverage. `line` is scratch of `count`.
void BoxBlur(std::uint16_t* data, std::size_t count, std::size_t step, int radius,
             std::vector<std::uint16_t>& line) {
  line.resize(count);
  for (std::size_t i = 0; i < count; ++i) line[i] = data[i * step];
  const auto r = static_cast<std::ptrdiff_t>(radius);
  const auto n = static_cast<std::ptrdiff_t>(count);
  const auto width = static_cast<std::uint32_t>(2 * radius + 1);
  std::uint32_t sum = 0;
  for (std::ptrdiff_t i = 0; i < std::min(r, n); ++i) sum += line[static_cast<std::size_t>(i)];
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    if (i + r < n) sum += line[static_cast<std::size_t>(i + r)];
    if (i - r - 1 >= 0) sum -= line[static_cast<std::size_t>(i - r - 1)];
    data[static_cast<std::size_t>(i) * step] =
        static_cast<std::uint16_t>((sum + width / 2) / width);
  }
}

}  // namespace

ShadowGeometry ShadowFor(FT_Pos em) {
  const double pixels = static_cast<double>(em) / 64.0;
  ShadowGeometry shadow;
  shadow.Dx = std::max(1, static_cast<int>(std::lround(pixels * kShadowOffset)));
  shadow.Dy = shadow.Dx;
  // Three box blurs come close to a Gaussian blur and cost the same at any
  // radius.
  shadow.Box = std::max(1, static_cast<int>(std::lround(pixels * kShadowSpread / 3)));
  shadow.Reach = 3 * shadow.Box;
  return shadow;
}

TRect ShadowSource(const TRect& window, const ShadowGeometry& shadow) {
  return {window.Left - shadow.Dx - shadow.Reach, window.Top - shadow.Dy - shadow.Reach,
          window.Right - shadow.Dx + shadow.Reach, window.Bottom - shadow.Dy + shadow.Reach};
}

std::vector<std::uint8_t> RenderShadow(const std::vector<Outline*>& outlines, const TRect& window,
                                       const ShadowGeometry& shadow) {
  const TRect source = ShadowSource(window, shadow);
  const auto width = static_cast<std::size_t>(source.Right - source.Left);
  const auto height = static_cast<std::size_t>(source.Bottom - source.Top);
  std::vector<std::uint8_t> coverage(width * height, 0);
  Rasterize(outlines, source, coverage.data());
  return ShadowOfCoverage(coverage, window, shadow);
}

std::vector<std::uint8_t> ShadowOfCoverage(const std::vector<std::uint8_t>& coverage,
                                           const TRect& window, const ShadowGeometry& shadow) {
  const TRect source = ShadowSource(window, shadow);
  const auto width = static_cast<std::size_t>(source.Right - source.Left);
  const auto height = static_cast<std::size_t>(source.Bottom - source.Top);
  // Sixteen bits keep the blur's rounding from eating faint edges.
  std::vector<std::uint16_t> blurred(coverage.begin(), coverage.end());
  for (auto& value : blurred) value = static_cast<std::uint16_t>(value * 256);
  std::vector<std::uint16_t> line;
  for (int pass = 0; pass < 3; ++pass) {
    for (std::size_t y = 0; y < height; ++y)
      BoxBlur(&blurred[y * width], width, 1, shadow.Box, line);
    for (std::size_t x = 0; x < width; ++x) BoxBlur(&blurred[x], height, width, shadow.Box, line);
  }
  const auto outWidth = static_cast<std::size_t>(window.Right - window.Left);
  const auto outHeight = static_cast<std::size_t>(window.Bottom - window.Top);
  std::vector<std::uint8_t> out(outWidth * outHeight);
  const auto reach = static_cast<std::size_t>(shadow.Reach);
  for (std::size_t y = 0; y < outHeight; ++y) {
    const std::uint16_t* from = &blurred[(y + reach) * width + reach];
    std::uint8_t* to = &out[y * outWidth];
    for (std::size_t x = 0; x < outWidth; ++x) {
      to[x] = static_cast<std::uint8_t>((from[x] * kShadowStrength + 255 * 128) / (255 * 256));
    }
  }
  return out;
}

}  // namespace sigilon::drawing
