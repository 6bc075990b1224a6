#pragma once
// Coverage painted onto a bitmap in one colour, for every pixel format
// (internal to the engine). Inline: it runs once per run of every copy of a
// tiled text, from the drawing loops.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Bitmap.h"

namespace sigilon::drawing {

/// Writes one row of coverage onto a bitmap in `color` at `opacity` (0 to
/// 255): blended by coverage times opacity on 16, 24 and 32 bits; on palette
/// bitmaps, where coverage is at least one half, the entry nearest to the
/// colour blended over the pixel at that opacity. Deep formats blend in
/// their own sample depth (16-bit samples with the colour times 257), grey
/// ones with the colour's luminance; where they have alpha, the colour at
/// coverage times opacity is laid over the pixel: the alpha becomes
/// a + alpha (1 - a), so transparent areas take the brand's coverage.
class Painter {
 public:
  Painter(TBitmap& bitmap, TRGBQuad color, std::uint8_t opacity = 255)
      : bitmap_(bitmap), color_(color), opacity_(opacity) {
    const bool palette = IsPaletteFormat(bitmap.PixelFormat());
    if (palette) {
      index_ = bitmap.NearestPaletteIndex(color);
      if (static_cast<std::size_t>(index_) < bitmap.Palette().size()) {
        paletteColor_ = bitmap.Palette()[static_cast<std::size_t>(index_)];
      }
      blendedIndex_.fill(-1);
    }
    for (unsigned c = 0; c < 256 && opacity != 255; ++c) {
      scaled_[c] = static_cast<std::uint8_t>((c * opacity + 127) / 255);
    }
  }

  // Forced inline: called once per run of every copy, the call itself would
  // cost a few percent of a whole stamp.
  [[gnu::always_inline]] void PaintRow(int y, int x, const std::uint8_t* coverage, int n) {
    if (opacity_ != 255) {
      PaintTranslucentRow(y, x, coverage, n);
      return;
    }
    switch (bitmap_.PixelFormat()) {
      case TPixelFormat::pf24bit:
        BlendBgr<3>(bitmap_.Row(y).data() + 3 * static_cast<std::size_t>(x), coverage, n);
        return;
      case TPixelFormat::pf32bit:
        if (!bitmap_.HasCustomMasks()) {
          BlendBgr<4>(bitmap_.Row(y).data() + 4 * static_cast<std::size_t>(x), coverage, n);
          return;
        }
        BlendAny(y, x, coverage, n);
        return;
      case TPixelFormat::pf16bit:
        BlendAny(y, x, coverage, n);
        return;
      case TPixelFormat::pf8bit: {
        // No blending on a palette: blends would need colours it lacks.
        std::uint8_t* row = bitmap_.Row(y).data() + x;
        for (int i = 0; i < n; ++i) {
          if (coverage[i] >= 128) row[i] = static_cast<std::uint8_t>(index_);
        }
        return;
      }
      case TPixelFormat::pf1bit:
      case TPixelFormat::pf4bit:
        for (int i = 0; i < n; ++i) {
          if (coverage[i] >= 128) bitmap_.SetPixel(x + i, y, paletteColor_);
        }
        return;
      default:  // grey, alpha, 16-bit samples
        BlendDeep(y, x, coverage, n);
        return;
    }
  }

 private:
  static std::uint8_t Mix(unsigned under, unsigned over, unsigned a) {
    return static_cast<std::uint8_t>((under * (255 - a) + over * a + 127) / 255);
  }

  // Out of line: the common fully opaque brand keeps PaintRow small enough
  // to be inlined into the drawing loops.
  void PaintTranslucentRow(int y, int x, const std::uint8_t* coverage, int n);
  TRGBQuad Blend(TRGBQuad under) const;
  // Grey, alpha and 16-bit samples, at any opacity.
  void BlendDeep(int y, int x, const std::uint8_t* coverage, int n);
  int BlendedIndex(std::uint8_t under);

