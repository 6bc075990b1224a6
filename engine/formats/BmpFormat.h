#pragma once
/// Windows bitmaps behind the format seam: read and written whole, in the
/// file's own pixel format, without a preview.

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The bitmap type (".BMP").
const TPictureFormat& BmpFormat();

}  // namespace sigilon
