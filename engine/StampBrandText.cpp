// The brand text tiled or placed once, and the reading of a font description text
// into a drawing font.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/BrandStamp.h"
#include "engine/Canvas.h"
#include "engine/FontText.h"

namespace sigilon {

namespace {

// Tenths of a degree: the copies read from lower left to upper right.
constexpr std::int32_t kBrandEscapement = 450;
// Rows continue this far (plus one text height) below the bottom edge, so
// that copies starting there still reach up into the picture.
constexpr std::int64_t kRowOverhang = 100;
// Coverage of one rasterised copy that is kept for stamping; a text larger
// than this (thousands of pixels each way) is drawn copy by copy, clipped to
// the picture, instead.
constexpr std::uint64_t kMaxStampCoverage = std::uint64_t{1} << 26;

// The box a copy of a `width` x `height` cell turned by `angle` degrees
// about its top-left corner may paint: the turned cell, widened by a height
// each way for contour, shadow and glyphs that reach beyond their cell.
TRect CellReach(std::int64_t width, std::int64_t height, double angle) {
  const double radians = angle * std::numbers::pi / 180.0;
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  double left = 0, top = 0, right = 0, bottom = 0;
  for (const auto& [u, v] : {std::pair<double, double>{double(width), 0.0},
                             {0.0, double(height)},
                             {double(width), double(height)}}) {
    const double x = u * c + v * s;
    const double y = v * c - u * s;
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
  const double pad = static_cast<double>(height);
  const auto edge = [](double v) { return static_cast<int>(std::clamp(v, -2e9, 2e9)); };
  return {edge(std::floor(left - pad)), edge(std::floor(top - pad)), edge(std::ceil(right + pad)),
          edge(std::ceil(bottom + pad))};
}

class DrawingFontTarget final : public TFontTextTarget {
 public:
  explicit DrawingFontTarget(TFont& font) : font_(font) {}
  // An empty face name keeps the font's face.
  void SetName(const std::string& name) override {
    if (!name.empty()) font_.SetName(name);
  }
  void SetSize(std::int32_t points) override { font_.SetSize(points); }
  void SetColor(TColor color) override { font_.Color = color; }
  void SetStyle(TFontStyles style) override { font_.SetStyle(style); }

 private:
  TFont& font_;
};

}  // namespace

void TextToFont(const std::string& text, TFont& font) {
  DrawingFontTarget target(font);
  ReadFontText(text, target, DrawingColorTable());
}

TBrandStamp::TBrandStamp(const std::string& text, const TFont& font, int width, int height,
                         const TStampLook& look)
    : text_(text), font_(font), width_(width), height_(height) {
  opacity_ = std::clamp(look.Opacity, kMinOpacity, kMaxOpacity);
  if (look.Outline != clNone) outline_ = look.Outline;
  shadow_ = look.Shadow;
  const bool single = look.Layout == TMarkLayout::Single;
  const double angle =
      std::clamp(look.Angle.value_or(single ? kSingleAngle : kTileAngle), kMinAngle, kMaxAngle);
  const auto escapement = static_cast<std::int32_t>(std::lround(angle * 10));
  TLogFont turned = font_.LogFont();
  turned.Escapement = escapement;
  turned.Orientation = escapement;
  if (look.RelativeSize > 0 && width > 0 && height > 0) {
    // A character height; the tiling below follows from what it measures.
    const double percent = std::clamp(look.RelativeSize, kMinRelativeSize, kMaxRelativeSize);
    const double side = std::min(width, height);
    turned.Height =
        -std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(percent / 100.0 * side)));
  }
  // The logo's height; the text under it is a quarter of it.
  int logoHeight = 0;
  if (look.Logo && !look.Logo->Empty()) {
    logoHeight = look.Logo->Height();
    if (look.RelativeSize > 0 && width > 0 && height > 0) {
      logoHeight = -turned.Height;
      turned.Height = -std::max(1, logoHeight / 4);
    }
  }
  font_.SetLogFont(turned);

