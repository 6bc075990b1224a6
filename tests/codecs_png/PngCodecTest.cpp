// The PNG module on every variant: what it reads and writes again is the same
// file kind with the same samples, palette and transparency; metadata goes
// through turned upright and cleared; hostile headers fail before any
// allocation.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <zlib.h>

#include "engine/Errors.h"
#include "engine/formats/FormatRegistry.h"
#include "engine/formats/JpegFormat.h"
#include "engine/formats/PngCodec.h"
#include "engine/formats/PngFormat.h"
#include "engine/formats/PngMetadata.h"
#include "tests/codecs_png/PngTestSupport.h"

namespace sigilon {
namespace {

using test::ReadPng;
using test::TPngFile;
using test::WritePng;

// A picture of the kind with samples that use the whole depth.
TPngFile Variant(int colorType, int depth, bool interlaced = false) {
  TPngFile file = TPngFile::Of(37, 23, depth, colorType, interlaced);
  const std::uint32_t max = (1u << depth) - 1;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (std::uint32_t i = 0; i <= max && i < 200; ++i) {
      file.Palette.push_back({static_cast<png_byte>(i * 5), static_cast<png_byte>(255 - i),
                              static_cast<png_byte>(i * 97)});
    }
  }
  const std::uint32_t limit = colorType == PNG_COLOR_TYPE_PALETTE
                                  ? static_cast<std::uint32_t>(file.Palette.size())
                                  : max + 1;
  for (int y = 0; y < file.Height; ++y) {
    for (int x = 0; x < file.Width; ++x) {
      for (int c = 0; c < file.Channels(); ++c) {
        file.Samples.push_back(
            static_cast<std::uint16_t>((x * 2654435761u + y * 40503u + c * 977u) % limit));
      }
    }
  }
  return file;
}

struct TDecoded {
  TBitmap Picture;
  TPictureHeader Header;
  TPictureMetadata Metadata;
  std::vector<std::string> Warnings;
};

TDecoded Decode(std::span<const std::byte> bytes) {
  std::size_t at = 0;
  TPngBandDecoder decoder(
      [&](std::span<std::byte> buffer) {
        const std::size_t n = std::min(buffer.size(), bytes.size() - at);
        if (n > 0) std::memcpy(buffer.data(), bytes.data() + at, n);
        at += n;
        return n;
      },
      bytes.size(), "test.png");
  TDecoded decoded{
      decoder.NewBand(decoder.Header().Height), decoder.Header(), decoder.Metadata(), {}};
  // In uneven bands, as the branding reads.
  for (int top = 0; top < decoded.Header.Height; top += 5) {
    decoder.ReadRows(decoded.Picture, top, std::min(5, decoded.Header.Height - top));
  }
  decoder.Finish();
  decoded.Warnings = decoder.Warnings();
  return decoded;
}

std::vector<std::byte> Encode(const TBitmap& picture, int bitsPerSample,
                              const TPictureMetadata* metadata = nullptr, bool keep = false) {
  std::vector<std::byte> out;
  TPngBandEncoder encoder(
      {.Name = "copy.png",
       .Width = picture.Width(),
       .Height = picture.Height(),
       .BitsPerSample = bitsPerSample,
       .Metadata = metadata,
       .KeepMetadata = keep},
      [&](std::span<const std::byte> b) { out.insert(out.end(), b.begin(), b.end()); });
  for (int top = 0; top < picture.Height(); top += 7) {
    encoder.WriteRows(picture, top, std::min(7, picture.Height() - top));
  }
  encoder.Finish();
  return out;
}

TEST(PngCodec, EveryVariantWritesBackAsTheSameKindAndSamples) {
  struct TCase {
    int ColorType;
    int Depth;
    bool Interlaced;
    TPixelFormat Format;
  };
  const TCase cases[] = {
      {PNG_COLOR_TYPE_GRAY, 1, false, TPixelFormat::pfGray8},
      {PNG_COLOR_TYPE_GRAY, 2, false, TPixelFormat::pfGray8},
      {PNG_COLOR_TYPE_GRAY, 4, false, TPixelFormat::pfGray8},
      {PNG_COLOR_TYPE_GRAY, 8, false, TPixelFormat::pfGray8},
      {PNG_COLOR_TYPE_GRAY, 16, false, TPixelFormat::pfGray16},
      {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, TPixelFormat::pfGrayAlpha8},
      {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, TPixelFormat::pfGrayAlpha16},
      {PNG_COLOR_TYPE_PALETTE, 1, false, TPixelFormat::pf8bit},
      {PNG_COLOR_TYPE_PALETTE, 2, false, TPixelFormat::pf8bit},
      {PNG_COLOR_TYPE_PALETTE, 4, false, TPixelFormat::pf8bit},
      {PNG_COLOR_TYPE_PALETTE, 8, false, TPixelFormat::pf8bit},
      {PNG_COLOR_TYPE_RGB, 8, false, TPixelFormat::pf24bit},
      {PNG_COLOR_TYPE_RGB, 16, false, TPixelFormat::pf48bit},
      {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, TPixelFormat::pfBGRA32},
      {PNG_COLOR_TYPE_RGB_ALPHA, 16, false, TPixelFormat::pf64bit},
      {PNG_COLOR_TYPE_RGB, 8, true, TPixelFormat::pf24bit},
      {PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, TPixelFormat::pfGrayAlpha16},
      {PNG_COLOR_TYPE_PALETTE, 4, true, TPixelFormat::pf8bit},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.ColorType << ", " << c.Depth << " bits"
                                    << (c.Interlaced ? ", interlaced" : ""));
    TPngFile source = Variant(c.ColorType, c.Depth, c.Interlaced);
    if (c.ColorType == PNG_COLOR_TYPE_PALETTE) {
      source.PaletteAlpha = {0, 128, 255, 7};
      source.PaletteAlpha.resize(std::min<std::size_t>(4, source.Palette.size()));
    }
    const TDecoded decoded = Decode(WritePng(source));
    EXPECT_TRUE(decoded.Warnings.empty());
    EXPECT_EQ(decoded.Picture.PixelFormat(), c.Format);
    EXPECT_EQ(decoded.Header.BitsPerSample, c.Depth);
    const TPngFile copy = ReadPng(Encode(decoded.Picture, decoded.Header.BitsPerSample));
    EXPECT_EQ(copy.Width, source.Width);
    EXPECT_EQ(copy.Height, source.Height);
    EXPECT_EQ(copy.ColorType, source.ColorType);
    EXPECT_EQ(copy.Depth, source.Depth);
    EXPECT_FALSE(copy.Interlaced);
    EXPECT_TRUE(copy.Samples == source.Samples);
    ASSERT_EQ(copy.Palette.size(), source.Palette.size());
    for (std::size_t i = 0; i < copy.Palette.size(); ++i) {
      EXPECT_TRUE(copy.Palette[i].red == source.Palette[i].red &&
                  copy.Palette[i].green == source.Palette[i].green &&
                  copy.Palette[i].blue == source.Palette[i].blue);
    }
    // The table loses only trailing opaque entries, which say nothing.
    std::vector<std::uint8_t> alpha = source.PaletteAlpha;
    while (!alpha.empty() && alpha.back() == 255) alpha.pop_back();
    EXPECT_EQ(copy.PaletteAlpha, alpha);
  }
}

