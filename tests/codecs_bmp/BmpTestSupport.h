#pragma once
// Test pictures: a hand-written bitmap file builder (so the reader is checked
// against files our writer never produces) and deterministic patterns.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"

// Test files are written as designated initializers naming only the fields
// that matter to the case; the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace sigilon::test {

/// Appends the low `bytes` bytes of `v`, least significant first.
inline void PutLE(std::vector<std::byte>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
}

/// A bitmap file described field by field; Build() lays it out.
struct BmpFile {
  std::string signature = "BM";
  std::uint32_t headerSize = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t colorsUsed = 0;
  std::array<std::uint32_t, 4> headerMasks{};  // in 52+ byte headers
  std::vector<std::uint32_t> trailingMasks;    // after a 40-byte header
  std::vector<TRGBQuad> palette;               // 3 bytes each in a 12-byte header
  std::vector<std::uint8_t> pixels;            // exactly as stored in the file
  std::optional<std::uint32_t> pixelOffset;    // default: right after the palette
  std::optional<std::uint32_t> offsetField;    // a lie in the header; default: pixelOffset

  std::vector<std::byte> Build() const {
    std::vector<std::byte> out;
    out.push_back(static_cast<std::byte>(signature[0]));
    out.push_back(static_cast<std::byte>(signature[1]));
    PutLE(out, 0, 12);  // file size, reserved and pixel offset: patched below
    const std::size_t headerStart = out.size();
    PutLE(out, headerSize, 4);
    const int sizeBytes = headerSize == 12 ? 2 : 4;  // the 12-byte core header has 16-bit sizes
    PutLE(out, static_cast<std::uint32_t>(width), sizeBytes);
    PutLE(out, static_cast<std::uint32_t>(height), sizeBytes);
    PutLE(out, planes, 2);
    PutLE(out, bitCount, 2);
    if (headerSize >= 40) {
      for (std::uint32_t v : {compression, 0u, static_cast<std::uint32_t>(xPelsPerMeter),
                              static_cast<std::uint32_t>(yPelsPerMeter), colorsUsed, 0u})
        PutLE(out, v, 4);
    }
    if (headerSize >= 52 && headerSize != 64) {
      for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) PutLE(out, headerMasks[i], 4);
    }
    while (out.size() < headerStart + headerSize) out.push_back(std::byte{0});
    for (std::uint32_t m : trailingMasks) PutLE(out, m, 4);
    for (const TRGBQuad& c : palette) {
      out.push_back(static_cast<std::byte>(c.Blue));
      out.push_back(static_cast<std::byte>(c.Green));
      out.push_back(static_cast<std::byte>(c.Red));
      if (headerSize != 12) out.push_back(std::byte{0});
    }
    const std::uint32_t offset = pixelOffset.value_or(static_cast<std::uint32_t>(out.size()));
    while (out.size() < offset) out.push_back(std::byte{0xEE});
    for (std::uint8_t b : pixels) out.push_back(static_cast<std::byte>(b));
    const auto patch = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
    };
    patch(2, static_cast<std::uint32_t>(out.size()));
    patch(10, offsetField.value_or(offset));
    return out;
  }
};

inline constexpr TPixelFormat kAllFormats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,
                                               TPixelFormat::pf8bit,  TPixelFormat::pf16bit,
                                               TPixelFormat::pf24bit, TPixelFormat::pf32bit};

/// Distinct, easily told apart colours for palette entry i.
inline TRGBQuad PaletteColor(std::size_t i) {
  return TRGBQuad{static_cast<std::uint8_t>(i * 7 + 3), static_cast<std::uint8_t>(255 - i),
                  static_cast<std::uint8_t>((i * 13) & 0xFF), 0};
}

