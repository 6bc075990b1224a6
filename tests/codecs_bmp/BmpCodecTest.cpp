#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "tests/codecs_bmp/BmpTestSupport.h"

namespace sigilon {
namespace {

using test::BmpFile;
using test::IndexAt;
using test::MakePattern;
using test::PaletteColor;

std::uint32_t ReadU32(const std::vector<std::byte>& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::to_integer<std::uint32_t>(b[at + i]) << (8 * i);
  return v;
}

// Writes, reads back and writes again: the picture must survive unchanged and
// the second file must equal the first byte for byte.
void ExpectRoundTrip(const TBitmap& original) {
  const std::vector<std::byte> first = SaveBitmapToBytes(original);
  const TBitmap reread = LoadBitmapFromBytes(first, "first.bmp");
  test::ExpectSamePicture(original, reread);
  const std::vector<std::byte> second = SaveBitmapToBytes(reread);
  EXPECT_EQ(first, second);
}

TEST(BmpRoundTrip, EveryFormatAndOddWidthIsPixelExact) {
  const TPixelFormat formats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,
                                  TPixelFormat::pf8bit,  TPixelFormat::pf16bit,
                                  TPixelFormat::pf24bit, TPixelFormat::pf32bit};
  for (TPixelFormat f : formats) {
    for (int width : {1, 3, 7, 9, 33}) {
      SCOPED_TRACE(testing::Message() << "bits " << BitsPerPixel(f) << " width " << width);
      ExpectRoundTrip(MakePattern(f, width, 5));
    }
  }
}

TEST(BmpRoundTrip, ShortPalettesAndCustomMasksKeepTheirFormat) {
  ExpectRoundTrip(MakePattern(TPixelFormat::pf8bit, 10, 4, 3));
  ExpectRoundTrip(MakePattern(TPixelFormat::pf4bit, 10, 4, 5));
  ExpectRoundTrip(MakePattern(TPixelFormat::pf1bit, 10, 4, 1));

  TBitmap rgb565 = MakePattern(TPixelFormat::pf16bit, 6, 3);
  rgb565.Masks() = {0xF800, 0x07E0, 0x001F, 0};
  ExpectRoundTrip(rgb565);
  const auto file565 = SaveBitmapToBytes(rgb565);
  EXPECT_EQ(ReadU32(file565, 14), 40u) << "plain bit fields fit an info header";
  EXPECT_EQ(ReadU32(file565, 30), 3u) << "bit-field compression";

  TBitmap rgba = MakePattern(TPixelFormat::pf32bit, 6, 3);
  rgba.Masks() = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  ExpectRoundTrip(rgba);
  TBitmap rgba4444 = MakePattern(TPixelFormat::pf16bit, 6, 3);
  rgba4444.Masks() = {0x0F00, 0x00F0, 0x000F, 0xF000};
  ExpectRoundTrip(rgba4444);
}

TEST(BmpWrite, LayoutOfAPlainFile) {
  TBitmap bmp = MakePattern(TPixelFormat::pf24bit, 3, 2);
  const auto file = SaveBitmapToBytes(bmp);
  const std::size_t stride = 12;  // 9 pixel bytes padded to 4
  ASSERT_EQ(file.size(), 54u + 2 * stride);
  EXPECT_EQ(static_cast<char>(file[0]), 'B');
  EXPECT_EQ(static_cast<char>(file[1]), 'M');
  EXPECT_EQ(ReadU32(file, 2), file.size());
  EXPECT_EQ(ReadU32(file, 10), 54u);
  EXPECT_EQ(ReadU32(file, 14), 40u);
  EXPECT_EQ(ReadU32(file, 22), 2u) << "positive height: bottom-up";
  EXPECT_EQ(ReadU32(file, 30), 0u);
  EXPECT_EQ(ReadU32(file, 38), 2835u);
  // The bottom row comes first; padding is zero.
  for (std::size_t i = 0; i < 9; ++i)
    EXPECT_EQ(std::to_integer<std::uint8_t>(file[54 + i]), bmp.Row(1)[i]);
  for (std::size_t i = 9; i < 12; ++i) EXPECT_EQ(file[54 + i], std::byte{0});

  TBitmap pal = MakePattern(TPixelFormat::pf4bit, 3, 2, 5);
  const auto palFile = SaveBitmapToBytes(pal);
  EXPECT_EQ(ReadU32(palFile, 46), 5u) << "colours used";
  EXPECT_EQ(ReadU32(palFile, 10), 54u + 5 * 4);

  EXPECT_THROW(SaveBitmapToBytes(TBitmap()), ImageError);
}

// The same 8-bit picture under every header kind the reader accepts.
TEST(BmpRead, EveryHeaderKindGivesTheSamePicture) {
  const std::vector<std::uint8_t> pixels = {
      0, 1, 2, 0,  // bottom row, 3 pixels + padding
      3, 2, 1, 0,  // top row
  };
  std::vector<TRGBQuad> palette;
  for (std::size_t i = 0; i < 4; ++i) palette.push_back(PaletteColor(i));
  std::vector<TBitmap> decoded;
  for (std::uint32_t headerSize : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    BmpFile f;
    f.headerSize = headerSize;
    f.width = 3;
    f.height = 2;
    f.bitCount = 8;
    f.colorsUsed = 4;
    f.palette = palette;
    f.pixels = pixels;
    const TBitmap bmp = LoadBitmapFromBytes(f.Build(), "h.bmp");
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
  BmpFile f;
  f.width = 5;
  f.height = -4;
  for (int y = 0; y < 4; ++y) {
    const auto row = original.Row(y);
    f.pixels.insert(f.pixels.end(), row.begin(), row.end());
  }
  f.xPelsPerMeter = original.XPelsPerMeter;
  f.yPelsPerMeter = original.YPelsPerMeter;
  const TBitmap bmp = LoadBitmapFromBytes(f.Build(), "topdown.bmp");
  test::ExpectSamePicture(original, bmp);
  // Written back bottom-up, and still the same picture.
  const auto file = SaveBitmapToBytes(bmp);
  EXPECT_EQ(ReadU32(file, 22), 4u);
  test::ExpectSamePicture(original, LoadBitmapFromBytes(file, "again.bmp"));
}

TEST(BmpRead, BitFieldMasksFromEachPlace) {
  // 16-bit 5-6-5 after a 40-byte header; one pixel of pure green, one of red.
  BmpFile f565;
  f565.width = 2;
  f565.bitCount = 16;
  f565.compression = 3;
  f565.trailingMasks = {0xF800, 0x07E0, 0x001F};
  f565.pixels = {0xE0, 0x07, 0x00, 0xF8};
  const TBitmap a = LoadBitmapFromBytes(f565.Build(), "565.bmp");
  EXPECT_EQ(a.Masks(), (std::array<std::uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}));
  EXPECT_EQ(a.GetPixel(0, 0), (TRGBQuad{0, 255, 0, 0}));
  EXPECT_EQ(a.GetPixel(1, 0), (TRGBQuad{0, 0, 255, 0}));

  // 32-bit alpha bit fields after a 40-byte header (masks in A-B-G-R order here).
  BmpFile abf;
  abf.bitCount = 32;
  abf.compression = 6;
  abf.trailingMasks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
  abf.pixels = {0x10, 0x20, 0x30, 0x80};
  const TBitmap b = LoadBitmapFromBytes(abf.Build(), "abf.bmp");
  EXPECT_EQ(b.Masks()[3], 0xFF000000u);
  EXPECT_EQ(b.GetPixel(0, 0), (TRGBQuad{0x30, 0x20, 0x10, 0}));

  // V5 header carrying the masks itself, alpha included.
  BmpFile v5;
  v5.headerSize = 124;
  v5.bitCount = 16;
  v5.compression = 3;
  v5.headerMasks = {0x0F00, 0x00F0, 0x000F, 0xF000};
  v5.pixels = {0x0F, 0xF0};  // alpha and blue full
  const TBitmap c = LoadBitmapFromBytes(v5.Build(), "v5.bmp");
  EXPECT_EQ(c.Masks(), v5.headerMasks);
  EXPECT_EQ(c.GetPixel(0, 0), (TRGBQuad{255, 0, 0, 0}));
  ExpectRoundTrip(c);

  // Plain 32-bit data ignores whatever masks a V4 header holds.
  BmpFile plain;
  plain.headerSize = 108;
  plain.bitCount = 32;
  plain.headerMasks = {0xFF, 0xFF00, 0xFF0000, 0};
  plain.pixels = {1, 2, 3, 4};
  const TBitmap d = LoadBitmapFromBytes(plain.Build(), "plain.bmp");
  EXPECT_FALSE(d.HasCustomMasks());
  EXPECT_EQ(d.GetPixel(0, 0), (TRGBQuad{1, 2, 3, 0}));
}

TEST(BmpRead, ColourTableSizes) {
  // A table shorter than 2^bits is kept as it is; an index past it reads black.
  BmpFile shortTable;
  shortTable.width = 3;
  shortTable.bitCount = 8;
  shortTable.colorsUsed = 2;
  shortTable.palette = {PaletteColor(0), PaletteColor(1)};
  shortTable.pixels = {1, 0, 7, 0};
  const TBitmap a = LoadBitmapFromBytes(shortTable.Build(), "short.bmp");
  EXPECT_EQ(a.Palette().size(), 2u);
  EXPECT_EQ(a.GetPixel(0, 0), PaletteColor(1));
  EXPECT_EQ(a.GetPixel(2, 0), (TRGBQuad{0, 0, 0, 0}));
  EXPECT_EQ(IndexAt(a, 2, 0), 7u) << "out-of-table indexes survive as data";

  // A count beyond what the pixels can index or the file holds is cut, not trusted.
  BmpFile huge = shortTable;
  huge.bitCount = 1;
  huge.colorsUsed = 0x12345678;
  huge.pixels = {0x40, 0, 0, 0};
  const TBitmap b = LoadBitmapFromBytes(huge.Build(), "huge.bmp");
  EXPECT_EQ(b.Palette().size(), 2u);
  EXPECT_EQ(b.GetPixel(1, 0), PaletteColor(1));

  // An OS/2 core file whose table is shorter than 2^bits: the pixel offset decides.
  BmpFile core;
  core.headerSize = 12;
  core.width = 2;
  core.bitCount = 8;
  core.palette = {PaletteColor(0), PaletteColor(1), PaletteColor(2)};
  core.pixels = {2, 1, 0, 0};
  const TBitmap c = LoadBitmapFromBytes(core.Build(), "core.bmp");
  EXPECT_EQ(c.Palette().size(), 3u);
  EXPECT_EQ(c.GetPixel(0, 0), PaletteColor(2));

  // A palette format without any table is refused.
  BmpFile none = shortTable;
  none.colorsUsed = 0;
  none.palette.clear();
  EXPECT_THROW(LoadBitmapFromBytes(none.Build(), "none.bmp"), ImageError);
}

BmpFile RleFile(int bits, int width, int height, std::vector<std::uint8_t> stream) {
  BmpFile f;
  f.width = width;
  f.height = height;
  f.bitCount = static_cast<std::uint16_t>(bits);
  f.compression = bits == 8 ? 1 : 2;
  for (std::size_t i = 0; i < 6; ++i) f.palette.push_back(PaletteColor(i));
  f.colorsUsed = 6;
  f.pixels = std::move(stream);
  return f;
}

std::vector<std::vector<unsigned>> Indexes(const TBitmap& bmp) {
  std::vector<std::vector<unsigned>> rows(static_cast<std::size_t>(bmp.Height()));
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) rows[y].push_back(IndexAt(bmp, x, y));
  return rows;
}

