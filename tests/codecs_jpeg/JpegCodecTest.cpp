// The JPEG codec: what the encoder writes, what the decoder makes of other
// encoders' files, and how bad input fails.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>

#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "tests/codecs_jpeg/JpegTestSupport.h"
#include "tests/support/Throws.h"

namespace sigilon {
namespace {

using test::Contains;
using test::EncodeSamples;
using test::GradientRgb;
using test::HeaderSegments;
using test::ThrownMessage;
using test::TSegment;
using test::TTestEncoding;

constexpr std::uint8_t kSOF0 = 0xC0;
constexpr std::uint8_t kDQT = 0xDB;
constexpr std::uint8_t kAPP0 = 0xE0;
constexpr std::uint8_t kCOM = 0xFE;

int BigEndian16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes.at(at) << 8 | bytes.at(at + 1);
}

std::vector<TSegment> SegmentsWith(const std::vector<TSegment>& all, std::uint8_t marker) {
  std::vector<TSegment> found;
  for (const TSegment& s : all) {
    if (s.Marker == marker) found.push_back(s);
  }
  return found;
}

// Every quantisation value of every table in the header.
std::vector<int> QuantisationValues(const std::vector<TSegment>& segments) {
  std::vector<int> values;
  for (const TSegment& dqt : SegmentsWith(segments, kDQT)) {
    std::size_t pos = 0;
    while (pos < dqt.Payload.size()) {
      const bool wide = (dqt.Payload[pos] >> 4) != 0;
      ++pos;
      for (int i = 0; i < 64; ++i) {
        values.push_back(wide ? BigEndian16(dqt.Payload, pos) : dqt.Payload.at(pos));
        pos += wide ? 2 : 1;
      }
    }
  }
  return values;
}

// The properties every file the program writes must have.
void ExpectBaselineJfif(const std::vector<std::byte>& jpeg, int width, int height) {
  const std::vector<TSegment> segments = HeaderSegments(jpeg);
  int app0 = 0;
  for (const TSegment& s : segments) {
    // Only baseline frames; no metadata of any kind.
    EXPECT_FALSE(s.Marker >= 0xC1 && s.Marker <= 0xCF && s.Marker != 0xC4 && s.Marker != 0xC8 &&
                 s.Marker != 0xCC)
        << "non-baseline frame marker " << int{s.Marker};
    EXPECT_FALSE(s.Marker > kAPP0 && s.Marker <= 0xEF) << "APP" << (s.Marker - kAPP0);
    EXPECT_NE(s.Marker, kCOM);
    if (s.Marker == kAPP0) ++app0;
  }
  ASSERT_EQ(app0, 1);
  const TSegment jfif = SegmentsWith(segments, kAPP0).front();
  ASSERT_GE(jfif.Payload.size(), 12u);
  EXPECT_EQ(std::string(jfif.Payload.begin(), jfif.Payload.begin() + 5), std::string("JFIF\0", 5));
  EXPECT_EQ(std::vector(jfif.Payload.begin() + 7, jfif.Payload.begin() + 12),
            (std::vector<std::uint8_t>{0, 0, 1, 0, 1}))
      << "density unit none, 1:1";

  const auto frames = SegmentsWith(segments, kSOF0);
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<std::uint8_t>& sof = frames.front().Payload;
  ASSERT_EQ(sof.size(), 6u + 3 * 3);
  EXPECT_EQ(BigEndian16(sof, 1), height);
  EXPECT_EQ(BigEndian16(sof, 3), width);
  EXPECT_EQ((std::vector{sof[0], sof[5], sof[7], sof[10], sof[13]}),
            (std::vector<std::uint8_t>{8, 3, 0x22, 0x11, 0x11}))
      << "precision, components, luminance and chrominance sampling";
  EXPECT_EQ(jpeg.back(), std::byte{0xD9}) << "EOI";
  EXPECT_EQ(jpeg[jpeg.size() - 2], std::byte{0xFF});
}

int ChannelDistance(TRGBQuad a, TRGBQuad b) {
  return std::max(
      {std::abs(a.Red - b.Red), std::abs(a.Green - b.Green), std::abs(a.Blue - b.Blue)});
}

// ---- What the encoder writes ------------------------------------------------

TEST(JpegEncode, WritesBaselineJfifWithoutMetadataFromEveryPixelFormat) {
  const TBitmap colour = test::RedBlueBitmap(37, 23);
  TBitmap palette(37, 23, TPixelFormat::pf8bit);
  palette.Palette()[1] = TRGBQuad{10, 200, 30, 0};
  palette.SetPixel(5, 5, TRGBQuad{10, 200, 30, 0});
  TBitmap mono(9, 40, TPixelFormat::pf1bit);
  TBitmap wide(17, 3, TPixelFormat::pf32bit);
  for (const TBitmap* bitmap :
       std::initializer_list<const TBitmap*>{&colour, &palette, &mono, &wide}) {
    SCOPED_TRACE(bitmap->BitsPerPixel());
    const auto jpeg = EncodeJpeg(*bitmap, 100, "out.jpg");
    ExpectBaselineJfif(jpeg, bitmap->Width(), bitmap->Height());
    for (int q : QuantisationValues(HeaderSegments(jpeg))) ASSERT_EQ(q, 1);
  }
}

TEST(JpegEncode, QualityScalesTablesWithinBaselineRange) {
  const TBitmap bitmap = test::RedBlueBitmap(16, 16);
  const auto mid = QuantisationValues(HeaderSegments(EncodeJpeg(bitmap, 50, "q50")));
  const auto low = QuantisationValues(HeaderSegments(EncodeJpeg(bitmap, 1, "q1")));
  ASSERT_EQ(mid.size(), 128u);
  ASSERT_EQ(low.size(), 128u);
  EXPECT_GT(*std::max_element(mid.begin(), mid.end()), 1);
  // Baseline files allow 8-bit tables only: quality 1 must be clamped.
  EXPECT_EQ(*std::max_element(low.begin(), low.end()), 255);
  EXPECT_THROW(EncodeJpeg(bitmap, 0, "q0"), ImageError);
  EXPECT_THROW(EncodeJpeg(bitmap, 101, "q101"), ImageError);
  EXPECT_THROW(EncodeJpeg(TBitmap(), 90, "empty"), ImageError);
}

TEST(JpegEncode, BrandedCopyCarriesNothingOfTheSourceButPixels) {
  const TTestEncoding encoding{
      .Markers = {{JPEG_COM, "shot by someone"}, {JPEG_APP0 + 1, std::string("Exif\0\0MM", 8)}},
      .DensityUnit = 1,
      .Density = 300};
  const auto camera = EncodeSamples(40, 30, GradientRgb(40, 30), encoding);
  ASSERT_EQ(SegmentsWith(HeaderSegments(camera), kCOM).size(), 1u);
  ExpectBaselineJfif(EncodeJpeg(DecodeJpeg(camera, "camera.jpg"), 100, "copy.jpg"), 40, 30);
}

TEST(JpegEncode, ColoursAndChannelOrderSurviveARoundTrip) {
  const TBitmap original = test::RedBlueBitmap(64, 32);
  const TBitmap bitmap = DecodeJpeg(EncodeJpeg(original, 100, "rb.jpg"), "rb.jpg");
  ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
  ASSERT_EQ(std::pair(bitmap.Width(), bitmap.Height()), std::pair(64, 32));
  // Away from the middle, where chroma subsampling blends the halves.
  for (int y = 0; y < 32; y += 5) {
    for (int x : {0, 4, 60}) {
      EXPECT_LE(ChannelDistance(bitmap.GetPixel(x, y), original.GetPixel(x, y)), 6) << x << y;
    }
  }
}

// ---- What the decoder makes of other encoders' files ------------------------

TEST(JpegDecode, ColourFileGives24BitOrA236ColourPaletteForLowDepthDisplays) {
  const auto file = EncodeSamples(48, 40, GradientRgb(48, 40), {});
  // 8 bits per pixel is the deepest display that gets a palette.
  const TBitmap full = DecodeJpeg(file, "c.jpg", DecodeOptionsForDisplay(16));
  EXPECT_EQ(full.PixelFormat(), TPixelFormat::pf24bit);
  const TBitmap quantised = DecodeJpeg(file, "c.jpg", DecodeOptionsForDisplay(8));
  ASSERT_EQ(quantised.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_GE(quantised.Palette().size(), 2u);
  EXPECT_LE(quantised.Palette().size(), 236u);
  // Dithering moves single pixels; the average over a block stays close.
  const auto blockMean = [](const TBitmap& b, int bx, int by, std::uint8_t TRGBQuad::*channel) {
    int sum = 0;
    for (int y = by; y < by + 8; ++y)
      for (int x = bx; x < bx + 8; ++x) sum += b.GetPixel(x, y).*channel;
    return sum / 64;
  };
  for (int by = 0; by < 40; by += 8) {
    for (int bx = 0; bx < 48; bx += 8) {
      for (auto channel : {&TRGBQuad::Red, &TRGBQuad::Green, &TRGBQuad::Blue}) {
        EXPECT_NEAR(blockMean(full, bx, by, channel), blockMean(quantised, bx, by, channel), 12)
            << bx << "," << by;
      }
    }
  }
}

TEST(JpegDecode, GrayscaleFileGivesPaletteOfAtMost236GrayLevels) {
  std::vector<std::uint8_t> ramp;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 256; ++x) ramp.push_back(static_cast<std::uint8_t>(x));
  }
  const TBitmap bitmap = DecodeJpeg(
      EncodeSamples(256, 16, ramp, {.Input = JCS_GRAYSCALE, .Quality = 100}), "gray.jpg");
  ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_LE(bitmap.Palette().size(), 236u);
  EXPECT_GT(bitmap.Palette().size(), 200u) << "a full ramp should use most levels";
  for (const TRGBQuad& entry : bitmap.Palette()) {
    EXPECT_TRUE(entry.Red == entry.Green && entry.Red == entry.Blue) << int{entry.Red};
  }
  for (int x = 8; x < 248; x += 16) {
    EXPECT_NEAR(bitmap.GetPixel(x, 8).Red, x, 6) << x;
  }

