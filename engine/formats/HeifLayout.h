#pragma once
/// The pictures of a HEIF file that decoding its primary picture makes
/// (grids of tiles, overlays, identities, coded pictures and their alpha),
/// read from the boxes of every meta box with bounds checks before libheif
/// decodes anything.
/// libheif composes a derived picture on a canvas of the size its own
/// description gives, and a decoder makes frames of the size the coded
/// stream gives, neither of which a size box or pixel cap limits; these
/// checks hold them to the caps.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sigilon {

/// Throws ImageError, naming `name`, unless every derived picture of `file`
/// has a canvas within the pixel caps (at most kMaxPixels, at most
/// `maxPixelsPerByte` per byte of the file) and is made of distinct pictures,
/// each with a size, that are together within the same caps; a grid's tiles
/// must be as many as its rows and columns, all of one size, and cover its
/// canvas with no row or column of tiles wholly outside it. A file whose
/// boxes cannot be walked throws too. So does a decoded coded picture (HEVC
/// or AV1) without a size or a codec configuration, or whose stream declares
/// frames beyond the caps or other than its size, bar what the stream crops.
void CheckHeifPictureSizes(std::span<const std::byte> file, std::uint64_t maxPixelsPerByte,
                           const std::string& name);

}  // namespace sigilon
