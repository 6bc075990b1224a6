// JPEG marker reader: never reads outside the data (the sanitizers watch),
// keeps only well-formed segments, and what a branded copy carries reads
// back the same from the copy: upright, same segments, same colour profile.
// The orientation taken is the one IFD0 states, whatever follows it; the
// copy is turned upright by it, so every orientation the copy states, in
// EXIF or XMP, is 1. No byte of the thumbnail that the source's EXIF points
// to (a JPEG stream or strips, from IFD1 on) survives in the copy, and its
// XMP holds no preview image.

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/ExifRewrite.h"
#include "engine/JpegMetadata.h"
#include "engine/XmpRewrite.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

// The marker segments of a file that holds nothing else.
std::vector<std::byte> FileOf(const std::vector<TJpegSegment>& segments) {
  std::vector<std::byte> file = {std::byte{0xFF}, std::byte{0xD8}};
  for (const TJpegSegment& s : segments) {
    const std::size_t length = s.Payload.size() + 2;
    file.insert(file.end(), {std::byte{0xFF}, std::byte{s.Marker}, std::byte(length >> 8),
                             std::byte(length & 0xFF)});
    file.insert(file.end(), s.Payload.begin(), s.Payload.end());
  }
  file.insert(file.end(), {std::byte{0xFF}, std::byte{0xD9}});
  return file;
}

