// Branded PNG copies, through the band branding as a run makes them: the
// copy is the source's kind (depth, grey, palette, alpha), differs from it
// only where the brand is, lays the brand over transparent areas with its
// coverage as alpha, stamps 16-bit pictures as 8-bit ones to within a step,
// and stands upright.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/BandBranding.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/Orientation.h"
#include "engine/formats/JpegFormat.h"
#include "engine/formats/PngFormat.h"
#include "tests/codecs_png/PngTestSupport.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

using test::ReadPng;
using test::TPngFile;
using test::WritePng;

constexpr const char* kText = "Proof";

TFont RedFont() {
  TFont font;
  TextToFont("\"DejaVu Sans\", 20, [Bold], [$000000FF]", font);
  return font;
}

TPngFile Textured(int colorType, int depth, int width = 160, int height = 120) {
  TPngFile file = TPngFile::Of(width, height, depth, colorType);
  const std::uint32_t limit = colorType == PNG_COLOR_TYPE_PALETTE ? 12 : 1u << depth;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    for (std::uint32_t i = 0; i < limit; ++i) {
      file.Palette.push_back({static_cast<png_byte>(i * 20), static_cast<png_byte>(200 - i * 15),
                              static_cast<png_byte>(i * 7)});
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < file.Channels(); ++c) {
        file.Samples.push_back(
            static_cast<std::uint16_t>((x * 31 + y * 17 + c * 5) * 2654435761u % limit));
      }
    }
  }
  return file;
}

struct TBranded {
  TPngFile Copy;
  std::vector<std::string> Warnings;
};

TBranded Brand(const TPngFile& source, int threads = 1, bool keep = false,
               const std::vector<std::byte>* bytes = nullptr, bool strict = false) {
  test::TempDirectory dir;
  const std::string in = dir / "in.png";
  const std::string out = dir / "out.png";
  test::WriteBytes(in, bytes ? *bytes : WritePng(source));
  const TFont font = RedFont();
  TBrandOptions options;
  options.Threads = threads;
  options.KeepMetadata = keep;
  options.Strict = strict;
  const TBrandJob job{.BrandText = kText,
                      .Font = font,
                      .SourcePath = in,
                      .TargetPath = out,
                      .Options = options,
                      .ShowPicture = {},
                      .GuardTarget = [] {}};
  std::vector<std::string> warnings = BrandInBands(job, PngFormat(), PngFormat());
  return {ReadPng(test::ReadBytes(out)), std::move(warnings)};
}

// The brand's coverage at each pixel of an upright picture, from stamping
// red on blue: the red channel is the coverage.
TBitmap Coverage(int width, int height) {
  TBitmap mask(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) mask.SetPixel(x, y, TRGBQuad{255, 0, 0, 0});
  }
  StampBrandText(kText, RedFont(), mask);
  return mask;
}
int CoverageAt(const TBitmap& mask, int x, int y) { return mask.GetPixel(x, y).Red; }

bool SamePixel(const TPngFile& a, const TPngFile& b, int x, int y) {
  for (int c = 0; c < a.Channels(); ++c) {
    if (a.At(x, y, c) != b.At(x, y, c)) return false;
  }
  return true;
}

TEST(PngBranding, TheCopyIsTheSourcesKindAndDiffersOnlyUnderTheBrand) {
  const std::uint8_t gray = Luminance(255, 0, 0);
  for (const auto& [colorType, depth] :
       {std::pair{PNG_COLOR_TYPE_GRAY, 1}, std::pair{PNG_COLOR_TYPE_GRAY, 4},
        std::pair{PNG_COLOR_TYPE_GRAY, 8}, std::pair{PNG_COLOR_TYPE_GRAY, 16},
        std::pair{PNG_COLOR_TYPE_GRAY_ALPHA, 8}, std::pair{PNG_COLOR_TYPE_GRAY_ALPHA, 16},
        std::pair{PNG_COLOR_TYPE_PALETTE, 4}, std::pair{PNG_COLOR_TYPE_PALETTE, 8},
        std::pair{PNG_COLOR_TYPE_RGB, 8}, std::pair{PNG_COLOR_TYPE_RGB, 16},
        std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 8}, std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 16}}) {
    SCOPED_TRACE(testing::Message() << "type " << colorType << ", " << depth << " bits");
    TPngFile source = Textured(colorType, depth);
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    if (palette) source.PaletteAlpha = {0, 90};  // the reddest entries are not opaque
    source.Interlaced = depth == 8;
    const TPngFile copy = Brand(source).Copy;
    ASSERT_EQ(copy.Width, source.Width);
    ASSERT_EQ(copy.Height, source.Height);
    EXPECT_EQ(copy.ColorType, source.ColorType);
    EXPECT_EQ(copy.Depth, source.Depth);
    EXPECT_EQ(copy.Palette.size(), source.Palette.size());
    EXPECT_EQ(copy.PaletteAlpha, source.PaletteAlpha);

    const TBitmap mask = Coverage(source.Width, source.Height);
    const bool alpha = colorType & PNG_COLOR_MASK_ALPHA;
    const std::uint32_t max = (1u << depth) - 1;
    int changed = 0;
    for (int y = 0; y < source.Height; ++y) {
      for (int x = 0; x < source.Width; ++x) {
        const int a = CoverageAt(mask, x, y);
        if (a == 0) {
          EXPECT_TRUE(SamePixel(copy, source, x, y)) << x << ", " << y;
          continue;
        }
        changed += !SamePixel(copy, source, x, y);
        if (palette) {
          // A brand pixel is an opaque entry: it shows.
          if (a >= 128) {
            EXPECT_GE(copy.At(x, y, 0), source.PaletteAlpha.size());
          }
        } else if (a == 255 && !alpha) {
          // Fully covered: the brand's colour (grey: its luminance) at the depth.
          const std::uint32_t expected[] = {255u * max / 255, 0, 0};
          const std::uint32_t level = (gray * max + 127) / 255;
          if (copy.Channels() == 1) {
            EXPECT_EQ(copy.At(x, y, 0), level);
          } else {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(copy.At(x, y, c), expected[c]);
          }
        }
      }
    }
    EXPECT_GT(changed, 50);
  }
}

