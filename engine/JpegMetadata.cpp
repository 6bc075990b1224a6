#include "engine/JpegMetadata.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/ByteReader.h"
#include "engine/Errors.h"

namespace sigilon {

namespace {

constexpr std::string_view kExifSignature{"Exif\0\0", 6};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccSignature{"ICC_PROFILE\0", 12};
constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};
constexpr std::string_view kResourceSignature{"8BIM", 4};

// ICC chunk header after the signature: sequence number (from 1), chunk count.
constexpr std::size_t kIccHeaderSize = kIccSignature.size() + 2;
constexpr std::size_t kIccChunkData = kMaxSegmentPayload - kIccHeaderSize;
constexpr std::size_t kMaxIccChunks = 255;

constexpr std::uint8_t kSOI = 0xD8;
constexpr std::uint8_t kEOI = 0xD9;
constexpr std::uint8_t kSOS = 0xDA;
constexpr std::uint8_t kTEM = 0x01;
constexpr std::uint8_t kRST0 = 0xD0;
constexpr std::uint8_t kRST7 = 0xD7;

// TIFF structure inside the EXIF segment.
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::size_t kTiffHeaderSize = 8;
constexpr std::size_t kIfdEntrySize = 12;
constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
// Where the thumbnail of IFD1 lives: a JPEG stream, or strips.
constexpr std::uint16_t kTagThumbnailOffset = 0x0201;
constexpr std::uint16_t kTagThumbnailLength = 0x0202;
constexpr std::uint16_t kTagStripOffsets = 0x0111;
constexpr std::uint16_t kTagStripByteCounts = 0x0117;

// Photoshop resources holding a preview of the (unbranded) picture.
constexpr std::uint16_t kResourceThumbnailOld = 0x0409;
constexpr std::uint16_t kResourceThumbnail = 0x040C;

bool StartsWith(std::span<const std::byte> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, std::byte b) { return static_cast<std::byte>(a) == b; });
}

// ---- EXIF: a TIFF structure in either byte order ----

std::size_t TypeSize(std::uint16_t type) {
  static constexpr std::array<std::size_t, 14> kSizes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < kSizes.size() ? kSizes[type] : 0;
}

class TTiff {
 public:
  explicit TTiff(std::span<const std::byte> tiff) : reader_(tiff, "EXIF") {
    const std::uint16_t order = reader_.U16("byte order");
    if (order == 0x4D4D) {
      bigEndian_ = true;
    } else if (order != 0x4949) {
      reader_.Fail("expected byte order II or MM");
    }
    if (U16At(2) != kTiffMagic) reader_.Fail("expected the TIFF magic number 42");
  }

  std::size_t Size() const { return reader_.Size(); }

  std::uint16_t U16At(std::uint64_t offset) {
    reader_.Seek(offset, "TIFF field");
    return bigEndian_ ? reader_.U16BE("TIFF field") : reader_.U16("TIFF field");
  }
  std::uint32_t U32At(std::uint64_t offset) {
    reader_.Seek(offset, "TIFF field");
    return bigEndian_ ? reader_.U32BE("TIFF field") : reader_.U32("TIFF field");
  }

  // Number of entries of the directory at `offset`, checking that the
  // entries and the link to the next directory lie inside the data.
  std::size_t DirectoryEntries(std::uint64_t offset) {
    if (offset < kTiffHeaderSize) reader_.Fail("expected a directory after the TIFF header");
    const std::size_t count = U16At(offset);
    reader_.Skip(count * kIfdEntrySize + 4, "TIFF directory");
    return count;
  }
  static std::size_t DirectorySize(std::size_t count) { return 2 + count * kIfdEntrySize + 4; }

  void Put16(std::vector<std::byte>& out, std::size_t at, std::uint16_t v) const {
    const auto hi = static_cast<std::byte>(v >> 8), lo = static_cast<std::byte>(v & 0xFF);
    out[at] = bigEndian_ ? hi : lo;
    out[at + 1] = bigEndian_ ? lo : hi;
  }
  void Put32(std::vector<std::byte>& out, std::size_t at, std::uint32_t v) const {
    Put16(out, bigEndian_ ? at : at + 2, static_cast<std::uint16_t>(v >> 16));
    Put16(out, bigEndian_ ? at + 2 : at, static_cast<std::uint16_t>(v & 0xFFFF));
  }

