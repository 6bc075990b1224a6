#pragma once
/// WebP behind the format seam: libwebp decodes the whole picture into one
/// bitmap (24 bits, or BGRA where the file has alpha) and encodes the
/// stamped one from it, lossless where the source was, else at the chosen
/// quality. The colour profile is carried always, EXIF and XMP by choice;
/// animations are refused.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Most pixels a WebP file may claim per byte it holds: a uniform picture
/// packs tightly, a file of a few KB claiming the largest size does not.
inline constexpr std::uint64_t kMaxWebpPixelsPerByte = std::uint64_t{1} << 15;

/// Quality of lossy copies when none is chosen.
inline constexpr int kWebpDefaultQuality = 90;

/// Decodes a whole WebP file held in memory; `name` starts every error
/// message. Throws ImageError.
TWholePicture DecodeWebp(std::span<const std::byte> file, const std::string& name);
/// Encodes `picture` (24 bits or BGRA) as WebP, lossless when the source's
/// metadata says it was.
std::vector<std::byte> EncodeWebp(const TBitmap& picture, const TWriteSpec& request);

/// The WebP type (".WEBP"): whole pictures, carries its metadata.
const TPictureFormat& WebpFormat();

}  // namespace sigilon
