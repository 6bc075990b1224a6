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
using drawing::ShadowPainter;

TRect TCanvas::ClipRect() const {
  return TRect{0, 0, bitmap_.Width(), pictureHeight_ < 0 ? bitmap_.Height() : pictureHeight_};
}

TRect TCanvas::PaintRect() const {
  if (rows_) {
    return TRect{0, std::clamp(rows_->First, 0, bitmap_.Height()), bitmap_.Width(),
                 std::clamp(rows_->End, 0, bitmap_.Height())};
  }
  return TRect{0, top_, bitmap_.Width(), top_ + bitmap_.Height()};
}

void TCanvas::PaintCopiesRow(const TTextImage& image, std::size_t r, int by, std::int64_t originX,
                             std::int64_t dx, std::int64_t count, const TRect& clip,
                             Painter* background, ShadowPainter* shadow, Painter* outline,
                             Painter& text) {
  const std::size_t rowOffset = r * static_cast<std::size_t>(image.Stride());
  const auto paintRuns = [&](const std::vector<TTextImage::Run>& runs,
                             const std::vector<std::size_t>& rowRuns, auto paint) {
    const std::size_t runsBegin = rowRuns[r];
    const std::size_t runsEnd = rowRuns[r + 1];
    std::int64_t copyX = originX;
    for (std::int64_t i = 0; i < count && runsBegin != runsEnd; ++i, copyX += dx) {
      for (std::size_t k = runsBegin; k < runsEnd; ++k) {
        const TTextImage::Run run = runs[k];
        const std::int64_t from = std::max<std::int64_t>(copyX + run.Start, clip.Left);
        const std::int64_t to = std::min<std::int64_t>(copyX + run.Start + run.Length, clip.Right);
        if (from >= to) continue;
        paint(static_cast<int>(from), rowOffset + static_cast<std::size_t>(from - copyX),
              static_cast<int>(to - from));
      }
    }
  };
  if (shadow) {
    // Under the shadow only the background; over it the rest.
    if (background) {
      paintRuns(image.runs_, image.rowRuns_, [&](int x, std::size_t offset, int n) {
        background->PaintRow(by, x, &image.background_[offset], n);
      });
      background = nullptr;
    }
    // The row's shadow is prepared once for all its copies.
    shadow->SetRow(&image.shadow_[rowOffset]);
    for (std::size_t k = image.shadowRowRuns_[r]; k < image.shadowRowRuns_[r + 1]; ++k) {
      shadow->Load(image.shadowRuns_[k].Start, image.shadowRuns_[k].Length);
    }
    paintRuns(image.shadowRuns_, image.shadowRowRuns_, [&](int x, std::size_t offset, int n) {
      shadow->PaintRow(by, x, static_cast<int>(offset - rowOffset), n);
    });
  }
  // The plain text alone is the common case: its loop carries no layer tests.
  if (!background && !outline) {
    paintRuns(image.runs_, image.rowRuns_, [&](int x, std::size_t offset, int n) {
      text.PaintRow(by, x, &image.text_[offset], n);
    });
    return;
  }
  paintRuns(image.runs_, image.rowRuns_, [&](int x, std::size_t offset, int n) {
    if (background) background->PaintRow(by, x, &image.background_[offset], n);
    if (outline) outline->PaintRow(by, x, &image.outline_[offset], n);
    text.PaintRow(by, x, &image.text_[offset], n);
  });
}