TEST(BmpRle, Rle8RunsAbsoluteDeltaAndEndOfBitmap) {
  const BmpFile f = RleFile(8, 6, 3,
                            {
                                3, 1,              // run of three 1s
                                0, 3, 2, 3, 1, 0,  // absolute 2 3 1, padded to even
                                0, 0,              // end of line
                                2, 2,              // run of two 2s
                                0, 2, 2, 1,        // delta: 2 right, 1 up
                                1, 3,              // one 3
                                0, 1,              // end of bitmap
                                5, 1,              // after the end: ignored
                            });
  const TBitmap bmp = LoadBitmapFromBytes(f.Build(), "rle8.bmp");
  ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
  const std::vector<std::vector<unsigned>> expected = {
      {0, 0, 0, 0, 3, 0},  // top: only the pixel after the delta
      {2, 2, 0, 0, 0, 0},  // skipped pixels are index 0
      {1, 1, 1, 2, 3, 1},  // bottom: the first line of the stream
  };
  EXPECT_EQ(Indexes(bmp), expected);

  // Written back uncompressed in the same 8-bit format.
  const auto file = SaveBitmapToBytes(bmp);
  EXPECT_EQ(ReadU32(file, 30), 0u);
  test::ExpectSamePicture(bmp, LoadBitmapFromBytes(file, "out.bmp"));
}

