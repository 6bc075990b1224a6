// Where the mark lands for each layout, angle and spacing, and how its
// shadow falls, measured on the stamped pixels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "engine/BrandFile.h"
#include "engine/BrandStamp.h"
#include "engine/Canvas.h"
#include "engine/CanvasPaint.h"
#include "engine/StampLayout.h"
#include "tests/support/PixelCount.h"

namespace sigilon {
namespace {

constexpr TColor clBlack = 0x00000000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TRGBQuad kWhite{255, 255, 255, 0};

TFont MarkFont(int height, TColor color) {
  TFont font;
  font.SetName("DejaVu Sans");
  font.SetHeight(-height);
  font.Color = color;
  return font;
}

TBitmap Stamped(const std::string& text, const TFont& font, const TStampLook& look, int width,
                int height) {
  TBitmap picture(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, kWhite);
  }
  StampBrandText(text, font, picture, look);
  return picture;
}

// How much darker than white a pixel is, 0 to 255.
int Darkness(const TBitmap& picture, int x, int y) {
  const TRGBQuad p = picture.GetPixel(x, y);
  return 255 - std::min({p.Red, p.Green, p.Blue});
}

struct TInkBox {
  int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1;  // Right, Bottom included
};

TInkBox InkBox(const TBitmap& picture) {
  TInkBox box;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      if (Darkness(picture, x, y) == 0) continue;
      box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x),
             std::max(box.Bottom, y)};
    }
  }
  return box;
}

// The direction of the longest spread of the inked pixels, in degrees
// counter-clockwise as seen, -90 to 90.
double PrincipalAngle(const TBitmap& picture) {
  double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const double w = Darkness(picture, x, y);
      n += w;
      sx += w * x;
      sy += w * y;
      sxx += w * x * x;
      syy += w * y * y;
      sxy += w * x * y;
    }
  }
  const double cxx = sxx / n - (sx / n) * (sx / n);
  const double cyy = syy / n - (sy / n) * (sy / n);
  const double cxy = sxy / n - (sx / n) * (sy / n);
  // Picture rows grow downwards: the angle as seen has the other sign.
  return -0.5 * std::atan2(2 * cxy, cxx - cyy) * 180.0 / std::numbers::pi;
}

// The horizontal period of a pattern: the first shift at which the rows
// match themselves nearly as well as the best shift beyond the strokes do.
int HorizontalPeriod(const TBitmap& picture) {
  const int width = picture.Width();
  std::vector<double> correlation(static_cast<std::size_t>(width / 2), 0);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int lag = 0; lag < width / 2; ++lag) {
      for (int x = 0; x + lag < width; ++x) {
        correlation[static_cast<std::size_t>(lag)] +=
            Darkness(picture, x, y) * Darkness(picture, x + lag, y);
      }
    }
  }
  int lag = 1;
  while (lag < width / 2 && correlation[static_cast<std::size_t>(lag)] > correlation[0] / 2) ++lag;
  const double best = *std::max_element(correlation.begin() + lag, correlation.end());
  while (lag < width / 2 && correlation[static_cast<std::size_t>(lag)] < 0.8 * best) ++lag;
  // The top of that peak.
  while (lag + 1 < width / 2 && correlation[static_cast<std::size_t>(lag + 1)] >
                                    correlation[static_cast<std::size_t>(lag)]) {
    ++lag;
  }
  return lag;
}

TEST(MarkLayout, SingleMarkStaysInItsAnchoredCorner) {
  const TFont font = MarkFont(24, clBlack);
  constexpr int kWidth = 400, kHeight = 300;
  constexpr int kMargin = 15;  // 5 % of the shorter side
  for (const bool shadow : {false, true}) {
    for (const TMarkAnchor anchor : {TMarkAnchor::TopLeft, TMarkAnchor::Top, TMarkAnchor::Centre,
                                     TMarkAnchor::Right, TMarkAnchor::BottomRight}) {
      const TStampLook look{
          .Layout = TMarkLayout::Single, .Anchor = anchor, .Margin = 5, .Shadow = shadow};
      const TBitmap picture = Stamped("Studio", font, look, kWidth, kHeight);
      const TInkBox ink = InkBox(picture);
      const std::string what = std::to_string(static_cast<int>(anchor)) + (shadow ? " shadow" : "");
      ASSERT_GE(ink.Right, ink.Left) << what;
      // Never nearer to any edge than the margin.
      EXPECT_GE(ink.Left, kMargin) << what;
      EXPECT_GE(ink.Top, kMargin) << what;
      EXPECT_LT(ink.Right, kWidth - kMargin) << what;
      EXPECT_LT(ink.Bottom, kHeight - kMargin) << what;
      const int index = static_cast<int>(anchor);
      const int column = index % 3, row = index / 3;
      // On the edges it is anchored to, the margin away (anti-aliased edge
      // pixels and rounding aside); centred along the others.
      const int expectedLeft = column == 0   ? kMargin
                               : column == 2 ? kWidth - kMargin - 1 - (ink.Right - ink.Left)
                                             : (kWidth - 1 - (ink.Right - ink.Left)) / 2;
      const int expectedTop = row == 0   ? kMargin
                              : row == 2 ? kHeight - kMargin - 1 - (ink.Bottom - ink.Top)
                                         : (kHeight - 1 - (ink.Bottom - ink.Top)) / 2;
      EXPECT_NEAR(ink.Left, expectedLeft, 2) << what;
      EXPECT_NEAR(ink.Top, expectedTop, 2) << what;
    }
  }
}

