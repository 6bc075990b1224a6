#pragma once
/// The walk over a JPEG file's marker segments up to its first scan, where
/// every segment that metadata lives in stands.

#include <cstddef>
#include <vector>

#include "engine/JpegCodec.h"

namespace sigilon {

/// Reads from `source` the bytes from the start of the file to its first
/// scan (or to where the segments stop making sense), and a little beyond:
/// it reads in pieces and keeps whole pieces. The stream's next bytes are
/// those after the returned ones. Throws what `source` throws.
std::vector<std::byte> ReadJpegHeaderBytes(const TByteSource& source);

}  // namespace sigilon
