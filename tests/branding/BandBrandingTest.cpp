// JPEG branding band by band gives the bytes that branding the whole picture
// gives, at heights around the band boundaries and with brand copies that
// cross them, in one thread and in two; a failure leaves nothing behind.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "engine/BandBranding.h"
#include "engine/Canvas.h"
#include "engine/JpegCodec.h"
#include "engine/VCLJpegBitmap_Unit.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

// Textured colour, so that a misplaced stamp row changes the encoded bytes.
TBitmap Picture(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto v = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.05 + y * 0.08));
      bitmap.SetPixel(
          x, y, TRGBQuad{v, static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 3), 0});
    }
  }
  return bitmap;
}

// What branding the whole picture writes.
std::vector<std::byte> WholePicture(const std::vector<std::byte>& source, const TFont& font,
                                    const std::string& text, const TJpegDecodeOptions& options) {
  TBitmap picture = DecodeJpeg(source, "whole", options);
  StampBrandText(text, font, picture);
  return EncodeJpeg(picture, 100, "whole");
}

TFont BrandFont(int points) {
  TFont font;
  TextToFont("\"DejaVu Sans\", " + std::to_string(points) + ", [Bold], [$000000FF]", font);
  return font;
}

TEST(BandBranding, StreamedBytesEqualWholePictureAtAwkwardHeights) {
  test::TempDirectory dir;
  const std::string source = dir / "in.jpg";
  const std::string target = dir / "out.jpg";
  const auto noGuard = [] {};
  // At 3000 pixels a band is 112 rows: heights of one row, one band, a band
  // and one row either side, and three bands and a bit; a large text makes
  // every copy cross several band boundaries, a small one many copies meet
  // each boundary, and a huge one is drawn copy by copy.
  for (const int height : {1, 111, 112, 113, 337}) {
    for (const int points : {9, 60, 400}) {
      for (const bool palette : {false, true}) {
        SCOPED_TRACE(testing::Message() << "height " << height << ", " << points << " pt"
                                        << (palette ? ", palette" : ""));
        const auto file = EncodeJpeg(Picture(3000, height), 90, "in");
        test::WriteBytes(source, file);
        const TFont font = BrandFont(points);
        const TJpegDecodeOptions options{.ToPalette = palette};
        const auto expected = WholePicture(file, font, "Proof ©", options);
        for (const int threads : {1, 2}) {
          std::vector<std::string> warnings;
          ASSERT_TRUE(BrandJpegInBands("Proof ©", font, source, target, options, 100, threads,
                                       false, noGuard, warnings));
          EXPECT_EQ(test::ReadBytes(target), expected) << threads << " threads";
        }
      }
    }
  }
}

TEST(BandBranding, FailureBeforeCompletionLeavesTheOldTargetAndNoTemporary) {
  test::TempDirectory dir;
  const std::string source = dir / "in.jpg";
  fs::create_directory(dir / "out");
  const std::string target = dir / "out/in.jpg";
  test::WriteBytes(source, EncodeJpeg(Picture(500, 400), 90, "in"));
  test::WriteBytes(target, {std::byte{'o'}, std::byte{'l'}, std::byte{'d'}});
  for (const int threads : {1, 2}) {
    int guards = 0;
    std::vector<std::string> warnings;
    // The guard refuses only when the picture is complete, before it is put in place.
    EXPECT_THROW(BrandJpegInBands(
                     "Proof", BrandFont(12), source, target, {}, 100, threads, false,
                     [&] {
                       if (++guards == 3) throw std::runtime_error("refused");
                     },
                     warnings),
                 std::runtime_error);
    EXPECT_EQ(guards, 3);
    EXPECT_EQ(test::ReadBytes(target).size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
  }
}

}  // namespace
}  // namespace sigilon
