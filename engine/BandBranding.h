#pragma once
/// Branding a picture of a streaming format as a stream of row bands: read a
/// band, stamp the copies that reach into it, encode it, write it, move on.
/// Memory stays at a few bands (plus what the codec must buffer, as libjpeg
/// does for progressive or colour-quantised files) whatever the picture's
/// size, and the target is byte for byte what branding the whole picture
/// gives. A picture whose orientation says it must be turned upright is held
/// whole once: each band read goes straight to its upright place. Every page
/// of a multi-page file (TIFF) is branded in turn into a copy that holds
/// pages, each streaming unless it must be turned.

#include <string>
#include <vector>

#include "engine/BrandJob.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Brands `job.SourcePath` into `job.TargetPath` band by band, read through
/// `format` and written through `writeFormat` (both stream; the same one
/// unless the copy is converted to another type), carrying the source's colour profile (and its
/// picture information with Options.KeepMetadata). With Options.Threads of 2
/// or more, reading (with stamping) and encoding overlap in two threads. The
/// target appears only when complete (a temporary file renamed into place);
/// on failure nothing is left behind. The picture is stamped and written
/// upright. Returns the reader's warnings; with Options.Strict, a picture
/// that has any fails instead, before it is shown. Throws ImageError,
/// PlatformError, FontError.
///
/// With `job.ShowPicture`, the whole stamped picture is kept and handed to
/// it while the encoding of its last rows may go on; a target that cannot be
/// created or written is reported only after that. When it throws, nothing
/// is written.
std::vector<std::string> BrandInBands(const TBrandJob& job, const TPictureFormat& format,
                                      const TPictureFormat& writeFormat);

}  // namespace sigilon
