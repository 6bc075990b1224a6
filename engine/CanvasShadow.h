#pragma once
// The soft shadow under a text: its coverage blurred and moved down to the
// right by amounts that follow the character height (internal to the engine).

#include <cstdint>
#include <vector>

#include "engine/Canvas.h"
#include "engine/CanvasRaster.h"

namespace sigilon::drawing {

/// Where the shadow of a text of one character height falls: moved by
/// (Dx, Dy) pixels and spread up to Reach pixels each way.
struct ShadowGeometry {
  int Dx = 0;
  int Dy = 0;
  int Box = 0;    // radius of each of the three box blurs
  int Reach = 0;  // three times Box
};

/// The shadow of a text whose character height is `em` (26.6).
ShadowGeometry ShadowFor(FT_Pos em);

/// The shadow of the placed outlines (the text and its contour, as one
/// shape) over `window` (pixels relative to the reference point): coverage
/// blurred, moved and weakened to the shadow's strength. Rasterises only the
/// part of the outlines that can reach the window.
std::vector<std::uint8_t> RenderShadow(const std::vector<Outline*>& outlines, const TRect& window,
                                       const ShadowGeometry& shadow);

/// The coverage a shadow over `window` comes from: the window moved back by
/// the offset and widened by the blur's reach.
TRect ShadowSource(const TRect& window, const ShadowGeometry& shadow);

/// The shadow over `window` of `coverage`, given row by row over
/// ShadowSource(window): blurred and weakened to the shadow's strength.
std::vector<std::uint8_t> ShadowOfCoverage(const std::vector<std::uint8_t>& coverage,
                                           const TRect& window, const ShadowGeometry& shadow);

}  // namespace sigilon::drawing
