#pragma once
/// The few texts a picture's EXIF and XMP say about who made it and when,
/// read from the information its format carries. Never throws: what does
/// not read counts as absent.

#include <optional>
#include <string>

#include "engine/formats/PictureFormat.h"

namespace sigilon {

struct TPictureTags {
  /// EXIF DateTimeOriginal as it stands ("YYYY:MM:DD HH:MM:SS").
  std::optional<std::string> DateTimeOriginal;
  /// EXIF Artist, else the first XMP dc:creator.
  std::optional<std::string> Artist;
  /// EXIF Copyright (the photographer's part), else the first XMP dc:rights.
  std::optional<std::string> Copyright;
};

/// The tags of a picture's information; absent ones are empty or blank.
TPictureTags ReadPictureTags(const TPictureMetadata& metadata);

}  // namespace sigilon
