// Band-wise decoding and encoding give exactly what the whole-picture calls
// give, whatever the band heights and however the input arrives.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "JpegTestSupport.h"
#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"
#include "tests/support/Corpora.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

// Hands out `data` in pieces of at most `chunk` bytes.
TByteSource ChunkedSource(std::span<const std::byte> data, std::size_t chunk) {
  return [data, chunk, offset = std::size_t{0}](std::span<std::byte> buffer) mutable {
    const std::size_t n = std::min({chunk, buffer.size(), data.size() - offset});
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
    offset += n;
    return n;
  };
}

// Decodes in bands of `rows` and pastes them together.
TBitmap DecodeInBands(TJpegBandDecoder& decoder, int rows) {
  TBitmap whole = decoder.NewBand(decoder.Height());
  TBitmap band = decoder.NewBand(rows);
  while (decoder.NextRow() < decoder.Height()) {
    const int top = decoder.NextRow();
    const int got = decoder.ReadBand(band);
    EXPECT_GT(got, 0);
    for (int y = 0; y < got; ++y) std::ranges::copy(band.Row(y), whole.Row(top + y).begin());
  }
  decoder.Finish();
  return whole;
}

std::vector<std::byte> EncodeInBands(const TBitmap& picture, int rows) {
  std::vector<std::byte> out;
  TJpegBandEncoder encoder(
      picture.Width(), picture.Height(), 100, "bands",
      [&](std::span<const std::byte> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); });
  for (int top = 0; top < picture.Height(); top += rows) {
    const int n = std::min(rows, picture.Height() - top);
    TBitmap band(picture.Width(), n, picture.PixelFormat());
    band.Palette() = picture.Palette();
    for (int y = 0; y < n; ++y) std::ranges::copy(picture.Row(top + y), band.Row(y).begin());
    encoder.WriteBand(band, n);
  }
  encoder.Finish();
  return out;
}

// Makes the blocks of every band of `rows` (whole row groups) last band
// first, as threads may, and only then encodes them in picture order.
std::vector<std::byte> EncodeInBlocks(const TBitmap& picture, int rows) {
  std::vector<std::byte> out;
  TJpegBandEncoder encoder(
      picture.Width(), picture.Height(), 100, "blocks",
      [&](std::span<const std::byte> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); },
      {}, TJpegBandEncoder::TInput::Blocks);
  std::vector<TJpegBlocks> bands((picture.Height() + rows - 1) / rows);
  for (int i = static_cast<int>(bands.size()) - 1; i >= 0; --i) {
    const int top = i * rows;
    encoder.MakeBlocks(picture, top, std::min(rows, picture.Height() - top), top, bands[i]);
  }
  for (const TJpegBlocks& band : bands) encoder.WriteBlocks(band);
  encoder.Finish();
  return out;
}

void ExpectSamePicture(const TBitmap& a, const TBitmap& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  EXPECT_EQ(a.PixelFormat(), b.PixelFormat());
  EXPECT_EQ(a.Palette(), b.Palette());
  EXPECT_TRUE(std::ranges::equal(a.Pixels(), b.Pixels()));
}

TEST(JpegBands, CorpusDecodesAndEncodesAlikeInBands) {
  const fs::path corpus = fs::path(SIGILON_CORPORA_DIR) / "jpeg";
  SIGILON_REQUIRE_CORPUS(corpus);
  int compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".jpg") continue;
    SCOPED_TRACE(entry.path().string());
    const std::vector<std::byte> data = ReadWholeFile(entry.path().string());
    for (const bool toPalette : {false, true}) {
      const TJpegDecodeOptions options{.ToPalette = toPalette};
      TBitmap whole;
      try {
        whole = DecodeJpeg(data, "whole", options);
      } catch (const ImageError&) {
        // The same file fails streamed too, with the same message number.
        EXPECT_THROW(
            {
              TJpegBandDecoder decoder(ChunkedSource(data, 4093), data.size(), "whole", options);
              DecodeInBands(decoder, 16);
            },
            ImageError);
        continue;
      }
      if (!toPalette) {
        TJpegBandDecoder fromMemory(data, "memory", options);
        ExpectSamePicture(DecodeInBands(fromMemory, 1), whole);
      }
      TJpegBandDecoder chunked(ChunkedSource(data, 4093), data.size(), "chunked", options);
      ExpectSamePicture(DecodeInBands(chunked, 13), whole);
      if (!toPalette) {
        const std::vector<std::byte> expected = EncodeJpeg(whole, 100, "whole");
        EXPECT_EQ(EncodeInBands(whole, 7), expected);
        EXPECT_EQ(EncodeInBlocks(whole, 32), expected);
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 75);
}

