// Marker segments read from hand-built streams (EXIF in both byte orders,
// ICC chunk sequences, XMP, Photoshop resources), and the upright turn of a
// hand-built 3 x 2 picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/Errors.h"
#include "engine/JpegMetadata.h"
#include "engine/Orientation.h"
#include "tests/support/JpegSegments.h"

namespace sigilon {
namespace {

using test::ExifPayload;
using test::Payload;
using test::TExifLayout;

std::vector<std::byte> Stream(const std::vector<TJpegSegment>& segments) {
  std::vector<std::byte> out{std::byte{0xFF}, std::byte{0xD8}};
  for (const TJpegSegment& s : segments) {
    const std::size_t length = s.Payload.size() + 2;
    for (int b : {0xFF, int{s.Marker}, int(length >> 8), int(length & 0xFF)}) {
      out.push_back(static_cast<std::byte>(b));
    }
    out.insert(out.end(), s.Payload.begin(), s.Payload.end());
  }
  for (int b : {0xFF, 0xDA, 0x00, 0x02}) out.push_back(static_cast<std::byte>(b));
  return out;
}

bool Holds(const std::vector<std::byte>& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end(), [](std::byte b, char c) {
           return b == static_cast<std::byte>(c);
         }) != bytes.end();
}

TEST(JpegMetadataTest, OrientationReadsInBothByteOrdersAndDefaultsToOne) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    for (int value : {1, 3, 6, 8}) {
      const auto exif = ExifPayload({.BigEndian = bigEndian, .Orientation = value});
      EXPECT_EQ(ReadJpegMetadata(Stream({{kJpegApp1, exif}})).Orientation, value);
    }
    // Out of range, or a structure that lies about its sizes: upright as stored.
    EXPECT_EQ(ReadJpegMetadata(
                  Stream({{kJpegApp1, ExifPayload({.BigEndian = bigEndian, .Orientation = 9})}}))
                  .Orientation,
              1);
    auto broken = ExifPayload({.BigEndian = bigEndian, .Orientation = 6});
    broken.resize(6 + 8 + 2 + 12);  // cuts IFD0 in its second entry
    const TJpegMetadata read = ReadJpegMetadata(Stream({{kJpegApp1, broken}}));
    EXPECT_EQ(read.Orientation, 1);
    EXPECT_TRUE(read.PictureInformation.empty()) << "an unreadable EXIF segment is not carried";
  }
  // No EXIF at all, and a stream cut inside the EXIF segment.
  EXPECT_EQ(ReadJpegMetadata(Stream({})).Orientation, 1);
  auto cut = Stream({{kJpegApp1, ExifPayload({.Orientation = 6})}});
  cut.resize(30);
  EXPECT_EQ(ReadJpegMetadata(cut).Orientation, 1);
}

TEST(JpegMetadataTest, KeptExifSaysUprightAndHasNoThumbnail) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    TExifLayout layout{.BigEndian = bigEndian, .Orientation = 6, .Thumbnail = "THUMBNAIL-PIXELS"};
    const auto exif = ExifPayload(layout);
    const auto xmp = Payload(std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                             "<x tiff:Orientation=\"6\"/><tiff:Orientation>8</tiff:Orientation>");
    const TJpegMetadata read = ReadJpegMetadata(Stream({{kJpegApp1, exif}, {kJpegApp1, xmp}}));
    EXPECT_EQ(read.Orientation, 6);
    ASSERT_EQ(read.PictureInformation.size(), 2u);

    const std::vector<std::byte>& kept = read.PictureInformation[0].Payload;
    EXPECT_FALSE(Holds(kept, "THUMBNAIL-PIXELS"));
    EXPECT_TRUE(Holds(kept, layout.Copyright)) << "the rest of IFD0 stays";
    EXPECT_LT(kept.size(), exif.size()) << "a thumbnail at the end is cut off";
    const auto field = [&](std::size_t at, int bytes) {
      unsigned v = 0;
      for (int i = 0; i < bytes; ++i) {
        const unsigned b = static_cast<unsigned>(kept.at(6 + at + i));
        v |= bigEndian ? b << (8 * (bytes - 1 - i)) : b << (8 * i);
      }
      return v;
    };
    EXPECT_EQ(field(layout.OrientationValueAt(), 2), 1u);
    EXPECT_EQ(field(layout.NextIfdLinkAt(), 4), 0u);
    // Read again, the kept segment is what it says: upright, unchanged.
    const TJpegMetadata again = ReadJpegMetadata(Stream({read.PictureInformation[0]}));
    EXPECT_EQ(again.Orientation, 1);
    EXPECT_EQ(again.PictureInformation[0].Payload, kept);

    const std::vector<std::byte>& keptXmp = read.PictureInformation[1].Payload;
    EXPECT_TRUE(Holds(keptXmp, "tiff:Orientation=\"1\""));
    EXPECT_TRUE(Holds(keptXmp, "<tiff:Orientation>1<"));
  }
}

