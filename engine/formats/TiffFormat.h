#pragma once
/// TIFF behind the format seam: libtiff reads strips and tiles of every page,
/// grey, RGB, alpha and palette in 8 or 16 bits, and writes each page in its
/// own kind and compression; the colour profile always, XMP and IPTC by
/// choice.

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The TIFF type (".TIF", ".TIFF"): read and written in bands, every page,
/// no preview.
const TPictureFormat& TiffFormat();

}  // namespace sigilon
