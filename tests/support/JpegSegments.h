#pragma once
// Payloads of JPEG marker segments built by hand: plain texts, and EXIF laid
// out as cameras write it.

#include <algorithm>
#include <array>
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

/// A TIFF structure laid out by hand: `size` zero bytes with the header
/// (IFD0 at `ifd0`), then directories and texts wherever a case puts them.
class TTiffWriter {
 public:
  TTiffWriter(bool bigEndian, std::size_t size, std::uint32_t ifd0)
      : bigEndian_(bigEndian), tiff_(size, '\0') {
    tiff_[0] = tiff_[1] = bigEndian ? 'M' : 'I';
    Put(2, 42, 2);
    Put(4, ifd0, 4);
  }
  void Put(std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      const int shift = bigEndian_ ? 8 * (bytes - 1 - i) : 8 * i;
      tiff_.at(at + i) = static_cast<char>((v >> shift) & 0xFF);
    }
  }
  /// Entries {tag, type, count, value}: a single SHORT sits in the first two
  /// bytes of its field. `entries` may claim more entries than it lists.
  void Directory(std::size_t at, const std::vector<std::array<std::uint32_t, 4>>& entries,
                 std::uint32_t next, std::size_t claimed = 0) {
    Put(at, static_cast<std::uint32_t>(std::max(claimed, entries.size())), 2);
    at += 2;
    for (const auto& [tag, type, count, value] : entries) {
      Put(at, tag, 2);
      Put(at + 2, type, 2);
      Put(at + 4, count, 4);
      Put(at + 8, value, type == 3 && count == 1 ? 2 : 4);
      at += 12;
    }
    if (claimed <= entries.size()) Put(at, next, 4);
  }
  void Text(std::size_t at, const std::string& text) { tiff_.replace(at, text.size(), text); }
  /// The whole structure as an EXIF segment's payload.
  std::vector<std::byte> Exif() const { return Payload(std::string("Exif\0\0", 6) + tiff_); }

 private:
  bool bigEndian_;
  std::string tiff_;
};

inline std::vector<std::byte> ExifPayload(const TExifLayout& layout) {
  const std::size_t copyrightAt = layout.NextIfdLinkAt() + 4;
  const std::size_t copyrightSize = layout.Copyright.size() + 1;
  const std::size_t ifd1At = copyrightAt + copyrightSize + copyrightSize % 2;
  const std::size_t thumbnailAt = ifd1At + 2 + 2 * 12 + 4;
  TTiffWriter tiff(layout.BigEndian,
                   layout.Thumbnail.empty() ? ifd1At : thumbnailAt + layout.Thumbnail.size(), 8);
  std::vector<std::array<std::uint32_t, 4>> ifd0;
  if (layout.Orientation != 0) ifd0.push_back({0x0112, 3, 1, std::uint32_t(layout.Orientation)});
  ifd0.push_back({0x8298, 2, std::uint32_t(copyrightSize), std::uint32_t(copyrightAt)});
  tiff.Directory(8, ifd0, layout.Thumbnail.empty() ? 0 : std::uint32_t(ifd1At));
  tiff.Text(copyrightAt, layout.Copyright);
  if (!layout.Thumbnail.empty()) {
    tiff.Directory(ifd1At,
                   {{0x0201, 4, 1, std::uint32_t(thumbnailAt)},
                    {0x0202, 4, 1, std::uint32_t(layout.Thumbnail.size())}},
                   0);
    tiff.Text(thumbnailAt, layout.Thumbnail);
  }
  return tiff.Exif();
}

}  // namespace sigilon::test