 private:
  ByteReader reader_;
  bool bigEndian_ = false;
};

struct TRange {
  std::uint64_t Begin;
  std::uint64_t End;
};

// The bytes of IFD1 and of the thumbnail it points to. Values of one entry
// that do not fit its 4-byte field live elsewhere and go with it.
std::vector<TRange> ThumbnailRanges(TTiff& tiff, std::uint32_t ifd1) {
  const std::size_t count = tiff.DirectoryEntries(ifd1);
  std::vector<TRange> ranges{{ifd1, ifd1 + TTiff::DirectorySize(count)}};
  std::optional<std::uint32_t> jpegOffset, jpegLength, stripOffset, stripCount;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t entry = ifd1 + 2 + i * kIfdEntrySize;
    const std::uint16_t tag = tiff.U16At(entry);
    const std::uint16_t type = tiff.U16At(entry + 2);
    const std::uint64_t bytes = std::uint64_t{tiff.U32At(entry + 4)} * TypeSize(type);
    if (bytes > 4) {
      const std::uint32_t at = tiff.U32At(entry + 8);
      ranges.push_back({at, at + bytes});
      continue;
    }
    const std::uint32_t value = type == kTypeShort ? tiff.U16At(entry + 8) : tiff.U32At(entry + 8);
    if (tag == kTagThumbnailOffset) jpegOffset = value;
    if (tag == kTagThumbnailLength) jpegLength = value;
    // Single-strip thumbnails only; several strips keep their arrays out of line.
    if (tag == kTagStripOffsets) stripOffset = value;
    if (tag == kTagStripByteCounts) stripCount = value;
  }
  if (jpegOffset && jpegLength) ranges.push_back({*jpegOffset, *jpegOffset + *jpegLength});
  if (stripOffset && stripCount) ranges.push_back({*stripOffset, *stripOffset + *stripCount});
  return ranges;
}

struct TExif {
  int Orientation = 1;
  // The segment for a branded copy: Orientation 1, no thumbnail.
  std::vector<std::byte> Cleared;
};

// Throws ImageError when the structure does not read.
TExif ReadExif(std::span<const std::byte> payload) {
  const auto tiffBytes = payload.subspan(kExifSignature.size());
  TTiff tiff(tiffBytes);
  TExif exif;
  exif.Cleared.assign(payload.begin(), payload.end());
  std::vector<std::byte> cleared(tiffBytes.begin(), tiffBytes.end());

  const std::uint32_t ifd0 = tiff.U32At(4);
  const std::size_t count = tiff.DirectoryEntries(ifd0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd0 + 2 + i * kIfdEntrySize;
    if (tiff.U16At(entry) != kTagOrientation) continue;
    if (tiff.U16At(entry + 2) == kTypeShort && tiff.U32At(entry + 4) >= 1) {
      const std::uint16_t value = tiff.U16At(entry + 8);
      if (value >= 1 && value <= 8) exif.Orientation = value;
    }
    // Written as a plain SHORT 1, whatever form the tag had.
    tiff.Put16(cleared, entry + 2, kTypeShort);
    tiff.Put32(cleared, entry + 4, 1);
    tiff.Put32(cleared, entry + 8, 0);
    tiff.Put16(cleared, entry + 8, 1);
  }

  const std::size_t link = ifd0 + 2 + count * kIfdEntrySize;
  const std::uint32_t ifd1 = tiff.U32At(link);
  if (ifd1 != 0) {
    tiff.Put32(cleared, link, 0);
    // The bytes go too, not just the link: the thumbnail shows the unbranded
    // picture. Nothing in the header or IFD0's entries is touched.
    const std::uint64_t keepBelow = std::max<std::uint64_t>(link + 4, kTiffHeaderSize);
    std::vector<TRange> ranges = ThumbnailRanges(tiff, ifd1);
    for (TRange& r : ranges) {
      r.Begin = std::max(r.Begin, keepBelow);
      r.End = std::min<std::uint64_t>(r.End, cleared.size());
      if (r.Begin < r.End) {
        std::fill(cleared.begin() + static_cast<std::ptrdiff_t>(r.Begin),
                  cleared.begin() + static_cast<std::ptrdiff_t>(r.End), std::byte{0});
      }
    }
    // Cameras put IFD1 and its thumbnail last: when the cleared ranges end
    // the data (gaps of word padding aside), cut them off.
    std::ranges::sort(ranges, {}, &TRange::End);
    std::uint64_t end = cleared.size();
    for (auto r = ranges.rbegin(); r != ranges.rend(); ++r) {
      if (r->Begin >= r->End || r->End + 3 < end) break;
      end = std::min(end, r->Begin);
    }
    cleared.resize(static_cast<std::size_t>(end));
  }
  exif.Cleared.resize(kExifSignature.size());
  exif.Cleared.insert(exif.Cleared.end(), cleared.begin(), cleared.end());
  return exif;
}

