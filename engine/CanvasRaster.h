#pragma once
// Outlines turned onto the picture and rendered to 8-bit coverage (internal
// to the engine).

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <vector>

#include "engine/Canvas.h"

namespace sigilon::drawing {

/// An outline in 26.6 coordinates, owned here so that it outlives the glyph
/// slot it came from.
struct Outline {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;
  FT_BBox cbox{};  // in 26.6, set by Place
};

/// A FreeType view of an outline, with `points` standing for its points.
FT_Outline View(Outline& o, FT_Vector* points);

/// Moves a text-space outline (x along the baseline, y up from it) to the
/// picture, relative to the reference point (y down), turned by `radians`
/// counter-clockwise as seen on the picture, and sets its control box.
void Place(Outline& o, FT_Pos ascent, double radians);

/// The contour of a placed outline: `radius` (26.6) to each side of its
/// edges, with round joins, as a placed outline that fills the band between
/// its borders. Empty when FreeType cannot stroke it or the contour would
/// exceed an outline's 16-bit point counts.
Outline Stroke(Outline& o, FT_Pos radius);

inline FT_Pos FloorPixel(FT_Pos v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); }
inline FT_Pos CeilPixel(FT_Pos v) { return -FloorPixel(-v); }

/// Renders placed outlines into `buffer`, a coverage image of `window`
/// (pixels, relative to the reference point, one byte a pixel, rows of
/// window width); overlapping outlines fill as one shape.
void Rasterize(const std::vector<Outline*>& outlines, const TRect& window, std::uint8_t* buffer);

}  // namespace sigilon::drawing