TEST(BmpRle, Rle4NibblesAndPaddedAbsoluteRuns) {
  const BmpFile f = RleFile(4, 5, 3,
                            {
                                5, 0x12,                    // 1 2 1 2 1
                                0, 0,                       // end of line
                                0, 5, 0x34, 0x51, 0x20, 0,  // absolute 3 4 5 1 2, 3 bytes + pad
                                0, 0,                       // end of line
                                0, 3, 0x53, 0x40,           // absolute 5 3 4, 2 bytes
                                                            // stream ends without an end-of-bitmap
                            });
  const TBitmap bmp = LoadBitmapFromBytes(f.Build(), "rle4.bmp");
  ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf4bit);
  const std::vector<std::vector<unsigned>> expected = {
      {5, 3, 4, 0, 0},
      {3, 4, 5, 1, 2},
      {1, 2, 1, 2, 1},
  };
  EXPECT_EQ(Indexes(bmp), expected);
  ExpectRoundTrip(bmp);
}

TEST(BmpRle, LyingStreamsAreClippedAndCutShort) {
  // Runs past the right edge are dropped, a delta past the top ends decoding.
  const BmpFile overlong = RleFile(8, 2, 2, {255, 4, 0, 0, 0, 2, 5, 5, 1, 1});
  EXPECT_EQ(Indexes(LoadBitmapFromBytes(overlong.Build(), "a.bmp")),
            (std::vector<std::vector<unsigned>>{{0, 0}, {4, 4}}));

  // An absolute run that promises more bytes than remain stops at the end.
  const BmpFile cut = RleFile(8, 4, 1, {0, 8, 1, 2});
  EXPECT_EQ(Indexes(LoadBitmapFromBytes(cut.Build(), "b.bmp")),
            (std::vector<std::vector<unsigned>>{{1, 2, 0, 0}}));

  // A dangling delta and an odd trailing byte are harmless.
  const BmpFile dangling = RleFile(4, 3, 1, {2, 0x55, 0, 2, 1});
  EXPECT_EQ(Indexes(LoadBitmapFromBytes(dangling.Build(), "c.bmp")),
            (std::vector<std::vector<unsigned>>{{5, 5, 0}}));

  // An empty stream leaves the whole picture at index 0.
  const BmpFile empty = RleFile(8, 3, 2, {});
  EXPECT_EQ(Indexes(LoadBitmapFromBytes(empty.Build(), "d.bmp")),
            (std::vector<std::vector<unsigned>>{{0, 0, 0}, {0, 0, 0}}));
}

