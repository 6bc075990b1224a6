// Where and how the tiled brand text lands on a picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "engine/Canvas.h"
#include "engine/VCLJpegBitmap_Unit.h"

namespace sigilon {
namespace {

constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clRed = 0x000000FF;
const std::string kFullBlock = "\xE2\x96\x88";  // fills the whole cell
const std::string kCopyright = "\xC2\xA9 Studio";

void Fill(TBitmap& bitmap, TRGBQuad color) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) bitmap.SetPixel(x, y, color);
  }
}

TFont MakeFont(int height, TColor color, TFontStyles style = 0) {
  TFont font;
  font.SetName("DejaVu Sans");
  font.SetHeight(height);
  font.Color = color;
  font.SetStyle(style);
  return font;
}

TSize TurnedExtent(const TFont& font, const std::string& text) {
  TBitmap scratch(1, 1, TPixelFormat::pf24bit);
  TCanvas canvas(scratch);
  canvas.Font = font;
  TLogFont log = font.LogFont();
  log.Escapement = log.Orientation = 450;
  canvas.Font.SetLogFont(log);
  return canvas.TextExtent(text);
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
double CellDistance(int x, int y, int px, int py, int w, int h) {
  const double s = std::numbers::sqrt2 / 2;
  const double dx = x + 0.5 - px;
  const double dy = y + 0.5 - py;
  const double u = dx * s - dy * s;  // along the baseline
  const double v = dx * s + dy * s;  // down from the cell's top
  return std::max({-u, u - w, -v, v - h});
}

class StampGeometry : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(StampGeometry, CopiesCoverExactlyThePredictedCells) {
  const auto [width, height] = GetParam();
  const TFont font = MakeFont(-20, clWhite);
  // Long enough that a copy reaches up more than 3H + 100: the row beyond the
  // last one would show if it were drawn.
  const TSize block = TurnedExtent(font, kFullBlock);
  const int blocks = (3 * block.cy + 100) * 3 / 2 / block.cx + 1;
  std::string text;
  for (int i = 0; i < blocks; ++i) text += kFullBlock;
  const TSize extent = TurnedExtent(font, text);
  ASSERT_GT(extent.cx * std::numbers::sqrt2 / 2, 3 * extent.cy + 100);

  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  const TRGBQuad gray{128, 128, 128, 0};
  Fill(bitmap, gray);
  StampBrandText(text, font, bitmap);

  const auto points = TilePoints(width, height, extent.cx, extent.cy);
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double nearest = 1e9;
      for (const auto& [px, py] : points) {
        nearest = std::min(nearest, CellDistance(x, y, px, py, extent.cx, extent.cy));
      }
      const TRGBQuad c = bitmap.GetPixel(x, y);
      if (nearest < -2) {
        ++inside;
        ASSERT_EQ(c, (TRGBQuad{255, 255, 255, 0}))
            << "unpainted inside a copy at " << x << "," << y;
      } else if (nearest > 2) {
        ++outside;
        ASSERT_EQ(c, gray) << "painted outside every copy at " << x << "," << y;
      }
    }
  }
  // Both kinds of pixel occur, so neither check is vacuous.
  if (width * height > 1000) {
    EXPECT_GT(inside, width * height / 10);
    EXPECT_GT(outside, width * height / 10);
  }
}

// A picture wider and taller than a copy, one smaller than a copy, and one
// that is a single row.
INSTANTIATE_TEST_SUITE_P(Sizes, StampGeometry,
                         ::testing::Values(std::pair{420, 260}, std::pair{30, 20},
                                           std::pair{300, 1}));