TEST(PngBranding, TransparentAreasTakeTheBrandsCoverageAsAlpha) {
  for (const auto& [colorType, depth] :
       {std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 8}, std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 16},
        std::pair{PNG_COLOR_TYPE_GRAY_ALPHA, 8}}) {
    for (const std::uint32_t under : {0u, 100u}) {  // alpha at 8 bits
      SCOPED_TRACE(testing::Message()
                   << "type " << colorType << ", " << depth << " bits, alpha " << under);
      TPngFile source = Textured(colorType, depth);
      const int alphaChannel = source.Channels() - 1;
      const std::uint32_t scale = depth == 16 ? 257 : 1;
      for (int y = 0; y < source.Height; ++y) {
        for (int x = 0; x < source.Width; ++x) source.At(x, y, alphaChannel) = under * scale;
      }
      const TPngFile copy = Brand(source).Copy;
      const TBitmap mask = Coverage(source.Width, source.Height);
      for (int y = 0; y < source.Height; ++y) {
        for (int x = 0; x < source.Width; ++x) {
          const int a = CoverageAt(mask, x, y);
          const double out = copy.At(x, y, alphaChannel) / double(scale);
          // "over": a + under (1 - a)
          EXPECT_NEAR(out, a + under * (255 - a) / 255.0, 1.0) << x << ", " << y;
          if (under == 0 && a > 0 && colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
            EXPECT_EQ(copy.At(x, y, 0), 255 * scale);  // the brand's own red
            EXPECT_EQ(copy.At(x, y, 1), 0u);
          }
        }
      }
    }
  }
}

// A type without alpha shows a transparent picture laid over white, not
// the colours its transparent pixels happen to hold; the brand stays on it.
TEST(PngBranding, ATransparentPictureConvertedToJpegIsLaidOverWhite) {
  for (const int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    TPngFile source = Textured(PNG_COLOR_TYPE_RGB_ALPHA, depth);
    for (int y = 0; y < source.Height; ++y) {
      for (int x = 0; x < source.Width; ++x) {
        for (int c = 0; c < 3; ++c) source.At(x, y, c) = 0;  // black, hidden
        source.At(x, y, 3) = x < source.Width / 2 ? 0 : (1u << depth) - 1;
      }
    }
    test::TempDirectory in, dir;
    test::WriteBytes(in / "in.png", WritePng(source));
    TBrandOptions options;
    options.AllTypes = true;
    options.WriteFormat = &JpegFormat();
    const TBrandOutcome outcome = BrandFile(kText, "\"DejaVu Sans\", 20, [Bold], [$000000FF]",
                                            in / "in.png", dir / "out.jpg", {}, options);
    ASSERT_EQ(outcome.Kind, TOutcomeKind::Processed) << outcome.Reason;
    const TBitmap copy = JpegFormat().ReadWhole({.Path = dir / "out.jpg"}).Picture.ToBits24();
    const TBitmap mask = Coverage(source.Width, source.Height);
    int white = 0, black = 0, red = 0;
    for (int y = 0; y < source.Height; ++y) {
      for (int x = 0; x < source.Width; ++x) {
        const TRGBQuad c = copy.GetPixel(x, y);
        const int a = CoverageAt(mask, x, y);
        if (a == 255) red += c.Red > 200 && c.Green < 60;
        if (a != 0 || std::abs(x - source.Width / 2) < 8) continue;  // off the brand and the edge
        if (x < source.Width / 2) white += c.Red > 240 && c.Green > 240 && c.Blue > 240;
        if (x >= source.Width / 2) black += c.Red < 16 && c.Green < 16 && c.Blue < 16;
      }
    }
    EXPECT_GT(white, source.Width * source.Height / 4);
    EXPECT_GT(black, source.Width * source.Height / 4);
    EXPECT_GT(red, 100);
  }
}

