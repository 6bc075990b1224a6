// Where and how the tiled brand text lands on a picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <latch>
#include <map>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "tests/support/PixelCount.h"

namespace sigilon {
namespace {

using test::CountPixels;

constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clRed = 0x000000FF;
constexpr TRGBQuad kWhite{255, 255, 255, 0};
constexpr TRGBQuad kGray{128, 128, 128, 0};
const std::string kFullBlock = "\xE2\x96\x88";  // fills the whole cell
const std::string kCopyright = "\xC2\xA9 Studio";

void Fill(TBitmap& bitmap, TRGBQuad color) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) bitmap.SetPixel(x, y, color);
  }
}

// `escapement` in tenths of a degree; the stamp turns its font by 450 itself.
TFont MakeFont(int height, TColor color, TFontStyles style = 0, int escapement = 0) {
  TFont font;
  font.SetName("DejaVu Sans");
  font.SetHeight(height);
  font.Color = color;
  font.SetStyle(style);
  TLogFont log = font.LogFont();
  log.Escapement = log.Orientation = escapement;
  font.SetLogFont(log);
  return font;
}

// A canvas with a clear brush over a scratch bitmap, for measuring and
// rendering.
struct Scratch {
  explicit Scratch(const TFont& font) {
    canvas.Font = font;
    canvas.Brush.Style = TBrushStyle::bsClear;
  }
  TBitmap bitmap{1, 1, TPixelFormat::pf24bit};
  TCanvas canvas{bitmap};
};

// The summed coverage of each row of a rendered text that has any, by row
// relative to the reference point.
std::map<int, long> InkRows(const TFont& font, const std::string& text) {
  const auto image = Scratch(font).canvas.RenderText(text);
  std::map<int, long> rows;
  const TRect b = image->Bounds();
  for (int y = b.Top; y < b.Bottom; ++y) {
    for (int x = b.Left; x < b.Right; ++x) {
      if (image->Coverage(x, y) > 0) rows[y] += image->Coverage(x, y);
    }
  }
  return rows;
}

long TotalInk(const std::map<int, long>& rows) {
  long sum = 0;
  for (const auto& [row, ink] : rows) sum += ink;
  return sum;
}

// The tiling points: rows 2H apart from the top to H + 100 below the bottom,
// copies W apart from the left edge to W beyond the right edge.
std::vector<std::pair<int, int>> TilePoints(int width, int height, int w, int h) {
  std::vector<std::pair<int, int>> points;
  const int rows = (height + h + 100) / (2 * h) + 1;
  const int columns = (width + w) / w + 1;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) points.emplace_back(column * w, row * 2 * h);
  }
  return points;
}

// Signed distance of a pixel centre from the cell of a copy at (px, py),
// turned 45 degrees counter-clockwise: negative inside, positive outside.
double CellDistance(int x, int y, int px, int py, TSize cell) {
  const double s = std::numbers::sqrt2 / 2;
  const double dx = x + 0.5 - px;
  const double dy = y + 0.5 - py;
  const double u = dx * s - dy * s;  // along the baseline
  const double v = dx * s + dy * s;  // down from the cell's top
  return std::max({-u, u - cell.cx, -v, v - cell.cy});
}

// Pixels more than `margin` inside any of the turned cells at `points`, and
// more than `margin` outside all of them; and how many of each are not
// `in` and `out` respectively.
struct CellPixels {
  int inside = 0, outside = 0, wrongInside = 0, wrongOutside = 0;
};
CellPixels CheckCells(const TBitmap& bitmap, const std::vector<std::pair<int, int>>& points,
                      TSize cell, double margin, TRGBQuad in, TRGBQuad out) {
  CellPixels result;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      double nearest = 1e9;
      for (const auto& [px, py] : points)
        nearest = std::min(nearest, CellDistance(x, y, px, py, cell));
      const TRGBQuad c = bitmap.GetPixel(x, y);
      if (nearest < -margin) {
        ++result.inside;
        result.wrongInside += !(c == in);
      } else if (nearest > margin) {
        ++result.outside;
        result.wrongOutside += !(c == out);
      }
    }
  }
  return result;
}

