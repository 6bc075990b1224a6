#include "engine/ExifRewrite.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace sigilon {

namespace {

constexpr std::uint16_t kTiffMagic = 42;
constexpr std::uint64_t kTiffHeaderSize = 8;
constexpr std::uint64_t kIfdEntrySize = 12;
constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTypeAscii = 2;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTagExifIfd = 0x8769;
// Where a thumbnail lives: a JPEG stream, or strips.
constexpr std::uint16_t kTagThumbnailOffset = 0x0201;
constexpr std::uint16_t kTagThumbnailLength = 0x0202;
constexpr std::uint16_t kTagStripOffsets = 0x0111;
constexpr std::uint16_t kTagStripByteCounts = 0x0117;
// Cameras chain one or two directories after IFD0; more are taken as a lie.
constexpr std::size_t kMaxChainedDirectories = 32;

std::uint64_t TypeSize(std::uint16_t type) {
  static constexpr std::array<std::uint64_t, 14> kSizes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < kSizes.size() ? kSizes[type] : 0;
}

// Offsets are 32-bit in the file but added up in 64 bits here, so that an
// offset plus a length never wraps below the offset.
struct TRange {
  std::uint64_t Begin;
  std::uint64_t End;
};

struct TEntry {
  std::uint16_t Tag;
  std::uint16_t Type;
  std::uint32_t Count;
  // The field itself when the values fit its 4 bytes, else where it points.
  std::uint64_t ValuesAt;
  std::uint64_t Bytes;
};

class TTiff {
 public:
  explicit TTiff(std::span<const std::byte> data) : data_(data) {}

  bool ReadHeader() {
    if (!Holds(0, kTiffHeaderSize)) return false;
    const auto b0 = data_[0], b1 = data_[1];
    if (b0 != b1 || (b0 != std::byte{'I'} && b0 != std::byte{'M'})) return false;
    bigEndian_ = b0 == std::byte{'M'};
    return U16(2) == kTiffMagic;
  }

  std::uint64_t Size() const { return data_.size(); }
  bool Holds(std::uint64_t offset, std::uint64_t count) const {
    return offset <= Size() && count <= Size() - offset;
  }

  // Reads that the caller has checked with Holds.
  std::uint16_t U16(std::uint64_t at) const {
    const auto a = std::to_integer<std::uint16_t>(data_[at]);
    const auto b = std::to_integer<std::uint16_t>(data_[at + 1]);
    return static_cast<std::uint16_t>(bigEndian_ ? (a << 8) | b : (b << 8) | a);
  }
  std::uint32_t U32(std::uint64_t at) const {
    const std::uint32_t first = U16(at), second = U16(at + 2);
    return bigEndian_ ? (first << 16) | second : (second << 16) | first;
  }
  TEntry Entry(std::uint64_t at) const {
    TEntry entry{U16(at), U16(at + 2), U32(at + 4), at + 8, 0};
    entry.Bytes = std::uint64_t{entry.Count} * TypeSize(entry.Type);
    if (entry.Bytes > 4) entry.ValuesAt = U32(at + 8);
    return entry;
  }
  // Value `k` of an entry as an offset or a length: integers as wide as
  // their type, anything else read as a LONG. Nothing when it lies outside
  // the data.
  std::optional<std::uint64_t> Value(const TEntry& entry, std::uint64_t k) const {
    const std::uint64_t size = TypeSize(entry.Type);
    const std::uint64_t width = size == 1 || size == 2 ? size : 4;
    const std::uint64_t at = entry.ValuesAt + k * width;
    if (!Holds(at, width)) return std::nullopt;
    if (width == 1) return std::to_integer<std::uint64_t>(data_[at]);
    return width == 2 ? U16(at) : U32(at);
  }
  // The first entry of `tag` among those of the directory at `ifd` that lie
  // within the data.
  std::optional<TEntry> Find(std::uint64_t ifd, std::uint16_t tag) const {
    const std::uint64_t count = Holds(ifd, 2) ? U16(ifd) : 0;
    for (std::uint64_t i = 0; i < count && Holds(ifd + 2 + i * kIfdEntrySize, kIfdEntrySize); ++i) {
      const TEntry entry = Entry(ifd + 2 + i * kIfdEntrySize);
      if (entry.Tag == tag) return entry;
    }
    return std::nullopt;
  }

