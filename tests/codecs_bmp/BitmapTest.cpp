#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/Errors.h"
#include "tests/codecs_bmp/BmpTestSupport.h"

namespace sigilon {
namespace {

using test::IndexAt;
using test::MakePattern;

TEST(Bitmap, SizesAreCheckedBeforeAllocation) {
  for (auto [width, bits, stride] : {std::tuple{1, 1, 4u}, {33, 1, 8u}, {3, 24, 12u}, {7, 4, 4u}})
    EXPECT_EQ(RowStride(width, bits), stride) << width << " x " << bits;
  EXPECT_EQ(CheckedImageBytes(3, 2, 24), 24u);
  EXPECT_THROW(CheckedImageBytes(0, 5, 8), ImageError);
  EXPECT_THROW(CheckedImageBytes(5, -1, 8), ImageError);
  // The product would wrap in 32 bits and exceeds the bound in 64.
  EXPECT_THROW(CheckedImageBytes(0x7FFFFFFF, 0x7FFFFFFF, 32), ImageError);
  EXPECT_THROW(CheckedImageBytes(1, static_cast<std::int64_t>(kMaxPixels) + 1, 8), ImageError);
  EXPECT_NO_THROW(CheckedImageBytes(static_cast<std::int64_t>(kMaxPixels), 1, 1));
  EXPECT_THROW(TBitmap(0, 1, TPixelFormat::pf8bit), ImageError);

  const TBitmap bmp(5, 3, TPixelFormat::pf4bit);
  EXPECT_EQ(bmp.Stride(), 4u);
  EXPECT_EQ(bmp.Palette().size(), 16u);
  EXPECT_TRUE(TBitmap(2, 2, TPixelFormat::pf24bit).Palette().empty());
}

TEST(Bitmap, PaletteFormatsPaintTheNearestEntry) {
  for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit}) {
    SCOPED_TRACE(BitsPerPixel(f));
    TBitmap bmp(9, 2, f);
    bmp.Palette().assign(bmp.Palette().size(), TRGBQuad{200, 200, 200, 0});
    bmp.Palette()[0] = TRGBQuad{0, 0, 0, 0};
    bmp.Palette()[1] = TRGBQuad{0, 0, 250, 0};  // red
    // Pixel 8 starts a byte in every palette format: IndexAt reads its high bits.
    bmp.SetPixel(8, 1, TRGBQuad{10, 20, 230, 0});
    EXPECT_EQ(IndexAt(bmp, 8, 1), 1u);
    EXPECT_EQ(bmp.GetPixel(8, 1), bmp.Palette()[1]);
    // Neighbours sharing the byte stay untouched.
    EXPECT_EQ(IndexAt(bmp, 7, 1), 0u);
    EXPECT_EQ(IndexAt(bmp, 8, 0), 0u);
    bmp.SetPixel(8, 1, TRGBQuad{5, 5, 5, 0});
    EXPECT_EQ(IndexAt(bmp, 8, 1), 0u);
  }
}

TEST(Bitmap, NearestPaletteIndexTiesAndUnreachableEntries) {
  TBitmap bmp(1, 1, TPixelFormat::pf1bit);
  bmp.Palette() = {TRGBQuad{0, 0, 100, 0}, TRGBQuad{0, 0, 100, 0}};
  EXPECT_EQ(bmp.NearestPaletteIndex(TRGBQuad{0, 0, 90, 0}), 0) << "first of equals";
  // A table longer than 1-bit pixels can index: the extra entry is never chosen.
  bmp.Palette().push_back(TRGBQuad{0, 0, 90, 0});
  EXPECT_EQ(bmp.NearestPaletteIndex(TRGBQuad{0, 0, 90, 0}), 0);
  bmp.Palette().clear();
  EXPECT_EQ(bmp.NearestPaletteIndex(TRGBQuad{1, 2, 3, 0}), 0);
  bmp.SetPixel(0, 0, TRGBQuad{1, 2, 3, 0});
  EXPECT_EQ(bmp.GetPixel(0, 0), (TRGBQuad{0, 0, 0, 0})) << "no table: black";
}