TEST(JpegBands, PaletteBandsEncodeAsTheWholePicture) {
  const auto file = test::EncodeSamples(37, 29, test::GradientRgb(37, 29), {});
  const TBitmap quantised = DecodeJpeg(file, "q", {.ToPalette = true});
  ASSERT_EQ(quantised.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(EncodeInBands(quantised, 16), EncodeJpeg(quantised, 100, "q"));
  EXPECT_EQ(EncodeInBlocks(quantised, 16), EncodeJpeg(quantised, 100, "q"));
}

// Blocks of a band equal the whole picture's only from the start of a row
// group, and the entropy coding must take them in order.
TEST(JpegBands, BlocksAreRefusedOffTheRowGroupsOrOutOfOrder) {
  const TBitmap picture =
      DecodeJpeg(test::EncodeSamples(40, 40, test::GradientRgb(40, 40), {}), "p");
  const auto discard = [](std::span<const std::byte>) {};
  TJpegBandEncoder encoder(40, 40, 100, "blocks.jpg", discard, {},
                           TJpegBandEncoder::TInput::Blocks);
  ASSERT_EQ(encoder.RowGroup(), 16);
  TJpegBlocks blocks;
  EXPECT_THROW(encoder.MakeBlocks(picture, 8, 16, 8, blocks), ImageError);  // off a group
  EXPECT_THROW(encoder.MakeBlocks(picture, 0, 8, 0, blocks), ImageError);   // part of one
  EXPECT_THROW(encoder.MakeBlocks(picture, 0, 48, 0, blocks), ImageError);  // beyond the band
  EXPECT_THROW(encoder.WriteRows(picture, 0, 16), ImageError);              // rows, not blocks
  encoder.MakeBlocks(picture, 16, 24, 16, blocks);        // a partial group may end the picture
  EXPECT_THROW(encoder.WriteBlocks(blocks), ImageError);  // rows 0-15 first

  TJpegBandEncoder rows(40, 40, 100, "rows.jpg", discard);
  EXPECT_THROW(rows.WriteBlocks(blocks), ImageError);
}

// A reader's or writer's failure, counting the live copies of itself.
struct TCountedFailure {
  static inline int Live = 0;
  TCountedFailure() { ++Live; }
  TCountedFailure(const TCountedFailure&) { ++Live; }
  ~TCountedFailure() { --Live; }
};

TEST(JpegBands, FailuresOfSourceAndSinkReachTheCallerUnchangedAndEndThere) {
  const auto file = test::EncodeSamples(64, 64, test::GradientRgb(64, 64), {});
  const TBitmap picture = DecodeJpeg(file, "p");
  // Each stops libjpeg from inside a callback: the source after the header,
  // mid-picture; the sink at its first bytes, rows or blocks.
  const std::vector<std::function<void()>> failing = {
      [&] {
        std::size_t served = 0;
        TJpegBandDecoder decoder(
            [&](std::span<std::byte> buffer) -> std::size_t {
              if (served >= 700) throw TCountedFailure();
              const std::size_t n = std::min<std::size_t>(100, file.size() - served);
              std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(served), n, buffer.begin());
              served += n;
              return n;
            },
            file.size(), "source.jpg");
        TBitmap band = decoder.NewBand(64);
        decoder.ReadBand(band);
      },
      [&] {
        TJpegBandEncoder encoder(64, 64, 100, "target.jpg",
                                 [](std::span<const std::byte>) { throw TCountedFailure(); });
        encoder.WriteBand(picture, 64);
        encoder.Finish();
      },
      [&] {
        TJpegBandEncoder encoder(
            64, 64, 100, "target.jpg", [](std::span<const std::byte>) { throw TCountedFailure(); },
            {}, TJpegBandEncoder::TInput::Blocks);
        TJpegBlocks blocks;
        encoder.MakeBlocks(picture, 0, 64, 0, blocks);
        encoder.WriteBlocks(blocks);
        encoder.Finish();
      },
  };
  for (std::size_t i = 0; i < failing.size(); ++i) {
    SCOPED_TRACE(i);
    // Many times, as a full disk fails every remaining file of a run.
    for (int round = 0; round < 20; ++round) {
      EXPECT_THROW(failing[i](), TCountedFailure);
      // Once its handler has ended, nothing may hold the failure any more.
      ASSERT_EQ(TCountedFailure::Live, 0) << "round " << round;
    }
  }

  // An empty stream is no JPEG.
  EXPECT_THROW(
      TJpegBandDecoder([](std::span<std::byte>) { return std::size_t{0}; }, 0, "empty.jpg"),
      ImageError);
}

// Scaled decoding in bands, also of a progressive file, gives the scaled
// picture row for row.
TEST(JpegBands, ScaledBandsAreTheScaledPicture) {
  for (const bool progressive : {false, true}) {
    const auto file =
        test::EncodeSamples(90, 70, test::GradientRgb(90, 70), {.Progressive = progressive});
    for (const int d : {2, 4, 8}) {
      SCOPED_TRACE(testing::Message() << progressive << " 1/" << d);
      const TJpegDecodeOptions options{.ScaleDenominator = d};
      TJpegBandDecoder decoder(ChunkedSource(file, 512), file.size(), "scaled", options);
      ExpectSamePicture(DecodeInBands(decoder, 3), DecodeJpeg(file, "scaled", options));
    }
  }
}

}  // namespace
}  // namespace sigilon
