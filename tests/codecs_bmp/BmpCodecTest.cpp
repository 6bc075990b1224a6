#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "tests/codecs_bmp/BmpTestSupport.h"
#include "tests/support/Throws.h"

namespace sigilon {
namespace {

using test::BmpFile;
using test::ExpectRoundTrip;
using test::IndexAt;
using test::MakePattern;
using test::PaletteColor;
using Masks = std::array<std::uint32_t, 4>;
using Indexes = std::vector<std::vector<unsigned>>;

std::uint32_t ReadU32(const std::vector<std::byte>& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::to_integer<std::uint32_t>(b[at + i]) << (8 * i);
  return v;
}

TBitmap Load(const BmpFile& file) { return LoadBitmapFromBytes(file.Build(), "test.bmp"); }

TEST(BmpRoundTrip, EveryFormatAndOddWidthIsPixelExact) {
  for (TPixelFormat f : test::kAllFormats) {
    for (int width : {1, 3, 7, 9, 33}) {
      SCOPED_TRACE(testing::Message() << "bits " << BitsPerPixel(f) << " width " << width);
      ExpectRoundTrip(MakePattern(f, width, 5));
    }
  }
}

TEST(BmpRoundTrip, ShortPalettesAndCustomMasksKeepTheirFormat) {
  for (auto [format, entries] :
       {std::pair{TPixelFormat::pf8bit, 3}, {TPixelFormat::pf4bit, 5}, {TPixelFormat::pf1bit, 1}}) {
    ExpectRoundTrip(MakePattern(format, 10, 4, entries));
  }
  for (auto [format, masks] : {std::pair{TPixelFormat::pf16bit, Masks{0xF800, 0x07E0, 0x001F, 0}},
                               {TPixelFormat::pf32bit, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                               {TPixelFormat::pf16bit, {0x0F00, 0x00F0, 0x000F, 0xF000}}}) {
    SCOPED_TRACE(masks[0]);
    TBitmap bmp = MakePattern(format, 6, 3);
    bmp.Masks() = masks;
    ExpectRoundTrip(bmp);
    if (masks[3] == 0) {
      const auto file = SaveBitmapToBytes(bmp);
      EXPECT_EQ(ReadU32(file, 14), 40u) << "plain bit fields fit an info header";
      EXPECT_EQ(ReadU32(file, 30), 3u) << "bit-field compression";
    }
  }
}

TEST(BmpWrite, LayoutOfAPlainFile) {
  TBitmap bmp = MakePattern(TPixelFormat::pf24bit, 3, 2);
  const auto file = SaveBitmapToBytes(bmp);
  const std::size_t stride = 12;  // 9 pixel bytes padded to 4
  ASSERT_EQ(file.size(), 54u + 2 * stride);
  EXPECT_EQ(ReadU32(file, 0) & 0xFFFF, 'B' | ('M' << 8));
  EXPECT_EQ(ReadU32(file, 2), file.size());
  EXPECT_EQ(ReadU32(file, 10), 54u);
  EXPECT_EQ(ReadU32(file, 14), 40u);
  EXPECT_EQ(ReadU32(file, 22), 2u) << "positive height: bottom-up";
  EXPECT_EQ(ReadU32(file, 30), 0u);
  EXPECT_EQ(ReadU32(file, 38), 2835u);
  // The bottom row comes first; padding is zero.
  for (std::size_t i = 0; i < stride; ++i)
    EXPECT_EQ(std::to_integer<std::uint8_t>(file[54 + i]), i < 9 ? bmp.Row(1)[i] : 0) << i;

  const auto palFile = SaveBitmapToBytes(MakePattern(TPixelFormat::pf4bit, 3, 2, 5));
  EXPECT_EQ(ReadU32(palFile, 46), 5u) << "colours used";
  EXPECT_EQ(ReadU32(palFile, 10), 54u + 5 * 4);

  EXPECT_THROW(SaveBitmapToBytes(TBitmap()), ImageError);
}

// The same 8-bit picture under every header kind the reader accepts.
TEST(BmpRead, EveryHeaderKindGivesTheSamePicture) {
  const std::vector<TRGBQuad> palette = {PaletteColor(0), PaletteColor(1), PaletteColor(2),
                                         PaletteColor(3)};
  for (std::uint32_t headerSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    const TBitmap bmp = Load({.headerSize = headerSize,
                              .width = 3,
                              .height = 2,
                              .bitCount = 8,
                              .colorsUsed = 4,
                              .palette = palette,
                              .pixels = {0, 1, 2, 0,     // bottom row, 3 pixels + padding
                                         3, 2, 1, 0}});  // top row
    ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(bmp.Palette(), palette);
    EXPECT_EQ(IndexAt(bmp, 0, 0), 3u);
    EXPECT_EQ(IndexAt(bmp, 2, 0), 1u);
    EXPECT_EQ(IndexAt(bmp, 1, 1), 1u);
    EXPECT_EQ(bmp.GetPixel(2, 1), PaletteColor(2));
  }
}

TEST(BmpRead, TopDownRowsMatchBottomUp) {
  const TBitmap original = MakePattern(TPixelFormat::pf24bit, 5, 4);
  BmpFile f{.width = 5,
            .height = -4,
            .xPelsPerMeter = original.XPelsPerMeter,
            .yPelsPerMeter = original.YPelsPerMeter};
  for (int y = 0; y < 4; ++y) {
    const auto row = original.Row(y);
    f.pixels.insert(f.pixels.end(), row.begin(), row.end());
  }
  const TBitmap bmp = Load(f);
  test::ExpectSamePicture(original, bmp);
  // Written back bottom-up, and still the same picture.
  const auto file = SaveBitmapToBytes(bmp);
  EXPECT_EQ(ReadU32(file, 22), 4u);
  test::ExpectSamePicture(original, LoadBitmapFromBytes(file, "again.bmp"));
}

// A one-row bit-field file: the masks follow a 40-byte header or sit inside a larger one.
BmpFile MaskFile(std::uint32_t headerSize, std::uint16_t bits, std::uint32_t compression,
                 const std::vector<std::uint32_t>& masks, std::vector<std::uint8_t> pixels) {
  BmpFile f{.headerSize = headerSize,
            .width = static_cast<std::int32_t>(pixels.size() * 8 / bits),
            .bitCount = bits,
            .compression = compression,
            .pixels = std::move(pixels)};
  if (headerSize == 40) {
    f.trailingMasks = masks;
  } else {
    std::copy(masks.begin(), masks.end(), f.headerMasks.begin());
  }
  return f;
}

TEST(BmpRead, BitFieldMasksFromEachPlace) {
  struct Case {
    const char* what;
    BmpFile file;
    Masks masks;  // all zero: plain data, no custom masks
    TRGBQuad firstPixel;
  };
  const Case cases[] = {
      {"5-6-5 after a 40-byte header: pure green, then red",
       MaskFile(40, 16, 3, {0xF800, 0x07E0, 0x001F}, {0xE0, 0x07, 0x00, 0xF8}),
       {0xF800, 0x07E0, 0x001F, 0},
       {0, 255, 0, 0}},
      {"32-bit alpha bit fields after a 40-byte header, masks in A-B-G-R order",
       MaskFile(40, 32, 6, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {0x10, 0x20, 0x30, 0x80}),
       {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
       {0x30, 0x20, 0x10, 0}},
      {"V5 header carrying the masks itself, alpha included; alpha and blue full",
       MaskFile(124, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0x0F, 0xF0}),
       {0x0F00, 0x00F0, 0x000F, 0xF000},
       {255, 0, 0, 0}},
      {"plain 32-bit data ignores whatever masks a V4 header holds",
       MaskFile(108, 32, 0, {0xFF, 0xFF00, 0xFF0000, 0}, {1, 2, 3, 4}),
       {},
       {1, 2, 3, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TBitmap bmp = Load(c.file);
    if (c.masks == Masks{}) {
      EXPECT_FALSE(bmp.HasCustomMasks());
    } else {
      EXPECT_EQ(bmp.Masks(), c.masks);
    }
    EXPECT_EQ(bmp.GetPixel(0, 0), c.firstPixel);
    ExpectRoundTrip(bmp);
  }
  EXPECT_EQ(Load(cases[0].file).GetPixel(1, 0), (TRGBQuad{0, 0, 255, 0}));
}

TEST(BmpRead, ColourTableSizes) {
  // A table shorter than 2^bits is kept as it is; an index past it reads black.
  const BmpFile shortTable{.width = 3,
                           .bitCount = 8,
                           .colorsUsed = 2,
                           .palette = {PaletteColor(0), PaletteColor(1)},
                           .pixels = {1, 0, 7, 0}};
  const TBitmap a = Load(shortTable);
  EXPECT_EQ(a.Palette().size(), 2u);
  EXPECT_EQ(a.GetPixel(0, 0), PaletteColor(1));
  EXPECT_EQ(a.GetPixel(2, 0), (TRGBQuad{0, 0, 0, 0}));
  EXPECT_EQ(IndexAt(a, 2, 0), 7u) << "out-of-table indexes survive as data";

  // A count beyond what the pixels can index or the file holds is cut, not trusted.
  BmpFile huge = shortTable;
  huge.bitCount = 1;
  huge.colorsUsed = 0x12345678;
  huge.pixels = {0x40, 0, 0, 0};
  const TBitmap b = Load(huge);
  EXPECT_EQ(b.Palette().size(), 2u);
  EXPECT_EQ(b.GetPixel(1, 0), PaletteColor(1));

  // An OS/2 core file whose table is shorter than 2^bits: the pixel offset decides.
  const TBitmap c = Load({.headerSize = 12,
                          .width = 2,
                          .bitCount = 8,
                          .palette = {PaletteColor(0), PaletteColor(1), PaletteColor(2)},
                          .pixels = {2, 1, 0, 0}});
  EXPECT_EQ(c.Palette().size(), 3u);
  EXPECT_EQ(c.GetPixel(0, 0), PaletteColor(2));

  // A palette format without any table is refused.
  BmpFile none = shortTable;
  none.colorsUsed = 0;
  none.palette.clear();
  EXPECT_THROW(Load(none), ImageError);
}

Indexes IndexesOf(const TBitmap& bmp) {
  Indexes rows(static_cast<std::size_t>(bmp.Height()));
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) rows[y].push_back(IndexAt(bmp, x, y));
  return rows;
}

// Each stream decodes to the given indexes (top row first) and is written back
// uncompressed in the same palette format.
TEST(BmpRle, StreamsDecodeToTheirIndexes) {
  struct Case {
    const char* what;
    struct {
      int bits, width, height;
    } shape;
    std::vector<std::uint8_t> stream;
    Indexes expected;
  };
  const Case cases[] = {
      {"rle8 runs, absolute, delta and end of bitmap",
       {8, 6, 3},
       {
           3, 1,              // run of three 1s
           0, 3, 2, 3, 1, 0,  // absolute 2 3 1, padded to even
           0, 0,              // end of line
           2, 2,              // run of two 2s
           0, 2, 2, 1,        // delta: 2 right, 1 up
           1, 3,              // one 3
           0, 1,              // end of bitmap
           5, 1,              // after the end: ignored
       },
       {
           {0, 0, 0, 0, 3, 0},  // top: only the pixel after the delta
           {2, 2, 0, 0, 0, 0},  // skipped pixels are index 0
           {1, 1, 1, 2, 3, 1},  // bottom: the first line of the stream
       }},
      {"rle4 nibbles and padded absolute runs",
       {4, 5, 3},
       {
           5, 0x12,                    // 1 2 1 2 1
           0, 0,                       // end of line
           0, 5, 0x34, 0x51, 0x20, 0,  // absolute 3 4 5 1 2, 3 bytes + pad
           0, 0,                       // end of line
           0, 3, 0x53, 0x40,           // absolute 5 3 4, 2 bytes
                                       // stream ends without an end-of-bitmap
       },
       {{5, 3, 4, 0, 0}, {3, 4, 5, 1, 2}, {1, 2, 1, 2, 1}}},
      // Runs past the right edge are dropped, a delta past the top ends decoding.
      {"overlong run", {8, 2, 2}, {255, 4, 0, 0, 0, 2, 5, 5, 1, 1}, {{0, 0}, {4, 4}}},
      {"absolute run promising more bytes than remain", {8, 4, 1}, {0, 8, 1, 2}, {{1, 2, 0, 0}}},
      {"dangling delta and odd trailing byte", {4, 3, 1}, {2, 0x55, 0, 2, 1}, {{5, 5, 0}}},
      {"empty stream", {8, 3, 2}, {}, {{0, 0, 0}, {0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int bits = c.shape.bits;
    BmpFile f{.width = c.shape.width,
              .height = c.shape.height,
              .bitCount = static_cast<std::uint16_t>(bits),
              .compression = bits == 8 ? 1u : 2u,
              .colorsUsed = 6,
              .pixels = c.stream};
    for (std::size_t i = 0; i < 6; ++i) f.palette.push_back(PaletteColor(i));
    const TBitmap bmp = Load(f);
    ASSERT_EQ(bmp.BitsPerPixel(), bits);
    EXPECT_EQ(IndexesOf(bmp), c.expected);
    EXPECT_EQ(ReadU32(SaveBitmapToBytes(bmp), 30), 0u);
    ExpectRoundTrip(bmp);
  }
}

TEST(BmpRle, FlatPictureInFullRunsPassesThePixelsPerByteGate) {
  // The tightest plain RLE8 coding: runs of 255 and an end of line per row,
  // about 125 pixels per byte.
  const int width = 16000, height = 64;
  std::vector<std::uint8_t> stream;
  for (int y = 0; y < height; ++y) {
    for (int left = width; left > 0; left -= 255) {
      stream.insert(stream.end(), {static_cast<std::uint8_t>(std::min(left, 255)), 1});
    }
    stream.insert(stream.end(), {0, 0});
  }
  const BmpFile flat{.width = width,
                     .height = height,
                     .bitCount = 8,
                     .compression = 1,
                     .colorsUsed = 2,
                     .palette = {PaletteColor(0), PaletteColor(1)},
                     .pixels = stream};
  const TBitmap bmp = Load(flat);
  EXPECT_EQ(IndexAt(bmp, width - 1, height - 1), 1u);
}

// Each case breaks one thing in an otherwise valid file.
TEST(BmpReject, MalformedHeadersFailWithTheFileName) {
  const BmpFile good{.width = 2, .height = 2, .pixels = std::vector<std::uint8_t>(16, 0x55)};
  ASSERT_NO_THROW(Load(good));

  const std::vector<std::pair<std::string, std::function<void(BmpFile&)>>> cases = {
      {"signature", [](BmpFile& f) { f.signature = "XY"; }},
      {"bitmap array", [](BmpFile& f) { f.signature = "BA"; }},
      {"header size 66", [](BmpFile& f) { f.headerSize = 66; }},
      {"header size 0", [](BmpFile& f) { f.headerSize = 0; }},
      {"2 bits", [](BmpFile& f) { f.bitCount = 2; }},
      {"64 bits", [](BmpFile& f) { f.bitCount = 64; }},
      {"0 bits", [](BmpFile& f) { f.bitCount = 0; }},
      {"jpeg", [](BmpFile& f) { f.compression = 4; }},
      {"png", [](BmpFile& f) { f.compression = 5; }},
      {"unknown compression", [](BmpFile& f) { f.compression = 11; }},
      {"rle8 at 24 bits", [](BmpFile& f) { f.compression = 1; }},
      {"rle4 at 24 bits", [](BmpFile& f) { f.compression = 2; }},
      {"bit fields at 24 bits",
       [](BmpFile& f) {
         f.compression = 3;
         f.trailingMasks = {0xFF0000, 0xFF00, 0xFF};
       }},
      {"os2 huffman",
       [](BmpFile& f) {
         f.headerSize = 64;
         f.bitCount = 1;
         f.compression = 3;
         f.palette = {PaletteColor(0), PaletteColor(1)};
       }},
      {"os2 rle24",
       [](BmpFile& f) {
         f.headerSize = 64;
         f.compression = 4;
       }},
      {"zero width", [](BmpFile& f) { f.width = 0; }},
      {"negative width", [](BmpFile& f) { f.width = -2; }},
      {"zero height", [](BmpFile& f) { f.height = 0; }},
      {"lowest height", [](BmpFile& f) { f.height = INT32_MIN; }},
      {"offset past the end", [](BmpFile& f) { f.offsetField = 100000; }},
      {"offset inside the header", [](BmpFile& f) { f.offsetField = 20; }},
      {"pixels cut short", [](BmpFile& f) { f.pixels.resize(10); }},
  };
  for (const auto& [what, breakIt] : cases) {
    SCOPED_TRACE(what);
    BmpFile f = good;
    breakIt(f);
    const std::string message =
        test::ThrownMessage<ImageError>([&] { LoadBitmapFromBytes(f.Build(), "broken.bmp"); });
    EXPECT_EQ(message.rfind("broken.bmp: ", 0), 0u) << message;
  }
}

TEST(BmpReject, MasksThatWouldMixChannels) {
  const std::vector<std::vector<std::uint32_t>> bad = {
      {0xF0F0, 0x0100, 0x0001},    // not one run of bits
      {0xFF00, 0x0FF0, 0x000F},    // overlapping
      {0x1F0000, 0x03E0, 0x001F},  // beyond 16 bits
      {0, 0, 0},                   // no colour at all
  };
  for (const auto& masks : bad) {
    EXPECT_THROW(Load(MaskFile(40, 16, 3, masks, {0, 0, 0, 0})), ImageError) << masks[0];
  }
}

TEST(BmpReject, EveryTruncationFailsCleanlyExceptMissingFinalPadding) {
  // 9 pixel bytes a row, padded to 12.
  const auto whole =
      BmpFile{.width = 3, .height = 2, .pixels = std::vector<std::uint8_t>(24, 0x5A)}.Build();
  for (std::size_t size = 0; size < whole.size(); ++size) {
    const std::span<const std::byte> part(whole.data(), size);
    if (size >= whole.size() - 3) {
      const TBitmap bmp = LoadBitmapFromBytes(part, "cut.bmp");
      EXPECT_EQ(bmp.GetPixel(2, 0), (TRGBQuad{0x5A, 0x5A, 0x5A, 0}));
    } else {
      EXPECT_THROW(LoadBitmapFromBytes(part, "cut.bmp"), ImageError) << size;
    }
  }
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(BmpReject, OversizedHeadersFailAtOnceWithoutAllocating) {
  const long before = PeakResidentKiB();
  const auto start = std::chrono::steady_clock::now();
  const auto failure = [](const BmpFile& f) {
    return test::ThrownMessage<ImageError>([&] { Load(f); });
  };
  // 60,000 x 60,000 is far over the pixel bound.
  EXPECT_PRED2(test::Contains, failure({.width = 60000, .height = 60000}), "exceeds");
  // Exactly at the bound but with no pixel data behind it: refused before the
  // 256 MiB picture is allocated, as is the same claim in 60 bytes of RLE.
  EXPECT_PRED2(test::Contains,
               failure({.width = 16384,
                        .height = -16384,
                        .bitCount = 8,
                        .colorsUsed = 1,
                        .palette = {PaletteColor(0)},
                        .pixels = std::vector<std::uint8_t>(64, 1)}),
               "pixels per byte");
  EXPECT_PRED2(test::Contains,
               failure({.width = 16384,
                        .height = 16384,
                        .bitCount = 8,
                        .compression = 1,
                        .colorsUsed = 1,
                        .palette = {PaletteColor(0)},
                        .pixels = {0, 1}}),
               "pixels per byte");
  // Sizes whose product overflows 32 bits.
  EXPECT_THROW(Load({.width = 65536, .height = 65537}), ImageError);

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_LT(PeakResidentKiB() - before, 32 * 1024) << "KiB of peak memory gained";
}

}  // namespace
}  // namespace sigilon
