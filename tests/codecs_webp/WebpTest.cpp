// Branded WebP copies: lossless sources stay lossless with every pixel away
// from the brand the same, lossy ones follow the chosen quality, alpha is
// kept, the copy stands upright with its profile, metadata by choice, and
// animations and hostile headers fail with a reason.

#include <gtest/gtest.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>

#include "engine/BrandFile.h"
#include "tests/codecs_webp/WholeTestSupport.h"

namespace sigilon {
namespace {

using test::BrandBytes;

constexpr int kWidth = 120;
constexpr int kHeight = 80;

std::vector<std::uint8_t> Texture(int width, int height) {
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(x * 2);
      p[1] = static_cast<std::uint8_t>(y * 3);
      p[2] = static_cast<std::uint8_t>(x + y);
      // Transparent, half and opaque areas, with colour under the
      // transparent ones.
      p[3] = x < width / 3 ? 0 : x < 2 * width / 3 ? 128 : 255;
    }
  }
  return bgra;
}

std::vector<std::byte> Bytes(const std::uint8_t* data, std::size_t size) {
  const auto* bytes = reinterpret_cast<const std::byte*>(data);
  return {bytes, bytes + size};
}

std::vector<std::byte> EncodeWebp(const std::vector<std::uint8_t>& bgra, int width, int height,
                                  bool lossless, float quality = 80) {
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = lossless ? 1 : 0;
  config.quality = quality;
  config.exact = 1;
  WebPPicture picture;
  WebPPictureInit(&picture);
  picture.use_argb = 1;
  picture.width = width;
  picture.height = height;
  WebPPictureImportBGRA(&picture, bgra.data(), width * 4);
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  EXPECT_TRUE(WebPEncode(&config, &picture));
  std::vector<std::byte> out = Bytes(writer.mem, writer.size);
  WebPPictureFree(&picture);
  WebPMemoryWriterClear(&writer);
  return out;
}

std::vector<std::byte> WithChunks(
    const std::vector<std::byte>& webp,
    const std::vector<std::pair<const char*, std::vector<std::byte>>>& chunks) {
  const WebPData data{reinterpret_cast<const std::uint8_t*>(webp.data()), webp.size()};
  WebPMux* mux = WebPMuxCreate(&data, 1);
  for (const auto& [fourcc, payload] : chunks) {
    const WebPData chunk{reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()};
    EXPECT_EQ(WebPMuxSetChunk(mux, fourcc, &chunk, 1), WEBP_MUX_OK);
  }
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
  std::vector<std::byte> out = Bytes(assembled.bytes, assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return out;
}

std::vector<std::byte> ChunkIn(const std::vector<std::byte>& webp, const char* fourcc) {
  const WebPData data{reinterpret_cast<const std::uint8_t*>(webp.data()), webp.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  std::vector<std::byte> out;
  WebPChunkIterator chunk;
  if (demux != nullptr && WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) {
    out = Bytes(chunk.chunk.bytes, chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
  }
  WebPDemuxDelete(demux);
  return out;
}

struct TDecoded {
  WebPBitstreamFeatures Features{};
  std::vector<std::uint8_t> Bgra;
};

TDecoded DecodeWebp(const std::vector<std::byte>& webp) {
  TDecoded decoded;
  const auto* data = reinterpret_cast<const std::uint8_t*>(webp.data());
  EXPECT_EQ(WebPGetFeatures(data, webp.size(), &decoded.Features), VP8_STATUS_OK);
  int width = 0;
  int height = 0;
  std::uint8_t* pixels = WebPDecodeBGRA(data, webp.size(), &width, &height);
  if (pixels != nullptr) decoded.Bgra.assign(pixels, pixels + std::size_t(width) * height * 4);
  WebPFree(pixels);
  return decoded;
}

constexpr int kLossyFormat = 1;
constexpr int kLosslessFormat = 2;

TEST(WebpBranding, LosslessStaysLosslessAndKeepsEveryPixelAwayFromTheBrand) {
  const std::vector<std::uint8_t> source = Texture(kWidth, kHeight);
  const test::TBrandRun run = BrandBytes(EncodeWebp(source, kWidth, kHeight, true), "a.webp");
  ASSERT_EQ(run.Outcome.Kind, TOutcomeKind::Processed) << run.Outcome.Reason;
  const TDecoded copy = DecodeWebp(run.Copy);
  EXPECT_EQ(copy.Features.format, kLosslessFormat);
  EXPECT_TRUE(copy.Features.has_alpha);
  ASSERT_EQ(copy.Bgra.size(), source.size());

  const TBitmap mask = test::BrandCoverage(kWidth, kHeight);
  int unchanged = 0;
  int branded = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const std::size_t at = (static_cast<std::size_t>(y) * kWidth + x) * 4;
      const bool same = std::memcmp(&copy.Bgra[at], &source[at], 4) == 0;
      if (mask.GetPixel(x, y).Red == 0) {
        ASSERT_TRUE(same) << "at " << x << "," << y;
        ++unchanged;
      } else if (mask.GetPixel(x, y).Red == 255) {
        // Fully covered: the brand's colour (red), opaque.
        EXPECT_EQ(copy.Bgra[at + 2], 255) << "at " << x << "," << y;
        EXPECT_EQ(copy.Bgra[at + 3], 255) << "at " << x << "," << y;
        ++branded;
      }
    }
  }
  EXPECT_GT(unchanged, 0);
  EXPECT_GT(branded, 0);
}

TEST(WebpBranding, LossyFollowsTheChosenQualityAndKeepsSizeAndAlpha) {
  const std::vector<std::uint8_t> source = Texture(kWidth, kHeight);
  const std::vector<std::byte> lossy = EncodeWebp(source, kWidth, kHeight, false, 95);
  const test::TBrandRun byDefault = BrandBytes(lossy, "a.webp");
  TBrandOptions low;
  low.Quality = 10;
  const test::TBrandRun atLow = BrandBytes(lossy, "a.webp", low);
  TBrandOptions ninety;
  ninety.Quality = 90;
  const test::TBrandRun atNinety = BrandBytes(lossy, "a.webp", ninety);
  for (const test::TBrandRun* run : {&byDefault, &atLow, &atNinety}) {
    ASSERT_EQ(run->Outcome.Kind, TOutcomeKind::Processed) << run->Outcome.Reason;
    const TDecoded copy = DecodeWebp(run->Copy);
    EXPECT_EQ(copy.Features.format, kLossyFormat);
    EXPECT_EQ(copy.Features.width, kWidth);
    EXPECT_EQ(copy.Features.height, kHeight);
    EXPECT_TRUE(copy.Features.has_alpha);
    ASSERT_EQ(copy.Bgra.size(), source.size());
    // Alpha is stored without loss: transparent areas away from the brand
    // stay transparent.
    EXPECT_EQ(copy.Bgra[3], 0);
  }
  // The default is quality 90, and a lower quality makes a smaller file.
  EXPECT_EQ(byDefault.Copy, atNinety.Copy);
  EXPECT_LT(atLow.Copy.size(), atNinety.Copy.size());
}

TEST(WebpBranding, TheCopyStandsUprightWithItsProfileAndMetadataByChoice) {
  constexpr int kWide = 60;
  constexpr int kHigh = 30;
  std::vector<std::uint8_t> source = Texture(kWide, kHigh);
  for (std::size_t at = 3; at < source.size(); at += 4) source[at] = 255;
  const std::vector<std::byte> xmp = {std::byte{'<'}, std::byte{'x'}, std::byte{'/'},
                                      std::byte{'>'}};
  const std::vector<std::byte> file = WithChunks(
      EncodeWebp(source, kWide, kHigh, true),
      {{"ICCP", test::SomeProfile()}, {"EXIF", test::ExifWithOrientation(6)}, {"XMP ", xmp}});
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "keeping metadata" : "without metadata");
    TBrandOptions options;
    options.KeepMetadata = keep;
    const test::TBrandRun run = BrandBytes(file, "turned.WebP", options);
    ASSERT_EQ(run.Outcome.Kind, TOutcomeKind::Processed) << run.Outcome.Reason;
    const TDecoded copy = DecodeWebp(run.Copy);
    EXPECT_EQ(copy.Features.width, kHigh);
    EXPECT_EQ(copy.Features.height, kWide);
    EXPECT_FALSE(copy.Features.has_alpha);
    EXPECT_EQ(ChunkIn(run.Copy, "ICCP"), test::SomeProfile());
    const std::vector<std::byte> exif = ChunkIn(run.Copy, "EXIF");
    EXPECT_EQ(exif.empty(), !keep);
    EXPECT_EQ(ChunkIn(run.Copy, "XMP ").empty(), !keep);
    if (keep) {
      EXPECT_EQ(test::OrientationIn(exif), 1);
    }
  }
}

