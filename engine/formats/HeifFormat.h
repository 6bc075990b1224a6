#pragma once
/// HEIF behind the format seam, on libheif: HEIC (HEVC) and AVIF (AV1). The
/// primary picture is decoded upright (its rotation and mirror applied) and
/// its copy written without them; thumbnails are dropped, files of more than
/// one picture refused. The colour profile or colour codes are carried
/// always, EXIF and XMP by choice.

#include <cstdint>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// Most pixels a HEIF file may claim per byte it holds: video coding packs
/// a uniform picture tightly, a file of a few KB claiming a huge one does not.
inline constexpr std::uint64_t kMaxHeifPixelsPerByte = std::uint64_t{1} << 15;

/// Quality of copies when none is chosen.
inline constexpr int kHeifDefaultQuality = 90;

/// HEIC (".HEIC", ".HEIF", ".HIF"), written with HEVC.
const TPictureFormat& HeicFormat();
/// AVIF (".AVIF"), written with AV1.
const TPictureFormat& AvifFormat();

}  // namespace sigilon
