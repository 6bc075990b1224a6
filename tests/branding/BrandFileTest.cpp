// BrandFile end to end: dispatch by extension, result lines, preview, the
// formats written, and the rules that protect the originals.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "engine/VCLJpegBitmap_Unit.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

using test::ReadBytes;
using test::TempDirectory;
using test::WriteBytes;

const std::string kFont = "\"DejaVu Sans\", 10, [Bold], [clRed]";

// A smooth colour picture: gradients survive JPEG at quality 100 closely, so
// pixels far from the brand can be compared with a small tolerance.
TBitmap Gradient(int width, int height, TPixelFormat format = TPixelFormat::pf24bit) {
  TBitmap bitmap(width, height, format);
  if (bitmap.BitsPerPixel() <= 8) {
    auto& palette = bitmap.Palette();
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const auto v = static_cast<std::uint8_t>(i * 255 / (palette.size() - 1));
      palette[i] = TRGBQuad{v, v, v, 0};
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y,
                      TRGBQuad{static_cast<std::uint8_t>(40 + (x * 100) / width),
                               static_cast<std::uint8_t>(60 + (y * 100) / height), 90, 0});
    }
  }
  return bitmap;
}

struct Outcome {
  std::string line;
  int previews = 0;
  std::vector<std::byte> preview;
};

Outcome Brand(const std::string& source, const std::string& target, const std::string& font = kFont,
              const TDisplayInfo& display = {}) {
  Outcome outcome;
  BrandFile(
      "Sigilon", font, source, target,
      [&](std::span<const std::byte> bytes) {
        ++outcome.previews;
        outcome.preview.assign(bytes.begin(), bytes.end());
      },
      outcome.line, display);
  return outcome;
}

class BrandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(source_ / "");
    std::filesystem::create_directory(target_ / "");
  }
  std::string Source(const std::string& name) const { return source_.Path() + "/" + name; }
  std::string Target(const std::string& name) const { return target_.Path() + "/" + name; }
  void PutJpeg(const std::string& name, const TBitmap& bitmap) {
    WriteBytes(Source(name), EncodeJpeg(bitmap, 95, name));
  }
  void PutBitmap(const std::string& name, const TBitmap& bitmap) {
    WriteBytes(Source(name), SaveBitmapToBytes(bitmap));
  }

  TempDirectory source_;
  TempDirectory target_;
};

TEST_F(BrandFileTest, ExtensionsChooseTheBranchWhateverTheirCase) {
  for (const std::string name : {"a.jpg", "b.Jpg", "c.JPG"}) {
    PutJpeg(name, Gradient(64, 48));
    const Outcome outcome = Brand(Source(name), Target(name));
    EXPECT_EQ(outcome.line, "Processed file: " + Source(name));
    EXPECT_EQ(outcome.previews, 1) << name;
    const TJpegHeader header = ReadJpegHeader(ReadBytes(Target(name)), name);
    EXPECT_EQ(header.Components, 3);
  }
  for (const std::string name : {"d.bmp", "e.Bmp"}) {
    PutBitmap(name, Gradient(64, 48));
    const Outcome outcome = Brand(Source(name), Target(name));
    EXPECT_EQ(outcome.line, "Processed file: " + Source(name));
    EXPECT_EQ(outcome.previews, 0) << "bitmap files are not previewed";
    EXPECT_EQ(LoadBitmapFromBytes(ReadBytes(Target(name)), name).Width(), 64);
  }
}

TEST_F(BrandFileTest, OtherNamesAreNotProcessableAndNothingIsWritten) {
  const TBitmap picture = Gradient(32, 32);
  for (const std::string name : {"a.jpeg", "b.jpe", "c.dib", "noextension", "dot.", "d.jpg.txt"}) {
    PutJpeg(name, picture);
    const Outcome outcome = Brand(Source(name), Target(name));
    EXPECT_EQ(outcome.line, "File type not processable: " + Source(name));
    EXPECT_FALSE(std::filesystem::exists(Target(name))) << name;
  }
  // A dot in a directory name is no extension.
  std::filesystem::create_directory(Source("pictures.jpg"));
  const std::string inDottedDirectory = Source("pictures.jpg/readme");
  WriteBytes(inDottedDirectory, {std::byte{'x'}});
  EXPECT_EQ(Brand(inDottedDirectory, Target("readme")).line,
            "File type not processable: " + inDottedDirectory);
  // Missing files with other names are not even opened.
  EXPECT_EQ(Brand(Source("missing.txt"), Target("missing.txt")).line,
            "File type not processable: " + Source("missing.txt"));
}