// ---- XMP: orientation written as an attribute or an element ----

// Sets every tiff:Orientation of the packet to 1, in place (one digit for one).
std::vector<std::byte> ClearXmpOrientation(std::span<const std::byte> payload) {
  std::vector<std::byte> out(payload.begin(), payload.end());
  const std::string_view text(reinterpret_cast<const char*>(out.data()), out.size());
  constexpr std::string_view kName = "tiff:Orientation";
  for (std::size_t at = text.find(kName); at != std::string_view::npos;
       at = text.find(kName, at + 1)) {
    std::size_t digit = at + kName.size();
    // attribute: ="6" or ='6'; element: >6<
    if (digit + 2 < text.size() && text[digit] == '=' &&
        (text[digit + 1] == '"' || text[digit + 1] == '\'')) {
      digit += 2;
    } else if (digit < text.size() && text[digit] == '>') {
      digit += 1;
    } else {
      continue;
    }
    if (digit < text.size() && text[digit] >= '2' && text[digit] <= '8')
      out[digit] = std::byte{'1'};
  }
  return out;
}

// ---- Photoshop resources (IPTC lives in one of them) ----

// The segment without its thumbnail resources. Throws ImageError when the
// resource blocks do not read.
std::vector<std::byte> ClearPhotoshopThumbnails(std::span<const std::byte> payload) {
  ByteReader reader(payload, "Photoshop resources");
  reader.Skip(kPhotoshopSignature.size(), "signature");
  std::vector<std::byte> out(payload.begin(), payload.begin() + kPhotoshopSignature.size());
  while (!reader.AtEnd()) {
    const std::size_t begin = reader.Position();
    if (!StartsWith(reader.Bytes(4, "resource signature"), kResourceSignature)) {
      reader.Fail("expected a resource signature 8BIM");
    }
    const std::uint16_t id = reader.U16BE("resource id");
    const std::uint8_t nameLength = reader.U8("resource name length");
    // The name with its length byte is padded to an even size, the data too.
    reader.Skip(nameLength + (nameLength % 2 == 0 ? 1 : 0), "resource name");
    const std::uint32_t size = reader.U32BE("resource size");
    reader.Skip(std::uint64_t{size} + size % 2, "resource data");
    if (id == kResourceThumbnail || id == kResourceThumbnailOld) continue;
    const auto block = payload.subspan(begin, reader.Position() - begin);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

// ---- ICC profile chunks ----

struct TIccChunk {
  std::uint8_t Sequence;
  std::uint8_t Count;
  std::span<const std::byte> Data;
};

// The chunks in sequence order make the profile only when each number from 1
// to the shared count appears exactly once.
std::vector<std::byte> AssembleIccProfile(std::vector<TIccChunk> chunks) {
  if (chunks.empty()) return {};
  const std::uint8_t count = chunks.front().Count;
  if (count == 0 || chunks.size() != count) return {};
  std::ranges::sort(chunks, {}, &TIccChunk::Sequence);
  std::vector<std::byte> profile;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i].Count != count || chunks[i].Sequence != i + 1) return {};
    profile.insert(profile.end(), chunks[i].Data.begin(), chunks[i].Data.end());
  }
  return profile;
}

}  // namespace

