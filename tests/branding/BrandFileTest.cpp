// BrandFile end to end: dispatch by extension, result lines, preview, the
// formats written, and the rules that protect the originals.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/BrandFile.h"
#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "engine/JpegMetadata.h"
#include "tests/support/Corpora.h"
#include "tests/support/JpegSegments.h"
#include "tests/support/PixelCount.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

using test::DifferingPixels;
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

std::string Processed(const std::string& path) { return "Processed file: " + path; }
std::string Failed(const std::string& path) { return "Failed to process file: " + path; }
std::string NotProcessable(const std::string& path) { return "File type not processable: " + path; }

struct Outcome {
  TOutcomeKind kind = TOutcomeKind::Failed;
  std::string line;
  std::string reason;
  int previews = 0;
  std::vector<std::byte> preview;
};

class BrandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(source_ / "");
    std::filesystem::create_directory(target_ / "");
  }
  std::string Source(const std::string& name) const { return source_ / name; }
  std::string Target(const std::string& name) const { return target_ / name; }
  void PutJpeg(const std::string& name, const TBitmap& bitmap) {
    WriteBytes(Source(name), EncodeJpeg(bitmap, 95, name));
  }
  void PutBitmap(const std::string& name, const TBitmap& bitmap) {
    WriteBytes(Source(name), SaveBitmapToBytes(bitmap));
  }
  // Copies a file of the public JPEG corpus into the source directory.
  static std::string CorpusFolder() { return std::string(SIGILON_CORPORA_DIR) + "/jpeg/libjpeg-turbo"; }
  void PutCorpusJpeg(const std::string& file, const std::string& name) {
    ASSERT_TRUE(std::filesystem::copy_file(CorpusFolder() + "/" + file, Source(name)));
  }

  Outcome Brand(const std::string& source, const std::string& target,
                const std::string& font = kFont, const TDisplayInfo& display = {}) {
    Outcome outcome;
    TBrandOptions options;
    options.Display = display;
    Record(source,
           BrandFile(
               "Sigilon", font, source, target,
               [&](std::span<const std::byte> bytes) {
                 ++outcome.previews;
                 outcome.preview.assign(bytes.begin(), bytes.end());
               },
               options),
           outcome);
    return outcome;
  }
  // Brands the source file `name` into the target file of the same name.
  Outcome Brand(const std::string& name) { return Brand(Source(name), Target(name)); }
  Outcome Brand(const std::string& name, const TBrandOptions& options) {
    Outcome outcome;
    Record(Source(name), BrandFile("Sigilon", kFont, Source(name), Target(name), nullptr, options),
           outcome);
    return outcome;
  }
  // The outcome as a front end shows it: the result line and the note.
  static void Record(const std::string& source, const TBrandOutcome& result, Outcome& outcome) {
    outcome.kind = result.Kind;
    outcome.line = ResultLine(result.Kind, source);
    outcome.reason = OutcomeNote(result);
  }

  TempDirectory source_;
  TempDirectory target_;
};