TEST_F(BrandFileTest, ContentIsNeverSniffed) {
  PutBitmap("bitmap.JPG", Gradient(16, 16));
  PutJpeg("photo.BMP", Gradient(16, 16));
  EXPECT_EQ(Brand(Source("bitmap.JPG"), Target("bitmap.JPG")).line,
            "Failed to process file: " + Source("bitmap.JPG"));
  EXPECT_EQ(Brand(Source("photo.BMP"), Target("photo.BMP")).line,
            "Failed to process file: " + Source("photo.BMP"));
  EXPECT_EQ(Brand(Source("missing.jpg"), Target("missing.jpg")).line,
            "Failed to process file: " + Source("missing.jpg"));
}

TEST_F(BrandFileTest, UnreadableFontTextEscapesWithoutResultLine) {
  PutJpeg("a.jpg", Gradient(16, 16));
  std::string line = "untouched";
  EXPECT_THROW(BrandFile("x", "\"Face\", big, [], [clBlack]", Source("a.jpg"), Target("a.jpg"),
                         nullptr, line),
               ConvertError);
  EXPECT_EQ(line, "untouched");
  // The font is read before the extension is looked at.
  EXPECT_THROW(BrandFile("x", "no commas", Source("a.txt"), Target("a.txt"), nullptr, line),
               ConvertError);
  EXPECT_FALSE(std::filesystem::exists(Target("a.jpg")));
}

TEST_F(BrandFileTest, PreviewIsTheStampedPictureAsABitmapFile) {
  const TBitmap picture = Gradient(120, 90);
  PutJpeg("a.jpg", picture);
  const Outcome outcome = Brand(Source("a.jpg"), Target("a.jpg"));
  ASSERT_EQ(outcome.previews, 1);
  ASSERT_GE(outcome.preview.size(), 2u);
  EXPECT_EQ(outcome.preview[0], std::byte{'B'});
  EXPECT_EQ(outcome.preview[1], std::byte{'M'});
  const TBitmap shown = LoadBitmapFromBytes(outcome.preview, "preview");
  EXPECT_EQ(shown.Width(), 120);
  EXPECT_EQ(shown.Height(), 90);
  // The preview shows red brand pixels; the written JPEG is that picture.
  const TBitmap written = DecodeJpeg(ReadBytes(Target("a.jpg")), "a.jpg");
  int red = 0;
  long totalDifference = 0;
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) {
      const TRGBQuad p = shown.GetPixel(x, y);
      const TRGBQuad q = written.GetPixel(x, y);
      if (p.Red > 200 && p.Green < 60 && p.Blue < 60) ++red;
      // Luminance is stored at full resolution; only colour is subsampled.
      const auto luma = [](TRGBQuad c) { return 299 * c.Red + 587 * c.Green + 114 * c.Blue; };
      totalDifference += std::abs(luma(p) - luma(q));
    }
  }
  EXPECT_GT(red, 50);
  // Quality 100 still subsamples colour, so only the brightness of the
  // written picture must follow the preview closely.
  EXPECT_LT(static_cast<double>(totalDifference) / (1000.0 * 120 * 90), 2.0);
}

TEST_F(BrandFileTest, JpegTargetIsBaselineQuality100WithoutSourceMetadata) {
  // A source with a comment marker: nothing of it may reach the target.
  std::vector<std::byte> source = EncodeJpeg(Gradient(50, 40), 80, "a.jpg");
  const std::string comment = "camera data";
  std::vector<std::byte> marker = {std::byte{0xFF}, std::byte{0xFE}, std::byte{0},
                                   static_cast<std::byte>(comment.size() + 2)};
  for (char c : comment) marker.push_back(static_cast<std::byte>(c));
  source.insert(source.begin() + 2, marker.begin(), marker.end());
  WriteBytes(Source("a.jpg"), source);
  ASSERT_EQ(Brand(Source("a.jpg"), Target("a.jpg")).line, "Processed file: " + Source("a.jpg"));

  const std::vector<std::byte> out = ReadBytes(Target("a.jpg"));
  bool sof0 = false;
  bool comFound = false;
  int quantValues = 0;
  int quantNotOne = 0;
  for (std::size_t i = 2; i + 4 <= out.size();) {
    if (out[i] != std::byte{0xFF}) break;
    const auto code = static_cast<unsigned>(out[i + 1]);
    const std::size_t length =
        (static_cast<std::size_t>(out[i + 2]) << 8) | static_cast<std::size_t>(out[i + 3]);
    if (code == 0xC0) sof0 = true;
    if (code == 0xFE) comFound = true;
    EXPECT_FALSE(code >= 0xE1 && code <= 0xEF) << "APP marker " << code;
    if (code == 0xDB) {
      for (std::size_t p = i + 4; p < i + 2 + length; p += 65) {
        for (std::size_t k = 1; k <= 64; ++k) {
          ++quantValues;
          if (out[p + k] != std::byte{1}) ++quantNotOne;
        }
      }
    }
    if (code == 0xDA) break;
    i += 2 + length;
  }
  EXPECT_TRUE(sof0);
  EXPECT_FALSE(comFound);
  EXPECT_EQ(quantValues, 128);
  EXPECT_EQ(quantNotOne, 0);
}