TEST(Bitmap, MaskedFormatsRespectTheirMasks) {
  // Every 5-bit channel value survives a read-and-paint cycle unchanged.
  TBitmap bmp(1, 1, TPixelFormat::pf16bit);
  for (std::uint32_t v = 0; v < 32; ++v) {
    const std::uint16_t raw = static_cast<std::uint16_t>((v << 10) | ((31 - v) << 5) | v);
    bmp.Row(0)[0] = static_cast<std::uint8_t>(raw);
    bmp.Row(0)[1] = static_cast<std::uint8_t>(raw >> 8);
    const TRGBQuad c = bmp.GetPixel(0, 0);
    EXPECT_NEAR(c.Red, v * 255.0 / 31.0, 0.5);
    bmp.SetPixel(0, 0, c);
    EXPECT_EQ(bmp.Row(0)[0] | (bmp.Row(0)[1] << 8), raw) << v;
  }

  // 5-6-5: colours land within half a step of the channel's resolution.
  bmp.Masks() = {0xF800, 0x07E0, 0x001F, 0};
  for (int i = 0; i < 256; i += 17) {
    const TRGBQuad in{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                      static_cast<std::uint8_t>(i / 2), 0};
    bmp.SetPixel(0, 0, in);
    const TRGBQuad out = bmp.GetPixel(0, 0);
    EXPECT_LE(std::abs(out.Blue - in.Blue), 5);
    EXPECT_LE(std::abs(out.Green - in.Green), 3);
    EXPECT_LE(std::abs(out.Red - in.Red), 5);
  }

  // Alpha and unused bits outside the colour masks keep their value.
  TBitmap argb(1, 1, TPixelFormat::pf32bit);
  argb.Masks() = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  argb.Row(0)[3] = 0x7F;
  argb.SetPixel(0, 0, TRGBQuad{1, 2, 3, 0});
  const auto argbRow = argb.Row(0).first(4);
  EXPECT_EQ(std::vector(argbRow.begin(), argbRow.end()),
            (std::vector<std::uint8_t>{1, 2, 3, 0x7F}));
  TBitmap x555(1, 1, TPixelFormat::pf16bit);
  x555.Row(0)[1] = 0x80;
  x555.SetPixel(0, 0, TRGBQuad{255, 255, 255, 0});
  EXPECT_EQ(x555.Row(0)[0] | (x555.Row(0)[1] << 8), 0xFFFF);
  EXPECT_FALSE(TBitmap(1, 1, TPixelFormat::pf32bit).HasCustomMasks());
  EXPECT_TRUE(argb.HasCustomMasks());
}

TEST(Bitmap, OutsideCoordinatesAreIgnored) {
  TBitmap bmp = MakePattern(TPixelFormat::pf24bit, 3, 3);
  const TBitmap before = bmp;
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {3, 0}, {0, 3}, {1000000, 1000000}}) {
    bmp.SetPixel(x, y, TRGBQuad{1, 2, 3, 0});
    EXPECT_EQ(bmp.GetPixel(x, y), (TRGBQuad{}));
  }
  test::ExpectSamePicture(before, bmp);
}

TEST(Bitmap, ToBits24KeepsEveryColour) {
  for (TPixelFormat f : test::kAllFormats) {
    SCOPED_TRACE(BitsPerPixel(f));
    TBitmap bmp = MakePattern(f, 7, 3);
    if (f == TPixelFormat::pf16bit) bmp.Masks() = {0xF800, 0x07E0, 0x001F, 0};
    const TBitmap out = bmp.ToBits24();
    ASSERT_EQ(out.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(std::pair(out.Width(), out.Height()), std::pair(7, 3));
    EXPECT_EQ(out.XPelsPerMeter, bmp.XPelsPerMeter);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(out.GetPixel(x, y), bmp.GetPixel(x, y));
  }
  EXPECT_TRUE(TBitmap().ToBits24().Empty());
}

TEST(Bitmap, ToBits24LaysAlphaOverWhite) {
  TBitmap grey(3, 1, TPixelFormat::pfGrayAlpha16);
  const std::uint16_t samples[] = {0, 0, 0, 65535, 0, 32768};  // grey, alpha
  std::memcpy(grey.Row(0).data(), samples, sizeof samples);
  TBitmap palette(3, 1, TPixelFormat::pf8bit);
  palette.PaletteAlpha = true;
  palette.Palette()[1].Reserved = 255;
  palette.Palette()[2].Reserved = 128;
  palette.Row(0)[1] = 1;
  palette.Row(0)[2] = 2;
  for (const TBitmap* picture : {&grey, &palette}) {
    const TBitmap out = picture->ToBits24();
    EXPECT_EQ(out.GetPixel(0, 0), (TRGBQuad{255, 255, 255, 0}));  // transparent black
    EXPECT_EQ(out.GetPixel(1, 0), (TRGBQuad{0, 0, 0, 0}));        // opaque black
    EXPECT_NEAR(out.GetPixel(2, 0).Green, 127, 1);
  }
  palette.PaletteAlpha = false;  // a bitmap file's Reserved bytes mean nothing
  EXPECT_EQ(palette.ToBits24().GetPixel(0, 0), (TRGBQuad{0, 0, 0, 0}));
}

}  // namespace
}  // namespace sigilon