TEST_F(BrandFileTest, TheExtensionAloneChoosesTheBranch) {
  enum Content { kJpeg, kBitmap, kNothing };
  using K = TOutcomeKind;
  const struct {
    std::vector<std::string> names;
    Content content;
    TOutcomeKind kind;
    std::string (*line)(const std::string&);
  } cases[] = {
      {{"a.jpg", "b.Jpg", "c.JPG"}, kJpeg, K::Processed, Processed},
      {{"d.bmp", "e.Bmp"}, kBitmap, K::Processed, Processed},
      {{"a.jpeg", "b.jpe", "noextension", "dot.", "d.jpg.txt"},
       kJpeg,
       K::NotProcessable,
       NotProcessable},
      {{"c.dib"}, kBitmap, K::NotProcessable, NotProcessable},
      // Missing files with other names are not even opened.
      {{"missing.txt"}, kNothing, K::NotProcessable, NotProcessable},
      {{"missing.jpg"}, kNothing, K::Failed, Failed},
      // Content is never sniffed.
      {{"bitmap.JPG"}, kBitmap, K::Failed, Failed},
      {{"photo.BMP"}, kJpeg, K::Failed, Failed},
  };
  for (const auto& c : cases) {
    for (const std::string& name : c.names) {
      SCOPED_TRACE(name);
      if (c.content == kJpeg) PutJpeg(name, Gradient(64, 48));
      if (c.content == kBitmap) PutBitmap(name, Gradient(64, 48));
      const Outcome outcome = Brand(name);
      EXPECT_EQ(outcome.kind, c.kind);
      EXPECT_EQ(outcome.line, c.line(Source(name)));
      // A failure always says why; the other kinds have nothing to say here.
      EXPECT_EQ(outcome.reason.empty(), c.kind != K::Failed) << outcome.reason;
      // Only JPEG files are previewed.
      EXPECT_EQ(outcome.previews, c.kind == K::Processed && c.content == kJpeg ? 1 : 0);
      EXPECT_EQ(std::filesystem::exists(Target(name)), c.kind == K::Processed);
    }
  }
  // A dot in a directory name is no extension.
  std::filesystem::create_directory(Source("pictures.jpg"));
  WriteBytes(Source("pictures.jpg/readme"), {std::byte{'x'}});
  EXPECT_EQ(Brand(Source("pictures.jpg/readme"), Target("readme")).line,
            NotProcessable(Source("pictures.jpg/readme")));
}

TEST_F(BrandFileTest, UnreadableFontTextEscapesWithoutResultLine) {
  PutJpeg("a.jpg", Gradient(16, 16));
  EXPECT_THROW(
      BrandFile("x", "\"Face\", big, [], [clBlack]", Source("a.jpg"), Target("a.jpg"), nullptr),
      ConvertError);
  // The font is read before the extension is looked at.
  EXPECT_THROW(BrandFile("x", "no commas", Source("a.txt"), Target("a.txt"), nullptr),
               ConvertError);
  EXPECT_FALSE(std::filesystem::exists(Target("a.jpg")));
}

TEST_F(BrandFileTest, PreviewIsTheStampedPictureAsABitmapFile) {
  PutJpeg("a.jpg", Gradient(120, 90));
  const TBitmap shown = LoadBitmapFromBytes(Brand("a.jpg").preview, "preview");
  EXPECT_EQ(shown.Width(), 120);
  EXPECT_EQ(shown.Height(), 90);
  // The preview shows red brand pixels; the written JPEG is that picture.
  // Quality 100 still subsamples colour, so only the brightness of the
  // written picture must follow the preview closely.
  const TBitmap written = DecodeJpeg(ReadBytes(Target("a.jpg")), "a.jpg");
  const auto luma = [](TRGBQuad c) { return 299 * c.Red + 587 * c.Green + 114 * c.Blue; };
  int red = 0;
  long totalDifference = 0;
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) {
      const TRGBQuad p = shown.GetPixel(x, y);
      red += p.Red > 200 && p.Green < 60 && p.Blue < 60;
      totalDifference += std::abs(luma(p) - luma(written.GetPixel(x, y)));
    }
  }
  EXPECT_GT(red, 50);
  EXPECT_LT(static_cast<double>(totalDifference) / (1000.0 * 120 * 90), 2.0);

  // Asked for the pixels, BrandFile hands over the same picture and makes no
  // bitmap file; the written copy does not change.
  const std::vector<std::byte> before = ReadBytes(Target("a.jpg"));
  std::optional<TBitmap> pixels;
  int files = 0;
  TBrandOptions options;
  options.PicturePreview = [&](std::shared_ptr<const TBitmap> picture) { pixels = *picture; };
  const TBrandOutcome outcome = BrandFile(
      "Sigilon", kFont, Source("a.jpg"), Target("a.jpg"),
      [&](std::span<const std::byte>) { ++files; }, options);
  EXPECT_EQ(outcome.Kind, TOutcomeKind::Processed);
  EXPECT_EQ(files, 0);
  ASSERT_TRUE(pixels.has_value());
  EXPECT_EQ(pixels->Pixels().size(), shown.Pixels().size());
  EXPECT_TRUE(std::equal(pixels->Pixels().begin(), pixels->Pixels().end(), shown.Pixels().begin()));
  EXPECT_EQ(ReadBytes(Target("a.jpg")), before);
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
  ASSERT_EQ(Brand("a.jpg").line, Processed(Source("a.jpg")));

  const std::vector<std::byte> out = ReadBytes(Target("a.jpg"));
  std::vector<unsigned> codes;
  std::vector<std::byte> quantValues;
  for (std::size_t i = 2; i + 4 <= out.size() && out[i] == std::byte{0xFF};) {
    const auto code = static_cast<unsigned>(out[i + 1]);
    const std::size_t length =
        (std::to_integer<std::size_t>(out[i + 2]) << 8) | std::to_integer<std::size_t>(out[i + 3]);
    codes.push_back(code);
    // Each 8-bit table: its number, then 64 values.
    for (std::size_t p = i + 4; code == 0xDB && p < i + 2 + length; p += 65) {
      quantValues.insert(quantValues.end(), out.begin() + p + 1, out.begin() + p + 65);
    }
    if (code == 0xDA) break;
    i += 2 + length;
  }
  EXPECT_NE(std::ranges::find(codes, 0xC0u), codes.end()) << "baseline frame";
  EXPECT_EQ(std::ranges::find(codes, 0xFEu), codes.end()) << "comment";
  EXPECT_EQ(std::ranges::find_if(codes, [](unsigned c) { return c >= 0xE1 && c <= 0xEF; }),
            codes.end())
      << "application marker";
  EXPECT_EQ(quantValues, std::vector<std::byte>(128, std::byte{1}));
}