TEST(PngBranding, SixteenBitPicturesAreStampedAsEightBitOnesToWithinAStep) {
  const TPngFile narrow = Textured(PNG_COLOR_TYPE_RGB, 8);
  TPngFile wide = narrow;
  wide.Depth = 16;
  for (std::uint16_t& v : wide.Samples) v = static_cast<std::uint16_t>(v * 257);
  const TPngFile a = Brand(narrow).Copy;
  const TPngFile b = Brand(wide).Copy;
  ASSERT_EQ(a.Samples.size(), b.Samples.size());
  for (std::size_t i = 0; i < a.Samples.size(); ++i) {
    EXPECT_NEAR(b.Samples[i] / 257.0, a.Samples[i], 1.0) << i;
  }
}

TEST(PngBranding, ExifOrientationIsTurnedUprightAndTheProfileCarried) {
  TPngFile source = Textured(PNG_COLOR_TYPE_RGB, 8, 90, 50);
  const std::uint8_t tiff[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3,
                               0,   1,   0,  0, 0, 6, 0, 0, 0, 0, 0,    0,    0};
  source.Exif.assign(reinterpret_cast<const std::byte*>(tiff),
                     reinterpret_cast<const std::byte*>(tiff) + sizeof tiff);
  source.IccProfile = test::IccProfile();

  for (const int threads : {1, 2}) {
    for (const bool keep : {false, true}) {
      const TPngFile copy = Brand(source, threads, keep).Copy;
      ASSERT_EQ(copy.Width, source.Height);
      ASSERT_EQ(copy.Height, source.Width);
      EXPECT_EQ(copy.IccProfile, source.IccProfile);
      EXPECT_EQ(copy.Exif.empty(), !keep);
      if (keep) {
        EXPECT_EQ(copy.Exif[18], std::byte{1});  // orientation 1
      }
      // Turned a quarter clockwise: stored (x, y) is upright (H - 1 - y, x).
      const TBitmap mask = Coverage(copy.Width, copy.Height);
      for (int y = 0; y < source.Height; ++y) {
        for (int x = 0; x < source.Width; ++x) {
          const int ux = source.Height - 1 - y, uy = x;
          if (CoverageAt(mask, ux, uy) != 0) continue;
          for (int c = 0; c < 3; ++c) ASSERT_EQ(copy.At(ux, uy, c), source.At(x, y, c));
        }
      }
    }
  }
}

// 16-bit rows go through libpng's rows; 8-bit RGB and RGBA through segments
// of a band each, two here, made on either thread. libpng reads every copy
// strictly (checksums included).
TEST(PngBranding, BandsOnTwoThreadsWriteWhatOneThreadWrites) {
  for (const auto& [type, depth] :
       {std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 16}, std::pair{PNG_COLOR_TYPE_RGB, 8},
        std::pair{PNG_COLOR_TYPE_RGB_ALPHA, 8}}) {
    SCOPED_TRACE(testing::Message() << "colour type " << type << ", depth " << depth);
    const TPngFile source = Textured(type, depth, 700, 900);
    EXPECT_TRUE(Brand(source, 2).Copy.Samples == Brand(source, 1).Copy.Samples);
  }
}

// However the rows arrive, segments are cut at the same rows: the file is
// the same, and holds the rows given.
TEST(PngBranding, RowsInAnyPortionsMakeTheSameFile) {
  test::TempDirectory dir;
  const std::string path = dir / "in.png";
  test::WriteBytes(path, WritePng(Textured(PNG_COLOR_TYPE_RGB, 8, 700, 900)));
  const TBitmap picture = PngFormat().ReadWhole({.Path = path}).Picture;
  const TWriteSpec request{.Name = "copy", .Width = 700, .Height = 900};
  const std::vector<std::byte> whole = PngFormat().EncodeWhole(picture, request);
  std::vector<std::byte> portions;
  TWriteSpec inPortions = request;
  inPortions.Revisit = MemoryRevisit(portions);
  const auto writer = PngFormat().OpenBandWriter(inPortions, MemorySink(portions));
  for (int top = 0; top < 900; top += 7) writer->WriteRows(picture, top, std::min(7, 900 - top));
  writer->Finish();
  EXPECT_TRUE(portions == whole);
  const TPngFile copy = ReadPng(whole);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{699, 495}, std::pair{350, 496}}) {
    const TRGBQuad pixel = picture.GetPixel(x, y);
    EXPECT_EQ(copy.At(x, y, 0), pixel.Red);
    EXPECT_EQ(copy.At(x, y, 2), pixel.Blue);
  }
}

TEST(PngBranding, DamagedDataIsBrandedWithAWarningOrRefusedWhenStrict) {
  const TPngFile source = Textured(PNG_COLOR_TYPE_RGB, 8);
  std::vector<std::byte> bytes = WritePng(source);
  bytes.resize(bytes.size() - 500);
  EXPECT_FALSE(Brand(source, 1, false, &bytes).Warnings.empty());
  EXPECT_THROW(Brand(source, 1, false, &bytes, true), ImageError);
}

}  // namespace
}  // namespace sigilon