TEST(Stamp, TurnsCounterClockwiseAboutTheCellsTopLeftCorner) {
  TBitmap bitmap(120, 120, TPixelFormat::pf24bit);
  TCanvas canvas(bitmap);
  canvas.Font = MakeFont(-20, clWhite);
  canvas.Brush.Style = TBrushStyle::bsClear;
  TLogFont log = canvas.Font.LogFont();
  log.Escapement = log.Orientation = 450;
  canvas.Font.SetLogFont(log);
  const std::string text = kFullBlock + kFullBlock + kFullBlock;
  const TSize extent = canvas.TextExtent(text);
  canvas.TextOut(30, 70, text);
  const double s = std::numbers::sqrt2 / 2;
  // Along the baseline: up and to the right of the reference point.
  const double u = extent.cx * 0.8;
  const double v = extent.cy * 0.5;
  const int upX = static_cast<int>(30 + u * s + v * s);
  const int upY = static_cast<int>(70 - u * s + v * s);
  EXPECT_EQ(bitmap.GetPixel(upX, upY).Red, 255);
  // The mirror image (clockwise turn) stays black.
  const int downY = static_cast<int>(70 + u * s - v * s);
  EXPECT_EQ(bitmap.GetPixel(upX, downY).Red, 0);
  // Nothing to the left of the reference point.
  for (int y = 0; y < 120; ++y) EXPECT_EQ(bitmap.GetPixel(28, y).Red, 0);
}

TEST(Stamp, SizeFollowsTheDisplayNotThePicture) {
  TFont font;
  TextToFont("\"DejaVu Sans\", 10, [], [clWhite]", font);
  ASSERT_EQ(font.Height(), -13);
  // The copies start at the top-left corner whatever the size, so the part
  // two pictures share is stamped identically.
  TBitmap small(200, 200, TPixelFormat::pf24bit);
  TBitmap large(330, 270, TPixelFormat::pf24bit);
  StampBrandText(kCopyright, font, small);
  StampBrandText(kCopyright, font, large);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) ASSERT_EQ(small.GetPixel(x, y), large.GetPixel(x, y));
  }
  // A higher resolution gives larger text.
  TFont fine;
  fine.PixelsPerInch = 192;
  TextToFont("\"DejaVu Sans\", 10, [], [clWhite]", fine);
  EXPECT_EQ(fine.Height(), -27);
  EXPECT_NEAR(TurnedExtent(fine, kCopyright).cy, 2 * TurnedExtent(font, kCopyright).cy, 2);
}

// Every pixel either keeps `under` or lies between it and `over`; some reach
// `over` exactly.
void ExpectBlendedToward(const TBitmap& bitmap, TRGBQuad under, TRGBQuad over) {
  int full = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TRGBQuad c = bitmap.GetPixel(x, y);
      if (c == over) ++full;
      if (c == under || c == over) continue;
      // The fraction of `over` must be the same in every channel.
      double t = -1;
      for (auto [a, b, got] :
           {std::tuple{under.Red, over.Red, c.Red}, std::tuple{under.Green, over.Green, c.Green},
            std::tuple{under.Blue, over.Blue, c.Blue}}) {
        if (a == b) {
          ASSERT_NEAR(got, a, 1) << x << "," << y;
          continue;
        }
        const double f = (double(got) - a) / (double(b) - a);
        ASSERT_GE(f, -0.01) << x << "," << y;
        ASSERT_LE(f, 1.01) << x << "," << y;
        if (t < 0) t = f;
        ASSERT_NEAR(f, t, 2.0 / std::abs(double(b) - a)) << x << "," << y;
      }
    }
  }
  EXPECT_GT(full, 20);
}

TEST(StampColor, TrueColourBlendsTheFontColourOverThePicture) {
  const TRGBQuad gray{128, 128, 128, 0};
  TBitmap bitmap(160, 120, TPixelFormat::pf24bit);
  Fill(bitmap, gray);
  StampBrandText(kCopyright, MakeFont(-30, clRed), bitmap);
  ExpectBlendedToward(bitmap, gray, TRGBQuad{0, 0, 255, 0});

  // A system colour draws in its table colour.
  Fill(bitmap, gray);
  StampBrandText(kCopyright, MakeFont(-30, static_cast<TColor>(0x8000000Du)), bitmap);
  ExpectBlendedToward(bitmap, gray, TRGBQuad{106, 36, 10, 0});
}