class StampGeometry : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(StampGeometry, CopiesCoverExactlyThePredictedCells) {
  const auto [width, height] = GetParam();
  const TFont font = MakeFont(-20, clWhite);
  // Long enough that a copy reaches up more than 3H + 100: the row beyond the
  // last one would show if it were drawn.
  const TSize block = Scratch(font).canvas.TextExtent(kFullBlock);
  const int blocks = (3 * block.cy + 100) * 3 / 2 / block.cx + 1;
  std::string text;
  for (int i = 0; i < blocks; ++i) text += kFullBlock;
  const TSize extent = Scratch(font).canvas.TextExtent(text);
  ASSERT_GT(extent.cx * std::numbers::sqrt2 / 2, 3 * extent.cy + 100);

  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  Fill(bitmap, kGray);
  StampBrandText(text, font, bitmap);
  const CellPixels cells =
      CheckCells(bitmap, TilePoints(width, height, extent.cx, extent.cy), extent, 2, kWhite, kGray);
  EXPECT_EQ(cells.wrongInside, 0) << "unpainted inside a copy";
  EXPECT_EQ(cells.wrongOutside, 0) << "painted outside every copy";
  // Both kinds of pixel occur, so neither check is vacuous.
  if (width * height > 1000) {
    EXPECT_GT(cells.inside, width * height / 10);
    EXPECT_GT(cells.outside, width * height / 10);
  }
}

// A picture wider and taller than a copy, one smaller than a copy, and one
// that is a single row.
INSTANTIATE_TEST_SUITE_P(Sizes, StampGeometry,
                         ::testing::Values(std::pair{420, 260}, std::pair{30, 20},
                                           std::pair{300, 1}));

// Every pixel lies between `under` and `over`, by one fraction in every
// channel; some reach `over` exactly, but not most: the text is thin.
void ExpectBlendedToward(const TBitmap& bitmap, TRGBQuad under, TRGBQuad over) {
  const auto channels = [](TRGBQuad c) { return std::array<int, 3>{c.Red, c.Green, c.Blue}; };
  const auto a = channels(under);
  const auto b = channels(over);
  // The channel that changes most gives the fraction.
  int k = 0;
  for (int i = 1; i < 3; ++i) k = std::abs(b[i] - a[i]) > std::abs(b[k] - a[k]) ? i : k;
  const int unblended = CountPixels(bitmap, [&](int x, int y) {
    const auto c = channels(bitmap.GetPixel(x, y));
    const double t = double(c[k] - a[k]) / (b[k] - a[k]);
    bool off = t < -0.01 || t > 1.01;
    for (int i = 0; i < 3; ++i)
      off |= std::abs(c[i] - a[i] - t * (b[i] - a[i])) > (a[i] == b[i] ? 1 : 2);
    return off;
  });
  EXPECT_EQ(unblended, 0);
  const int full = CountPixels(bitmap, [&](int x, int y) { return bitmap.GetPixel(x, y) == over; });
  EXPECT_GT(full, 20);
  EXPECT_LT(full, bitmap.Width() * bitmap.Height() / 2);
}