TEST(PngCodec, ATransparentColourBecomesAlphaThatSaysTheSame) {
  TPngFile source = Variant(PNG_COLOR_TYPE_RGB, 8);
  source.TransparentColor = {source.At(3, 2, 0), source.At(3, 2, 1), source.At(3, 2, 2)};
  const TDecoded decoded = Decode(WritePng(source));
  ASSERT_EQ(decoded.Picture.PixelFormat(), TPixelFormat::pfBGRA32);
  const TPngFile copy = ReadPng(Encode(decoded.Picture, decoded.Header.BitsPerSample));
  ASSERT_EQ(copy.ColorType, PNG_COLOR_TYPE_RGB_ALPHA);
  for (int y = 0; y < source.Height; ++y) {
    for (int x = 0; x < source.Width; ++x) {
      const bool transparent = source.At(x, y, 0) == source.TransparentColor[0] &&
                               source.At(x, y, 1) == source.TransparentColor[1] &&
                               source.At(x, y, 2) == source.TransparentColor[2];
      EXPECT_EQ(copy.At(x, y, 3), transparent ? 0 : 255);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(copy.At(x, y, c), source.At(x, y, c));
    }
  }
}

// A TIFF structure with one IFD: the orientation and, linked after it, an
// IFD1 that stands for a thumbnail.
std::vector<std::byte> ExifWithOrientation(int orientation) {
  const std::uint8_t tiff[] = {
      'M',  'M',  0, 42, 0, 0,  0, 8,  // header
      0,    1,                         // one entry
      0x01, 0x12, 0, 3,  0, 0,  0, 1, 0, static_cast<std::uint8_t>(orientation),
      0,    0,    0, 0,  0, 26,  // IFD1 follows
      0,    0,    0, 0,  0, 0};  // IFD1: no entries
  return {reinterpret_cast<const std::byte*>(tiff),
          reinterpret_cast<const std::byte*>(tiff) + sizeof tiff};
}

using test::IccProfile;

TEST(PngCodec, MetadataIsReadUprightAndWrittenAsAsked) {
  TPngFile source = Variant(PNG_COLOR_TYPE_RGB, 8);
  source.Exif = ExifWithOrientation(6);
  source.IccProfile = IccProfile();
  source.Xmp = "<x:xmpmeta><rdf:Description tiff:Orientation=\"6\"/></x:xmpmeta>";
  const TDecoded decoded = Decode(WritePng(source));
  EXPECT_TRUE(decoded.Warnings.empty());
  EXPECT_EQ(decoded.Metadata.Orientation, 6);
  EXPECT_EQ(decoded.Metadata.IccProfile, source.IccProfile);
  ASSERT_EQ(decoded.Metadata.Information.size(), 2u);

  const TPngFile plain = ReadPng(Encode(decoded.Picture, 8, &decoded.Metadata, false));
  EXPECT_EQ(plain.IccProfile, source.IccProfile);
  EXPECT_TRUE(plain.Exif.empty());
  EXPECT_TRUE(plain.Xmp.empty());

  const TPngFile kept = ReadPng(Encode(decoded.Picture, 8, &decoded.Metadata, true));
  EXPECT_EQ(kept.IccProfile, source.IccProfile);
  // Orientation 1 and the thumbnail's directory cut off; the rest as it was.
  std::vector<std::byte> expected = ExifWithOrientation(1);
  expected.resize(26);
  expected[22] = expected[23] = expected[24] = expected[25] = std::byte{0};
  EXPECT_EQ(kept.Exif, expected);
  EXPECT_EQ(kept.Xmp, "<x:xmpmeta><rdf:Description tiff:Orientation=\"1\"/></x:xmpmeta>");
  EXPECT_EQ(Decode(WritePng(kept)).Metadata.Orientation, 1);
}

