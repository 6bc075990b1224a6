// The pictures carried inside the program must have the exact formats the
// windows are laid out for: the splash picture fills its place in the 390 x 126
// window, APP_BITMAP is a 16-colour picture.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> ReadPicture(const std::string& name) {
  std::ifstream in(std::string(SIGILON_RESOURCES_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | std::uint32_t{b.at(at + 3)} << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

struct PaletteBitmap {
  std::uint32_t fileSize, pixelOffset, infoSize, width, height, compression, imageSize;
  std::int32_t xPelsPerMeter, yPelsPerMeter;
  std::uint16_t planes, bitsPerPixel;
  std::uint32_t colorsUsed;
  std::set<int> indicesUsed;            // palette indices that occur in the pixels
  std::set<std::uint32_t> colorsShown;  // the RGB values of those indices
  bool paddingClear = true;             // bits beyond the last pixel of each row are zero
};

PaletteBitmap Parse(const std::vector<std::uint8_t>& b) {
  PaletteBitmap p{};
  EXPECT_EQ(b.at(0), 'B');
  EXPECT_EQ(b.at(1), 'M');
  p.fileSize = U32(b, 2);
  p.pixelOffset = U32(b, 10);
  p.infoSize = U32(b, 14);
  p.width = U32(b, 18);
  p.height = U32(b, 22);
  p.planes = U16(b, 26);
  p.bitsPerPixel = U16(b, 28);
  p.compression = U32(b, 30);
  p.imageSize = U32(b, 34);
  p.xPelsPerMeter = static_cast<std::int32_t>(U32(b, 38));
  p.yPelsPerMeter = static_cast<std::int32_t>(U32(b, 42));
  p.colorsUsed = U32(b, 46);
  const std::size_t table = 14 + p.infoSize;
  const std::size_t stride = ((p.width * p.bitsPerPixel + 31) / 32) * 4;
  for (std::uint32_t y = 0; y < p.height; ++y) {
    const std::size_t row = p.pixelOffset + y * stride;
    for (std::uint32_t x = 0; x < p.width; ++x) {
      int index = 0;
      if (p.bitsPerPixel == 8) {
        index = b.at(row + x);
      } else {
        const std::uint8_t byte = b.at(row + x / 2);
        index = x % 2 == 0 ? byte >> 4 : byte & 0x0F;
      }
      p.indicesUsed.insert(index);
      p.colorsShown.insert(U32(b, table + 4 * index) & 0xFFFFFF);
    }
    const std::size_t usedBits = std::size_t{p.width} * p.bitsPerPixel;
    for (std::size_t bit = usedBits; bit < stride * 8; ++bit) {
      if (b.at(row + bit / 8) & (0x80 >> (bit % 8))) p.paddingClear = false;
    }
  }
  return p;
}

TEST(ArtworkTest, SplashPictureHasTheLaidOutFormat) {
  const auto bytes = ReadPicture("Splash.bmp");
  ASSERT_EQ(bytes.size(), 24082u);
  const PaletteBitmap p = Parse(bytes);
  EXPECT_EQ(p.fileSize, bytes.size());
  EXPECT_EQ(p.infoSize, 40u);
  EXPECT_EQ(p.width, 324u);
  EXPECT_EQ(p.height, 71u);  // positive: rows stored bottom-up
  EXPECT_EQ(p.planes, 1);
  EXPECT_EQ(p.bitsPerPixel, 8);
  EXPECT_EQ(p.compression, 0u);
  EXPECT_EQ(p.imageSize, 23004u);
  EXPECT_EQ(p.xPelsPerMeter, 2834);
  EXPECT_EQ(p.yPelsPerMeter, 2834);
  EXPECT_TRUE(p.colorsUsed == 256 || p.colorsUsed == 0);
  // Headers, a full 256-entry table, then the pixels up to the end of the file.
  EXPECT_EQ(p.pixelOffset, 14u + 40u + 256u * 4u);
  EXPECT_EQ(p.pixelOffset + p.imageSize, bytes.size());
  EXPECT_EQ(p.indicesUsed.size(), 6u);
  EXPECT_EQ(p.colorsShown.size(), 6u);
}

TEST(ArtworkTest, AppBitmapIsASixteenColourPicture) {
  const auto bytes = ReadPicture("APP_BITMAP.bmp");
  ASSERT_EQ(bytes.size(), 14u + 40u + 16u * 4u + 5200u);
  const PaletteBitmap p = Parse(bytes);
  EXPECT_EQ(p.fileSize, bytes.size());
  EXPECT_EQ(p.infoSize, 40u);
  EXPECT_EQ(p.width, 100u);
  EXPECT_EQ(p.height, 100u);
  EXPECT_EQ(p.planes, 1);
  EXPECT_EQ(p.bitsPerPixel, 4);
  EXPECT_EQ(p.compression, 0u);
  EXPECT_EQ(p.imageSize, 5200u);  // rows of 52 bytes
  EXPECT_TRUE(p.colorsUsed == 16 || p.colorsUsed == 0);
  EXPECT_EQ(p.pixelOffset, 14u + 40u + 16u * 4u);
  EXPECT_TRUE(p.paddingClear);
  // A real picture, not a blank: several of the sixteen colours appear.
  EXPECT_GE(p.indicesUsed.size(), 4u);
}

}  // namespace