std::vector<std::byte> Animated() {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(16, 16, &options);
  std::vector<std::uint8_t> frame = Texture(16, 16);
  for (int i = 0; i < 2; ++i) {
    frame[0] = static_cast<std::uint8_t>(i * 200);
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = 16;
    picture.height = 16;
    WebPPictureImportBGRA(&picture, frame.data(), 16 * 4);
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, i * 100, nullptr));
    WebPPictureFree(&picture);
  }
  WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr);
  WebPData data;
  WebPDataInit(&data);
  EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
  std::vector<std::byte> out = Bytes(data.bytes, data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
  return out;
}

// A lossless header claiming 16383 x 16383 pixels, then a few bytes.
std::vector<std::byte> HugeClaim() {
  std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F', 30,  0,  0, 0, 'W', 'E', 'B',
                                    'P', 'V', 'P', '8', 'L', 18, 0, 0, 0,   0x2F};
  const std::uint32_t bits = 16382u | 16382u << 14;
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  file.resize(38, 0);
  return Bytes(file.data(), file.size());
}

TEST(WebpBranding, AnimationsDamageAndHostileHeadersFailWithAReason) {
  const test::TBrandRun animated = BrandBytes(Animated(), "moving.webp");
  EXPECT_EQ(animated.Outcome.Kind, TOutcomeKind::Failed);
  EXPECT_NE(animated.Outcome.Reason.find("animated pictures are not branded"), std::string::npos)
      << animated.Outcome.Reason;

  const test::TBrandRun huge = BrandBytes(HugeClaim(), "huge.webp");
  EXPECT_EQ(huge.Outcome.Kind, TOutcomeKind::Failed);
  EXPECT_NE(huge.Outcome.Reason.find("16383 x 16383"), std::string::npos) << huge.Outcome.Reason;

  const std::vector<std::byte> jpegBytes = {std::byte{0xFF}, std::byte{0xD8}, std::byte{0xFF}};
  const test::TBrandRun lying = BrandBytes(jpegBytes, "lying.webp");
  EXPECT_EQ(lying.Outcome.Kind, TOutcomeKind::Failed);
  EXPECT_NE(lying.Outcome.Reason.find("expected a WebP picture"), std::string::npos)
      << lying.Outcome.Reason;

  std::vector<std::byte> cut = EncodeWebp(Texture(kWidth, kHeight), kWidth, kHeight, false);
  cut.resize(cut.size() / 2);
  EXPECT_EQ(BrandBytes(cut, "cut.webp").Outcome.Kind, TOutcomeKind::Failed);
}

}  // namespace
}  // namespace sigilon
