// Painting rasterised text onto the canvas's bitmap: one copy, a tiled
// pattern of copies, and plain text output.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "engine/Canvas.h"
#include "engine/CanvasPaint.h"

namespace sigilon {

using drawing::Painter;

TRect TCanvas::ClipRect() const {
  return TRect{0, 0, bitmap_.Width(), pictureHeight_ < 0 ? bitmap_.Height() : pictureHeight_};
}

TRect TCanvas::PaintRect() const {
  return TRect{0, top_, bitmap_.Width(), top_ + bitmap_.Height()};
}

void TCanvas::PaintCopyRow(const TTextImage& image, std::size_t r, int by, std::int64_t originX,
                           const TRect& clip, Painter& text, Painter* background) {
  const std::size_t rowOffset = r * static_cast<std::size_t>(image.Stride());
  const std::size_t end = image.rowRuns_[r + 1];
  for (std::size_t k = image.rowRuns_[r]; k < end; ++k) {
    const TTextImage::Run run = image.runs_[k];
    const std::int64_t from = std::max<std::int64_t>(originX + run.Start, clip.Left);
    const std::int64_t to = std::min<std::int64_t>(originX + run.Start + run.Length, clip.Right);
    if (from >= to) continue;
    const std::size_t offset = rowOffset + static_cast<std::size_t>(from - originX);
    const int n = static_cast<int>(to - from);
    if (background) background->PaintRow(by, static_cast<int>(from), &image.background_[offset], n);
    text.PaintRow(by, static_cast<int>(from), &image.text_[offset], n);
  }
}

void TCanvas::TextOut(std::int64_t x, std::int64_t y, const std::string& text) {
  if (bitmap_.Empty()) return;
  // Only the part that lands on the bitmap is rasterised.
  const std::int64_t limit = std::numeric_limits<int>::max();
  const TRect clip{
      static_cast<int>(std::clamp<std::int64_t>(-x, -limit, limit)),
      static_cast<int>(std::clamp<std::int64_t>(top_ - y, -limit, limit)),
      static_cast<int>(std::clamp<std::int64_t>(bitmap_.Width() - x, -limit, limit)),
      static_cast<int>(std::clamp<std::int64_t>(top_ + bitmap_.Height() - y, -limit, limit))};
  const std::optional<TTextImage> image = Render(text, &clip, kMaxPixels);
  if (image) Draw(x, y, *image);
}

void TCanvas::Draw(std::int64_t x, std::int64_t y, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty()) return;
  // Only the rows the bitmap holds (all of them, unless it is a band).
  const TRect clip = PaintRect();
  const std::int64_t originX = x + image.bounds_.Left;
  const std::int64_t originY = y + image.bounds_.Top;
  const int rows = image.bounds_.Bottom - image.bounds_.Top;
  const std::int64_t firstRow = std::max<std::int64_t>(0, clip.Top - originY);
  const std::int64_t lastRow = std::min<std::int64_t>(rows, clip.Bottom - originY);
  if (firstRow >= lastRow) return;
  Painter text(bitmap_, image.textColor_);
  std::optional<Painter> background;
  if (!image.background_.empty()) background.emplace(bitmap_, image.brushColor_);
  for (std::int64_t r = firstRow; r < lastRow; ++r) {
    PaintCopyRow(image, static_cast<std::size_t>(r), static_cast<int>(originY + r - top_), originX,
                 clip, text, background ? &*background : nullptr);
  }
}

void TCanvas::DrawTiled(std::int64_t x, std::int64_t y, std::int64_t dx, std::int64_t columns,
                        std::int64_t dy, std::int64_t rows, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty() || columns <= 0 || rows <= 0) return;
  if (!image.background_.empty() || dx <= 0 || dy <= 0) {
    for (std::int64_t j = 0; j < rows; ++j) {
      for (std::int64_t i = 0; i < columns; ++i) Draw(x + i * dx, y + j * dy, image);
    }
    return;
  }
  // Only the rows the bitmap holds (all of them, unless it is a band).
  const TRect clip = PaintRect();
  const std::int64_t top = y + image.bounds_.Top;  // first picture row of copy row 0
  const std::int64_t imageRows = image.bounds_.Bottom - image.bounds_.Top;
  // Copies whose columns cannot reach the clip are skipped up front.
  const std::int64_t left = x + image.bounds_.Left;
  const std::int64_t firstColumn =
      std::max<std::int64_t>(0, (clip.Left - (left + image.Stride()) + dx) / dx);
  const std::int64_t lastColumn = std::min<std::int64_t>(
      columns, clip.Right - left <= 0 ? 0 : (clip.Right - left + dx - 1) / dx);
  Painter text(bitmap_, image.textColor_);
  for (int by = clip.Top; by < clip.Bottom; ++by) {
    // Copy rows j with top + j * dy <= by < top + j * dy + imageRows.
    const std::int64_t rel = by - top;
    const std::int64_t jFirst =
        std::max<std::int64_t>(0, rel - imageRows < 0 ? 0 : (rel - imageRows) / dy + 1);
    const std::int64_t jLast = rel < 0 ? -1 : std::min<std::int64_t>(rows - 1, rel / dy);
    for (std::int64_t j = jFirst; j <= jLast; ++j) {
      const std::int64_t r = rel - j * dy;
      if (r < 0 || r >= imageRows) continue;
      if (image.rowRuns_[static_cast<std::size_t>(r)] ==
          image.rowRuns_[static_cast<std::size_t>(r) + 1]) {
        continue;
      }
      for (std::int64_t i = firstColumn; i < lastColumn; ++i) {
        PaintCopyRow(image, static_cast<std::size_t>(r), by - top_, left + i * dx, clip, text,
                     nullptr);
      }
    }
  }
}

}  // namespace sigilon