TEST(JpegMetadataTest, PhotoshopResourcesLoseOnlyTheirThumbnail) {
  const auto block = [](int id, const std::string& data) {
    std::string b = "8BIM";
    b += static_cast<char>(id >> 8);
    b += static_cast<char>(id & 0xFF);
    b += std::string(2, '\0');  // empty name, padded to even
    for (int shift : {24, 16, 8, 0}) b += static_cast<char>((data.size() >> shift) & 0xFF);
    return b + data + (data.size() % 2 ? std::string(1, '\0') : "");
  };
  const std::string iptc = block(0x0404, "(c) Studio Nord");
  const auto app13 = Payload(std::string("Photoshop 3.0\0", 14) + iptc +
                             block(0x040C, "THUMBNAIL-PIXELS") + block(0x0409, "OLD-THUMB"));
  const TJpegMetadata read = ReadJpegMetadata(Stream({{kJpegApp13, app13}}));
  ASSERT_EQ(read.PictureInformation.size(), 1u);
  EXPECT_EQ(read.PictureInformation[0].Payload, Payload(std::string("Photoshop 3.0\0", 14) + iptc));

  // A resource that runs past the segment: carried by nobody.
  auto broken = app13;
  broken.resize(14 + iptc.size() + 8);
  EXPECT_TRUE(ReadJpegMetadata(Stream({{kJpegApp13, broken}})).PictureInformation.empty());
}

std::vector<std::byte> Profile(std::size_t size) {
  std::vector<std::byte> profile(size);
  for (std::size_t i = 0; i < size; ++i) profile[i] = static_cast<std::byte>(i * 7 + i / 251);
  return profile;
}

TEST(JpegMetadataTest, IccChunksAreJoinedInSequenceOrder) {
  const auto profile = Profile(150000);
  const auto chunks = IccProfileSegments(profile);
  ASSERT_EQ(chunks.size(), 3u);
  for (const TJpegSegment& chunk : chunks) EXPECT_LE(chunk.Payload.size(), kMaxSegmentPayload);
  // Stored out of order, with other segments between: still the same profile.
  const TJpegSegment comment{0xFE, Payload("note")};
  const TJpegMetadata read = ReadJpegMetadata(Stream({chunks[2], comment, chunks[0], chunks[1]}));
  EXPECT_EQ(read.IccProfile, profile);
  EXPECT_EQ(BrandedCopySegments(read, false), chunks);
  EXPECT_TRUE(IccProfileSegments({}).empty());
}