TEST(MarkLayout, BandsGiveTheWholePictureForEveryLayout) {
  const TFont font = MarkFont(18, 0x00336699);
  constexpr int kWidth = 300, kHeight = 260;
  const std::vector<TStampLook> looks = {
      {.Layout = TMarkLayout::Single, .Angle = 25, .Anchor = TMarkAnchor::Bottom},
      {.Layout = TMarkLayout::Single, .Anchor = TMarkAnchor::Centre, .Shadow = true},
      {.Outline = clWhite, .Spacing = 0.7, .Angle = -60, .Shadow = true},
      {.Opacity = 60, .Spacing = 2.5},
  };
  for (const TStampLook& look : looks) {
    const TBitmap whole = Stamped("Band mark", font, look, kWidth, kHeight);
    const TBrandStamp stamp("Band mark", font, kWidth, kHeight, look);
    TBitmap bands = Stamped("", font, {}, kWidth, kHeight);
    for (int top = 0; top < kHeight; top += 37) {
      TBitmap band(kWidth, std::min(37, kHeight - top), TPixelFormat::pf24bit);
      for (int y = 0; y < band.Height(); ++y) {
        for (int x = 0; x < kWidth; ++x) band.SetPixel(x, y, kWhite);
      }
      stamp.Paint(band, top);
      for (int y = 0; y < band.Height(); ++y) {
        for (int x = 0; x < kWidth; ++x) bands.SetPixel(x, top + y, band.GetPixel(x, y));
      }
    }
    EXPECT_EQ(test::DifferingPixels(whole, bands), 0) << look.Spacing;
    EXPECT_GT(test::CountPixels(whole, [&](int x, int y) { return Darkness(whole, x, y) > 0; }), 0);
  }
}

TEST(MarkLayout, TilePeriodFollowsTheSpacing) {
  const TFont font = MarkFont(12, clBlack);
  const TBitmap plain = Stamped("Tile", font, {}, 480, 240);
  const int period = HorizontalPeriod(plain);
  // The 45-degree rows repeat every text width along a row.
  TBitmap none(1, 1, TPixelFormat::pf24bit);
  TCanvas canvas(none);
  canvas.Font = font;
  EXPECT_NEAR(period, canvas.TextExtent("Tile").cx, 1);
  for (const double spacing : {0.5, 1.5, 2.5}) {
    const TBitmap spaced = Stamped("Tile", font, {.Spacing = spacing}, 480, 240);
    EXPECT_NEAR(HorizontalPeriod(spaced), period * spacing, 1.5) << spacing;
  }
}

TEST(MarkLayout, TiledCopiesCoverThePictureAtEveryAngle) {
  const TFont font = MarkFont(14, clBlack);
  constexpr int kSide = 360, kBlock = 90;
  for (const double angle : {-90.0, -45.0, -10.0, 0.0, 30.0, 89.0}) {
    const TBitmap picture = Stamped("Cover me", font, {.Angle = angle}, kSide, kSide);
    for (int by = 0; by < kSide; by += kBlock) {
      for (int bx = 0; bx < kSide; bx += kBlock) {
        int ink = 0;
        for (int y = by; y < by + kBlock; ++y) {
          for (int x = bx; x < bx + kBlock; ++x) ink += Darkness(picture, x, y) > 0;
        }
        EXPECT_GT(ink, 0) << angle << " at " << bx << "," << by;
      }
    }
  }
}

TEST(MarkLayout, StrokesRunAlongTheAngle) {
  const TFont font = MarkFont(20, clBlack);
  const std::string text =
      "\xE2\x80\x94\xE2\x80\x94 long mark of a studio \xE2\x80\x94\xE2\x80\x94";
  for (const double angle : {-75.0, -30.0, 0.0, 12.5, 45.0, 80.0}) {
    const TStampLook look{
        .Layout = TMarkLayout::Single, .Angle = angle, .Anchor = TMarkAnchor::Centre};
    const TBitmap picture = Stamped(text, font, look, 700, 700);
    EXPECT_NEAR(PrincipalAngle(picture), angle, 2.0) << angle;
  }
}