// Picture information in the source: what the copy is turned by, what it
// carries by default.
TEST_F(BrandFileTest, JpegIsTurnedUprightAndKeepsItsColourProfile) {
  // Stored sideways: red on the left, blue on the right. Orientation 6 turns
  // it a quarter clockwise, so upright the red half is on top.
  TBitmap redBlue(96, 48, TPixelFormat::pf24bit);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 96; ++x) {
      redBlue.SetPixel(x, y, x < 48 ? TRGBQuad{0, 0, 230, 0} : TRGBQuad{230, 0, 0, 0});
    }
  }
  std::vector<std::byte> profile(70000);
  for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::byte>(i % 253);
  std::vector<TJpegSegment> markers = IccProfileSegments(profile);
  markers.insert(markers.begin(), {kJpegApp1, test::ExifPayload({.Orientation = 6})});
  WriteBytes(Source("side.jpg"), EncodeJpeg(redBlue, 95, "side", markers));
  // Green text, so that only the picture's halves count as red or not.
  const Outcome outcome =
      Brand(Source("side.jpg"), Target("side.jpg"), "\"DejaVu Sans\", 10, [], [clLime]");
  ASSERT_EQ(outcome.line, Processed(Source("side.jpg")));

  const TBitmap out = DecodeJpeg(ReadBytes(Target("side.jpg")), "out");
  ASSERT_EQ(out.Width(), 48);
  ASSERT_EQ(out.Height(), 96);
  const auto reddish = [&](int x, int y) { return out.GetPixel(x, y).Red > 150; };
  const int redTop = test::CountPoints(48, 48, reddish);
  const int redBottom = test::CountPoints(48, 48, [&](int x, int y) { return reddish(x, y + 48); });
  EXPECT_GT(redTop, 48 * 48 * 8 / 10);
  EXPECT_LT(redBottom, 48 * 48 / 10);
  EXPECT_EQ(LoadBitmapFromBytes(outcome.preview, "preview").Width(), 48) << "preview upright";

  // The profile byte for byte, chunk 1 first; the EXIF stays behind.
  const TJpegMetadata written = ReadJpegMetadata(ReadBytes(Target("side.jpg")));
  EXPECT_EQ(written.IccProfile, profile);
  EXPECT_EQ(written.Orientation, 1);
  EXPECT_TRUE(written.PictureInformation.empty());
}

