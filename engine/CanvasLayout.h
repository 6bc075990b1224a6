#pragma once
// A text laid out with a logical font into outlines (internal to the
// engine): glyph advances, fallback faces, synthetic styles, underline and
// strike-out, and the cell the Windows metrics give it.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include "engine/Canvas.h"
#include "engine/CanvasRaster.h"

namespace sigilon::drawing {

/// A text laid out once: outlines in text space (x along the baseline from
/// the cell's left edge, y up from the baseline), moved to the picture by
/// Place.
struct LaidOutText {
  TSize extent;
  FT_Pos ascent = 0;  // 26.6
  FT_Pos em = 0;      // character height, 26.6
  std::vector<Outline> glyphs;
  std::vector<Outline> lines;  // underline and strike-out
  Outline cell;                // the whole cell, for an opaque background
};

/// Lays the text out once with the font's face and size, holding the font
/// engine's lock meanwhile. Throws FontError when no font can be found.
LaidOutText LayOut(const std::string& text, const TLogFont& log, int pixelsPerInch);

}  // namespace sigilon::drawing