  void Put16(std::vector<std::byte>& out, std::uint64_t at, std::uint16_t v) const {
    const auto hi = static_cast<std::byte>(v >> 8), lo = static_cast<std::byte>(v & 0xFF);
    out[at] = bigEndian_ ? hi : lo;
    out[at + 1] = bigEndian_ ? lo : hi;
  }
  void Put32(std::vector<std::byte>& out, std::uint64_t at, std::uint32_t v) const {
    Put16(out, bigEndian_ ? at : at + 2, static_cast<std::uint16_t>(v >> 16));
    Put16(out, bigEndian_ ? at + 2 : at, static_cast<std::uint16_t>(v & 0xFFFF));
  }

 private:
  std::span<const std::byte> data_;
  bool bigEndian_ = false;
};

// Adds the bytes of the directory at `ifd` (one chained after IFD0) and of
// everything it points to, as far as it reads. Returns the offset of the
// next directory, 0 when there is none or the link does not read.
std::uint64_t AddChainedDirectory(const TTiff& tiff, std::uint64_t ifd,
                                  std::vector<TRange>& ranges) {
  if (!tiff.Holds(ifd, 2)) return 0;
  const std::uint64_t count = tiff.U16(ifd);
  const std::uint64_t readable = std::min(count, (tiff.Size() - ifd - 2) / kIfdEntrySize);
  ranges.push_back({ifd, ifd + 2 + count * kIfdEntrySize + 4});
  std::optional<TEntry> jpegOffset, jpegLength, stripOffsets, stripCounts;
  for (std::uint64_t i = 0; i < readable; ++i) {
    const TEntry entry = tiff.Entry(ifd + 2 + i * kIfdEntrySize);
    if (entry.Bytes > 4) ranges.push_back({entry.ValuesAt, entry.ValuesAt + entry.Bytes});
    if (entry.Tag == kTagThumbnailOffset) jpegOffset = entry;
    if (entry.Tag == kTagThumbnailLength) jpegLength = entry;
    if (entry.Tag == kTagStripOffsets) stripOffsets = entry;
    if (entry.Tag == kTagStripByteCounts) stripCounts = entry;
  }
  if (jpegOffset && jpegLength) {
    const auto at = tiff.Value(*jpegOffset, 0), length = tiff.Value(*jpegLength, 0);
    if (at && length) ranges.push_back({*at, *at + *length});
  }
  if (stripOffsets && stripCounts) {
    const std::uint64_t strips = std::max(std::min(stripOffsets->Count, stripCounts->Count), 1u);
    for (std::uint64_t k = 0; k < strips; ++k) {
      const auto at = tiff.Value(*stripOffsets, k), length = tiff.Value(*stripCounts, k);
      if (!at || !length) break;
      ranges.push_back({*at, *at + *length});
    }
  }
  const std::uint64_t link = ifd + 2 + count * kIfdEntrySize;
  return readable == count && tiff.Holds(link, 4) ? tiff.U32(link) : 0;
}

}  // namespace