// Each case breaks one thing in an otherwise valid file.
TEST(BmpReject, MalformedHeadersFailWithTheFileName) {
  BmpFile good;
  good.width = 2;
  good.height = 2;
  good.pixels.assign(16, 0x55);
  ASSERT_NO_THROW(LoadBitmapFromBytes(good.Build(), "good.bmp"));

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
    try {
      LoadBitmapFromBytes(f.Build(), "broken.bmp");
      ADD_FAILURE() << "decoded";
    } catch (const ImageError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("broken.bmp: ", 0), 0u) << e.what();
    }
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
    BmpFile f;
    f.bitCount = 16;
    f.compression = 3;
    f.trailingMasks = masks;
    f.pixels = {0, 0, 0, 0};
    EXPECT_THROW(LoadBitmapFromBytes(f.Build(), "m.bmp"), ImageError) << masks[0];
  }
}

TEST(BmpReject, EveryTruncationFailsCleanlyExceptMissingFinalPadding) {
  BmpFile f;
  f.width = 3;  // 9 pixel bytes, padded to 12
  f.height = 2;
  f.pixels.assign(24, 0x5A);
  const auto whole = f.Build();
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

  // 60,000 x 60,000 is far over the pixel bound.
  BmpFile giant;
  giant.width = 60000;
  giant.height = 60000;
  try {
    LoadBitmapFromBytes(giant.Build(), "giant.bmp");
    ADD_FAILURE() << "decoded";
  } catch (const ImageError& e) {
    EXPECT_NE(std::string(e.what()).find("exceeds"), std::string::npos) << e.what();
  }

  // Exactly at the bound but with no pixel data behind it: refused before the
  // 256 MiB picture is allocated.
  BmpFile atBound;
  atBound.width = 16384;
  atBound.height = -16384;
  atBound.bitCount = 8;
  atBound.palette = {PaletteColor(0)};
  atBound.colorsUsed = 1;
  atBound.pixels.assign(64, 1);
  try {
    LoadBitmapFromBytes(atBound.Build(), "bound.bmp");
    ADD_FAILURE() << "decoded";
  } catch (const ImageError& e) {
    EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
  }

  // Sizes whose product overflows 32 bits.
  BmpFile wrap = giant;
  wrap.width = 65536;
  wrap.height = 65537;
  EXPECT_THROW(LoadBitmapFromBytes(wrap.Build(), "wrap.bmp"), ImageError);

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_LT(PeakResidentKiB() - before, 32 * 1024) << "KiB of peak memory gained";
}

}  // namespace
}  // namespace sigilon
