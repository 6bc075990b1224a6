// The live preview against the run: the sample with its mark is what
// BrandFile writes, at full size exactly and reduced in proportion.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/BmpCodec.h"
#include "engine/BrandFile.h"
#include "engine/Errors.h"
#include "engine/JpegDecoder.h"
#include "engine/JpegEncoder.h"
#include "engine/MarkPreview.h"
#include "platform/Files.h"
#include "tests/support/PixelCount.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

constexpr const char* kFont = "\"DejaVu Sans\", 12, [Bold], [clBlack]";

TBitmap White(int width, int height) {
  TBitmap picture(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, {255, 255, 255, 0});
  }
  return picture;
}

bool Dark(const TBitmap& picture, int x, int y) {
  const TRGBQuad pixel = picture.GetPixel(x, y);
  return pixel.Red < 128 && pixel.Green < 128 && pixel.Blue < 128;
}

double DarkShare(const TBitmap& picture) {
  const int dark = test::CountPixels(picture, [&](int x, int y) { return Dark(picture, x, y); });
  return static_cast<double>(dark) / (static_cast<double>(picture.Width()) * picture.Height());
}

TEST(MarkPreview, AFullSizeSampleIsWhatTheRunWrites) {
  test::TempDirectory temp;
  const std::string source = temp.Path() + "/IMG_7.bmp";
  std::filesystem::create_directory(temp.Path() + "/out");
  const std::vector<std::byte> bytes = SaveBitmapToBytes(White(240, 160));
  WriteWholeFile(source, bytes);
  TBrandOptions options;
  options.Look = {.Layout = TMarkLayout::Single, .Anchor = TMarkAnchor::Top, .Shadow = true};
  options.Fields = true;
  const TMarkSample sample = LoadMarkSample(source, 1000, 1000, options);
  EXPECT_EQ(sample.Scale, 1);
  const TBitmap shown = StampMarkSample(sample, "{stem}", kFont, options);
  // The sample itself stays as decoded, for the next change.
  EXPECT_DOUBLE_EQ(DarkShare(*sample.Picture), 0.0);

  ASSERT_EQ(
      BrandFile("{stem}", kFont, source, temp.Path() + "/out/IMG_7.bmp", nullptr, options).Kind,
      TOutcomeKind::Processed);
  const TBitmap written =
      LoadBitmapFromBytes(ReadWholeFile(temp.Path() + "/out/IMG_7.bmp"), "written");
  EXPECT_GT(DarkShare(written), 0.0);
  EXPECT_EQ(test::DifferingPixels(shown, written), 0);
}

TEST(MarkPreview, AReducedJpegCarriesTheMarkInProportion) {
  test::TempDirectory temp;
  const std::string source = temp.Path() + "/big.jpg";
  std::filesystem::create_directory(temp.Path() + "/out");
  WriteWholeFile(source, EncodeJpeg(White(1600, 1200), 90, source));
  TBrandOptions options;
  // A black logo at its own size shrinks with the sample as the letters do.
  auto logo = std::make_shared<TBitmap>(320, 160, TPixelFormat::pfBGRA32);
  for (int y = 0; y < 160; ++y) {
    for (int x = 0; x < 320; ++x) logo->Row(y)[4 * x + 3] = 255;
  }
  for (const TStampLook& look :
       {TStampLook{}, TStampLook{.RelativeSize = 5, .Spacing = 2},
        TStampLook{.Layout = TMarkLayout::Single, .Anchor = TMarkAnchor::BottomLeft},
        TStampLook{.Layout = TMarkLayout::Single, .Anchor = TMarkAnchor::Centre, .Logo = logo}}) {
    options.Look = look;
    // A view of 200 x 150 takes the eighth; one of 500 x 400 the half.
    for (const auto& [box, scale] : {std::pair{200, 8}, std::pair{500, 2}}) {
      const TMarkSample sample = LoadMarkSample(source, box, box, options);
      EXPECT_EQ(sample.Scale, scale);
      EXPECT_EQ(sample.Picture->Width(), 1600 / scale);
      const TBitmap shown = StampMarkSample(sample, "Kestro Studio", kFont, options);
      ASSERT_EQ(
          BrandFile("Kestro Studio", kFont, source, temp.Path() + "/out/big.jpg", nullptr, options)
              .Kind,
          TOutcomeKind::Processed);
      // The mark covers about the same share of the picture; letters a few
      // pixels high round their strokes, so the tolerance is wide.
      const double written =
          DarkShare(DecodeJpeg(ReadWholeFile(temp.Path() + "/out/big.jpg"), "out"));
      ASSERT_GT(written, 0.0);
      EXPECT_NEAR(DarkShare(shown) / written, 1.0, 0.5) << "scale " << scale;
    }
  }
}

TEST(MarkPreview, AFileOfNoBrandedTypeIsRefused) {
  test::TempDirectory temp;
  WriteWholeFile(temp.Path() + "/notes.txt", std::vector<std::byte>(10));
  EXPECT_THROW(LoadMarkSample(temp.Path() + "/notes.txt", 100, 100, {}), ImageError);
}

}  // namespace
}  // namespace sigilon