TEST(JpegMetadataTest, DamagedIccSequenceIsDropped) {
  const auto chunks = IccProfileSegments(Profile(100000));
  ASSERT_EQ(chunks.size(), 2u);
  const auto with = [](TJpegSegment chunk, int sequence, int count) {
    chunk.Payload[12] = static_cast<std::byte>(sequence);
    chunk.Payload[13] = static_cast<std::byte>(count);
    return chunk;
  };
  const struct {
    const char* name;
    std::vector<TJpegSegment> segments;
  } cases[] = {
      {"missing chunk", {chunks[0]}},
      {"repeated chunk", {chunks[0], chunks[0]}},
      {"repeated in place of the last", {chunks[0], chunks[1], with(chunks[1], 2, 2)}},
      {"out of range", {chunks[0], with(chunks[1], 3, 2)}},
      {"sequence zero", {with(chunks[0], 0, 2), chunks[1]}},
      {"differing counts", {chunks[0], with(chunks[1], 2, 3)}},
      {"count zero", {with(chunks[0], 1, 0)}},
  };
  for (const auto& c : cases) {
    const TJpegMetadata read = ReadJpegMetadata(Stream(c.segments));
    EXPECT_TRUE(read.IccProfile.empty()) << c.name;
    EXPECT_TRUE(BrandedCopySegments(read, true).empty()) << c.name;
  }
}

// The 3 x 2 picture a b c / d e f, each letter its own colour (or palette
// index), and how each orientation shows it upright, row by row.
TEST(OrientationTest, EachOrientationTurnsTheStoredPixelsUpright) {
  const struct {
    int orientation;
    std::vector<std::string> rows;
  } cases[] = {
      {1, {"abc", "def"}},     {2, {"cba", "fed"}},     {3, {"fed", "cba"}},
      {4, {"def", "abc"}},     {5, {"ad", "be", "cf"}}, {6, {"da", "eb", "fc"}},
      {7, {"fc", "eb", "da"}}, {8, {"cf", "be", "ad"}}, {0, {"abc", "def"}},
  };
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap stored(3, 2, format);
    if (format == TPixelFormat::pf8bit) {
      for (int i = 0; i < 6; ++i)
        stored.Palette()[i] = {static_cast<std::uint8_t>(10 * i), 0, 0, 0};
    }
    for (int i = 0; i < 6; ++i)
      stored.SetPixel(i % 3, i / 3, {static_cast<std::uint8_t>(10 * i), 0, 0, 0});
    for (const auto& c : cases) {
      SCOPED_TRACE("orientation " + std::to_string(c.orientation) + ", " +
                   std::to_string(BitsPerPixel(format)) + " bits");
      const TBitmap upright = TurnUpright(stored, c.orientation);
      ASSERT_EQ(upright.Height(), static_cast<int>(c.rows.size()));
      ASSERT_EQ(upright.Width(), static_cast<int>(c.rows[0].size()));
      EXPECT_EQ(upright.PixelFormat(), format);
      for (int y = 0; y < upright.Height(); ++y) {
        std::string row;
        for (int x = 0; x < upright.Width(); ++x)
          row += char('a' + upright.GetPixel(x, y).Blue / 10);
        EXPECT_EQ(row, c.rows[y]) << "row " << y;
      }
    }
  }
  // On a picture of many blocks the quarter turns must agree with the
  // in-place mirrors: two quarter turns make a half turn, opposite ones and
  // repeated transposes undo each other.
  TBitmap big(150, 70, TPixelFormat::pf24bit);
  for (int y = 0; y < 70; ++y) {
    for (int x = 0; x < 150; ++x) big.SetPixel(x, y, {std::uint8_t(x), std::uint8_t(y), 7, 0});
  }
  const auto same = [](const TBitmap& a, const TBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::ranges::equal(a.Pixels(), b.Pixels());
  };
  EXPECT_TRUE(same(TurnUpright(TurnUpright(big, 6), 6), TurnUpright(big, 3)));
  EXPECT_TRUE(same(TurnUpright(TurnUpright(big, 8), 6), big));
  EXPECT_TRUE(same(TurnUpright(TurnUpright(big, 5), 5), big));
  EXPECT_TRUE(same(TurnUpright(TurnUpright(big, 7), 7), big));
  EXPECT_FALSE(same(TurnUpright(big, 6), TurnUpright(big, 8)));

  TBitmap fourBits(3, 2, TPixelFormat::pf4bit);
  EXPECT_THROW(TurnUpright(fourBits, 6), ImageError);
}

}  // namespace
}  // namespace sigilon
