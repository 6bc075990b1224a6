#pragma once
/// JPEG behind the format seam: libjpeg's band decoder and encoder, the
/// file's marker segments as metadata, the target at quality 100 unless
/// asked otherwise.

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// The JPEG type (".JPG"): streams, previews, carries its metadata.
const TPictureFormat& JpegFormat();

}  // namespace sigilon
