// JPEG branding band by band gives the bytes that branding the whole picture
// gives, at heights around the band boundaries and with brand copies that
// cross them, in one thread and in two, also when the whole stamped picture
// is kept to be shown; a failure leaves nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "engine/BandBranding.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/JpegCodec.h"
#include "engine/Orientation.h"
#include "engine/formats/JpegFormat.h"
#include "platform/Platform.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/JpegSegments.h"
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

// What branding the whole picture stamps and writes.
struct TWhole {
  TBitmap Stamped;
  std::vector<std::byte> Written;
};
TWhole WholePicture(const std::vector<std::byte>& source, const TFont& font,
                    const std::string& text, const TJpegDecodeOptions& options) {
  TBitmap picture = DecodeJpeg(source, "whole", options);
  StampBrandText(text, font, picture);
  std::vector<std::byte> written = EncodeJpeg(picture, 100, "whole");
  return {std::move(picture), std::move(written)};
}

// Brands through the JPEG format band by band; a display of 8 bits decodes
// to a palette.
std::vector<std::string> BrandJpeg(const std::string& text, const TFont& font,
                                   const std::string& source, const std::string& target,
                                   bool palette, int threads,
                                   const std::function<void()>& guard = {},
                                   const TStampedPictureHandler& show = {}) {
  TBrandOptions options;
  options.Display.ColorDepth = palette ? 8 : 24;
  options.Threads = threads;
  const TBrandJob job{.BrandText = text,
                      .Font = font,
                      .SourcePath = source,
                      .TargetPath = target,
                      .Options = options,
                      .ShowPicture = show,
                      .GuardTarget = guard ? guard : [] {}};
  return BrandInBands(job, JpegFormat(), JpegFormat());
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
        const TWhole expected = WholePicture(file, font, "Proof ©", options);
        for (const int threads : {1, 2}) {
          BrandJpeg("Proof ©", font, source, target, palette, threads);
          EXPECT_EQ(test::ReadBytes(target), expected.Written) << threads << " threads";

          std::shared_ptr<const TBitmap> shown;
          BrandJpeg("Proof ©", font, source, target, palette, threads, {},
                    [&](std::shared_ptr<const TBitmap> picture) { shown = std::move(picture); });
          EXPECT_EQ(test::ReadBytes(target), expected.Written) << threads << " threads, shown";
          ASSERT_TRUE(shown);
          EXPECT_TRUE(std::ranges::equal(shown->Pixels(), expected.Stamped.Pixels()))
              << threads << " threads";
        }
      }
    }
  }
}

// Many bands, a dense brand: the writing thread falls behind, and the
// decoding thread makes the blocks of bands it has not reached.
TEST(BandBranding, TwoThreadsSharingTheEncodingWriteTheSameBytes) {
  test::TempDirectory dir;
  const std::string source = dir / "in.jpg";
  const std::string target = dir / "out.jpg";
  const auto file = EncodeJpeg(Picture(3000, 2000), 90, "in");
  test::WriteBytes(source, file);
  const TFont font = BrandFont(9);
  const std::vector<std::byte> expected = WholePicture(file, font, "Proof ©", {}).Written;
  for (int run = 0; run < 3; ++run) {
    BrandJpeg("Proof ©", font, source, target, false, 2);
    EXPECT_EQ(test::ReadBytes(target), expected) << "run " << run;
  }
}

TEST(BandBranding, PicturesTurnedUprightEqualTurningTheWholePicture) {
  test::TempDirectory dir;
  const std::string source = dir / "in.jpg";
  const std::string target = dir / "out.jpg";
  const TFont font = BrandFont(20);
  // Two bands high whichever way the picture stands.
  const TBitmap stored = Picture(1100, 337);
  for (int orientation = 2; orientation <= 8; ++orientation) {
    const TJpegSegment exif{0xE1, test::ExifPayload({.Orientation = orientation})};
    const auto file = EncodeJpeg(stored, 90, "in", std::span(&exif, 1));
    test::WriteBytes(source, file);
    for (const bool palette : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "orientation " << orientation << (palette ? ", palette" : ""));
      const TJpegDecodeOptions options{.ToPalette = palette};
      TBitmap upright = TurnUpright(DecodeJpeg(file, "whole", options), orientation);
      StampBrandText("Proof", font, upright);
      const std::vector<std::byte> expected = EncodeJpeg(upright, 100, "whole");
      for (const int threads : {1, 2}) {
        for (const bool show : {false, true}) {
          std::shared_ptr<const TBitmap> shown;
          BrandJpeg("Proof", font, source, target, palette, threads, {},
                    show ? TStampedPictureHandler(
                               [&](std::shared_ptr<const TBitmap> p) { shown = std::move(p); })
                         : TStampedPictureHandler());
          EXPECT_EQ(test::ReadBytes(target), expected) << threads << " threads, shown " << show;
          if (show) {
            ASSERT_TRUE(shown);
            EXPECT_TRUE(std::ranges::equal(shown->Pixels(), upright.Pixels()));
          }
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
    // The guard refuses only when the picture is complete, before it is put in place.
    EXPECT_THROW(BrandJpeg("Proof", BrandFont(12), source, target, false, threads,
                           [&] {
                             if (++guards == 3) throw std::runtime_error("refused");
                           }),
                 std::runtime_error);
    EXPECT_EQ(guards, 3);
    EXPECT_EQ(test::ReadBytes(target).size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);

    // A picture to be shown that the viewer refuses is not written either.
    EXPECT_THROW(
        BrandJpeg("Proof", BrandFont(12), source, target, false, threads, {},
                  [](std::shared_ptr<const TBitmap>) { throw std::runtime_error("refused"); }),
        std::runtime_error);
    EXPECT_EQ(test::ReadBytes(target).size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);

    // A target that cannot be created fails the file only after the picture is shown.
    int shown = 0;
    EXPECT_THROW(
        BrandJpeg("Proof", BrandFont(12), source, dir / "missing/in.jpg", false, threads, {},
                  [&](std::shared_ptr<const TBitmap> picture) { shown += !picture->Empty(); }),
        PlatformError);
    EXPECT_EQ(shown, 1);
  }
}

TEST(BandBranding, AWriteErrorOnTheWritingThreadFailsTheFileAndLeavesNothing) {
  test::TempDirectory dir;
  const std::string source = dir / "in.jpg";
  fs::create_directory(dir / "out");
  const std::string target = dir / "out/in.jpg";
  // Several bands high, and far more than the limit below once encoded.
  test::WriteBytes(source, EncodeJpeg(Picture(3000, 600), 90, "in"));
  // A file size limit stands in for a full disk.
  const int status = test::RunUnderFileSizeLimit(100000, [&] {
    int wrong = 0;
    for (const bool shown : {false, true}) {
      TStampedPictureHandler show;
      if (shown) show = [](std::shared_ptr<const TBitmap>) {};
      try {
        BrandJpeg("Proof", BrandFont(12), source, target, false, 2, {}, show);
        wrong |= 1;
      } catch (const PlatformError&) {
      } catch (...) {
        wrong |= 2;
      }
    }
    return wrong;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: a failed write was not reported, 2: not as a write error";
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

}  // namespace
}  // namespace sigilon