TEST_F(BrandFileTest, UprightSourceWithoutProfileIsWrittenAsBefore) {
  // EXIF saying "upright", and a damaged profile: neither changes a byte of
  // what is written for the bare picture.
  const TBitmap picture = Gradient(70, 50);
  WriteBytes(Source("bare.jpg"), EncodeJpeg(picture, 95, "bare"));
  std::vector<TJpegSegment> markers = IccProfileSegments(std::vector<std::byte>(70000));
  markers.pop_back();
  markers.insert(markers.begin(), {kJpegApp1, test::ExifPayload({.Orientation = 1})});
  WriteBytes(Source("tagged.jpg"), EncodeJpeg(picture, 95, "tagged", markers));
  ASSERT_EQ(Brand("bare.jpg").line, Processed(Source("bare.jpg")));
  ASSERT_EQ(Brand("tagged.jpg").line, Processed(Source("tagged.jpg")));
  EXPECT_EQ(ReadBytes(Target("tagged.jpg")), ReadBytes(Target("bare.jpg")));
}

TEST_F(BrandFileTest, PictureInformationIsKeptOnlyWhenAskedFor) {
  const std::string xmpText = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta/>";
  const std::string iptcText =
      std::string("Photoshop 3.0\0", 14) + std::string("8BIM\x04\x04\0\0\0\0\0\x04", 12) + "(c)!";
  const std::vector<TJpegSegment> source = {
      {kJpegApp1, test::ExifPayload({.Orientation = 3, .Thumbnail = "THUMBNAIL-PIXELS"})},
      {kJpegApp1, test::Payload(xmpText)},
      {kJpegApp13, test::Payload(iptcText)},
      {0xFE, test::Payload("a comment is not picture information")},
  };
  WriteBytes(Source("info.jpg"), EncodeJpeg(Gradient(40, 30), 95, "info", source));

  ASSERT_EQ(Brand("info.jpg", {.KeepMetadata = false}).line, Processed(Source("info.jpg")));
  EXPECT_TRUE(ReadJpegMetadata(ReadBytes(Target("info.jpg"))).PictureInformation.empty());

  ASSERT_EQ(Brand("info.jpg", {.KeepMetadata = true}).line, Processed(Source("info.jpg")));
  const std::vector<std::byte> out = ReadBytes(Target("info.jpg"));
  const TJpegMetadata kept = ReadJpegMetadata(out);
  EXPECT_EQ(kept.Orientation, 1) << "turned upright, so the tag must say so";
  ASSERT_EQ(kept.PictureInformation.size(), 3u);
  EXPECT_EQ(kept.PictureInformation[0],
            ReadJpegMetadata(ReadBytes(Source("info.jpg"))).PictureInformation[0]);
  EXPECT_EQ(kept.PictureInformation[1].Payload, test::Payload(xmpText));
  EXPECT_EQ(kept.PictureInformation[2].Payload, test::Payload(iptcText));
  const std::string thumbnail = "THUMBNAIL-PIXELS", comment = "a comment";
  const auto holds = [&](const std::string& text) {
    return std::search(out.begin(), out.end(), text.begin(), text.end(), [](std::byte b, char c) {
             return b == static_cast<std::byte>(c);
           }) != out.end();
  };
  EXPECT_FALSE(holds(thumbnail));
  EXPECT_FALSE(holds(comment));
}