  // Re-encoded, the gray picture becomes a three-component baseline file.
  const auto encoded = EncodeJpeg(bitmap, 100, "gray-out.jpg");
  ExpectBaselineJfif(encoded, 256, 16);
  const TBitmap again = DecodeJpeg(encoded, "gray-out.jpg");
  EXPECT_EQ(again.PixelFormat(), TPixelFormat::pf24bit);
  const TRGBQuad p = again.GetPixel(100, 8);
  EXPECT_LE(std::abs(p.Red - p.Green) + std::abs(p.Red - p.Blue), 4);
}

TEST(JpegDecode, ProgressiveAndArithmeticFilesMatchBaseline) {
  const auto samples = GradientRgb(50, 34);
  const TBitmap reference = DecodeJpeg(EncodeSamples(50, 34, samples, {.Quality = 95}), "base");
  for (const TTestEncoding& encoding : {TTestEncoding{.Progressive = true, .Quality = 95},
                                        {.Arithmetic = true, .Quality = 95},
                                        {.Progressive = true, .Arithmetic = true, .Quality = 95}}) {
    SCOPED_TRACE(testing::Message() << encoding.Progressive << encoding.Arithmetic);
    const auto file = EncodeSamples(50, 34, samples, encoding);
    EXPECT_EQ(ReadJpegHeader(file, "x").Progressive, encoding.Progressive);
    const TBitmap bitmap = DecodeJpeg(file, "x");
    ASSERT_EQ(bitmap.Width(), 50);
    ASSERT_EQ(bitmap.Height(), 34);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
    for (int y = 0; y < 34; y += 3) {
      for (int x = 0; x < 50; x += 7) {
        ASSERT_LE(ChannelDistance(bitmap.GetPixel(x, y), reference.GetPixel(x, y)), 4);
      }
    }
  }
}

