// The tiled 45-degree brand text, and the reading of a font description text
// into a drawing font.

#include <algorithm>
#include <cstdint>
#include <optional>

#include "engine/Canvas.h"
#include "engine/Conversions_Unit.h"
#include "engine/VCLJpegBitmap_Unit.h"

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

void StampBrandText(const std::string& text, const TFont& font, TBitmap& bitmap) {
  TCanvas canvas(bitmap);
  canvas.Font = font;
  canvas.Brush.Style = TBrushStyle::bsClear;
  TLogFont turned = canvas.Font.LogFont();
  turned.Escapement = kBrandEscapement;
  turned.Orientation = kBrandEscapement;
  canvas.Font.SetLogFont(turned);

  const TSize extent = canvas.TextExtent(text);
  const std::int64_t w = extent.cx;
  const std::int64_t h = extent.cy;
  // A text that measures nothing would never advance the tiling.
  if (w <= 0 || h <= 0 || bitmap.Empty()) return;

  const TRect r = canvas.ClipRect();
  // Rows from the top edge while bottom >= y - H - 100; copies from the left
  // edge while right >= x - W (both comparisons include equality).
  const std::int64_t rows = (r.Bottom - r.Top + h + kRowOverhang) / (2 * h) + 1;
  const std::int64_t columns = (r.Right - r.Left + w) / w + 1;
  // One rasterisation for the whole picture; every copy is the same pixels.
  // Unless the text is so big that its few copies, each rasterised only
  // where it lands on the picture, cost less (a 2000-point brand on a
  // thumbnail would otherwise rasterise some fifty million pixels).
  const auto area =
      static_cast<std::uint64_t>(r.Right - r.Left) * static_cast<std::uint64_t>(r.Bottom - r.Top);
  const auto copies = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(columns);
  const std::uint64_t coverage =
      copies > kMaxStampCoverage / area ? kMaxStampCoverage : copies * area;
  const std::optional<TTextImage> image =
      canvas.RenderText(text, std::min(kMaxStampCoverage, coverage));
  if (image) {
    canvas.DrawTiled(r.Left, r.Top, w, columns, 2 * h, rows, *image);
    return;
  }
  for (std::int64_t j = 0; j < rows; ++j) {
    for (std::int64_t i = 0; i < columns; ++i)
      canvas.TextOut(r.Left + i * w, r.Top + j * 2 * h, text);
  }
}

}  // namespace sigilon
