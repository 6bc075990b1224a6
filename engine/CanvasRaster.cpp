#include "engine/CanvasRaster.h"

#include FT_OUTLINE_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "engine/CanvasFontEngine.h"

namespace sigilon::drawing {

namespace {

// The smooth rasteriser reports span columns as 16-bit values, so large
// windows are rendered in pieces of at most this many pixels a side.
constexpr int kMaxRasterSide = 16384;

// Coverage buffer the rasteriser paints into: each new span is laid over
// what is there, as drawing one glyph after another would.
struct CoverageSink {
  std::uint8_t* data;
  std::size_t stride;
  int xOffset;
  int yOffset;
};

void CoverageSpans(int y, int count, const FT_Span* spans, void* user) {
  const auto& sink = *static_cast<const CoverageSink*>(user);
  std::uint8_t* row = sink.data + static_cast<std::size_t>(y + sink.yOffset) * sink.stride;
  for (int i = 0; i < count; ++i) {
    const unsigned c = spans[i].coverage;
    std::uint8_t* p = row + spans[i].x + sink.xOffset;
    for (unsigned k = 0; k < spans[i].len; ++k) {
      const unsigned m = p[k];
      p[k] = static_cast<std::uint8_t>(m + ((255 - m) * c + 127) / 255);
    }
  }
}

// Stroking and rendering use a FreeType library only for its memory and its
// rasteriser, and no face: each thread has a library of its own, so that
// the text of pictures on different threads is rendered at once without a
// lock (the faces stay in the font engine, behind its lock).
FT_Library ThreadLibrary() {
  thread_local const LibraryPtr library = [] {
    FT_Library raw = nullptr;
    if (FT_Init_FreeType(&raw) != 0) throw FontError("cannot initialise FreeType");
    return LibraryPtr(raw);
  }();
  return library.get();
}

struct StrokerDeleter {
  void operator()(FT_Stroker stroker) const { FT_Stroker_Done(stroker); }
};

// One winding direction for every outline, so that glyphs and lines that
// touch or overlap are filled as one shape (no faint seams where two
// anti-aliased edges meet); and the control box the rasteriser culls by.
void Normalize(Outline& o) {
  if (o.points.empty()) return;
  FT_Outline view = View(o, o.points.data());
  if (FT_Outline_Get_Orientation(&view) == FT_ORIENTATION_POSTSCRIPT) FT_Outline_Reverse(&view);
  o.cbox = {o.points[0].x, o.points[0].y, o.points[0].x, o.points[0].y};
  for (const FT_Vector& p : o.points) {
    o.cbox.xMin = std::min(o.cbox.xMin, p.x);
    o.cbox.yMin = std::min(o.cbox.yMin, p.y);
    o.cbox.xMax = std::max(o.cbox.xMax, p.x);
    o.cbox.yMax = std::max(o.cbox.yMax, p.y);
  }
}

}  // namespace

FT_Outline View(Outline& o, FT_Vector* points) {
  FT_Outline view{};
  view.n_points = static_cast<short>(o.points.size());
  view.n_contours = static_cast<short>(o.contours.size());
  view.points = points;
  view.tags = o.tags.data();
  view.contours = o.contours.data();
  return view;
}

void Place(Outline& o, FT_Pos ascent, double radians) {
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  for (FT_Vector& p : o.points) {
    const double u = static_cast<double>(p.x);
    const double v = static_cast<double>(ascent - p.y);  // down from the cell's top
    p.x = std::lround(u * c + v * s);
    p.y = std::lround(v * c - u * s);
  }
  Normalize(o);
}

Outline Stroke(Outline& o, FT_Pos radius) {
  Outline out;
  if (o.points.empty()) return out;
  FT_Stroker raw = nullptr;
  if (FT_Stroker_New(ThreadLibrary(), &raw) != 0) return out;
  const std::unique_ptr<FT_StrokerRec_, StrokerDeleter> stroker(raw);
  FT_Stroker_Set(raw, radius, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
  FT_Outline source = View(o, o.points.data());
  FT_UInt points = 0;
  FT_UInt contours = 0;
  if (FT_Stroker_ParseOutline(raw, &source, false) != 0 ||
      FT_Stroker_GetCounts(raw, &points, &contours) != 0) {
    return out;
  }
  constexpr FT_UInt kMaxCount = std::numeric_limits<short>::max();
  if (points == 0 || points > kMaxCount || contours > kMaxCount) return out;
  out.points.resize(points);
  out.tags.resize(points);
  out.contours.resize(contours);
  // The stroker appends to an outline with room for its counts.
  FT_Outline target = View(out, out.points.data());
  target.n_points = 0;
  target.n_contours = 0;
  FT_Stroker_Export(raw, &target);
  out.points.resize(static_cast<std::size_t>(target.n_points));
  out.tags.resize(static_cast<std::size_t>(target.n_points));
  out.contours.resize(static_cast<std::size_t>(target.n_contours));
  Normalize(out);
  return out;
}

// Renders the outlines into `buffer`, a coverage image of `window` (pixels,
// relative to the reference point), piece by piece so that span columns stay
// within 16 bits. The outlines that meet a piece are rendered as one shape,
// in batches that fit FreeType's 16-bit point counts.
void Rasterize(const std::vector<Outline*>& outlines, const TRect& window, std::uint8_t* buffer) {
  FT_Library library = ThreadLibrary();
  const std::size_t stride = static_cast<std::size_t>(window.Right - window.Left);
  constexpr std::size_t kMaxBatch = std::numeric_limits<short>::max();
  Outline batch;
  for (int top = window.Top; top < window.Bottom; top += kMaxRasterSide) {
    const int bottom =
        static_cast<int>(std::min<std::int64_t>(window.Bottom, std::int64_t{top} + kMaxRasterSide));
    for (int left = window.Left; left < window.Right; left += kMaxRasterSide) {
      const int right = static_cast<int>(
          std::min<std::int64_t>(window.Right, std::int64_t{left} + kMaxRasterSide));
      CoverageSink sink{buffer, stride, left - window.Left, top - window.Top};
      const auto flush = [&] {
        if (batch.points.empty()) return;
        FT_Outline outline = View(batch, batch.points.data());
        FT_Raster_Params params{};
        params.source = &outline;
        params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
        params.gray_spans = CoverageSpans;
        params.user = &sink;
        params.clip_box = {0, 0, right - left, bottom - top};
        FT_Outline_Render(library, &outline, &params);
        batch.points.clear();
        batch.tags.clear();
        batch.contours.clear();
      };
      for (const Outline* o : outlines) {
        if (o->points.empty() || o->points.size() > kMaxBatch || CeilPixel(o->cbox.xMax) <= left ||
            FloorPixel(o->cbox.xMin) >= right || CeilPixel(o->cbox.yMax) <= top ||
            FloorPixel(o->cbox.yMin) >= bottom) {
          continue;
        }
        if (batch.points.size() + o->points.size() > kMaxBatch ||
            batch.contours.size() + o->contours.size() > kMaxBatch) {
          flush();
        }
        const auto base = static_cast<short>(batch.points.size());
        // Whole-pixel moves keep every copy's coverage identical.
        for (const FT_Vector& p : o->points) {
          batch.points.push_back({p.x - FT_Pos{left} * 64, p.y - FT_Pos{top} * 64});
        }
        batch.tags.insert(batch.tags.end(), o->tags.begin(), o->tags.end());
        for (const short end : o->contours) {
          batch.contours.push_back(static_cast<short>(base + end));
        }
      }
      flush();
    }
  }
}

}  // namespace sigilon::drawing
