#pragma once
// Payloads of JPEG marker segments built by hand: plain texts, and EXIF laid
// out as cameras write it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Layouts are written as designated initializers naming only what matters.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace sigilon::test {

/// Bytes of a text, for segment payloads.
inline std::vector<std::byte> Payload(const std::string& text) {
  std::vector<std::byte> out;
  for (char c : text) out.push_back(static_cast<std::byte>(c));
  return out;
}

/// An EXIF segment as cameras lay it out: TIFF header, IFD0 (Orientation
/// when not 0, a Copyright text stored after the directory), then IFD1 and
/// its JPEG thumbnail at the end when there is one.
struct TExifLayout {
  bool BigEndian = false;
  int Orientation = 0;
  std::string Thumbnail;
  std::string Copyright = "(c) Studio Nord 2026";

  std::size_t Ifd0Entries() const { return Orientation != 0 ? 2 : 1; }
  /// Offsets inside the TIFF data (after "Exif\0\0").
  std::size_t OrientationValueAt() const { return 8 + 2 + 8; }
  std::size_t NextIfdLinkAt() const { return 8 + 2 + 12 * Ifd0Entries(); }
};

inline std::vector<std::byte> ExifPayload(const TExifLayout& layout) {
  std::string tiff;
  const auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      const int shift = layout.BigEndian ? 8 * (bytes - 1 - i) : 8 * i;
      tiff += static_cast<char>((v >> shift) & 0xFF);
    }
  };
  const auto entry = [&](int tag, int type, std::uint32_t count, std::uint32_t value) {
    put(tag, 2);
    put(type, 2);
    put(count, 4);
    // A SHORT sits in the first two bytes of the field.
    if (type == 3) {
      put(value, 2);
      put(0, 2);
    } else {
      put(value, 4);
    }
  };
  tiff += layout.BigEndian ? "MM" : "II";
  put(42, 2);
  put(8, 4);
  const std::size_t copyrightAt = layout.NextIfdLinkAt() + 4;
  const std::size_t copyrightSize = layout.Copyright.size() + 1;
  const std::size_t ifd1At = copyrightAt + copyrightSize + copyrightSize % 2;
  put(static_cast<std::uint32_t>(layout.Ifd0Entries()), 2);
  if (layout.Orientation != 0) entry(0x0112, 3, 1, layout.Orientation);
  entry(0x8298, 2, copyrightSize, copyrightAt);
  put(layout.Thumbnail.empty() ? 0 : ifd1At, 4);
  tiff += layout.Copyright + std::string(1 + copyrightSize % 2, '\0');
  if (!layout.Thumbnail.empty()) {
    put(2, 2);
    entry(0x0201, 4, 1, ifd1At + 2 + 2 * 12 + 4);
    entry(0x0202, 4, 1, layout.Thumbnail.size());
    put(0, 4);
    tiff += layout.Thumbnail;
  }
  return Payload(std::string("Exif\0\0", 6) + tiff);
}

}  // namespace sigilon::test