TJpegMetadata ReadJpegMetadata(std::span<const std::byte> data) {
  TJpegMetadata metadata;
  std::vector<TIccChunk> iccChunks;
  bool haveExif = false, haveXmp = false;
  ByteReader reader(data, "JPEG");
  try {
    if (reader.U8("marker") != 0xFF || reader.U8("marker") != kSOI) return metadata;
    for (;;) {
      if (reader.U8("marker") != 0xFF) break;
      std::uint8_t marker = reader.U8("marker");
      while (marker == 0xFF) marker = reader.U8("marker");  // fill bytes
      if (marker == kSOS || marker == kEOI) break;
      if (marker == kTEM || (marker >= kRST0 && marker <= kRST7)) continue;
      const std::uint16_t length = reader.U16BE("segment length");
      if (length < 2) break;
      const auto payload = reader.Bytes(length - 2u, "segment");

      if (marker == kJpegApp1 && StartsWith(payload, kExifSignature) && !haveExif) {
        haveExif = true;
        try {
          TExif exif = ReadExif(payload);
          metadata.Orientation = exif.Orientation;
          metadata.PictureInformation.push_back({marker, std::move(exif.Cleared)});
        } catch (const ImageError&) {
          // Unreadable: orientation 1, and nothing of it is carried.
        }
      } else if (marker == kJpegApp1 && StartsWith(payload, kXmpSignature) && !haveXmp) {
        haveXmp = true;
        metadata.PictureInformation.push_back({marker, ClearXmpOrientation(payload)});
      } else if (marker == kJpegApp13 && StartsWith(payload, kPhotoshopSignature)) {
        try {
          metadata.PictureInformation.push_back({marker, ClearPhotoshopThumbnails(payload)});
        } catch (const ImageError&) {
        }
      } else if (marker == kJpegApp2 && StartsWith(payload, kIccSignature) &&
                 payload.size() >= kIccHeaderSize) {
        iccChunks.push_back({static_cast<std::uint8_t>(payload[kIccSignature.size()]),
                             static_cast<std::uint8_t>(payload[kIccSignature.size() + 1]),
                             payload.subspan(kIccHeaderSize)});
      }
    }
  } catch (const ImageError&) {
    // A segment runs past the data: what was read before it stands.
  }
  metadata.IccProfile = AssembleIccProfile(std::move(iccChunks));
  return metadata;
}

std::vector<TJpegSegment> IccProfileSegments(std::span<const std::byte> profile) {
  const std::size_t chunks = (profile.size() + kIccChunkData - 1) / kIccChunkData;
  if (chunks == 0 || chunks > kMaxIccChunks) return {};
  std::vector<TJpegSegment> segments;
  for (std::size_t i = 0; i < chunks; ++i) {
    const auto data = profile.subspan(i * kIccChunkData,
                                      std::min(kIccChunkData, profile.size() - i * kIccChunkData));
    TJpegSegment segment{kJpegApp2, {}};
    segment.Payload.reserve(kIccHeaderSize + data.size());
    for (char c : kIccSignature) segment.Payload.push_back(static_cast<std::byte>(c));
    segment.Payload.push_back(static_cast<std::byte>(i + 1));
    segment.Payload.push_back(static_cast<std::byte>(chunks));
    segment.Payload.insert(segment.Payload.end(), data.begin(), data.end());
    segments.push_back(std::move(segment));
  }
  return segments;
}

std::vector<TJpegSegment> BrandedCopySegments(const TJpegMetadata& metadata,
                                              bool keepPictureInformation) {
  std::vector<TJpegSegment> segments;
  if (keepPictureInformation) segments = metadata.PictureInformation;
  for (TJpegSegment& chunk : IccProfileSegments(metadata.IccProfile)) {
    segments.push_back(std::move(chunk));
  }
  return segments;
}

}  // namespace sigilon