TEST_F(BrandFileTest, TruncatedJpegIsBrandedWithAWarningOrFailedWhenStrict) {
  std::vector<std::byte> jpeg = EncodeJpeg(Gradient(200, 150), 95, "cut");
  jpeg.resize(jpeg.size() / 2);
  WriteBytes(Source("cut.jpg"), jpeg);

  const Outcome lenient = Brand("cut.jpg", TBrandOptions{});
  EXPECT_EQ(lenient.kind, TOutcomeKind::Processed);
  EXPECT_EQ(lenient.line, Processed(Source("cut.jpg")));
  EXPECT_NE(lenient.reason.find("Premature end of JPEG file"), std::string::npos) << lenient.reason;
  std::filesystem::remove(Target("cut.jpg"));

  const Outcome strict = Brand("cut.jpg", {.Strict = true});
  EXPECT_EQ(strict.line, Failed(Source("cut.jpg")));
  EXPECT_NE(strict.reason.find("Premature end of JPEG file"), std::string::npos) << strict.reason;
  EXPECT_FALSE(std::filesystem::exists(Target("cut.jpg")));

  // A sound file gives no reason either way.
  PutJpeg("whole.jpg", Gradient(64, 64));
  EXPECT_EQ(Brand("whole.jpg", {.Strict = true}).reason, "");
}

TEST_F(BrandFileTest, GrayscaleJpegBecomesThreeComponentGray) {
  SIGILON_REQUIRE_CORPUS(CorpusFolder());
  PutCorpusJpeg("testimggray.jpg", "gray.jpg");
  ASSERT_EQ(ReadJpegHeader(ReadBytes(Source("gray.jpg")), "gray").Components, 1);
  // A neutral brand colour: the nearest of the picture's grays is used.
  const Outcome outcome =
      Brand(Source("gray.jpg"), Target("gray.jpg"), "\"DejaVu Sans\", 10, [], [clBlack]");
  ASSERT_EQ(outcome.line, Processed(Source("gray.jpg")));
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
  SIGILON_REQUIRE_CORPUS(CorpusFolder());
  PutCorpusJpeg("testimgp.jpg", "p.jpg");
  ASSERT_TRUE(ReadJpegHeader(ReadBytes(Source("p.jpg")), "p").Progressive);
  ASSERT_EQ(Brand("p.jpg").line, Processed(Source("p.jpg")));
  EXPECT_FALSE(ReadJpegHeader(ReadBytes(Target("p.jpg")), "out").Progressive);
}