TEST(JpegDecode, FourComponentFilesConvertToRgb) {
  struct TCase {
    const char* Name;
    J_COLOR_SPACE File;
    bool Adobe;
    std::vector<std::uint8_t> Cyan, White, Black;
  };
  // Adobe's convention stores 255 minus the ink; plain CMYK stores the ink.
  const std::vector<TCase> cases = {
      {"adobe-cmyk", JCS_CMYK, true, {0, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 0}},
      {"adobe-ycck", JCS_YCCK, true, {0, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 0}},
      {"plain-cmyk", JCS_CMYK, false, {255, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 255}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TTestEncoding encoding{
        .Input = JCS_CMYK, .File = c.File, .AdobeMarker = c.Adobe, .Quality = 100};
    const auto file =
        EncodeSamples(16, 24, test::Bands(16, 8, {c.Cyan, c.White, c.Black}), encoding);
    ASSERT_EQ(ReadJpegHeader(file, c.Name).Components, 4);
    for (const bool lowDepth : {false, true}) {
      TJpegDecodeOptions options;
      options.ToPalette = lowDepth;
      const TBitmap bitmap = DecodeJpeg(file, c.Name, options);
      ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
      EXPECT_LE(ChannelDistance(bitmap.GetPixel(8, 4), TRGBQuad{255, 255, 0, 0}), 3);
      EXPECT_LE(ChannelDistance(bitmap.GetPixel(8, 12), TRGBQuad{255, 255, 255, 0}), 3);
      EXPECT_LE(ChannelDistance(bitmap.GetPixel(8, 20), TRGBQuad{0, 0, 0, 0}), 3);
    }
  }
}

// A reduced picture straight from the inverse transform, for previews: each
// pixel is about the mean of the block of the full picture it stands for.
TEST(JpegDecode, ScaledDecodingGivesTheReducedPicture) {
  const int width = 101, height = 67;
  const auto file = EncodeSamples(width, height, GradientRgb(width, height), {.Quality = 100});
  const TBitmap full = DecodeJpeg(file, "s.jpg");
  for (const int d : {1, 2, 4, 8}) {
    SCOPED_TRACE(d);
    const TBitmap scaled = DecodeJpeg(file, "s.jpg", {.ScaleDenominator = d});
    ASSERT_EQ(std::pair(scaled.Width(), scaled.Height()),
              std::pair((width + d - 1) / d, (height + d - 1) / d));
    for (int y = 0; y < scaled.Height(); ++y) {
      for (int x = 0; x < scaled.Width(); ++x) {
        int sum[3] = {}, count = 0;
        for (int fy = y * d; fy < std::min(height, (y + 1) * d); ++fy) {
          for (int fx = x * d; fx < std::min(width, (x + 1) * d); ++fx, ++count) {
            const TRGBQuad p = full.GetPixel(fx, fy);
            sum[0] += p.Red, sum[1] += p.Green, sum[2] += p.Blue;
          }
        }
        const TRGBQuad mean{static_cast<std::uint8_t>(sum[2] / count),
                            static_cast<std::uint8_t>(sum[1] / count),
                            static_cast<std::uint8_t>(sum[0] / count), 0};
        ASSERT_LE(ChannelDistance(scaled.GetPixel(x, y), mean), 8) << x << "," << y;
      }
    }
  }
  for (const int d : {0, 3, 16}) {
    EXPECT_PRED2(Contains, ThrownMessage<ImageError>([&] {
                   DecodeJpeg(file, "s.jpg", {.ScaleDenominator = d});
                 }),
                 "JPEG scale");
  }
}

// ---- Bad input ---------------------------------------------------------------

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

// Rewrites the frame size in a stream's SOF header.
void PatchFrameSize(std::vector<std::byte>& jpeg, int width, int height) {
  for (const TSegment& s : HeaderSegments(jpeg)) {
    if (s.Marker == kSOF0 || s.Marker == 0xC2) {
      for (int i = 0; i < 4; ++i)
        jpeg[s.Offset + 5 + i] =
            static_cast<std::byte>((i < 2 ? height : width) >> (i % 2 ? 0 : 8));
      return;
    }
  }
  FAIL() << "no frame header";
}

TEST(JpegFailures, NonJpegDataFailsAtLoadNamingFileAndLibjpegMessageNumber) {
  const std::vector<std::vector<std::byte>> inputs = {
      {},                                                    // empty
      Bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}),  // another format
      Bytes({'B', 'M', 0x36, 0, 0, 0}),                      // a bitmap file
      Bytes({0xFF, 0xD8, 0xFF, 0xD9}),                       // SOI then EOI, no image
      Bytes({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 0xFF}),     // bogus marker length
  };
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.size());
    for (const std::string& message :
         {ThrownMessage<ImageError>([&] { ReadJpegHeader(input, "holiday.jpg"); }),
          ThrownMessage<ImageError>([&] { DecodeJpeg(input, "holiday.jpg"); })}) {
      EXPECT_PRED2(Contains, message, "holiday.jpg");
      EXPECT_PRED2(Contains, message, "JPEG error #");
    }
  }
}