/// Where pixel x of a palette row sits: its byte, the shift of its bits and
/// their mask. The leftmost pixel takes a byte's high bits.
struct PackedPixel {
  std::size_t byte;
  int shift;
  unsigned mask;
};
inline PackedPixel Locate(const TBitmap& bmp, int x) {
  const int bits = bmp.BitsPerPixel();
  return {static_cast<std::size_t>(x) * bits / 8, 8 - bits - (x * bits) % 8, (1u << bits) - 1};
}

/// Palette index of pixel (x, y) read straight from the row bytes.
inline unsigned IndexAt(const TBitmap& bmp, int x, int y) {
  const PackedPixel p = Locate(bmp, x);
  return (bmp.Row(y)[p.byte] >> p.shift) & p.mask;
}

inline void SetIndexAt(TBitmap& bmp, int x, int y, unsigned index) {
  const PackedPixel p = Locate(bmp, x);
  std::uint8_t& byte = bmp.Row(y)[p.byte];
  byte = static_cast<std::uint8_t>((byte & ~(p.mask << p.shift)) | ((index & p.mask) << p.shift));
}

/// A picture of the given format filled with a deterministic pattern: palette
/// formats get `paletteSize` entries (0 = all) and indexes below that; the
/// others get pseudo-random bytes in every pixel bit, alpha/unused bits too.
inline TBitmap MakePattern(TPixelFormat format, int width, int height,
                           std::size_t paletteSize = 0) {
  TBitmap bmp(width, height, format);
  bmp.XPelsPerMeter = 2835;
  bmp.YPelsPerMeter = 3780;
  std::uint32_t seed = 12345u + static_cast<std::uint32_t>(width * 31 + height);
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  if (bmp.BitsPerPixel() <= 8) {
    if (paletteSize == 0) paletteSize = bmp.Palette().size();
    bmp.Palette().resize(paletteSize);
    for (std::size_t i = 0; i < paletteSize; ++i) bmp.Palette()[i] = PaletteColor(i);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) SetIndexAt(bmp, x, y, next() % paletteSize);
  } else {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bmp.BitsPerPixel() / 8;
    for (int y = 0; y < height; ++y)
      for (std::size_t i = 0; i < rowBytes; ++i) bmp.Row(y)[i] = static_cast<std::uint8_t>(next());
  }
  return bmp;
}

/// Same size, format, palette, masks, resolution and pixel bits (padding and
/// unused trailing bits aside).
inline void ExpectSamePicture(const TBitmap& expected, const TBitmap& actual) {
  ASSERT_EQ(expected.Width(), actual.Width());
  ASSERT_EQ(expected.Height(), actual.Height());
  ASSERT_EQ(expected.PixelFormat(), actual.PixelFormat());
  EXPECT_EQ(expected.Palette(), actual.Palette());
  EXPECT_EQ(expected.Masks(), actual.Masks());
  EXPECT_EQ(expected.XPelsPerMeter, actual.XPelsPerMeter);
  EXPECT_EQ(expected.YPelsPerMeter, actual.YPelsPerMeter);
  const int bits = expected.BitsPerPixel();
  for (int y = 0; y < expected.Height(); ++y) {
    if (bits <= 8) {
      for (int x = 0; x < expected.Width(); ++x)
        ASSERT_EQ(IndexAt(expected, x, y), IndexAt(actual, x, y)) << "at " << x << "," << y;
    } else {
      const std::size_t rowBytes = static_cast<std::size_t>(expected.Width()) * bits / 8;
      const auto a = expected.Row(y).first(rowBytes);
      const auto b = actual.Row(y).first(rowBytes);
      ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin())) << "row " << y;
    }
  }
}

/// Writes, reads back and writes again: the picture must survive unchanged and
/// the second file must equal the first byte for byte.
inline void ExpectRoundTrip(const TBitmap& original) {
  const std::vector<std::byte> first = SaveBitmapToBytes(original);
  const TBitmap reread = LoadBitmapFromBytes(first, "first.bmp");
  ExpectSamePicture(original, reread);
  EXPECT_EQ(first, SaveBitmapToBytes(reread));
}

}  // namespace sigilon::test
