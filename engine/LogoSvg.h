#pragma once
// SVG logos drawn through librsvg (internal to the engine).

#include <string>

#include "engine/Bitmap.h"

namespace sigilon {

/// Whether this build was made with librsvg.
bool SvgSupported();

/// The SVG file at `path` drawn `height` pixels high (its width in
/// proportion) as straight BGRA (pfBGRA32). Throws ImageError for a file
/// librsvg cannot read, or in a build without it.
TBitmap RasterizeSvg(const std::string& path, int height);

}  // namespace sigilon