TEST(StampColor, EachPixelFormatPaintsTowardTheFontColour) {
  constexpr TRGBQuad kBlack{0, 0, 0, 0};
  constexpr TRGBQuad kPaintedRed{0, 0, 255, 0};
  // Palette bitmaps get only the entry nearest to the font colour, and no
  // new entry: here a dark red, beside a white background and a blue.
  std::vector<TRGBQuad> palette(256, kBlack);
  palette[1] = {0, 0, 200, 0};
  palette[2] = kWhite;
  palette[3] = {255, 0, 0, 0};
  const struct {
    TPixelFormat format;
    std::vector<TRGBQuad> palette;
    TRGBQuad under;
    TColor color;
    TRGBQuad over;
  } cases[] = {
      {TPixelFormat::pf24bit, {}, kGray, clRed, kPaintedRed},
      // A system colour draws in its table colour.
      {TPixelFormat::pf24bit, {}, kGray, static_cast<TColor>(0x8000000Du), {106, 36, 10, 0}},
      {TPixelFormat::pf32bit, {}, {40, 50, 60, 0}, clWhite, kWhite},
      {TPixelFormat::pf16bit, {}, kBlack, clRed, kPaintedRed},
      {TPixelFormat::pf8bit, palette, kWhite, 0x000A0AFA, palette[1]},
      {TPixelFormat::pf1bit, {kBlack, kWhite}, kWhite, 0x00000080, kBlack},  // maroon: nearer black
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "bits " << BitsPerPixel(c.format) << " colour " << c.color);
    TBitmap bitmap(160, 120, c.format);
    if (!c.palette.empty()) bitmap.Palette() = c.palette;
    Fill(bitmap, c.under);
    // The fourth byte of 32 bits is not colour: the stamp keeps it.
    const auto fourth = [&](int x, int y) -> std::uint8_t& { return bitmap.Row(y)[4 * x + 3]; };
    for (int y = 0; c.format == TPixelFormat::pf32bit && y < 120; ++y) {
      for (int x = 0; x < 160; ++x) fourth(x, y) = 0x7F;
    }
    StampBrandText(kCopyright, MakeFont(-30, c.color), bitmap);
    ExpectBlendedToward(bitmap, c.under, c.over);
    EXPECT_EQ(bitmap.Palette(), c.palette);
    if (c.format == TPixelFormat::pf32bit) {
      EXPECT_EQ(CountPixels(bitmap, [&](int x, int y) { return fourth(x, y) != 0x7F; }), 0);
    }
  }
}

TEST(Stamp, TextThatMeasuresNothingDrawsNothing) {
  TBitmap bitmap(50, 40, TPixelFormat::pf24bit);
  const auto before = std::vector<std::uint8_t>(bitmap.Pixels().begin(), bitmap.Pixels().end());
  for (const std::string text : {"", "\xE2\x80\x8B"}) {  // zero-width space: W = 0
    StampBrandText(text, MakeFont(-13, clWhite), bitmap);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bitmap.Pixels().begin()));
  }
}

TEST(TextOut, GlyphsAndStyles) {
  // The copyright sign is drawn, not the box of a missing glyph.
  const auto copyright = InkRows(MakeFont(-30, clWhite), "\xC2\xA9");
  EXPECT_GT(TotalInk(copyright), 30 * 255);
  // A private-use character no font has.
  EXPECT_NE(copyright, InkRows(MakeFont(-30, clWhite), "\xF4\x8F\xBF\xBD"));

  EXPECT_GT(TotalInk(InkRows(MakeFont(-30, clWhite, fsBold), "Studio")),
            TotalInk(InkRows(MakeFont(-30, clWhite), "Studio")) * 11 / 10);

  // Blanks show nothing but the lines, each on its side of the baseline.
  EXPECT_TRUE(InkRows(MakeFont(-40, clWhite), "   ").empty());
  const auto x = InkRows(MakeFont(-40, clWhite), "x");  // stands on the baseline
  const auto under = InkRows(MakeFont(-40, clWhite, fsUnderline), "   ");
  const auto strike = InkRows(MakeFont(-40, clWhite, fsStrikeOut), "   ");
  ASSERT_FALSE(x.empty() || under.empty() || strike.empty());
  const int ascent = x.rbegin()->first + 1;
  EXPECT_GE(under.begin()->first, ascent);        // below the baseline
  EXPECT_LT(strike.rbegin()->first, ascent);      // above it
  EXPECT_GT(strike.begin()->first, ascent - 40);  // and below the top of the em
}

TEST(TextOut, ClippedOutputMatchesTheWholeImage) {
  // TextOut rasterises only what lands on the bitmap; it must paint the same
  // pixels as the whole image would, also for a reference point off the edge.
  for (const auto& [x, y] : {std::pair{-20, 30}, std::pair{10, 90}, std::pair{-5, -5}}) {
    TBitmap direct(60, 50, TPixelFormat::pf24bit);
    TBitmap whole(60, 50, TPixelFormat::pf24bit);
    TCanvas a(direct), b(whole);
    a.Font = b.Font = MakeFont(-24, clWhite, 0, 450);
    a.Brush.Style = b.Brush.Style = TBrushStyle::bsClear;
    a.TextOut(x, y, kCopyright);
    b.Draw(x, y, *b.RenderText(kCopyright));
    EXPECT_TRUE(std::equal(direct.Pixels().begin(), direct.Pixels().end(), whole.Pixels().begin()))
        << x << "," << y;
  }
}

