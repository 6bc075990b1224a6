// Measuring text and rasterising it once into coverage with runs, ready to
// be painted at many places.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <vector>

#include "engine/Canvas.h"
#include "engine/CanvasLayout.h"
#include "engine/CanvasRaster.h"
#include "engine/CanvasShadow.h"

namespace sigilon {

using drawing::CeilPixel;
using drawing::FloorPixel;
using drawing::LaidOutText;
using drawing::Outline;

namespace {

// Longest stretch of zero coverage painted through inside one run.
constexpr std::size_t kRunGap = 16;

// Turns contour coverage into what is painted before the fill so that the
// two together equal the fill laid over the contour and that pair blended
// at `opacity`: painting the contour at c' * opacity and then the fill at
// f * opacity gives exactly that when c' = c (1 - f) / (1 - f * opacity),
// all as fractions of 255. Inside an opaque fill the contour would not show,
// so nothing is painted there.
void UnderFill(const std::vector<std::uint8_t>& fill, unsigned opacity,
               std::vector<std::uint8_t>& contour) {
  for (std::size_t i = 0; i < contour.size(); ++i) {
    const unsigned c = contour[i];
    const unsigned f = fill[i];
    if (c == 0 || f == 0) continue;
    const unsigned denominator = 255 * 255 - f * opacity;
    if (denominator == 0) {
      contour[i] = 0;
      continue;
    }
    const unsigned value = (c * (255 - f) * 255 + denominator / 2) / denominator;
    contour[i] = static_cast<std::uint8_t>(std::min(255u, value));
  }
}

// The runs of columns, row by row, of a `width` x `height` coverage whose
// pixel i is painted when `used(i)`.
template <typename Used, typename Runs>
void FindRuns(std::size_t width, std::size_t height, const Used& used, Runs& runs,
              std::vector<std::size_t>& rowRuns) {
  rowRuns.reserve(height + 1);
  for (std::size_t r = 0; r < height; ++r) {
    rowRuns.push_back(runs.size());
    const std::size_t row = r * width;
    for (std::size_t i = 0; i < width;) {
      if (!used(row + i)) {
        ++i;
        continue;
      }
      const std::size_t start = i;
      // Turned strokes cross a row in runs of a few pixels; gaps shorter than
      // kRunGap are painted through (zero coverage leaves a pixel exactly as
      // it was), which costs less than starting a run for every stroke.
      std::size_t end = i;
      while (i < width && i - end <= kRunGap) {
        if (used(row + i)) end = i + 1;
        ++i;
      }
      i = end;
      runs.push_back({static_cast<int>(start), static_cast<int>(end - start)});
    }
  }
  rowRuns.push_back(runs.size());
}

}  // namespace

std::uint8_t TTextImage::Coverage(int x, int y) const {
  if (x < bounds_.Left || x >= bounds_.Right || y < bounds_.Top || y >= bounds_.Bottom) return 0;
  return text_[static_cast<std::size_t>(y - bounds_.Top) * static_cast<std::size_t>(Stride()) +
               static_cast<std::size_t>(x - bounds_.Left)];
}

TSize TCanvas::TextExtent(const std::string& text) const {
  return drawing::LayOut(text, Font.LogFont(), Font.PixelsPerInch).extent;
}

std::optional<TTextImage> TCanvas::Render(const std::string& text, const TRect* clip,
                                          std::uint64_t maxPixels) const {
  LaidOutText laid = drawing::LayOut(text, Font.LogFont(), Font.PixelsPerInch);

  const double radians = Font.LogFont().Escapement / 10.0 * std::numbers::pi / 180.0;
  std::vector<Outline*> textOutlines;
  for (Outline& o : laid.glyphs) textOutlines.push_back(&o);
  for (Outline& o : laid.lines) textOutlines.push_back(&o);
  const bool opaque = Brush.Style == TBrushStyle::bsSolid && laid.extent.cx > 0;
  std::vector<Outline*> cellOutlines;
  if (opaque) cellOutlines.push_back(&laid.cell);

  for (Outline* o : textOutlines) drawing::Place(*o, laid.ascent, radians);
  for (Outline* o : cellOutlines) drawing::Place(*o, laid.ascent, radians);
  // The contour reaches a sixteenth of the em beyond the glyph's edge.
  std::vector<Outline> strokes;
  std::vector<Outline*> strokeOutlines;
  if (TextOutline) {
    const FT_Pos radius = std::max<FT_Pos>(64, (laid.em + 8) / 16);
    strokes.reserve(textOutlines.size());
    for (Outline* o : textOutlines) strokes.push_back(drawing::Stroke(*o, radius));
    for (Outline& o : strokes) strokeOutlines.push_back(&o);
  }

  std::optional<FT_BBox> box;
  const auto grow = [&](const std::vector<Outline*>& list) {
    for (const Outline* o : list) {
      if (o->points.empty()) continue;
      if (!box) {
        box = o->cbox;
      } else {
        box->xMin = std::min(box->xMin, o->cbox.xMin);
        box->yMin = std::min(box->yMin, o->cbox.yMin);
        box->xMax = std::max(box->xMax, o->cbox.xMax);
        box->yMax = std::max(box->yMax, o->cbox.yMax);
      }
    }
  };
  grow(textOutlines);
  grow(cellOutlines);
  grow(strokeOutlines);
  std::optional<drawing::ShadowGeometry> shadow;
  if (TextShadow && box) {
    // The shadow reaches beyond the mark down to the right.
    shadow = drawing::ShadowFor(laid.em);
    const FT_Pos reach = FT_Pos{shadow->Reach} * 64;
    box->xMin = std::min(box->xMin, box->xMin + FT_Pos{shadow->Dx} * 64 - reach);
    box->yMin = std::min(box->yMin, box->yMin + FT_Pos{shadow->Dy} * 64 - reach);
    box->xMax = std::max(box->xMax, box->xMax + FT_Pos{shadow->Dx} * 64 + reach);
    box->yMax = std::max(box->yMax, box->yMax + FT_Pos{shadow->Dy} * 64 + reach);
  }

  TTextImage image;
  image.extent_ = laid.extent;
  image.textColor_ = ColorToRGB(Font.Color);
  image.outlineColor_ = ColorToRGB(TextOutline.value_or(Font.Color));
  image.brushColor_ = ColorToRGB(Brush.Color);
  image.opacity_ = static_cast<std::uint8_t>((std::clamp(TextOpacity, 1, 100) * 255 + 50) / 100);
  if (!box) return image;

  std::int64_t left = FloorPixel(box->xMin), top = FloorPixel(box->yMin);
  std::int64_t right = CeilPixel(box->xMax), bottom = CeilPixel(box->yMax);
  if (clip) {
    left = std::max<std::int64_t>(left, clip->Left);
    top = std::max<std::int64_t>(top, clip->Top);
    right = std::min<std::int64_t>(right, clip->Right);
    bottom = std::min<std::int64_t>(bottom, clip->Bottom);
  }
  if (right <= left || bottom <= top) return image;
  const auto width = static_cast<std::uint64_t>(right - left);
  const auto height = static_cast<std::uint64_t>(bottom - top);
  if (width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max() ||
      width > maxPixels / height) {
    return std::nullopt;
  }
  image.bounds_ = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                   static_cast<int>(bottom)};
  const std::size_t pixels = static_cast<std::size_t>(width * height);
  image.text_.assign(pixels, 0);
  drawing::Rasterize(textOutlines, image.bounds_, image.text_.data());
  if (opaque) {
    image.background_.assign(pixels, 0);
    drawing::Rasterize(cellOutlines, image.bounds_, image.background_.data());
  }
  if (TextOutline) {
    image.outline_.assign(pixels, 0);
    drawing::Rasterize(strokeOutlines, image.bounds_, image.outline_.data());
  }
  if (shadow) {
    std::vector<Outline*> mark = textOutlines;
    mark.insert(mark.end(), strokeOutlines.begin(), strokeOutlines.end());
    image.shadow_ = drawing::RenderShadow(mark, image.bounds_, *shadow);
    // Under the text and its contour taken together, as one layer.
    std::vector<std::uint8_t> cover = image.text_;
    if (TextOutline) {
      for (std::size_t i = 0; i < pixels; ++i) {
        cover[i] = static_cast<std::uint8_t>(cover[i] +
                                             (image.outline_[i] * (255u - cover[i]) + 127) / 255);
      }
    }
    UnderFill(cover, image.opacity_, image.shadow_);
  }
  if (TextOutline) UnderFill(image.text_, image.opacity_, image.outline_);

  const std::uint8_t* b = opaque ? image.background_.data() : nullptr;
  const std::uint8_t* o = TextOutline ? image.outline_.data() : nullptr;
  FindRuns(
      width, height,
      [&](std::size_t i) { return image.text_[i] != 0 || (b && b[i] != 0) || (o && o[i] != 0); },
      image.runs_, image.rowRuns_);
  if (shadow) {
    FindRuns(
        width, height, [&](std::size_t i) { return image.shadow_[i] != 0; }, image.shadowRuns_,
        image.shadowRowRuns_);
  }
  return image;
}

std::optional<TTextImage> TCanvas::RenderText(const std::string& text,
                                              std::uint64_t maxPixels) const {
  return Render(text, nullptr, maxPixels);
}

}  // namespace sigilon