void TCanvas::TextOut(std::int64_t x, std::int64_t y, const std::string& text) {
  if (bitmap_.Empty()) return;
  // Only the part that lands on the rows painted is rasterised.
  const std::int64_t limit = std::numeric_limits<int>::max();
  const TRect paint = PaintRect();
  const TRect clip{static_cast<int>(std::clamp<std::int64_t>(-x, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(paint.Top - y, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(bitmap_.Width() - x, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(paint.Bottom - y, -limit, limit))};
  const std::optional<TTextImage> image = Render(text, &clip, kMaxPixels);
  if (image) Draw(x, y, *image);
}

void TCanvas::Draw(std::int64_t x, std::int64_t y, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty()) return;
  // Only the rows painted (all of them, unless a band or rows were asked for).
  const TRect clip = PaintRect();
  const std::int64_t originX = x + image.bounds_.Left;
  const std::int64_t originY = y + image.bounds_.Top;
  const int rows = image.bounds_.Bottom - image.bounds_.Top;
  const std::int64_t firstRow = std::max<std::int64_t>(0, clip.Top - originY);
  const std::int64_t lastRow = std::min<std::int64_t>(rows, clip.Bottom - originY);
  if (firstRow >= lastRow) return;
  Painter text(bitmap_, image.textColor_, image.opacity_);
  std::optional<Painter> outline;
  if (!image.outline_.empty()) outline.emplace(bitmap_, image.outlineColor_, image.opacity_);
  std::optional<Painter> background;
  if (!image.background_.empty()) background.emplace(bitmap_, image.brushColor_);
  std::optional<ShadowPainter> shadow;
  if (!image.shadow_.empty()) shadow.emplace(bitmap_, image.opacity_);
  for (std::int64_t r = firstRow; r < lastRow; ++r) {
    PaintCopiesRow(image, static_cast<std::size_t>(r), static_cast<int>(originY + r - top_),
                   originX, 0, 1, clip, background ? &*background : nullptr,
                   shadow ? &*shadow : nullptr, outline ? &*outline : nullptr, text);
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
  // Only the rows painted (all of them, unless a band or rows were asked for).
  const TRect clip = PaintRect();
  const std::int64_t top = y + image.bounds_.Top;  // first picture row of copy row 0
  const std::int64_t imageRows = image.bounds_.Bottom - image.bounds_.Top;
  // Copies whose columns cannot reach the clip are skipped up front.
  const std::int64_t left = x + image.bounds_.Left;
  const std::int64_t firstColumn =
      std::max<std::int64_t>(0, (clip.Left - (left + image.Stride()) + dx) / dx);
  const std::int64_t lastColumn = std::min<std::int64_t>(
      columns, clip.Right - left <= 0 ? 0 : (clip.Right - left + dx - 1) / dx);
  if (lastColumn <= firstColumn) return;
  Painter text(bitmap_, image.textColor_, image.opacity_);
  std::optional<Painter> outline;
  if (!image.outline_.empty()) outline.emplace(bitmap_, image.outlineColor_, image.opacity_);
  std::optional<ShadowPainter> shadow;
  if (!image.shadow_.empty()) shadow.emplace(bitmap_, image.opacity_);
  for (int by = clip.Top; by < clip.Bottom; ++by) {
    // Copy rows j with top + j * dy <= by < top + j * dy + imageRows.
    const std::int64_t rel = by - top;
    const std::int64_t jFirst =
        std::max<std::int64_t>(0, rel - imageRows < 0 ? 0 : (rel - imageRows) / dy + 1);
    const std::int64_t jLast = rel < 0 ? -1 : std::min<std::int64_t>(rows - 1, rel / dy);
    for (std::int64_t j = jFirst; j <= jLast; ++j) {
      const std::int64_t r = rel - j * dy;
      if (r < 0 || r >= imageRows) continue;
      PaintCopiesRow(image, static_cast<std::size_t>(r), by - top_, left + firstColumn * dx, dx,
                     lastColumn - firstColumn, clip, nullptr, shadow ? &*shadow : nullptr,
                     outline ? &*outline : nullptr, text);
    }
  }
}

void TCanvas::DrawCopies(std::vector<TPixelPoint> origins, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty() || origins.empty()) return;
  if (!image.background_.empty()) {
    for (const TPixelPoint& origin : origins) Draw(origin.X, origin.Y, image);
    return;
  }
  // Top to bottom: the copies that reach a row are then one stretch of them.
  std::sort(origins.begin(), origins.end(), [](const TPixelPoint& a, const TPixelPoint& b) {
    return a.Y != b.Y ? a.Y < b.Y : a.X < b.X;
  });
  const TRect clip = PaintRect();
  Painter text(bitmap_, image.textColor_, image.opacity_);
  std::optional<Painter> outline;
  if (!image.outline_.empty()) outline.emplace(bitmap_, image.outlineColor_, image.opacity_);
  std::optional<ShadowPainter> shadow;
  if (!image.shadow_.empty()) shadow.emplace(bitmap_, image.opacity_);
  std::size_t first = 0;
  for (int by = clip.Top; by < clip.Bottom; ++by) {
    // Copies that end above the row are done with.
    while (first < origins.size() && origins[first].Y + image.bounds_.Bottom <= by) ++first;
    for (std::size_t k = first; k < origins.size(); ++k) {
      const std::int64_t top = origins[k].Y + image.bounds_.Top;
      if (top > by) break;
      if (by >= origins[k].Y + image.bounds_.Bottom) continue;
      PaintCopiesRow(image, static_cast<std::size_t>(by - top), by - top_,
                     origins[k].X + image.bounds_.Left, 0, 1, clip, nullptr,
                     shadow ? &*shadow : nullptr, outline ? &*outline : nullptr, text);
    }
  }
}

}  // namespace sigilon
