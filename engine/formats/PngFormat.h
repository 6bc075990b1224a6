#pragma once
/// PNG behind the format seam: libpng's band decoder and encoder, every
/// variant kept in its own kind (depth, grey, palette, alpha), the colour
/// profile always and EXIF, XMP and IPTC by choice.

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The PNG type (".PNG"): streams, carries its metadata, no preview.
const TPictureFormat& PngFormat();

}  // namespace sigilon
