#include "engine/CanvasPaint.h"

namespace sigilon::drawing {

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