  TBitmap none;
  const TCanvas canvas = Prepared(TCanvas(none, 0, height_));
  const TSize extent = canvas.TextExtent(text);
  w_ = extent.cx;
  h_ = extent.cy;
  if (logoHeight > 0 && width > 0 && height > 0) {
    PlaceLogo(look, canvas, angle, logoHeight);
    return;
  }
  // A text that measures nothing would never advance the tiling.
  if (w_ <= 0 || h_ <= 0 || width <= 0 || height <= 0) {
    nothing_ = true;
    return;
  }
  const auto area = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  // Where a copy drawn piece by piece may paint: its turned cell and a
  // margin for contour, shadow and overhanging glyphs.
  box_ = CellReach(w_, h_, angle);
  if (single) {
    placement_ = TPlacement::Single;
    image_ = canvas.RenderText(text, kMaxStampCoverage);
    if (image_) box_ = image_->Bounds();
    point_ = AnchorPoint(look.Anchor, look.Margin, box_, width, height);
    return;
  }
  const double spacing = std::clamp(look.Spacing, kMinSpacing, kMaxSpacing);
  std::uint64_t copies = 0;
  if (escapement == kBrandEscapement) {
    dx_ = std::max<std::int64_t>(1, std::llround(static_cast<double>(w_) * spacing));
    dy_ = std::max<std::int64_t>(1, std::llround(static_cast<double>(2 * h_) * spacing));
    // Rows from the top edge while bottom >= y - H - 100; copies from the
    // left edge while right >= x - W (both comparisons include equality).
    rows_ = (height + h_ + kRowOverhang) / dy_ + 1;
    columns_ = (width + w_) / dx_ + 1;
    copies = static_cast<std::uint64_t>(rows_) * static_cast<std::uint64_t>(columns_);
  } else {
    placement_ = TPlacement::Lattice;
    lattice_ = TileLattice(w_, h_, angle, spacing);
    const auto cell = static_cast<std::uint64_t>(
        std::llabs(lattice_.A.X * lattice_.B.Y - lattice_.B.X * lattice_.A.Y));
    copies = area / cell + 1;
  }
  // One rasterisation for the whole picture; every copy is the same pixels.
  // Unless the text is so big that its few copies, each rasterised only
  // where it lands on the picture, cost less (a 2000-point brand on a
  // thumbnail would otherwise rasterise some fifty million pixels).
  const std::uint64_t coverage =
      copies > kMaxStampCoverage / area ? kMaxStampCoverage : copies * area;
  image_ = canvas.RenderText(text, std::min(kMaxStampCoverage, coverage));
  if (image_) box_ = image_->Bounds();
}

void TBrandStamp::PlaceLogo(const TStampLook& look, const TCanvas& canvas, double angle,
                            int logoHeight) {
  hasText_ = w_ > 0 && h_ > 0;
  const std::int64_t textWidth = hasText_ ? w_ : 0;
  const std::int64_t textHeight = hasText_ ? h_ : 0;
  const int logoWidth = LogoWidth(*look.Logo, logoHeight);
  // The mark's cell: the logo, the text centred under it, turned together
  // about the cell's top-left corner.
  w_ = std::max<std::int64_t>(logoWidth, textWidth);
  h_ = logoHeight + textHeight;
  const double radians = angle * std::numbers::pi / 180.0;
  const auto turned = [&](double u, double v) {
    return TPixelPoint{std::llround(u * std::cos(radians) + v * std::sin(radians)),
                       std::llround(v * std::cos(radians) - u * std::sin(radians))};
  };
  logo_.emplace(*look.Logo, logoHeight, angle, turned(static_cast<double>(w_ - logoWidth) / 2, 0),
                opacity_, shadow_);
  textAt_ = turned(static_cast<double>(w_ - textWidth) / 2, logoHeight);
  const bool single = look.Layout == TMarkLayout::Single;
  std::uint64_t coverage = kMaxStampCoverage;
  if (!single) {
    placement_ = TPlacement::Lattice;
    lattice_ = TileLattice(w_, h_, angle, std::clamp(look.Spacing, kMinSpacing, kMaxSpacing));
    const auto area = static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_);
    const auto cell = static_cast<std::uint64_t>(
        std::llabs(lattice_.A.X * lattice_.B.Y - lattice_.B.X * lattice_.A.Y));
    const std::uint64_t copies = area / std::max<std::uint64_t>(1, cell) + 1;
    coverage = copies > kMaxStampCoverage / area ? kMaxStampCoverage : copies * area;
  }
  box_ = logo_->Bounds();
  if (hasText_) {
    image_ = canvas.RenderText(text_, std::min(kMaxStampCoverage, coverage));
    const TRect text = image_ ? image_->Bounds() : CellReach(textWidth, textHeight, angle);
    const auto dx = static_cast<int>(textAt_.X);
    const auto dy = static_cast<int>(textAt_.Y);
    box_ = {std::min(box_.Left, text.Left + dx), std::min(box_.Top, text.Top + dy),
            std::max(box_.Right, text.Right + dx), std::max(box_.Bottom, text.Bottom + dy)};
  }
  if (single) {
    placement_ = TPlacement::Single;
    point_ = AnchorPoint(look.Anchor, look.Margin, box_, width_, height_);
  }
}

