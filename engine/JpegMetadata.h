#pragma once
/// What a JPEG file says about its picture besides the pixels: the EXIF
/// orientation, the ICC colour profile, and the EXIF, IPTC and XMP segments a
/// branded copy may carry. Reading is a pure function over the file's bytes
/// that never throws: a damaged or lying segment counts as absent.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sigilon {

/// Marker codes of the application segments read and written here.
inline constexpr std::uint8_t kJpegApp1 = 0xE1;   // EXIF, XMP
inline constexpr std::uint8_t kJpegApp2 = 0xE2;   // ICC profile chunks
inline constexpr std::uint8_t kJpegApp13 = 0xED;  // Photoshop resources (IPTC)

/// Most payload bytes one marker segment holds: its 16-bit length counts
/// itself.
inline constexpr std::size_t kMaxSegmentPayload = 65533;

/// One marker segment: its marker code and its payload without the length.
struct TJpegSegment {
  std::uint8_t Marker = 0;
  std::vector<std::byte> Payload;
  friend bool operator==(const TJpegSegment&, const TJpegSegment&) = default;
};

struct TJpegMetadata {
  /// EXIF orientation 1..8: how the stored pixels must be turned to stand
  /// upright, as IFD0 states it whatever follows IFD0. 1 when the tag is
  /// absent, out of range or unreadable.
  int Orientation = 1;
  /// The whole ICC profile, put together from its chunks in sequence order;
  /// empty when there is none or its chunk sequence is incomplete or
  /// inconsistent.
  std::vector<std::byte> IccProfile;
  /// The picture information a branded copy may carry, in file order and
  /// ready to write: the first EXIF segment with Orientation 1 and no
  /// thumbnail (ExifRewrite.h), the first XMP packet with every orientation
  /// it states set to 1 and no preview image (XmpRewrite.h), and the
  /// Photoshop resource segments (IPTC) without their thumbnails. Segments whose structure does not
  /// read are left out: what cannot be read cannot be cleared of a thumbnail or a wrong
  /// orientation.
  std::vector<TJpegSegment> PictureInformation;
};

/// Reads the marker segments from the start of the file up to the first
/// scan. Stops quietly at the first segment that does not fit the data.
TJpegMetadata ReadJpegMetadata(std::span<const std::byte> data);

/// The APP2 segments that carry `profile`, chunk 1 first; none for an empty
/// or impossibly large profile (more than 255 chunks).
std::vector<TJpegSegment> IccProfileSegments(std::span<const std::byte> profile);

/// The segments a branded copy of a file with `metadata` carries: its picture
/// information when `keepPictureInformation` is set, then its colour profile.
std::vector<TJpegSegment> BrandedCopySegments(const TJpegMetadata& metadata,
                                              bool keepPictureInformation);

}  // namespace sigilon