// Colour chunks describe the pixels as a profile does: always carried. Text
// is picture information; a raw profile might hide an unbranded thumbnail.
TEST(PngCodec, ColourChunksAlwaysTextsWhenAskedRawProfilesNever) {
  TPngFile source = Variant(PNG_COLOR_TYPE_RGB, 8);
  source.SrgbIntent = PNG_sRGB_INTENT_PERCEPTUAL;
  source.Gamma = 45455;
  source.Texts = {{"Title", "Harbour at dawn"},
                  {"Raw profile type exif", "\nexif\n 4\n45786966\n"}};
  const TDecoded decoded = Decode(WritePng(source));
  EXPECT_TRUE(decoded.Warnings.empty());
  const TPngFile plain = ReadPng(Encode(decoded.Picture, 8, &decoded.Metadata, false));
  EXPECT_EQ(plain.SrgbIntent, PNG_sRGB_INTENT_PERCEPTUAL);
  EXPECT_EQ(plain.Gamma, 45455);
  EXPECT_TRUE(plain.Texts.empty());
  const TPngFile kept = ReadPng(Encode(decoded.Picture, 8, &decoded.Metadata, true));
  EXPECT_EQ(kept.Gamma, 45455);
  EXPECT_EQ(kept.Texts,
            (std::vector<std::pair<std::string, std::string>>{{"Title", "Harbour at dawn"}}));
  // Beside a profile, sRGB would contradict it.
  TPictureMetadata profiled = decoded.Metadata;
  profiled.IccProfile = IccProfile();
  EXPECT_EQ(ReadPng(Encode(decoded.Picture, 8, &profiled, false)).SrgbIntent, -1);
}

TEST(PngCodec, IptcTravelsAsPhotoshopResources) {
  const std::vector<std::byte> iptc{std::byte{0x1C}, std::byte{2}, std::byte{120},
                                    std::byte{0},    std::byte{1}, std::byte{'x'}};
  const std::vector<std::byte> resources = PhotoshopResourcesOf(iptc);
  EXPECT_EQ(DecodeRawProfile(EncodeRawProfile("8bim", resources)), resources);
  EXPECT_EQ(PhotoshopResourcesOf(resources), resources);
  const TPictureMetadata metadata = PictureMetadataOf({.Photoshop = resources});
  ASSERT_EQ(metadata.Information.size(), 1u);
  EXPECT_EQ(metadata.Information[0].Kind, TPictureMetadata::TKind::Iptc);
  EXPECT_EQ(PngMetadataOf(metadata, true).Photoshop, resources);
  EXPECT_TRUE(DecodeRawProfile("\n8bim\n  4\n12zz").empty());
}

TEST(PngCodec, HostileHeadersFailBeforeAnyAllocation) {
  // IHDR claims are checked against the pixel bound and the file's size.
  for (const auto& [width, height] :
       {std::pair{60000, 60000}, std::pair{1 << 20, 1 << 20}, std::pair{100000, 3000}}) {
    TPngFile tiny = TPngFile::Of(1, 1, 1, PNG_COLOR_TYPE_GRAY);
    tiny.Samples = {1};
    std::vector<std::byte> bytes = WritePng(tiny);
    // Patch IHDR's size and its CRC.
    for (int i = 0; i < 4; ++i) {
      bytes[16 + i] = static_cast<std::byte>(static_cast<std::uint32_t>(width) >> (24 - 8 * i));
      bytes[20 + i] = static_cast<std::byte>(static_cast<std::uint32_t>(height) >> (24 - 8 * i));
    }
    const std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
    for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<std::byte>(crc >> (24 - 8 * i));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Decode(bytes), ImageError) << width << " x " << height;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
  EXPECT_THROW(Decode(std::vector<std::byte>(40, std::byte{0x89})), ImageError);
}

TEST(PngCodec, OnlyAllTypesFindsPng) {
  EXPECT_EQ(FormatForPath("a/b.png"), nullptr);
  EXPECT_EQ(FormatForPath("a/b.PnG", true), &PngFormat());
  EXPECT_EQ(FormatForPath("a/b.JPG", true), &JpegFormat());
  EXPECT_EQ(FormatForPath("a.png/b", true), nullptr);
}

}  // namespace
}  // namespace sigilon
