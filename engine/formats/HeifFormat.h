#pragma once
/// HEIF behind the format seam, on libheif: HEIC (HEVC) and AVIF (AV1). The
/// primary picture is decoded upright (its rotation and mirror applied) and
/// its copy written without them; thumbnails are dropped, files of more than
/// one picture refused. The colour profile or colour codes are carried
/// always, EXIF and XMP by choice.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Most pixels a HEIF file may claim per byte it holds: video coding packs
/// a uniform picture tightly, a file of a few KB claiming a huge one does not.
inline constexpr std::uint64_t kMaxHeifPixelsPerByte = std::uint64_t{1} << 15;

/// Quality of copies when none is chosen.
inline constexpr int kHeifDefaultQuality = 90;

/// Decodes the primary picture of a whole HEIF file (HEIC or AVIF) held in
/// memory, upright; `name` starts every error message. Throws ImageError.
TWholePicture DecodeHeif(std::span<const std::byte> file, const std::string& name);
/// Encodes `picture` (24 bits or BGRA) as HEIC, or AVIF with `avif`.
std::vector<std::byte> EncodeHeif(const TBitmap& picture, const TWriteSpec& request, bool avif);

/// HEIC (".HEIC", ".HEIF", ".HIF"), written with HEVC.
const TPictureFormat& HeicFormat();
/// AVIF (".AVIF"), written with AV1.
const TPictureFormat& AvifFormat();

}  // namespace sigilon