TEST(StampColor, ThirtyTwoBitsKeepsTheFourthByte) {
  TBitmap bitmap(100, 80, TPixelFormat::pf32bit);
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::uint8_t* row = bitmap.Row(y).data();
    for (int x = 0; x < bitmap.Width(); ++x) {
      row[4 * x] = 40, row[4 * x + 1] = 50, row[4 * x + 2] = 60, row[4 * x + 3] = 0x7F;
    }
  }
  StampBrandText(kCopyright, MakeFont(-30, clWhite), bitmap);
  ExpectBlendedToward(bitmap, TRGBQuad{40, 50, 60, 0}, TRGBQuad{255, 255, 255, 0});
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) ASSERT_EQ(bitmap.Row(y)[4 * x + 3], 0x7F);
  }
}

TEST(StampColor, SixteenBitsMovesTowardTheColour) {
  TBitmap bitmap(100, 80, TPixelFormat::pf16bit);  // 5-5-5, zero = black
  StampBrandText(kCopyright, MakeFont(-30, clRed), bitmap);
  int red = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TRGBQuad c = bitmap.GetPixel(x, y);
      ASSERT_EQ(c.Green, 0);
      ASSERT_EQ(c.Blue, 0);
      if (c.Red == 255) ++red;
    }
  }
  EXPECT_GT(red, 20);
}

TEST(StampColor, PaletteBitmapsGetOnlyTheNearestEntry) {
  TBitmap bitmap(160, 120, TPixelFormat::pf8bit);
  auto& palette = bitmap.Palette();
  palette.assign(256, TRGBQuad{});
  palette[1] = {0, 0, 200, 0};      // dark red: nearest to the font colour
  palette[2] = {255, 255, 255, 0};  // white background
  palette[3] = {255, 0, 0, 0};      // blue
  const auto before = palette;
  for (int y = 0; y < bitmap.Height(); ++y) std::fill_n(bitmap.Row(y).data(), bitmap.Width(), 2);

  StampBrandText(kCopyright, MakeFont(-13, 0x000A0AFA), bitmap);
  std::set<int> seen;
  int painted = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      seen.insert(bitmap.Row(y)[x]);
      painted += bitmap.Row(y)[x] == 1;
    }
  }
  EXPECT_EQ(seen, (std::set<int>{1, 2}));
  EXPECT_GT(painted, 20);
  EXPECT_EQ(palette, before);
}

TEST(StampColor, OneBitBitmapsPaintTheNearestOfTwo) {
  TBitmap bitmap(96, 64, TPixelFormat::pf1bit);
  bitmap.Palette() = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
  Fill(bitmap, TRGBQuad{255, 255, 255, 0});
  StampBrandText(kCopyright, MakeFont(-13, 0x00000080), bitmap);  // maroon: nearer black
  int black = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) black += bitmap.GetPixel(x, y).Red == 0;
  }
  EXPECT_GT(black, 20);
  EXPECT_LT(black, 96 * 64 / 2);
}

TEST(Stamp, TextThatMeasuresNothingDrawsNothing) {
  TBitmap bitmap(50, 40, TPixelFormat::pf24bit);
  const auto before = std::vector<std::uint8_t>(bitmap.Pixels().begin(), bitmap.Pixels().end());
  for (const std::string text : {"", "\xE2\x80\x8B"}) {  // zero-width space: W = 0
    StampBrandText(text, MakeFont(-13, clWhite), bitmap);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bitmap.Pixels().begin()));
  }
}

TEST(Stamp, CopyrightSignIsDrawnNotAMissingGlyphBox) {
  TBitmap scratch(1, 1, TPixelFormat::pf24bit);
  TCanvas canvas(scratch);
  canvas.Font = MakeFont(-30, clWhite);
  canvas.Brush.Style = TBrushStyle::bsClear;
  const auto ink = [&](const std::string& text) {
    std::vector<int> columns;
    const auto image = canvas.RenderText(text);
    const TRect b = image->Bounds();
    for (int y = b.Top; y < b.Bottom; ++y) {
      for (int x = b.Left; x < b.Right; ++x) columns.push_back(image->Coverage(x, y));
    }
    return columns;
  };
  const auto copyright = ink("\xC2\xA9");
  EXPECT_GT(std::count_if(copyright.begin(), copyright.end(), [](int c) { return c > 128; }), 30);
  EXPECT_NE(copyright, ink("\xF4\x8F\xBF\xBD"));  // a private-use character no font has
}