// Offset of the first scan's entropy-coded data.
std::size_t EntropyDataStart(const std::vector<std::byte>& jpeg) {
  const TSegment sos = HeaderSegments(jpeg).back();
  return sos.Offset + 4 + sos.Payload.size();
}

// Offset of the marker that ends the first scan.
std::size_t FirstScanEnd(const std::vector<std::byte>& jpeg) {
  for (std::size_t i = EntropyDataStart(jpeg); i + 1 < jpeg.size(); ++i) {
    const auto next = static_cast<std::uint8_t>(jpeg[i + 1]);
    // 0xFF 0x00 is a stuffed byte, 0xFF 0xD0..D7 a restart marker.
    if (static_cast<std::uint8_t>(jpeg[i]) == 0xFF && next != 0 && (next < 0xD0 || next > 0xD7)) {
      return i;
    }
  }
  return jpeg.size();
}

TEST(JpegFailures, TruncatedFilesDecodeAsFarAsTheyGo) {
  for (const TTestEncoding& encoding : {TTestEncoding{}, {.Progressive = true}}) {
    SCOPED_TRACE(encoding.Progressive);
    const auto whole = EncodeSamples(64, 64, GradientRgb(64, 64), encoding);
    const TBitmap reference = DecodeJpeg(whole, "whole");
    // Cut in the middle of the first scan's data (a cut inside a marker
    // segment is a broken header, which libjpeg rightly refuses).
    const std::size_t start = EntropyDataStart(whole);
    const std::size_t cut = start + (FirstScanEnd(whole) - start) / 2;
    const std::vector<std::byte> half(whole.begin(), whole.begin() + static_cast<long>(cut));
    TBitmap first, second;
    ASSERT_NO_THROW(first = DecodeJpeg(half, "half"));
    ASSERT_NO_THROW(second = DecodeJpeg(half, "half"));
    ASSERT_EQ(std::pair(first.Width(), first.Height()), std::pair(64, 64));
    // Rows the file still covers are right, and the rest is defined: two
    // decodings agree byte for byte.
    EXPECT_LE(ChannelDistance(first.GetPixel(10, 2), reference.GetPixel(10, 2)),
              encoding.Progressive ? 40 : 4);
    EXPECT_TRUE(std::equal(first.Pixels().begin(), first.Pixels().end(), second.Pixels().begin(),
                           second.Pixels().end()));
  }
}