TEST_F(BrandFileTest, GrayscaleJpegBecomesThreeComponentGray) {
  TBitmap gray(80, 60, TPixelFormat::pf8bit);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    gray.Palette()[i] = TRGBQuad{v, v, v, 0};
  }
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) gray.Row(y)[x] = static_cast<std::uint8_t>(100 + x);
  // Encode as a genuine one-component file through the corpus-independent
  // route: a gray 8-bit picture encodes to three components, so build the
  // gray source from the corpus when it is there, else skip.
  const std::string corpusGray =
      std::string(SIGILON_CORPORA_DIR) + "/jpeg/libjpeg-turbo/testimggray.jpg";
  if (!std::filesystem::exists(corpusGray)) GTEST_SKIP() << "corpus not found";
  std::filesystem::copy_file(corpusGray, Source("gray.jpg"));
  ASSERT_EQ(ReadJpegHeader(ReadBytes(Source("gray.jpg")), "gray").Components, 1);
  // A neutral brand colour: the nearest of the picture's grays is used.
  const Outcome outcome =
      Brand(Source("gray.jpg"), Target("gray.jpg"), "\"DejaVu Sans\", 10, [], [clBlack]");
  ASSERT_EQ(outcome.line, "Processed file: " + Source("gray.jpg"));
  const TBitmap preview = LoadBitmapFromBytes(outcome.preview, "preview");
  EXPECT_EQ(preview.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_LE(preview.Palette().size(), 236u);
  const std::vector<std::byte> out = ReadBytes(Target("gray.jpg"));
  EXPECT_EQ(ReadJpegHeader(out, "out").Components, 3);
  const TBitmap decoded = DecodeJpeg(out, "out");
  int worst = 0;
  for (int y = 0; y < decoded.Height(); ++y) {
    for (int x = 0; x < decoded.Width(); ++x) {
      const TRGBQuad p = decoded.GetPixel(x, y);
      worst = std::max({worst, std::abs(p.Red - p.Green), std::abs(p.Green - p.Blue)});
    }
  }
  EXPECT_LE(worst, 3) << "every pixel of a gray source stays gray";
}

TEST_F(BrandFileTest, ProgressiveSourceIsWrittenBaseline) {
  const std::string progressive =
      std::string(SIGILON_CORPORA_DIR) + "/jpeg/libjpeg-turbo/testimgp.jpg";
  if (!std::filesystem::exists(progressive)) GTEST_SKIP() << "corpus not found";
  std::filesystem::copy_file(progressive, Source("p.jpg"));
  ASSERT_TRUE(ReadJpegHeader(ReadBytes(Source("p.jpg")), "p").Progressive);
  ASSERT_EQ(Brand(Source("p.jpg"), Target("p.jpg")).line, "Processed file: " + Source("p.jpg"));
  EXPECT_FALSE(ReadJpegHeader(ReadBytes(Target("p.jpg")), "out").Progressive);
}

TEST_F(BrandFileTest, BitmapTargetKeepsItsPixelFormat) {
  const struct {
    const char* name;
    TPixelFormat format;
  } cases[] = {{"p1.bmp", TPixelFormat::pf1bit},   {"p4.bmp", TPixelFormat::pf4bit},
               {"p8.bmp", TPixelFormat::pf8bit},   {"p16.bmp", TPixelFormat::pf16bit},
               {"p24.bmp", TPixelFormat::pf24bit}, {"p32.bmp", TPixelFormat::pf32bit}};
  for (const auto& c : cases) {
    const TBitmap source = Gradient(70, 50, c.format);
    PutBitmap(c.name, source);
    ASSERT_EQ(Brand(Source(c.name), Target(c.name)).line, "Processed file: " + Source(c.name));
    const TBitmap out = LoadBitmapFromBytes(ReadBytes(Target(c.name)), c.name);
    EXPECT_EQ(out.PixelFormat(), c.format) << c.name;
    EXPECT_EQ(out.Width(), 70);
    EXPECT_EQ(out.Height(), 50);
    EXPECT_EQ(out.Palette(), source.Palette()) << "the palette is kept, no colours added";
    int changed = 0;
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 70; ++x) changed += !(out.GetPixel(x, y) == source.GetPixel(x, y));
    EXPECT_GT(changed, 0) << c.name << " was stamped";
  }
}

