#pragma once
/// Branding a JPEG file as a stream of row bands: decode a band, stamp the
/// copies that reach into it, encode it, write it, move on. Memory stays at a
/// few bands (plus what libjpeg must buffer for progressive or colour-
/// quantised files) whatever the picture's size, and the target is byte for
/// byte what branding the whole picture gives. A picture whose EXIF
/// orientation says it must be turned upright is held whole once: each
/// decoded band goes straight to its upright place.

#include <functional>
#include <string>
#include <vector>

#include "engine/JpegCodec.h"
#include "engine/BrandOptions.h"

namespace sigilon {

class TFont;

/// Brands `sourcePath` into `targetPath` band by band at `quality`, carrying
/// the source's colour profile (and its picture information when
/// `keepPictureInformation` is set) as the whole-picture branding does. With
/// `threads` of 2 or more, decoding (with stamping) and encoding overlap in
/// two threads. The target appears only when complete (a temporary file
/// renamed into place); on failure nothing is left behind. `guardTarget` is
/// called before the source is opened, before the target is created and
/// before it is put in place; `warnings` receives libjpeg's warnings (see
/// TJpegBandDecoder::Warnings) once the picture is decoded, before that last
/// call. The picture is stamped and written upright. Throws ImageError,
/// PlatformError, FontError.
///
/// With `showPicture`, the whole stamped picture is kept and handed to it on
/// the calling thread once it is complete and the guard has passed, while
/// the encoding of its last rows may go on; a target that cannot be created
/// or written is reported only after that, as when the picture is encoded
/// after it is shown. When `showPicture` throws, nothing is written.
void BrandJpegInBands(const std::string& brandText, const TFont& font,
                      const std::string& sourcePath, const std::string& targetPath,
                      const TJpegDecodeOptions& decodeOptions, int quality, int threads,
                      bool keepPictureInformation, const std::function<void()>& guardTarget,
                      std::vector<std::string>& warnings, const TStampLook& look = {},
                      const TStampedPictureHandler& showPicture = {});

}  // namespace sigilon