TCanvas TBrandStamp::Prepared(TCanvas canvas) const {
  canvas.Font = font_;
  canvas.Brush.Style = TBrushStyle::bsClear;
  canvas.TextOpacity = opacity_;
  canvas.TextOutline = outline_;
  canvas.TextShadow = shadow_;
  return canvas;
}

void TBrandStamp::Paint(TBitmap& band, int top) const {
  if (nothing_ || band.Empty()) return;
  TCanvas canvas = Prepared(TCanvas(band, top, height_));
  PaintOn(canvas, band, top, top, static_cast<std::int64_t>(top) + band.Height());
}

void TBrandStamp::PaintRows(TBitmap& picture, int firstRow, int rows) const {
  if (nothing_ || picture.Empty() || rows <= 0) return;
  TCanvas canvas = Prepared(TCanvas(picture, TCanvas::TRows{firstRow, firstRow + rows}));
  PaintOn(canvas, picture, 0, firstRow, static_cast<std::int64_t>(firstRow) + rows);
}

void TBrandStamp::PaintOn(TCanvas& canvas, TBitmap& target, int targetTop, std::int64_t top,
                          std::int64_t bottom) const {
  if (logo_) {
    // All the logos, then the texts, so that a neighbour's logo never
    // covers a text.
    const auto logo = [&](std::int64_t x, std::int64_t y) {
      logo_->Paint(target, targetTop, top, bottom, x, y);
    };
    const auto text = [&](std::int64_t x, std::int64_t y) {
      if (!hasText_) return;
      if (image_) {
        canvas.Draw(x + textAt_.X, y + textAt_.Y, *image_);
      } else {
        canvas.TextOut(x + textAt_.X, y + textAt_.Y, text_);
      }
    };
    if (placement_ == TPlacement::Single) {
      if (point_.Y + box_.Bottom > top && point_.Y + box_.Top < bottom) {
        logo(point_.X, point_.Y);
        text(point_.X, point_.Y);
      }
      return;
    }
    ForEachCopy(lattice_, box_, 0, top, width_, bottom, logo);
    ForEachCopy(lattice_, box_, 0, top, width_, bottom, text);
    return;
  }
  const auto copy = [&](std::int64_t x, std::int64_t y) {
    if (image_) {
      canvas.Draw(x, y, *image_);
    } else {
      canvas.TextOut(x, y, text_);
    }
  };
  if (placement_ == TPlacement::Single) {
    if (point_.Y + box_.Bottom > top && point_.Y + box_.Top < bottom) copy(point_.X, point_.Y);
    return;
  }
  if (placement_ == TPlacement::Lattice) {
    if (!image_) {
      ForEachCopy(lattice_, box_, 0, top, width_, bottom, copy);
      return;
    }
    // The copies are not in rows: the canvas finds which reach each row.
    std::vector<TPixelPoint> origins;
    ForEachCopy(lattice_, box_, 0, top, width_, bottom, [&](std::int64_t x, std::int64_t y) {
      origins.push_back({x, y});
    });
    canvas.DrawCopies(std::move(origins), *image_);
    return;
  }
  if (image_) {
    canvas.DrawTiled(0, 0, dx_, columns_, dy_, rows_, *image_);
    return;
  }
  // Copy by copy, each rasterised only where it lands on the rows. A copy
  // turned about its corner reaches at most its width plus its height above
  // or below it: rows of copies farther away are not even laid out.
  const std::int64_t reach = w_ + h_;
  for (std::int64_t j = 0; j < rows_; ++j) {
    const std::int64_t y = j * dy_;
    if (y + reach < top || y - reach >= bottom) continue;
    for (std::int64_t i = 0; i < columns_; ++i) canvas.TextOut(i * dx_, y, text_);
  }
}

void StampBrandText(const std::string& text, const TFont& font, TBitmap& bitmap,
                    const TStampLook& look) {
  TBrandStamp(text, font, bitmap.Width(), bitmap.Height(), look).Paint(bitmap, 0);
}

}  // namespace sigilon