TEST(JpegFailures, OversizedHeaderFailsAtOnce) {
  auto jpeg = EncodeSamples(16, 16, GradientRgb(16, 16), {});
  PatchFrameSize(jpeg, 60000, 60000);
  EXPECT_EQ(ReadJpegHeader(jpeg, "huge.jpg").Width, 60000);  // the header alone is fine
  // Generous bounds: without the gate these decodes take minutes and
  // gigabytes; a busy machine must not fail the gate's test.
  const auto start = std::chrono::steady_clock::now();
  const std::string message = ThrownMessage<ImageError>([&] { DecodeJpeg(jpeg, "huge.jpg"); });
  EXPECT_PRED2(Contains, message, "huge.jpg");
  EXPECT_PRED2(Contains, message, "limit");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // A few hundred bytes claiming a big picture (these once took seconds and
  // over a gigabyte each) are refused before libjpeg buffers anything.
  for (const bool progressive : {false, true}) {
    auto tiny = EncodeSamples(16, 16, GradientRgb(16, 16), {.Progressive = progressive});
    PatchFrameSize(tiny, 16384, 16384);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_PRED2(Contains, ThrownMessage<ImageError>([&] { DecodeJpeg(tiny, "tiny.jpg"); }),
                 "pixels per byte");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  }
  // Within that gate a header without its data stays cheap: the missing scan
  // data only raises warnings.
  PatchFrameSize(jpeg, 640, 480);
  EXPECT_EQ(DecodeJpeg(jpeg, "short.jpg").Width(), 640);
}

