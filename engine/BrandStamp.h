#pragma once
/// The brand of one picture (the tiled pattern at its angle and spacing, or a
/// single mark at its anchor), prepared once and painted on any band of the
/// picture's rows: painting every band of a picture gives exactly the pixels
/// that stamping the whole picture gives.

#include <optional>
#include <string>

#include "engine/BrandOptions.h"
#include "engine/Canvas.h"
#include "engine/Logo.h"
#include "engine/StampLayout.h"

namespace sigilon {

class TBrandStamp {
 public:
  /// Turns the font by the look's angle, measures the text, lays out its
  /// copies and, unless it is far bigger than the picture, rasterises it once
  /// for a picture of `width` x `height`. Throws FontError.
  TBrandStamp(const std::string& text, const TFont& font, int width, int height,
              const TStampLook& look = {});

  /// Paints the copies that reach into `band`, whose row 0 is picture row
  /// `top`; with `top` 0 and the whole picture, stamps the picture.
  void Paint(TBitmap& band, int top) const;
  /// Paints rows `firstRow` to `firstRow + rows` of the whole `picture`,
  /// touching no other row.
  void PaintRows(TBitmap& picture, int firstRow, int rows) const;

 private:
  // The canvas with the brand's font, opacity and outline.
  TCanvas Prepared(TCanvas canvas) const;
  // Paints on a prepared canvas the copies that reach picture rows `top` to
  // `bottom`.
  // `target` is the canvas's bitmap, whose row 0 is picture row `targetTop`.
  void PaintOn(TCanvas& canvas, TBitmap& target, int targetTop, std::int64_t top,
               std::int64_t bottom) const;
  // Sets up a mark with a logo: the logo, the text centred under it.
  void PlaceLogo(const TStampLook& look, const TCanvas& canvas, double angle, int logoHeight);

  std::string text_;
  TFont font_;
  int width_;
  int height_;
  int opacity_ = kMaxOpacity;
  std::optional<TColor> outline_;
  bool shadow_ = false;
  // How the copies stand: the 45-degree rows (each `dx_` along, rows `dy_`
  // apart), a turned lattice, or one mark at `point_`.
  enum class TPlacement { Rows, Lattice, Single } placement_ = TPlacement::Rows;
  std::int64_t w_ = 0, h_ = 0, dx_ = 0, dy_ = 0, rows_ = 0, columns_ = 0;
  TStampLattice lattice_{};
  TPixelPoint point_{};
  // Where one copy can paint, relative to its reference point.
  TRect box_{};
  // The text measures nothing: there is nothing to draw.
  bool nothing_ = false;
  // The text rasterised once; none when drawing copy by copy costs less.
  std::optional<TTextImage> image_;
  // The logo over the text, and where the text's reference point stands
  // relative to the mark's; none without a logo.
  std::optional<TLogoImage> logo_;
  TPixelPoint textAt_{};
  bool hasText_ = true;
};

}  // namespace sigilon
