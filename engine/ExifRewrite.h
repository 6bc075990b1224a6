#pragma once
/// The EXIF block of a picture (a TIFF structure in either byte order) as a
/// branded copy carries it: upright, and without the thumbnail that would
/// show the unbranded picture; and the texts it states. Pure functions over
/// the bytes that never throw.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sigilon {

struct TExifRewrite {
  /// IFD0's Orientation 1..8; 1 when absent, out of range or unreadable.
  int Orientation = 1;
  /// The TIFF data with every Orientation of IFD0 set to 1 and IFD0's link
  /// to IFD1 cleared; the directories chained from it and every range they
  /// point to (thumbnail stream, strips, values kept out of line) are zeroed
  /// wherever they lie, save the TIFF header and IFD0's directory, and cut
  /// off where they end the data. Empty when IFD0 does not read: what cannot
  /// be read cannot be cleared. A damaged IFD1 or later directory is cleared
  /// as far as it reads, and never costs IFD0.
  std::optional<std::vector<std::byte>> Cleared;
};

/// Reads and clears `tiff`, the EXIF block without any container signature.
TExifRewrite RewriteExif(std::span<const std::byte> tiff);

/// The bytes of the ASCII tag `tag` of IFD0, or of the EXIF IFD IFD0 links to
/// when `inExifIfd`, as they stand (NULs included); nothing when it is absent,
/// of another type or out of the data.
std::optional<std::string_view> ReadExifText(std::span<const std::byte> tiff, std::uint16_t tag,
                                             bool inExifIfd = false);

}  // namespace sigilon