TEST(JpegDecode, FlatPicturesPassThePixelsPerByteGate) {
  // The tightest coding real encoders give a flat picture: gray, progressive
  // with optimised tables (about 255 pixels per byte).
  const int side = 1024;
  const std::vector<std::uint8_t> gray(static_cast<std::size_t>(side) * side, 128);
  const auto flat = EncodeSamples(side, side, gray, {.Input = JCS_GRAYSCALE, .Progressive = true});
  ASSERT_GT(static_cast<std::size_t>(side) * side / flat.size(), 128u) << "not flat enough";
  EXPECT_EQ(DecodeJpeg(flat, "flat.jpg").Width(), side);
}

std::vector<jpeg_scan_info> SpectralScanScript(int scans) {
  // All DC coefficients first, then one AC coefficient of one component per scan.
  std::vector<jpeg_scan_info> script = {{.comps_in_scan = 3, .component_index = {0, 1, 2}}};
  for (int c = 0; c < 3; ++c) {
    for (int k = 1; k <= 63 && static_cast<int>(script.size()) < scans; ++k)
      script.push_back({.comps_in_scan = 1, .component_index = {c}, .Ss = k, .Se = k});
  }
  return script;
}

TEST(JpegFailures, MoreThan100ScansFail) {
  const auto samples = GradientRgb(24, 24);
  TTestEncoding encoding;
  encoding.Scans = SpectralScanScript(100);
  ASSERT_EQ(encoding.Scans.size(), 100u);
  EXPECT_EQ(DecodeJpeg(EncodeSamples(24, 24, samples, encoding), "100.jpg").Width(), 24);

  encoding.Scans = SpectralScanScript(101);
  const auto file = EncodeSamples(24, 24, samples, encoding);
  ASSERT_TRUE(ReadJpegHeader(file, "101.jpg").Progressive);
  EXPECT_PRED2(Contains, ThrownMessage<ImageError>([&] { DecodeJpeg(file, "101.jpg"); }),
               "more than 100 scans");
}

TEST(JpegFailures, CorruptEntropyDataNeverCrashes) {
  const auto whole = EncodeSamples(40, 40, GradientRgb(40, 40), {});
  const std::size_t dataStart = EntropyDataStart(whole);
  std::srand(7);
  for (int round = 0; round < 50; ++round) {
    auto damaged = whole;
    for (int i = 0; i < 8; ++i) {
      damaged[dataStart + std::rand() % (whole.size() - dataStart - 2)] =
          static_cast<std::byte>(std::rand() & 0xFF);
    }
    try {
      const TBitmap bitmap = DecodeJpeg(damaged, "damaged");
      EXPECT_EQ(bitmap.Width(), 40);
    } catch (const ImageError& e) {
      EXPECT_PRED2(Contains, e.what(), "JPEG error #");
    }
  }
}

}  // namespace
}  // namespace sigilon