  template <int kBytes, bool kScaled = false>
  void BlendBgr(std::uint8_t* p, const std::uint8_t* coverage, int n) const {
    const unsigned b = color_.Blue, g = color_.Green, r = color_.Red;
    // Runs hold mostly partial coverage, so blending every pixel without
    // branches beats testing for the transparent and opaque cases.
    for (int i = 0; i < n; ++i, p += kBytes) {
      const unsigned a = kScaled ? scaled_[coverage[i]] : coverage[i];
      p[0] = Mix(p[0], b, a);
      p[1] = Mix(p[1], g, a);
      p[2] = Mix(p[2], r, a);
    }
  }

  template <bool kScaled = false>
  void BlendAny(int y, int x, const std::uint8_t* coverage, int n) {
    for (int i = 0; i < n; ++i) {
      const unsigned a = kScaled ? scaled_[coverage[i]] : coverage[i];
      if (a == 0) continue;
      const TRGBQuad under = bitmap_.GetPixel(x + i, y);
      bitmap_.SetPixel(x + i, y,
                       TRGBQuad{Mix(under.Blue, color_.Blue, a), Mix(under.Green, color_.Green, a),
                                Mix(under.Red, color_.Red, a), 0});
    }
  }

  TBitmap& bitmap_;
  TRGBQuad color_;
  std::uint8_t opacity_;
  int index_ = 0;
  TRGBQuad paletteColor_{};
  std::array<std::uint8_t, 256> scaled_{};  // coverage times opacity
  std::array<int, 256> blendedIndex_{};     // palette index -> index of the blend over it
};

/// Black laid over a bitmap by coverage at an opacity, as a Painter of black
/// does, byte for byte. On 24 bits a row of coverage is first turned into
/// what each byte of a pixel keeps of itself, so that the blend runs over
/// bytes alone (which the compiler vectorises) and is shared by every copy
/// painted from that row; other formats go through the Painter.
class ShadowPainter {
 public:
  ShadowPainter(TBitmap& bitmap, std::uint8_t opacity)
      : bitmap_(bitmap),
        black_(bitmap, TRGBQuad{}, opacity),
        bytes_(bitmap.PixelFormat() == TPixelFormat::pf24bit) {
    for (unsigned c = 0; c < 256; ++c) {
      const unsigned a = opacity == 255 ? c : (c * opacity + 127) / 255;
      keepOf_[c] = static_cast<std::uint8_t>(255 - a);
    }
  }

  /// Starts a row of coverage: the next Load and PaintRow calls take their
  /// columns from `row`.
  void SetRow(const std::uint8_t* row) { row_ = row; }

  /// Prepares columns `column` to `column + n` of the row for painting.
  void Load(int column, int n) {
    if (!bytes_) return;
    const auto end = 3 * static_cast<std::size_t>(column + n);
    if (keep_.size() < end) keep_.resize(end);
    std::uint8_t* keep = keep_.data() + 3 * static_cast<std::size_t>(column);
    for (int i = 0; i < n; ++i, keep += 3) {
      const std::uint8_t k = keepOf_[row_[column + i]];
      keep[0] = k;
      keep[1] = k;
      keep[2] = k;
    }
  }

  /// Paints `n` loaded columns from `column` on at (x, y) of the bitmap.
  [[gnu::always_inline]] void PaintRow(int y, int x, int column, int n) {
    if (!bytes_) {
      black_.PaintRow(y, x, row_ + column, n);
      return;
    }
    std::uint8_t* __restrict p = bitmap_.Row(y).data() + 3 * static_cast<std::size_t>(x);
    const std::uint8_t* __restrict keep = keep_.data() + 3 * static_cast<std::size_t>(column);
    // (v + 127) / 255 for v up to 255 * 255, in sixteen bits.
    for (std::size_t i = 0, count = 3 * static_cast<std::size_t>(n); i < count; ++i) {
      const auto v = static_cast<std::uint16_t>(p[i] * keep[i] + 128);
      p[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v + (v >> 8)) >> 8);
    }
  }

 private:
  TBitmap& bitmap_;
  Painter black_;
  bool bytes_;  // 24 bits: blended byte by byte
  const std::uint8_t* row_ = nullptr;
  std::array<std::uint8_t, 256> keepOf_{};  // coverage -> what a byte keeps, of 255
  std::vector<std::uint8_t> keep_;          // the loaded columns, three bytes each
};

}  // namespace sigilon::drawing