TEST_F(BrandFileTest, TextSizeFollowsTheDisplayNotThePicture) {
  // On a plain background the pattern starts at the top-left corner with
  // spacings that depend only on the text: a small and a large picture show
  // the same pixels where they overlap, unless the display resolution changes.
  auto plain = [](int size) {
    TBitmap bitmap(size, size, TPixelFormat::pf24bit);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) bitmap.SetPixel(x, y, TRGBQuad{128, 128, 128, 0});
    return bitmap;
  };
  PutBitmap("small.bmp", plain(80));
  PutBitmap("large.bmp", plain(640));
  auto brand = [&](const std::string& name, int ppi) {
    TDisplayInfo display;
    display.PixelsPerInch = ppi;
    EXPECT_EQ(Brand(Source(name), Target(name), kFont, display).line,
              "Processed file: " + Source(name));
    return LoadBitmapFromBytes(ReadBytes(Target(name)), name);
  };
  auto differences = [](const TBitmap& a, const TBitmap& b) {
    int count = 0;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 80; ++x) count += !(a.GetPixel(x, y) == b.GetPixel(x, y));
    return count;
  };
  const TBitmap small96 = brand("small.bmp", 96);
  const TBitmap large96 = brand("large.bmp", 96);
  EXPECT_EQ(differences(small96, large96), 0);
  EXPECT_GT(differences(small96, plain(80)), 0);
  const TBitmap small144 = brand("small.bmp", 144);
  EXPECT_GT(differences(small96, small144), 100);
}

TEST_F(BrandFileTest, ExistingTargetIsReplacedButReadOnlyTargetIsLeftAlone) {
  PutBitmap("a.bmp", Gradient(40, 40));
  WriteBytes(Target("a.bmp"), {std::byte{1}, std::byte{2}});
  EXPECT_EQ(Brand(Source("a.bmp"), Target("a.bmp")).line, "Processed file: " + Source("a.bmp"));
  EXPECT_GT(ReadBytes(Target("a.bmp")).size(), 2u);

  PutJpeg("b.jpg", Gradient(40, 40));
  const std::vector<std::byte> old = {std::byte{7}, std::byte{8}, std::byte{9}};
  WriteBytes(Target("b.jpg"), old);
  ::chmod(Target("b.jpg").c_str(), 0444);
  EXPECT_EQ(Brand(Source("b.jpg"), Target("b.jpg")).line,
            "Failed to process file: " + Source("b.jpg"));
  EXPECT_EQ(ReadBytes(Target("b.jpg")), old);

  // A missing target directory fails the file.
  EXPECT_EQ(Brand(Source("a.bmp"), target_.Path() + "/nowhere/a.bmp").line,
            "Failed to process file: " + Source("a.bmp"));
}

TEST_F(BrandFileTest, OriginalsAreNeverWritten) {
  PutJpeg("a.jpg", Gradient(40, 40));
  PutBitmap("b.bmp", Gradient(40, 40));
  const std::vector<std::byte> jpegBefore = ReadBytes(Source("a.jpg"));
  const std::vector<std::byte> bitmapBefore = ReadBytes(Source("b.bmp"));

  // The same directory under another spelling.
  const std::string otherSpelling = source_.Path() + "/./a.jpg";
  EXPECT_EQ(Brand(Source("a.jpg"), otherSpelling).line,
            "Failed to process file: " + Source("a.jpg"));
  // A directory link that leads into the source.
  std::filesystem::create_directory_symlink(source_.Path(), Target("link"));
  EXPECT_EQ(Brand(Source("b.bmp"), Target("link/b.bmp")).line,
            "Failed to process file: " + Source("b.bmp"));
  // A file link in the target directory that points at the original.
  std::filesystem::create_symlink(Source("a.jpg"), Target("a.jpg"));
  EXPECT_EQ(Brand(Source("a.jpg"), Target("a.jpg")).line,
            "Failed to process file: " + Source("a.jpg"));
  // A hard link of the original.
  std::filesystem::create_hard_link(Source("b.bmp"), Target("b.bmp"));
  EXPECT_EQ(Brand(Source("b.bmp"), Target("b.bmp")).line,
            "Failed to process file: " + Source("b.bmp"));

  EXPECT_EQ(ReadBytes(Source("a.jpg")), jpegBefore);
  EXPECT_EQ(ReadBytes(Source("b.bmp")), bitmapBefore);
}

}  // namespace
}  // namespace sigilon
