// The format seam: the registry's choice by file name, the metadata a format
// reads in the seam's own terms, the whole-picture reading and writing every
// format offers, and the note beside an outcome's result line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/BrandOutcome.h"
#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "engine/formats/BmpFormat.h"
#include "engine/formats/FormatRegistry.h"
#include "engine/formats/JpegFormat.h"
#include "tests/support/JpegSegments.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

TBitmap Picture(int width, int height, TPixelFormat format = TPixelFormat::pf24bit) {
  TBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(
          x, y,
          TRGBQuad{static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(y * 7), 90, 0});
    }
  }
  return bitmap;
}

TEST(FormatRegistry, ChoosesByTheLastExtensionInAnyLetterCase) {
  for (const char* name :
       {"a.jpg", "b.JPG", "c.Jpg", "d.jPg", "dir.bmp/e.jpg", "C:f.jpg", "/x/y.z/IMG_0001.JPG"}) {
    EXPECT_EQ(FormatForPath(name), &JpegFormat()) << name;
  }
  for (const char* name : {"a.bmp", "b.BMP", "c.bMp", "photo.jpg.bmp"}) {
    EXPECT_EQ(FormatForPath(name), &BmpFormat()) << name;
  }
  // Only the extension counts, and only a whole one: never a name, a
  // directory's dot, a stream after ":" or a longer spelling.
  for (const char* name : {"jpg", "bmp", "a.jpeg", "a.jpe", "a.dib", "a.jpg.txt", "dot.",
                           "pictures.jpg/readme", "a.jpg:stream", ".JPGX", ""}) {
    EXPECT_EQ(FormatForPath(name), nullptr) << name;
  }
  EXPECT_EQ(FileExtension("/a.b/c.d.Jpg"), ".Jpg");
  EXPECT_EQ(FileExtension("/a.b/c"), "");
}

TEST(FormatRegistry, OtherSpellingsAndTypesOnlyWithAllTypes) {
  for (const char* name : {"a.jpeg", "b.JPE", "c.jFiF", "d.jpg"}) {
    EXPECT_EQ(FormatForPath(name, true), &JpegFormat()) << name;
  }
  for (const char* name : {"a.dib", "b.DIB", "c.bmp"}) {
    EXPECT_EQ(FormatForPath(name, true), &BmpFormat()) << name;
  }
  for (const char* name : {"a.txt", "a.jpeg.txt", "dir.jpeg/readme", "a.jpegx"}) {
    EXPECT_EQ(FormatForPath(name, true), nullptr) << name;
  }
}

TEST(FormatRegistry, ConversionTypesNameTheirCopies) {
  const std::optional<TConversionType> jpeg = ConversionTypeNamed("JPEG");
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(ConversionFormat(*jpeg), &JpegFormat());
  EXPECT_EQ(ConvertedName("IMG_0001.HEIC", *jpeg), "IMG_0001.jpg");
  EXPECT_EQ(ConvertedName("2024/May.x/README", *jpeg), "2024/May.x/README.jpg");
  EXPECT_EQ(ConvertedName("a.tar.gz", *ConversionTypeNamed("tiff")), "a.tar.tif");
  for (const char* name : {"jpg", "bmp", "gif", "", "jpeg "}) {
    EXPECT_FALSE(ConversionTypeNamed(name)) << name;
  }
  EXPECT_EQ(ConversionTypeNames(), "jpeg|png|tiff|webp|heic|avif");
}

TEST(FormatSeam, JpegMetadataReadsAsKindsInFileOrder) {
  test::TempDirectory dir;
  const std::string path = dir / "info.jpg";
  const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta/>";
  const std::string iptc =
      std::string("Photoshop 3.0\0", 14) + std::string("8BIM\x04\x04\0\0\0\0\0\x04", 12) + "(c)!";
  const std::vector<TJpegSegment> segments = {
      {kJpegApp13, test::Payload(iptc)},
      {kJpegApp1, test::ExifPayload({.Orientation = 6})},
      {kJpegApp1, test::Payload(xmp)},
  };
  test::WriteBytes(path, EncodeJpeg(Picture(40, 24), 90, "info", segments));
  const auto reader = JpegFormat().OpenBandReader({.Path = path});
  const TPictureMetadata& metadata = reader->Metadata();
  EXPECT_EQ(metadata.Orientation, 6);
  using K = TPictureMetadata::TKind;
  ASSERT_EQ(metadata.Information.size(), 3u);
  EXPECT_EQ(metadata.Information[0].Kind, K::Iptc);
  EXPECT_EQ(metadata.Information[1].Kind, K::Exif);
  EXPECT_EQ(metadata.Information[2].Kind, K::Xmp);
  EXPECT_EQ(metadata.Information[2].Payload, test::Payload(xmp));
  EXPECT_EQ(reader->Header().Width, 40);
  EXPECT_EQ(reader->Header().Height, 24);
}

TEST(FormatSeam, WholePicturesReadAndWriteAsTheCodecsDo) {
  test::TempDirectory dir;
  // A streaming format read and written whole, band by band underneath.
  const std::vector<std::byte> jpeg = EncodeJpeg(Picture(300, 170), 90, "in");
  test::WriteBytes(dir / "in.jpg", jpeg);
  const TWholePicture read = JpegFormat().ReadWhole({.Path = dir / "in.jpg"});
  const TBitmap decoded = DecodeJpeg(jpeg, "in");
  ASSERT_EQ(read.Picture.Height(), decoded.Height());
  EXPECT_TRUE(std::ranges::equal(read.Picture.Pixels(), decoded.Pixels()));
  EXPECT_TRUE(read.Warnings.empty());
  EXPECT_EQ(JpegFormat().EncodeWhole(decoded, {.Name = "out", .Width = 300, .Height = 170}),
            EncodeJpeg(decoded, 100, "out"));

  // A whole-picture format keeps the file's own pixel format, and reads no bands.
  const TBitmap palette = Picture(33, 17, TPixelFormat::pf8bit);
  test::WriteBytes(dir / "in.bmp", SaveBitmapToBytes(palette));
  const TWholePicture bitmap = BmpFormat().ReadWhole({.Path = dir / "in.bmp"});
  EXPECT_EQ(bitmap.Picture.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(BmpFormat().EncodeWhole(bitmap.Picture, {}), SaveBitmapToBytes(palette));
  EXPECT_FALSE(BmpFormat().Streams());
  EXPECT_THROW(BmpFormat().OpenBandReader({.Path = dir / "in.bmp"}), ImageError);
  test::WriteBytes(dir / "empty.bmp", {});
  EXPECT_THROW(BmpFormat().ReadWhole({.Path = dir / "empty.bmp"}), ImageError);
}

TEST(BrandOutcome, NoteIsTheReasonOfAFailureOrTheWarnings) {
  // A failure's note is its reason; a processed file's, its warnings.
  EXPECT_EQ(OutcomeNote({.Kind = TOutcomeKind::Failed, .Reason = "Permission denied"}),
            "Permission denied");
  EXPECT_EQ(OutcomeNote({.Kind = TOutcomeKind::Processed, .Warnings = {"cut short", "corrupt"}}),
            "cut short; corrupt");
  EXPECT_EQ(OutcomeNote({.Kind = TOutcomeKind::NotProcessable}), "");
}

}  // namespace
}  // namespace sigilon