TExifRewrite RewriteExif(std::span<const std::byte> data) {
  TExifRewrite exif;
  TTiff tiff(data);
  if (!tiff.ReadHeader()) return exif;
  const std::uint64_t ifd0 = tiff.U32(4);
  if (ifd0 < kTiffHeaderSize || !tiff.Holds(ifd0, 2)) return exif;
  const std::uint64_t count = tiff.U16(ifd0);
  const std::uint64_t link = ifd0 + 2 + count * kIfdEntrySize;
  if (!tiff.Holds(ifd0 + 2, count * kIfdEntrySize + 4)) return exif;

  std::vector<std::byte> cleared(data.begin(), data.end());
  // The header and IFD0's directory stay whatever else claims their bytes.
  const std::array<TRange, 2> kept{{{0, kTiffHeaderSize}, {ifd0, link + 4}}};

  // IFD1 (the thumbnail's) and whatever follows it, zeroed wherever it lies.
  std::vector<TRange> ranges;
  std::vector<std::uint64_t> chain;
  for (std::uint64_t ifd = tiff.U32(link); ifd != 0 && std::ranges::find(chain, ifd) == chain.end();
       ifd = AddChainedDirectory(tiff, ifd, ranges)) {
    chain.push_back(ifd);
    if (chain.size() > kMaxChainedDirectories) break;
  }
  std::erase_if(ranges, [&](TRange& r) {
    r.End = std::min(r.End, tiff.Size());
    return r.Begin >= r.End;
  });
  for (const TRange& r : ranges) {
    std::fill(cleared.begin() + static_cast<std::ptrdiff_t>(r.Begin),
              cleared.begin() + static_cast<std::ptrdiff_t>(r.End), std::byte{0});
  }
  for (const TRange& r : kept) {
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(r.Begin),
              data.begin() + static_cast<std::ptrdiff_t>(r.End),
              cleared.begin() + static_cast<std::ptrdiff_t>(r.Begin));
  }

  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t entry = ifd0 + 2 + i * kIfdEntrySize;
    if (tiff.U16(entry) != kTagOrientation) continue;
    if (tiff.U16(entry + 2) == kTypeShort && tiff.U32(entry + 4) >= 1) {
      const std::uint16_t value = tiff.U16(entry + 8);
      if (value >= 1 && value <= 8) exif.Orientation = value;
    }
    // Written as a plain SHORT 1, whatever form the tag had.
    tiff.Put16(cleared, entry + 2, kTypeShort);
    tiff.Put32(cleared, entry + 4, 1);
    tiff.Put32(cleared, entry + 8, 0);
    tiff.Put16(cleared, entry + 8, 1);
  }
  // A chain too long to be a camera's cannot be cleared with confidence.
  if (chain.size() > kMaxChainedDirectories) return exif;
  tiff.Put32(cleared, link, 0);

  // Cameras put IFD1 and its thumbnail last: when the zeroed ranges end the
  // data (gaps of word padding aside), cut them off.
  std::ranges::sort(ranges, {}, &TRange::End);
  std::uint64_t end = tiff.Size();
  for (auto r = ranges.rbegin(); r != ranges.rend() && r->End + 3 >= end; ++r) {
    end = std::min(end, r->Begin);
  }
  cleared.resize(static_cast<std::size_t>(std::max(end, kept[1].End)));
  exif.Cleared = std::move(cleared);
  return exif;
}

std::optional<std::string_view> ReadExifText(std::span<const std::byte> data, std::uint16_t tag,
                                             bool inExifIfd) {
  TTiff tiff(data);
  if (!tiff.ReadHeader()) return std::nullopt;
  std::optional<TEntry> entry = tiff.Find(tiff.U32(4), inExifIfd ? kTagExifIfd : tag);
  if (inExifIfd) {
    const auto ifd = entry && entry->Type == kTypeLong ? tiff.Value(*entry, 0) : std::nullopt;
    entry = ifd ? tiff.Find(*ifd, tag) : std::nullopt;
  }
  if (!entry || entry->Type != kTypeAscii || !tiff.Holds(entry->ValuesAt, entry->Bytes)) {
    return std::nullopt;
  }
  return std::string_view(reinterpret_cast<const char*>(data.data() + entry->ValuesAt),
                          static_cast<std::size_t>(entry->Bytes));
}

}  // namespace sigilon
