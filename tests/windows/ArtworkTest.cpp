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

struct Expected {
  const char* name;
  std::size_t fileSize;
  std::uint32_t width, height;  // positive height: rows stored bottom-up
  std::uint16_t bitsPerPixel;
  std::uint32_t imageSize;
  std::size_t fewestColours, mostColours;  // palette entries the pixels use
};

TEST(ArtworkTest, PicturesHaveTheLaidOutFormats) {
  const Expected pictures[] = {
      // The splash picture fills its place; six colours, a full 256-entry table.
      {"Splash.bmp", 24082, 324, 71, 8, 23004, 6, 6},
      // Rows of 52 bytes; a real picture, not a blank: several of its sixteen colours.
      {"APP_BITMAP.bmp", 14 + 40 + 16 * 4 + 5200, 100, 100, 4, 5200, 4, 16},
  };
  for (const Expected& e : pictures) {
    SCOPED_TRACE(e.name);
    const auto bytes = ReadPicture(e.name);
    ASSERT_EQ(bytes.size(), e.fileSize);
    const PaletteBitmap p = Parse(bytes);
    EXPECT_EQ(p.fileSize, bytes.size());
    EXPECT_EQ(p.infoSize, 40u);
    EXPECT_EQ(p.width, e.width);
    EXPECT_EQ(p.height, e.height);
    EXPECT_EQ(p.planes, 1);
    EXPECT_EQ(p.bitsPerPixel, e.bitsPerPixel);
    EXPECT_EQ(p.compression, 0u);
    EXPECT_EQ(p.imageSize, e.imageSize);
    EXPECT_EQ(p.xPelsPerMeter, 2834);
    EXPECT_EQ(p.yPelsPerMeter, 2834);
    const std::uint32_t tableSize = 1u << e.bitsPerPixel;
    EXPECT_TRUE(p.colorsUsed == tableSize || p.colorsUsed == 0);
    // Headers, the full table, then the pixels up to the end of the file.
    EXPECT_EQ(p.pixelOffset, 14u + 40u + tableSize * 4u);
    EXPECT_EQ(p.pixelOffset + p.imageSize, bytes.size());
    EXPECT_TRUE(p.paddingClear);
    EXPECT_GE(p.indicesUsed.size(), e.fewestColours);
    EXPECT_LE(p.indicesUsed.size(), e.mostColours);
    EXPECT_EQ(p.colorsShown.size(), p.indicesUsed.size());
  }
}

}  // namespace