TEST(MarkLayout, ShadowFallsDownRightAndReadsOnWhite) {
  const TFont white = MarkFont(40, clWhite);
  const TFont black = MarkFont(40, clBlack);
  const TStampLook look{.Layout = TMarkLayout::Single, .Anchor = TMarkAnchor::Centre};
  TStampLook shadowed = look;
  shadowed.Shadow = true;
  EXPECT_EQ(InkBox(Stamped("Sky", white, look, 300, 200)).Right, -1);  // invisible alone
  const TBitmap shadow = Stamped("Sky", white, shadowed, 300, 200);
  const TBitmap letters = Stamped("Sky", black, shadowed, 300, 200);
  // Centroids of the shadow's darkness and of the solid letter cores (the
  // black copy placed alike: the shadow widens both boxes the same way).
  double n = 0, sx = 0, sy = 0, m = 0, lx = 0, ly = 0;
  int darkest = 0, coveredButDark = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) {
      const int d = Darkness(shadow, x, y);
      darkest = std::max(darkest, d);
      n += d, sx += d * x, sy += d * y;
      if (Darkness(letters, x, y) == 255) {
        m += 1, lx += x, ly += y;
        coveredButDark += d > 2;  // rounding aside
      }
    }
  }
  ASSERT_GT(n, 0);
  ASSERT_GT(m, 0);
  EXPECT_GT(darkest, 60);        // clearly darker than the white backdrop
  EXPECT_EQ(coveredButDark, 0);  // the opaque letters hide their shadow
  const double dx = sx / n - lx / m, dy = sy / n - ly / m;
  EXPECT_GT(dx, 1.0);  // about 6 % of the 40-pixel em
  EXPECT_GT(dy, 1.0);
  EXPECT_LT(dx, 6.0);
  EXPECT_LT(dy, 6.0);

  // With an outline and at half strength the shadow still shows, weaker.
  TStampLook soft = shadowed;
  soft.Opacity = 50;
  soft.Outline = clWhite;
  const TBitmap weaker = Stamped("Sky", white, soft, 300, 200);
  int weakest = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) weakest = std::max(weakest, Darkness(weaker, x, y));
  }
  EXPECT_GT(weakest, 15);
  EXPECT_LT(weakest, darkest);
}

// The shadow's byte-wise blend against the plain blend of black, for every
// coverage, several opacities and backdrops, on 24 bits and (through the
// plain painter) on 32.
TEST(MarkLayout, ShadowPainterBlendsExactlyAsBlack) {
  std::vector<std::uint8_t> coverage(300);
  for (std::size_t i = 0; i < coverage.size(); ++i) coverage[i] = static_cast<std::uint8_t>(i * 7);
  for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    for (const std::uint8_t opacity : {255, 200, 128, 1}) {
      TBitmap expected(280, 2, format);
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 280; ++x) {
          expected.SetPixel(x, y,
                            {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(255 - x),
                             static_cast<std::uint8_t>(x * 13 + y), 0});
        }
      }
      TBitmap painted = expected;
      drawing::Painter black(expected, TRGBQuad{}, opacity);
      black.PaintRow(1, 3, &coverage[10], 256);
      black.PaintRow(1, 270, &coverage[290], 10);
      drawing::ShadowPainter shadow(painted, opacity);
      shadow.SetRow(coverage.data());
      shadow.Load(290, 10);  // out of order, apart from the rest
      shadow.Load(10, 256);
      shadow.PaintRow(1, 3, 10, 256);
      shadow.PaintRow(1, 270, 290, 10);
      EXPECT_EQ(test::DifferingPixels(expected, painted), 0) << int{opacity};
      EXPECT_NE(expected.GetPixel(100, 1).Red, expected.GetPixel(100, 0).Red);
    }
  }
}

TEST(MarkLayout, LatticeVisitsExactlyTheCopiesThatReachTheArea) {
  for (const double angle : {-80.0, 0.0, 45.0, 63.0}) {
    const TStampLattice lattice = TileLattice(70, 12, angle, 1.3);
    const TRect box{-20, -60, 50, 15};
    std::vector<std::pair<std::int64_t, std::int64_t>> visited;
    ForEachCopy(lattice, box, 0, 40, 200, 57,
                [&](std::int64_t x, std::int64_t y) { visited.emplace_back(x, y); });
    std::vector<std::pair<std::int64_t, std::int64_t>> expected;
    for (std::int64_t j = -100; j <= 100; ++j) {
      for (std::int64_t i = -100; i <= 100; ++i) {
        const std::int64_t x = i * lattice.A.X + j * lattice.B.X;
        const std::int64_t y = i * lattice.A.Y + j * lattice.B.Y;
        if (x + box.Right > 0 && x + box.Left < 200 && y + box.Bottom > 40 && y + box.Top < 57) {
          expected.emplace_back(x, y);
        }
      }
    }
    std::sort(visited.begin(), visited.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(visited, expected) << angle;
    EXPECT_FALSE(expected.empty());
  }
}

}  // namespace
}  // namespace sigilon