TEST(TextOut, TiledDrawingMatchesDrawingCopyByCopy) {
  // The tiled form walks the picture row by row; overlapping copies of one
  // colour must come out as if drawn one after another (rounding aside).
  TBitmap tiled(150, 110, TPixelFormat::pf24bit);
  Fill(tiled, TRGBQuad{200, 180, 160, 0});
  TBitmap single = tiled;
  TCanvas a(tiled), b(single);
  a.Font = b.Font = MakeFont(-16, 0x00204080, 0, 450);
  a.Brush.Style = b.Brush.Style = TBrushStyle::bsClear;
  const auto image = a.RenderText(kCopyright);
  // Spacing smaller than the text, so that copies overlap.
  a.DrawTiled(-7, 3, 23, 9, 11, 12, *image);
  for (int j = 0; j < 12; ++j) {
    for (int i = 0; i < 9; ++i) b.Draw(-7 + i * 23, 3 + j * 11, *image);
  }
  int differing = 0;
  for (std::size_t k = 0; k < tiled.Pixels().size(); ++k) {
    const int d = int{tiled.Pixels()[k]} - single.Pixels()[k];
    ASSERT_LE(std::abs(d), 1) << k;
    differing += d != 0;
  }
  EXPECT_LT(differing, static_cast<int>(tiled.Pixels().size() / 100));
}

TEST(TextOut, SolidBrushFillsTheTurnedCell) {
  TBitmap bitmap(80, 80, TPixelFormat::pf24bit);
  TCanvas canvas(bitmap);
  canvas.Font = MakeFont(-20, clWhite, 0, 450);
  canvas.Brush.Color = clRed;
  const TSize extent = canvas.TextExtent("    ");
  // The cell turns counter-clockwise about its top-left corner.
  canvas.TextOut(10, 50, "    ");
  const CellPixels cells = CheckCells(bitmap, {{10, 50}}, extent, 1.5, {0, 0, 255, 0}, {});
  EXPECT_EQ(cells.wrongInside, 0);
  EXPECT_EQ(cells.wrongOutside, 0);
  EXPECT_GT(cells.inside, 100);
}

// The brand's look: size relative to the picture, opacity, outline.

TEST(StampLook, RelativeSizeScalesTheTilingWithThePicture) {
  // The font's own 13 pixels give way to 8 % of the shorter side, and the
  // copies step by what that size measures.
  for (const auto& [width, height] :
       {std::pair{300, 150}, std::pair{150, 400}, std::pair{500, 250}}) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height);
    const int em = static_cast<int>(std::lround(0.08 * std::min(width, height)));
    const TSize cell = Scratch(MakeFont(-em, clWhite)).canvas.TextExtent(kFullBlock);
    TBitmap bitmap(width, height, TPixelFormat::pf24bit);
    StampBrandText(kFullBlock, MakeFont(-13, clWhite), bitmap, {.RelativeSize = 8});
    const CellPixels cells =
        CheckCells(bitmap, TilePoints(width, height, cell.cx, cell.cy), cell, 1.5, kWhite, {});
    EXPECT_EQ(cells.wrongInside, 0);
    EXPECT_EQ(cells.wrongOutside, 0);
    EXPECT_GT(cells.inside, width * height / 20);
  }
}

TEST(StampLook, NeutralLookDrawsExactlyWhatTheFontSays) {
  // A relative size giving the font's own height, full opacity and clNone
  // as the outline take the plain path byte for byte.
  TBitmap plain(200, 100, TPixelFormat::pf24bit);
  Fill(plain, TRGBQuad{30, 90, 150, 0});
  TBitmap looked = plain;
  StampBrandText(kCopyright, MakeFont(-20, clRed), plain);
  StampBrandText(kCopyright, MakeFont(-13, clRed), looked,
                 {.RelativeSize = 20, .Opacity = 100, .Outline = clNone});
  EXPECT_GT(test::DifferingPixels(plain, TBitmap(200, 100, TPixelFormat::pf24bit)), 100);
  EXPECT_TRUE(std::equal(plain.Pixels().begin(), plain.Pixels().end(), looked.Pixels().begin()));
}