TEST_F(BrandFileTest, BitmapTargetKeepsItsPixelFormatAndPalette) {
  for (const TPixelFormat format :
       {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf16bit,
        TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    const std::string name = "p" + std::to_string(BitsPerPixel(format)) + ".bmp";
    SCOPED_TRACE(name);
    const TBitmap source = Gradient(70, 50, format);
    PutBitmap(name, source);
    ASSERT_EQ(Brand(name).line, Processed(Source(name)));
    const TBitmap out = LoadBitmapFromBytes(ReadBytes(Target(name)), name);
    EXPECT_EQ(out.PixelFormat(), format);
    EXPECT_EQ(out.Width(), 70);
    EXPECT_EQ(out.Height(), 50);
    EXPECT_EQ(out.Palette(), source.Palette()) << "no colours added";
    EXPECT_GT(DifferingPixels(out, source), 0) << "not stamped";
  }
}

TEST_F(BrandFileTest, TextSizeFollowsTheDisplayNotThePicture) {
  // On a plain (black) background the pattern starts at the top-left corner
  // with spacings that depend only on the text: a small and a large picture
  // show the same pixels where they overlap, unless the display resolution
  // changes.
  const auto plain = [](int size) { return TBitmap(size, size, TPixelFormat::pf24bit); };
  PutBitmap("small.bmp", plain(80));
  PutBitmap("large.bmp", plain(640));
  const auto brand = [&](const std::string& name, int ppi) {
    TDisplayInfo display;
    display.PixelsPerInch = ppi;
    EXPECT_EQ(Brand(Source(name), Target(name), kFont, display).line, Processed(Source(name)));
    return LoadBitmapFromBytes(ReadBytes(Target(name)), name);
  };
  const TBitmap small96 = brand("small.bmp", 96);
  EXPECT_EQ(DifferingPixels(small96, brand("large.bmp", 96)), 0);
  EXPECT_GT(DifferingPixels(small96, plain(80)), 0);
  EXPECT_GT(DifferingPixels(small96, brand("small.bmp", 144)), 100);
}

TEST_F(BrandFileTest, ExistingTargetIsReplacedButReadOnlyTargetIsLeftAlone) {
  PutBitmap("a.bmp", Gradient(40, 40));
  WriteBytes(Target("a.bmp"), {std::byte{1}, std::byte{2}});
  EXPECT_EQ(Brand("a.bmp").line, Processed(Source("a.bmp")));
  EXPECT_GT(ReadBytes(Target("a.bmp")).size(), 2u);

  PutJpeg("b.jpg", Gradient(40, 40));
  const std::vector<std::byte> old = {std::byte{7}, std::byte{8}, std::byte{9}};
  WriteBytes(Target("b.jpg"), old);
  ::chmod(Target("b.jpg").c_str(), 0444);
  EXPECT_EQ(Brand("b.jpg").line, Failed(Source("b.jpg")));
  EXPECT_EQ(ReadBytes(Target("b.jpg")), old);

  // A missing target directory fails the file.
  EXPECT_EQ(Brand(Source("a.bmp"), Target("nowhere/a.bmp")).line, Failed(Source("a.bmp")));
}

TEST_F(BrandFileTest, AFailureSaysWhyWithoutRepeatingTheSourcePath) {
  PutJpeg("good.jpg", Gradient(16, 16));
  WriteBytes(Source("empty.jpg"), {});
  WriteBytes(Source("empty.bmp"), {});
  PutBitmap("bitmap.jpg", Gradient(16, 16));
  PutBitmap("locked.bmp", Gradient(16, 16));
  WriteBytes(Target("locked.bmp"), {std::byte{1}});
  ::chmod(Target("locked.bmp").c_str(), 0444);
  const struct {
    std::string name;
    std::string reason;  // a part of the reason
  } cases[] = {
      {"missing.jpg", "No such file or directory"},
      {"empty.jpg", "mpty"},
      {"empty.bmp", "empty file"},
      {"bitmap.jpg", "JPEG"},
      {"locked.bmp", "Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Brand(c.name);
    EXPECT_EQ(outcome.line, Failed(Source(c.name)));
    EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
    EXPECT_FALSE(outcome.reason.starts_with(Source(c.name))) << outcome.reason;
  }
  EXPECT_EQ(Brand("good.jpg").reason, "");
}

TEST_F(BrandFileTest, OriginalsAreNeverWritten) {
  PutJpeg("a.jpg", Gradient(40, 40));
  PutBitmap("b.bmp", Gradient(40, 40));
  const std::vector<std::byte> jpegBefore = ReadBytes(Source("a.jpg"));
  const std::vector<std::byte> bitmapBefore = ReadBytes(Source("b.bmp"));

  // The same directory under another spelling.
  EXPECT_EQ(Brand(Source("a.jpg"), Source("./a.jpg")).line, Failed(Source("a.jpg")));
  // A directory link that leads into the source.
  std::filesystem::create_directory_symlink(source_.Path(), Target("link"));
  EXPECT_EQ(Brand(Source("b.bmp"), Target("link/b.bmp")).line, Failed(Source("b.bmp")));
  // A file link in the target directory that points at the original.
  std::filesystem::create_symlink(Source("a.jpg"), Target("a.jpg"));
  EXPECT_EQ(Brand("a.jpg").line, Failed(Source("a.jpg")));
  // A hard link of the original.
  std::filesystem::create_hard_link(Source("b.bmp"), Target("b.bmp"));
  EXPECT_EQ(Brand("b.bmp").line, Failed(Source("b.bmp")));

  EXPECT_EQ(ReadBytes(Source("a.jpg")), jpegBefore);
  EXPECT_EQ(ReadBytes(Source("b.bmp")), bitmapBefore);
}

}  // namespace
}  // namespace sigilon
