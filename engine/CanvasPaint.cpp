#include "engine/CanvasPaint.h"

#include <cstring>

namespace sigilon::drawing {

namespace {

// One pixel of a deep format, sample type T, kChannels samples of which the
// last is alpha when kAlpha. `color` holds the samples to paint (grey or
// B, G, R) at T's scale, `a` the brand's alpha at that scale.
template <typename T, int kChannels, bool kAlpha>
void BlendPixel(std::uint8_t* pixel, const std::array<std::uint64_t, 3>& color, std::uint64_t a) {
  constexpr std::uint64_t kMax = T(~T{0});
  constexpr int kColors = kAlpha ? kChannels - 1 : kChannels;
  T p[kChannels];
  std::memcpy(p, pixel, sizeof(p));
  if constexpr (!kAlpha) {
    for (int c = 0; c < kColors; ++c) {
      p[c] = static_cast<T>((p[c] * (kMax - a) + color[c] * a + kMax / 2) / kMax);
    }
  } else {
    // Straight alpha, "over": with an opaque pixel this is the plain blend.
    const std::uint64_t under = p[kColors];
    const std::uint64_t out = a + (under * (kMax - a) + kMax / 2) / kMax;
    if (out == 0) return;
    const std::uint64_t keep = under * (kMax - a);
    for (int c = 0; c < kColors; ++c) {
      p[c] = static_cast<T>((color[c] * a * kMax + p[c] * keep + out * kMax / 2) / (out * kMax));
    }
    p[kColors] = static_cast<T>(out);
  }
  std::memcpy(pixel, p, sizeof(p));
}

template <typename T, int kChannels, bool kAlpha>
void BlendDeepRow(std::uint8_t* p, const std::uint8_t* coverage, int n,
                  const std::array<std::uint8_t, 256>* scaled, TRGBQuad brand, bool gray) {
  constexpr std::uint64_t kScale = sizeof(T) == 2 ? 257 : 1;
  std::array<std::uint64_t, 3> color{brand.Blue * kScale, brand.Green * kScale, brand.Red * kScale};
  if (gray) color[0] = Luminance(brand.Red, brand.Green, brand.Blue) * kScale;
  for (int i = 0; i < n; ++i, p += kChannels * sizeof(T)) {
    const unsigned a = scaled ? (*scaled)[coverage[i]] : coverage[i];
    if (a != 0) BlendPixel<T, kChannels, kAlpha>(p, color, a * kScale);
  }
}

}  // namespace

void Painter::BlendDeep(int y, int x, const std::uint8_t* coverage, int n) {
  const TSampleLayout layout = SampleLayout(bitmap_.PixelFormat());
  std::uint8_t* p =
      bitmap_.Row(y).data() + static_cast<std::size_t>(x) * (layout.Channels * layout.SampleBytes);
  const std::array<std::uint8_t, 256>* scaled = opacity_ == 255 ? nullptr : &scaled_;
  switch (bitmap_.PixelFormat()) {
    case TPixelFormat::pfGray8:
      return BlendDeepRow<std::uint8_t, 1, false>(p, coverage, n, scaled, color_, true);
    case TPixelFormat::pfGray16:
      return BlendDeepRow<std::uint16_t, 1, false>(p, coverage, n, scaled, color_, true);
    case TPixelFormat::pfGrayAlpha8:
      return BlendDeepRow<std::uint8_t, 2, true>(p, coverage, n, scaled, color_, true);
    case TPixelFormat::pfGrayAlpha16:
      return BlendDeepRow<std::uint16_t, 2, true>(p, coverage, n, scaled, color_, true);
    case TPixelFormat::pfBGRA32:
      return BlendDeepRow<std::uint8_t, 4, true>(p, coverage, n, scaled, color_, false);
    case TPixelFormat::pf48bit:
      return BlendDeepRow<std::uint16_t, 3, false>(p, coverage, n, scaled, color_, false);
    case TPixelFormat::pf64bit:
      return BlendDeepRow<std::uint16_t, 4, true>(p, coverage, n, scaled, color_, false);
    default:
      return;
  }
}

void Painter::PaintTranslucentRow(int y, int x, const std::uint8_t* coverage, int n) {
  switch (bitmap_.PixelFormat()) {
    case TPixelFormat::pf24bit:
      BlendBgr<3, true>(bitmap_.Row(y).data() + 3 * static_cast<std::size_t>(x), coverage, n);
      return;
    case TPixelFormat::pf32bit:
      if (!bitmap_.HasCustomMasks()) {
        BlendBgr<4, true>(bitmap_.Row(y).data() + 4 * static_cast<std::size_t>(x), coverage, n);
        return;
      }
      BlendAny<true>(y, x, coverage, n);
      return;
    case TPixelFormat::pf16bit:
      BlendAny<true>(y, x, coverage, n);
      return;
    case TPixelFormat::pf8bit: {
      // Still no blending by coverage, but each pixel takes the entry nearest
      // to the colour blended over it, looked up once per palette index.
      std::uint8_t* row = bitmap_.Row(y).data() + x;
      for (int i = 0; i < n; ++i) {
        if (coverage[i] >= 128) row[i] = static_cast<std::uint8_t>(BlendedIndex(row[i]));
      }
      return;
    }
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf4bit:
      for (int i = 0; i < n; ++i) {
        if (coverage[i] >= 128) bitmap_.SetPixel(x + i, y, Blend(bitmap_.GetPixel(x + i, y)));
      }
      return;
    default:  // grey, alpha, 16-bit samples
      BlendDeep(y, x, coverage, n);
      return;
  }
}

TRGBQuad Painter::Blend(TRGBQuad under) const {
  return TRGBQuad{Mix(under.Blue, color_.Blue, opacity_), Mix(under.Green, color_.Green, opacity_),
                  Mix(under.Red, color_.Red, opacity_), 0};
}

int Painter::BlendedIndex(std::uint8_t under) {
  int& index = blendedIndex_[under];
  if (index < 0) {
    const auto& palette = bitmap_.Palette();
    index =
        bitmap_.NearestPaletteIndex(Blend(under < palette.size() ? palette[under] : TRGBQuad{}));
  }
  return index;
}

}  // namespace sigilon::drawing
