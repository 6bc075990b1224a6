#pragma once
/// A logo as part of the mark: read once per run (a PNG with alpha, or an
/// SVG), then for each picture scaled to its height, turned by the mark's
/// angle and laid pixel by pixel over the picture at its alpha times the
/// mark's opacity.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/Canvas.h"

namespace sigilon {

/// The height an SVG logo is drawn at when read, so that scaling it for a
/// picture only ever shrinks it.
inline constexpr int kSvgLogoHeight = 2048;

/// Reads the logo at `path` as straight (not premultiplied) BGRA
/// (pfBGRA32): a PNG of any kind through the PNG module (without alpha it is
/// opaque), or an SVG (by its extension, any letter case) drawn
/// kSvgLogoHeight pixels high. Throws ImageError or PlatformError for a file
/// that cannot be read or decoded.
std::shared_ptr<const TBitmap> LoadLogo(const std::string& path);

/// The logo of one file, read again only when another file is asked for:
/// for a front end that builds a run's options at every change.
class TLogoCache {
 public:
  /// The logo at `path` (LoadLogo); throws as LoadLogo does.
  std::shared_ptr<const TBitmap> Logo(const std::string& path);

 private:
  std::string path_;
  std::shared_ptr<const TBitmap> logo_;
};

/// Whether this build reads SVG logos.
bool SvgLogosSupported();

/// `logo` (straight BGRA) resampled to `width` x `height` in premultiplied
/// BGRA, four bytes a pixel, rows `width` pixels long: each output pixel the
/// area average of what it covers when shrinking, bilinear when enlarging.
std::vector<std::uint8_t> ResampleLogo(const TBitmap& logo, int width, int height);

/// `logo` (straight BGRA) `1 / reduction` as high and wide, as straight
/// BGRA: the logo of a picture decoded reduced.
std::shared_ptr<const TBitmap> ReducedLogo(const TBitmap& logo, double reduction);

/// The width of `logo` scaled to `height` pixels high (at least 1).
int LogoWidth(const TBitmap& logo, int height);

/// One copy of a logo as one picture's mark holds it: scaled, turned and
/// weakened to the opacity once, painted at every copy.
class TLogoImage {
 public:
  /// `logo` (straight BGRA) scaled to `height` pixels high, its width in
  /// proportion, turned by `angle` degrees counter-clockwise about its
  /// top-left corner, which stands at `corner` relative to the reference
  /// point; `opacity` in percent; with `shadow`, a soft dark shadow under it
  /// in proportion to its height.
  TLogoImage(const TBitmap& logo, int height, double angle, TPixelPoint corner, int opacity,
             bool shadow);

  /// Width of the scaled logo before it is turned.
  int Width() const { return width_; }
  /// Where a copy paints (logo and shadow), relative to its reference point.
  const TRect& Bounds() const { return reach_; }
  /// Lays a copy with its reference point at picture pixel (`x`, `y`) over
  /// `target`, whose row 0 is picture row `targetTop`, painting only picture
  /// rows `firstRow` to `endRow` (end excluded).
  void Paint(TBitmap& target, int targetTop, std::int64_t firstRow, std::int64_t endRow,
             std::int64_t x, std::int64_t y) const;

 private:
  int width_ = 0;
  TRect bounds_{};                    // of the pixels
  TRect reach_{};                     // of the pixels and the shadow
  std::vector<std::uint8_t> pixels_;  // premultiplied BGRA over bounds_, opacity applied
  TRect shadowBounds_{};
  std::vector<std::uint8_t> shadow_;  // coverage of black over shadowBounds_
};

}  // namespace sigilon