TEST(TextOut, UnderlineAndStrikeOutAreDrawnOnTheirSidesOfTheBaseline) {
  TBitmap scratch(1, 1, TPixelFormat::pf24bit);
  TCanvas canvas(scratch);
  canvas.Brush.Style = TBrushStyle::bsClear;
  const auto inkRows = [&](const std::string& text, TFontStyles style) {
    canvas.Font = MakeFont(-40, clWhite, style);
    std::vector<int> rows;
    const auto image = canvas.RenderText(text);
    const TRect b = image->Bounds();
    for (int y = b.Top; y < b.Bottom; ++y) {
      for (int x = b.Left; x < b.Right; ++x) {
        if (image->Coverage(x, y) > 0) {
          rows.push_back(y);
          break;
        }
      }
    }
    return rows;
  };
  // Blanks show nothing but the lines.
  EXPECT_TRUE(inkRows("   ", 0).empty());
  const auto x = inkRows("x", 0);  // stands on the baseline
  ASSERT_FALSE(x.empty());
  const int ascent = x.back() + 1;
  const auto under = inkRows("   ", fsUnderline);
  const auto strike = inkRows("   ", fsStrikeOut);
  ASSERT_FALSE(under.empty());
  ASSERT_FALSE(strike.empty());
  EXPECT_GE(under.front(), ascent);        // below the baseline
  EXPECT_LT(strike.back(), ascent);        // above it
  EXPECT_GT(strike.front(), ascent - 40);  // and below the top of the em
}

TEST(TextOut, BoldHasMoreInkThanRegular) {
  TBitmap scratch(1, 1, TPixelFormat::pf24bit);
  TCanvas canvas(scratch);
  canvas.Brush.Style = TBrushStyle::bsClear;
  const auto ink = [&](TFontStyles style) {
    canvas.Font = MakeFont(-30, clWhite, style);
    const auto image = canvas.RenderText("Studio");
    long sum = 0;
    const TRect b = image->Bounds();
    for (int y = b.Top; y < b.Bottom; ++y) {
      for (int x = b.Left; x < b.Right; ++x) sum += image->Coverage(x, y);
    }
    return sum;
  };
  EXPECT_GT(ink(fsBold), ink(0) * 11 / 10);
}

TEST(TextOut, ClippedOutputMatchesTheWholeImage) {
  // TextOut rasterises only what lands on the bitmap; it must paint the same
  // pixels as the whole image would, also for a reference point off the edge.
  TFont font = MakeFont(-24, clWhite);
  TLogFont log = font.LogFont();
  log.Escapement = log.Orientation = 450;
  font.SetLogFont(log);
  for (const auto& [x, y] : {std::pair{-20, 30}, std::pair{10, 90}, std::pair{-5, -5}}) {
    TBitmap direct(60, 50, TPixelFormat::pf24bit);
    TBitmap whole(60, 50, TPixelFormat::pf24bit);
    TCanvas a(direct), b(whole);
    a.Font = b.Font = font;
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
  TFont font = MakeFont(-16, 0x00204080);
  TLogFont log = font.LogFont();
  log.Escapement = log.Orientation = 450;
  font.SetLogFont(log);
  TBitmap tiled(150, 110, TPixelFormat::pf24bit);
  Fill(tiled, TRGBQuad{200, 180, 160, 0});
  TBitmap single = tiled;
  TCanvas a(tiled), b(single);
  a.Font = b.Font = font;
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
  canvas.Font = MakeFont(-20, clWhite);
  canvas.Brush.Color = clRed;
  TLogFont log = canvas.Font.LogFont();
  log.Escapement = log.Orientation = 450;
  canvas.Font.SetLogFont(log);
  const TSize extent = canvas.TextExtent("    ");
  canvas.TextOut(10, 50, "    ");
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 80; ++x) {
      const double d = CellDistance(x, y, 10, 50, extent.cx, extent.cy);
      if (d < -1.5) {
        ASSERT_EQ(bitmap.GetPixel(x, y), (TRGBQuad{0, 0, 255, 0}));
      } else if (d > 1.5) {
        ASSERT_EQ(bitmap.GetPixel(x, y), (TRGBQuad{}));
      }
    }
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
