// The per-file run options through BrandFile: which names are pictures with
// and without all types, the quality and optimised tables of JPEG copies, and
// the seam's pixel conversion for writers that take only some pixel formats.

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/BrandFile.h"
#include "engine/JpegCodec.h"
#include "engine/formats/PictureFormat.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

using test::ReadBytes;
using test::TempDirectory;
using test::WriteBytes;

const std::string kFont = "\"DejaVu Sans\", 12, [Bold], [clRed]";

// Texture so that quality and table choices show in the file's size.
TBitmap Texture(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y,
                      TRGBQuad{static_cast<std::uint8_t>((x * 7 + y * 3) % 256),
                               static_cast<std::uint8_t>((x * x + y) % 256),
                               static_cast<std::uint8_t>((x ^ y) & 0xFF), 0});
    }
  }
  return bitmap;
}

TBrandOutcome Brand(const std::string& source, const std::string& target,
                    const TBrandOptions& options = {}) {
  return BrandFile("Proof", kFont, source, target, nullptr, options);
}

TBitmap Decoded(const std::string& path) { return DecodeJpeg(ReadBytes(path), path); }

class RunOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jpeg = dir / "photo.jpg";
    WriteBytes(jpeg, EncodeJpeg(Texture(1000, 700), 95, "photo"));
  }
  TempDirectory dir;
  TempDirectory out;
  std::string jpeg;
};

TEST_F(RunOptionsTest, OtherSpellingsArePicturesOnlyWithAllTypes) {
  TBrandOptions all;
  all.AllTypes = true;
  for (const std::string name : {"a.jpeg", "b.JFIF", "c.dib", "d.jpe"}) {
    WriteBytes(dir / name,
               name.starts_with("c") ? SaveBitmapToBytes(Texture(30, 20)) : ReadBytes(jpeg));
    EXPECT_EQ(Brand(dir / name, out / name).Kind, TOutcomeKind::NotProcessable) << name;
    EXPECT_FALSE(std::filesystem::exists(out / name)) << name;
    EXPECT_EQ(Brand(dir / name, out / name, all).Kind, TOutcomeKind::Processed) << name;
  }
  EXPECT_EQ(Decoded(out / "b.JFIF").Width(), 1000);
  // The content is never sniffed: a name that lies fails with a reason.
  std::filesystem::copy_file(dir / "c.dib", dir / "e.jpeg");
  EXPECT_EQ(Brand(dir / "e.jpeg", out / "e.jpeg", all).Kind, TOutcomeKind::Failed);
}

TEST_F(RunOptionsTest, QualityChangesTheJpegAndItsDefaultIsOneHundred) {
  for (const int quality : {kDefaultQuality, 100, 50}) {
    TBrandOptions options;
    options.Quality = quality;
    ASSERT_EQ(Brand(jpeg, out / std::to_string(quality), options).Kind, TOutcomeKind::Processed);
  }
  EXPECT_EQ(ReadBytes(out / "0"), ReadBytes(out / "100"));
  EXPECT_LT(ReadBytes(out / "50").size() * 2, ReadBytes(out / "100").size());
  EXPECT_EQ(Decoded(out / "50").Height(), 700);
}

TEST_F(RunOptionsTest, OptimisedTablesKeepThePixelsOnEveryPath) {
  // One thread, two threads (whose split encoding optimised tables forgo),
  // and the whole picture kept for a preview: each gives the plain copy's
  // pixels in fewer bytes, and the same bytes as the others.
  ASSERT_EQ(Brand(jpeg, out / "plain.jpg").Kind, TOutcomeKind::Processed);
  const TBitmap plain = Decoded(out / "plain.jpg");
  std::vector<std::vector<std::byte>> optimised;
  for (int path = 0; path < 3; ++path) {
    TBrandOptions options;
    options.Optimize = true;
    options.Threads = path == 0 ? 1 : 2;
    if (path == 2) options.PicturePreview = [](std::shared_ptr<const TBitmap>) {};
    const std::string target = out / ("optimised" + std::to_string(path) + ".jpg");
    ASSERT_EQ(Brand(jpeg, target, options).Kind, TOutcomeKind::Processed) << path;
    const TBitmap pixels = Decoded(target);
    EXPECT_TRUE(std::equal(pixels.Pixels().begin(), pixels.Pixels().end(), plain.Pixels().begin(),
                           plain.Pixels().end()))
        << path;
    optimised.push_back(ReadBytes(target));
    EXPECT_LT(optimised.back().size(), ReadBytes(out / "plain.jpg").size()) << path;
  }
  EXPECT_EQ(optimised[0], optimised[1]);
  EXPECT_EQ(optimised[0], optimised[2]);
}

// A writer that keeps the rows it is given, and a type whose writer takes
// 24 bits only.
struct TKeepRows final : TBandWriter {
  explicit TKeepRows(std::vector<TBitmap>& into) : into(into) {}
  void WriteBand(const TBitmap& band, int) override { into.push_back(band); }
  void WriteRows(const TBitmap& picture, int, int) override { into.push_back(picture); }
  void Finish() override {}
  std::vector<TBitmap>& into;
};
struct TRgbOnly final : TPictureFormat {
  std::string_view Name() const override { return "RGB"; }
  std::span<const std::string_view> Extensions() const override { return {}; }
  bool Streams() const override { return true; }
  bool Previews() const override { return false; }
  bool Writes(TPixelFormat format) const override { return format == TPixelFormat::pf24bit; }
  std::unique_ptr<TBandWriter> OpenBandWriter(const TWriteSpec&, TPictureSink) const override {
    return std::make_unique<TKeepRows>(received);
  }
  mutable std::vector<TBitmap> received;
};

TEST(FormatSeamConversion, WritersGetOnlyThePixelFormatsTheyTake) {
  TBitmap palette(5, 3, TPixelFormat::pf4bit);
  palette.Palette()[1] = TRGBQuad{10, 20, 30, 0};
  palette.SetPixel(2, 1, TRGBQuad{10, 20, 30, 0});
  TRgbOnly format;
  EncodeWholeFor(format, palette, {.Name = "p", .Width = 5, .Height = 3});
  OpenBandWriterFor(format, TPixelFormat::pf4bit, {.Name = "p"}, nullptr)->WriteRows(palette, 1, 2);
  OpenBandWriterFor(format, TPixelFormat::pf24bit, {.Name = "p"}, nullptr)
      ->WriteBand(Texture(5, 2), 2);
  ASSERT_EQ(format.received.size(), 3u);
  for (const TBitmap& band : format.received) EXPECT_EQ(band.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(format.received[0].GetPixel(2, 1), (TRGBQuad{10, 20, 30, 0}));
  EXPECT_EQ(format.received[1].Height(), 2);
  EXPECT_EQ(format.received[1].GetPixel(2, 0), (TRGBQuad{10, 20, 30, 0}));
}

}  // namespace
}  // namespace sigilon