// `color` as a pixel of `format` stores it (16 bits keep five or six bits).
TRGBQuad Stored(TPixelFormat format, TRGBQuad color) {
  TBitmap one(1, 1, format);
  one.SetPixel(0, 0, color);
  return one.GetPixel(0, 0);
}

TRGBQuad Blend(TRGBQuad under, TRGBQuad over, int percent) {
  const auto mix = [&](int u, int o) {
    return static_cast<std::uint8_t>(std::lround(u + (o - u) * percent / 100.0));
  };
  return {mix(under.Blue, over.Blue), mix(under.Green, over.Green), mix(under.Red, over.Red), 0};
}

TEST(StampLook, OpacityBlendsPartWayOnEveryPixelFormat) {
  // White at 60 % over black: direct colours go at most 60 % of the way,
  // and full coverage gets exactly there; palettes take the entry nearest to
  // that blend (a gray here, white with only black and white to choose).
  constexpr TRGBQuad kBlack{0, 0, 0, 0};
  const TRGBQuad blend = Blend(kBlack, kWhite, 60);
  std::vector<TRGBQuad> grays(256, kBlack);
  grays[1] = kWhite;
  grays[2] = {100, 100, 100, 0};
  grays[3] = {150, 150, 150, 0};
  const struct {
    TPixelFormat format;
    std::vector<TRGBQuad> palette;
    TRGBQuad expected;
  } cases[] = {
      {TPixelFormat::pf24bit, {}, blend},
      {TPixelFormat::pf32bit, {}, blend},
      {TPixelFormat::pf16bit, {}, Stored(TPixelFormat::pf16bit, blend)},
      {TPixelFormat::pf8bit, grays, grays[3]},
      {TPixelFormat::pf4bit, std::vector<TRGBQuad>(grays.begin(), grays.begin() + 16), grays[3]},
      {TPixelFormat::pf1bit, {kBlack, kWhite}, kWhite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bits " << BitsPerPixel(c.format));
    TBitmap bitmap(160, 120, c.format);
    if (!c.palette.empty()) bitmap.Palette() = c.palette;
    Fill(bitmap, kBlack);
    StampBrandText(kCopyright, MakeFont(-30, clWhite), bitmap, {.Opacity = 60});
    const bool palette = !c.palette.empty();
    const int tolerance = c.format == TPixelFormat::pf16bit ? 8 : 0;
    const int beyond = CountPixels(bitmap, [&](int x, int y) {
      const TRGBQuad p = bitmap.GetPixel(x, y);
      if (palette) return !(p == kBlack || p == c.expected);
      return p.Red > c.expected.Red + tolerance || p.Green > c.expected.Green + tolerance ||
             p.Blue > c.expected.Blue + tolerance;
    });
    EXPECT_EQ(beyond, 0);
    EXPECT_GT(
        CountPixels(bitmap, [&](int x, int y) { return bitmap.GetPixel(x, y) == c.expected; }),
        100);
    EXPECT_EQ(bitmap.Palette(), c.palette);
  }
}

TEST(StampLook, OutlineRingsTheGlyphsUnderTheFill) {
  // Full blocks at a 64-pixel em: the contour reaches 4 pixels (a sixteenth)
  // beyond each cell. Deep inside a cell only the fill shows, also when both
  // are half transparent; around it the contour; farther out the picture.
  // Three blocks, so that a copy's contour does not reach the next copy.
  constexpr TRGBQuad kUnder{100, 100, 100, 0};
  constexpr TRGBQuad kBlack{0, 0, 0, 0};
  const TFont font = MakeFont(-64, clWhite);
  const std::string text = kFullBlock + kFullBlock + kFullBlock;
  const TSize cell = Scratch(font).canvas.TextExtent(text);
  for (const int opacity : {100, 50}) {
    SCOPED_TRACE(::testing::Message() << "opacity " << opacity);
    TBitmap bitmap(240, 180, TPixelFormat::pf24bit);
    Fill(bitmap, kUnder);
    StampBrandText(text, font, bitmap, {.Opacity = opacity, .Outline = 0x00000000});
    const TRGBQuad fill = Blend(kUnder, kWhite, opacity);
    const TRGBQuad contour = Blend(kUnder, kBlack, opacity);
    const auto near = [](TRGBQuad a, TRGBQuad b) {
      return std::abs(a.Red - b.Red) <= 1 && std::abs(a.Green - b.Green) <= 1 &&
             std::abs(a.Blue - b.Blue) <= 1;
    };
    const auto points = TilePoints(240, 180, cell.cx, cell.cy);
    int inside = 0, ring = 0, outside = 0, wrongInside = 0, wrongRing = 0, wrongOutside = 0;
    for (int y = 0; y < 180; ++y) {
      for (int x = 0; x < 240; ++x) {
        double d = 1e9;
        for (const auto& [px, py] : points) d = std::min(d, CellDistance(x, y, px, py, cell));
        const TRGBQuad p = bitmap.GetPixel(x, y);
        if (d < -1.5) {
          ++inside;
          wrongInside += !near(p, fill);
        } else if (d > 1.5 && d < 2.5) {
          ++ring;
          wrongRing += !near(p, contour);
        } else if (d > 6.5) {
          ++outside;
          wrongOutside += !(p == kUnder);
        }
      }
    }
    EXPECT_EQ(wrongInside, 0);
    EXPECT_EQ(wrongOutside, 0);
    // Round joins cut the ring's corners.
    EXPECT_GT(ring, 500);
    EXPECT_LT(wrongRing, ring / 10);
    EXPECT_GT(inside, 5000);
    EXPECT_GT(outside, 1000);
  }
}

TEST(StampThreads, StampsDrawnOnSeveralThreadsAtOnceEqualStampsDrawnAlone) {
  // Each thread lays its text out with the shared faces at a size of its own
  // (fallback glyph, synthetic styles, lines) and strokes and renders it
  // while the others do the same.
  struct Case {
    TFont font;
    TStampLook look;
    std::string text;
  };
  const std::vector<Case> cases = {
      {MakeFont(-13, clWhite), {}, kCopyright},
      {MakeFont(-29, clRed, fsBold | fsUnderline),
       {.Outline = 0x00000000},
       kCopyright + "\xF4\x8F\xBF\xBD"},
      {MakeFont(-21, 0x00204080, fsItalic), {.Opacity = 50}, "Studio \xE2\x82\xAC"},
      {MakeFont(-40, clWhite, fsStrikeOut), {.Outline = 0x00FFFFFF}, kFullBlock + "x"},
  };
  const auto stamp = [](const Case& c) {
    TBitmap bitmap(160, 120, TPixelFormat::pf24bit);
    Fill(bitmap, kGray);
    StampBrandText(c.text, c.font, bitmap, c.look);
    return std::vector<std::uint8_t>(bitmap.Pixels().begin(), bitmap.Pixels().end());
  };
  std::vector<std::vector<std::uint8_t>> alone;
  for (const Case& c : cases) alone.push_back(stamp(c));

  constexpr int kRounds = 60;
  std::vector<std::vector<std::vector<std::uint8_t>>> together(cases.size());
  {
    std::latch start(static_cast<std::ptrdiff_t>(cases.size()));
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < cases.size(); ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        for (int r = 0; r < kRounds; ++r) together[i].push_back(stamp(cases[i]));
      });
    }
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_NE(alone[i], std::vector<std::uint8_t>(alone[i].size(), 128)) << i;
    for (const auto& pixels : together[i]) EXPECT_EQ(pixels, alone[i]) << i;
  }
}

TEST(StampRegression, HugeTextIsDrawnCopyByCopyWithoutExhaustingMemory) {
  // A 100000-pixel height would need gigabytes of coverage if rasterised
  // whole; it is capped and clipped to the picture.
  TBitmap bitmap(200, 200, TPixelFormat::pf24bit);
  const auto start = std::chrono::steady_clock::now();
  StampBrandText(kFullBlock + kFullBlock, MakeFont(-100000, clWhite), bitmap);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(bitmap.GetPixel(150, 10).Red, 255);  // inside the first copy
  EXPECT_EQ(bitmap.GetPixel(5, 190).Red, 0);     // well below its lower edge
}

}  // namespace
}  // namespace sigilon
