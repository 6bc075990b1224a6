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

namespace sigilon::test {

inline void Put16(std::vector<std::byte>& out, std::uint32_t v) {
  out.push_back(static_cast<std::byte>(v & 0xFF));
  out.push_back(static_cast<std::byte>((v >> 8) & 0xFF));
}
inline void Put32(std::vector<std::byte>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
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
    Put32(out, 0);  // file size, patched below
    Put32(out, 0);
    Put32(out, 0);  // pixel offset, patched below
    const std::size_t headerStart = out.size();
    Put32(out, headerSize);
    if (headerSize == 12) {
      Put16(out, static_cast<std::uint16_t>(width));
      Put16(out, static_cast<std::uint16_t>(height));
      Put16(out, planes);
      Put16(out, bitCount);
    } else {
      Put32(out, static_cast<std::uint32_t>(width));
      Put32(out, static_cast<std::uint32_t>(height));
      Put16(out, planes);
      Put16(out, bitCount);
      if (headerSize >= 40) {
        Put32(out, compression);
        Put32(out, 0);
        Put32(out, static_cast<std::uint32_t>(xPelsPerMeter));
        Put32(out, static_cast<std::uint32_t>(yPelsPerMeter));
        Put32(out, colorsUsed);
        Put32(out, 0);
      }
      if (headerSize >= 52 && headerSize != 64) {
        for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) Put32(out, headerMasks[i]);
      }
    }
    while (out.size() < headerStart + headerSize) out.push_back(std::byte{0});
    for (std::uint32_t m : trailingMasks) Put32(out, m);
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

/// Distinct, easily told apart colours for palette entry i.
inline TRGBQuad PaletteColor(std::size_t i) {
  return TRGBQuad{static_cast<std::uint8_t>(i * 7 + 3), static_cast<std::uint8_t>(255 - i),
                  static_cast<std::uint8_t>((i * 13) & 0xFF), 0};
}

/// Palette index of pixel (x, y) read straight from the row bytes.
inline unsigned IndexAt(const TBitmap& bmp, int x, int y) {
  const auto row = bmp.Row(y);
  switch (bmp.BitsPerPixel()) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4:
      return (x % 2) ? (row[x / 2] & 0x0Fu) : (row[x / 2] >> 4);
    default:
      return row[x];
  }
}

inline void SetIndexAt(TBitmap& bmp, int x, int y, unsigned index) {
  auto row = bmp.Row(y);
  switch (bmp.BitsPerPixel()) {
    case 1: {
      const auto bit = static_cast<std::uint8_t>(0x80u >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>(index ? (row[x / 8] | bit) : (row[x / 8] & ~bit));
      break;
    }
    case 4:
      row[x / 2] = (x % 2) ? static_cast<std::uint8_t>((row[x / 2] & 0xF0) | index)
                           : static_cast<std::uint8_t>((row[x / 2] & 0x0F) | (index << 4));
      break;
    default:
      row[x] = static_cast<std::uint8_t>(index);
  }
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

}  // namespace sigilon::test
