// Drawing layer, through the stamping the branding uses: any brand text, font
// size (0, negative, huge), style, colour and pixel format on small pictures.
// The picture keeps its size, format and palette, and every pixel the text
// touches moves towards the text colour (palette pictures: becomes the
// nearest entry), never away from it.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/BrandFile.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

constexpr std::array kFormats = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,
                                 TPixelFormat::pf8bit,  TPixelFormat::pf16bit,
                                 TPixelFormat::pf24bit, TPixelFormat::pf32bit};
// An empty name keeps the default face; the last one is not installed.
constexpr std::array kFaces = {"", "DejaVu Sans", "DejaVu Sans Mono", "No Such Face"};
constexpr std::array kPixelsPerInch = {96, 120, 72, 0};
// Header: format, width, height, size (4), style and face, colour (4), ppi.
constexpr std::size_t kHeaderBytes = 12;
// Small pictures keep runs short; the text is what is being explored.
constexpr int kMaxSide = 48;
constexpr std::size_t kMaxTextBytes = 64;

std::int32_t Int32At(const std::uint8_t* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return static_cast<std::int32_t>(v);
}

int IndexAt(const TBitmap& bitmap, int x, int y) {
  const auto row = bitmap.Row(y);
  switch (bitmap.BitsPerPixel()) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
      return (x % 2) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    default:
      return row[x];
  }
}

// c lies between a and b, give or take the format's rounding.
bool Between(int c, int a, int b, int tolerance) {
  return c >= std::min(a, b) - tolerance && c <= std::max(a, b) + tolerance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size <= kHeaderBytes || size > kHeaderBytes + kMaxTextBytes) return 0;
  const TPixelFormat format = kFormats[data[0] % kFormats.size()];
  const int width = 1 + data[1] % kMaxSide;
  const int height = 1 + data[2] % kMaxSide;
  const std::string text(reinterpret_cast<const char*>(data + kHeaderBytes), size - kHeaderBytes);

  TFont font;
  font.PixelsPerInch = kPixelsPerInch[data[11] % kPixelsPerInch.size()];
  font.SetName(kFaces[(data[7] >> 4) % kFaces.size()]);
  font.SetSize(Int32At(data + 3));
  font.SetStyle(data[7] & 0x0F);
  font.Color = Int32At(data + 8);

  TBitmap picture(width, height, format);
  // A fixed, uneven picture: every palette entry distinct, pixels varied.
  for (std::size_t i = 0; i < picture.Palette().size(); ++i) {
    const auto v = static_cast<std::uint8_t>(i * 37 + 11);
    picture.Palette()[i] =
        TRGBQuad{v, static_cast<std::uint8_t>(v * 3), static_cast<std::uint8_t>(255 - v), 0};
  }
  for (std::size_t i = 0; i < picture.Pixels().size(); ++i) {
    picture.Pixels()[i] = static_cast<std::uint8_t>(i * 151 + 7);
  }
  const TBitmap before = picture;

  StampBrandText(text, font, picture);

  FUZZ_CHECK(picture.Width() == width && picture.Height() == height);
  FUZZ_CHECK(picture.PixelFormat() == format);
  FUZZ_CHECK(picture.Palette() == before.Palette());
  const TRGBQuad ink = ColorToRGB(font.Color);
  const bool indexed = picture.BitsPerPixel() <= 8;
  const int nearest = indexed ? picture.NearestPaletteIndex(ink) : 0;
  const int tolerance = format == TPixelFormat::pf16bit ? 9 : 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (indexed) {
        const int index = IndexAt(picture, x, y);
        FUZZ_CHECK(index == IndexAt(before, x, y) || index == nearest);
        continue;
      }
      const TRGBQuad was = before.GetPixel(x, y);
      const TRGBQuad now = picture.GetPixel(x, y);
      FUZZ_CHECK(Between(now.Red, was.Red, ink.Red, tolerance));
      FUZZ_CHECK(Between(now.Green, was.Green, ink.Green, tolerance));
      FUZZ_CHECK(Between(now.Blue, was.Blue, ink.Blue, tolerance));
    }
  }
  return 0;
}
