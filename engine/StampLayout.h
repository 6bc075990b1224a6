#pragma once
/// Where the copies of a brand go: the lattice of a tiled mark at any angle
/// and spacing, and the place of a single mark at an anchor. Pure arithmetic
/// on whole pixels, apart from the drawing.

#include <cstdint>
#include <functional>

#include "engine/BrandOptions.h"
#include "engine/Canvas.h"

namespace sigilon {

/// The copies of a tiled mark stand at I * A + J * B for all whole I, J.
struct TStampLattice {
  TPixelPoint A;
  TPixelPoint B;
};

/// The tiling of a text `width` long and `height` high at `angle` degrees:
/// the 45-degree pattern (a copy every `width` along a row, rows two heights
/// apart), both pitches times `spacing`, the whole pattern turned with the
/// text so that copies keep their distance at every angle. Never degenerate.
TStampLattice TileLattice(std::int64_t width, std::int64_t height, double angle, double spacing);

/// Calls `copy` with every lattice point whose `box` (relative to the point)
/// meets columns `left` to `right` and rows `top` to `bottom` (ends
/// excluded), row of copies by row of copies.
void ForEachCopy(const TStampLattice& lattice, const TRect& box, std::int64_t left,
                 std::int64_t top, std::int64_t right, std::int64_t bottom,
                 const std::function<void(std::int64_t, std::int64_t)>& copy);

/// Where the reference point of a single mark goes so that its `box`
/// (relative to the reference point) stands at `anchor` of a `width` x
/// `height` picture, `margin` percent of the shorter side from the edges it
/// is anchored to (centred along the others).
TPixelPoint AnchorPoint(TMarkAnchor anchor, double margin, const TRect& box, int width, int height);

}  // namespace sigilon