std::string_view Text(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

constexpr std::string_view kExif{"Exif\0\0", 6};

// The TIFF data of the first EXIF segment before the first scan, found
// here without the reader under test.
std::span<const std::byte> SourceExif(std::span<const std::byte> file) {
  const auto at = [&](std::size_t i) { return std::to_integer<unsigned>(file[i]); };
  if (file.size() < 2 || at(0) != 0xFF || at(1) != 0xD8) return {};
  std::size_t pos = 2;
  while (pos + 1 < file.size() && at(pos) == 0xFF) {
    pos += 1;
    while (pos < file.size() && at(pos) == 0xFF) ++pos;  // fill bytes
    if (pos >= file.size()) break;
    const unsigned marker = at(pos++);
    if (marker == 0xDA || marker == 0xD9) break;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (pos + 2 > file.size()) break;
    const std::size_t length = at(pos) << 8 | at(pos + 1);
    if (length < 2 || pos + length > file.size()) break;
    const auto payload = file.subspan(pos + 2, length - 2);
    pos += length;
    if (marker == 0xE1 && Text(payload).starts_with(kExif)) return payload.subspan(kExif.size());
  }
  return {};
}

// What a TIFF structure says by the TIFF rules: the orientation in IFD0
// (whole, after the header), the thumbnail's bytes (every
// JPEGInterchangeFormat and strip of IFD1 and the directories after it) and
// where the header and IFD0's directory lie, which stay.
struct TSourceExif {
  int Orientation = 1;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Ranges;
  std::uint64_t Ifd0 = 0, Ifd0End = 0;
};

std::optional<TSourceExif> ReadSourceExif(std::span<const std::byte> tiff) {
  if (tiff.size() < 8 || (tiff[0] != std::byte{'I'} && tiff[0] != std::byte{'M'}) ||
      tiff[1] != tiff[0]) {
    return std::nullopt;
  }
  const bool mm = tiff[0] == std::byte{'M'};
  const auto get = [&](std::uint64_t at, int width) -> std::optional<std::uint64_t> {
    if (at > tiff.size() || tiff.size() - at < static_cast<std::uint64_t>(width)) return {};
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
      const std::uint64_t b = std::to_integer<std::uint8_t>(tiff[at + i]);
      v |= mm ? b << (8 * (width - 1 - i)) : b << (8 * i);
    }
    return v;
  };
  TSourceExif t;
  t.Ifd0 = get(4, 4).value();
  const auto count0 = get(t.Ifd0, 2);
  if (get(2, 2) != 42 || t.Ifd0 < 8 || !count0) return std::nullopt;
  t.Ifd0End = t.Ifd0 + 2 + *count0 * 12 + 4;
  auto ifd = get(t.Ifd0End - 4, 4);
  if (!ifd) return std::nullopt;
  for (std::uint64_t entry = t.Ifd0 + 2; entry + 4 < t.Ifd0End; entry += 12) {
    const auto v = get(entry + 8, 2);
    if (get(entry, 2) == 0x0112 && get(entry + 2, 2) == 3 && get(entry + 4, 4) >= 1 && v >= 1 &&
        v <= 8) {
      t.Orientation = static_cast<int>(*v);
    }
  }
  for (int chained = 0; ifd && *ifd != 0 && chained < 8; ++chained) {
    const auto count = get(*ifd, 2);
    if (!count) break;
    // The values of JPEGInterchangeFormat, its length, StripOffsets and
    // StripByteCounts; a tag given twice counts as its last entry says.
    constexpr std::uint64_t kTags[] = {0x0201, 0x0202, 0x0111, 0x0117};
    std::vector<std::uint64_t> values[4];
    for (std::uint64_t i = 0; i < *count; ++i) {
      const std::uint64_t entry = *ifd + 2 + 12 * i;
      const auto tag = get(entry, 2), type = get(entry + 2, 2), n = get(entry + 4, 4);
      if (!tag || !type || !n || !get(entry + 8, 4)) break;
      const auto slot = std::ranges::find(kTags, *tag) - std::begin(kTags);
      if (slot == 4) continue;
      const int width = *type == 1 || *type == 2 || *type == 6 || *type == 7 ? 1
                        : *type == 3 || *type == 8                           ? 2
                                                                             : 4;
      static constexpr int kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
      const std::uint64_t bytes = *n * (*type < 14 ? kTypeBytes[*type] : 0);
      const std::uint64_t valuesAt = bytes > 4 ? *get(entry + 8, 4) : entry + 8;
      values[slot].clear();
      for (std::uint64_t k = 0; k < std::max<std::uint64_t>(*n, 1); ++k) {
        const auto v = get(valuesAt + k * width, width);
        if (!v) break;
        values[slot].push_back(*v);
      }
    }
    const auto add = [&](int offsets, int lengths, std::size_t most) {
      for (std::size_t k = 0; k < std::min({values[offsets].size(), values[lengths].size(), most});
           ++k) {
        t.Ranges.emplace_back(values[offsets][k], values[offsets][k] + values[lengths][k]);
      }
    };
    add(0, 1, 1);
    add(2, 3, SIZE_MAX);
    ifd = get(*ifd + 2 + 12 * *count, 4);
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = fuzz::Bytes(data, size);
  const TJpegMetadata metadata = ReadJpegMetadata(file);
  FUZZ_CHECK(metadata.Orientation >= 1 && metadata.Orientation <= 8);
  for (const TJpegSegment& s : metadata.PictureInformation) {
    FUZZ_CHECK(s.Marker == kJpegApp1 || s.Marker == kJpegApp13);
    FUZZ_CHECK(s.Payload.size() <= kMaxSegmentPayload);
  }
  const std::vector<TJpegSegment> copy = BrandedCopySegments(metadata, true);
  for (const TJpegSegment& s : copy) FUZZ_CHECK(s.Payload.size() <= kMaxSegmentPayload);

  const auto source = ReadSourceExif(SourceExif(file));
  // A tag's text is read in place, wherever the entries point.
  const std::string_view exif = Text(SourceExif(file));
  for (const bool inExifIfd : {false, true}) {
    const auto text = ReadExifText(SourceExif(file), inExifIfd ? 0x9003 : 0x013B, inExifIfd);
    FUZZ_CHECK(!text || (text->data() >= exif.data() &&
                         text->data() + text->size() <= exif.data() + exif.size()));
  }
  FUZZ_CHECK(metadata.Orientation == (source ? source->Orientation : 1));

  const TJpegMetadata again = ReadJpegMetadata(FileOf(copy));
  FUZZ_CHECK(again.Orientation == 1);
  FUZZ_CHECK(again.IccProfile == metadata.IccProfile);
  FUZZ_CHECK(again.PictureInformation == metadata.PictureInformation);

  for (const TJpegSegment& s : copy) {
    const std::string_view text = Text(s.Payload);
    if (s.Marker == kJpegApp1 && text.starts_with("http://ns.adobe.com/xap/1.0/")) {
      const auto statements = FindXmpStatements(text);
      FUZZ_CHECK(statements.has_value());
      for (const TXmpSpan& v : statements->Orientation) {
        FUZZ_CHECK(text.substr(v.Begin, v.End - v.Begin) == "1");
      }
      FUZZ_CHECK(statements->Thumbnails.empty());
      // References and CDATA only ever shorten what a value spells.
      const auto creator = ReadXmpText(text, {"http://purl.org/dc/elements/1.1/", "dc", "creator"});
      FUZZ_CHECK(!creator || creator->size() <= text.size());
    }
    if (s.Marker == kJpegApp1 && text.starts_with(kExif)) {
      const auto kept = std::span(s.Payload).subspan(kExif.size());
      FUZZ_CHECK(source.has_value());
      // How many ranges cover each byte: +1 where one begins, -1 after it.
      std::vector<int> starts(kept.size() + 1);
      for (const auto& [begin, end] : source->Ranges) {
        if (begin >= kept.size()) continue;
        ++starts[begin];
        --starts[std::min<std::uint64_t>(end, kept.size())];
      }
      int covering = 0;
      for (std::uint64_t p = 0; p < kept.size(); ++p) {
        covering += starts[p];
        const bool stays = p < 8 || (p >= source->Ifd0 && p < source->Ifd0End);
        FUZZ_CHECK(covering == 0 || stays || kept[p] == std::byte{0});
      }
    }
  }
  return 0;
}
