// A logo as the mark: its pixels laid over the picture at its alpha times
// the opacity, scaled to the relative size, placed at the anchor, with the
// text under it; read from a PNG with alpha or an SVG.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "engine/BrandFile.h"
#include "engine/BrandStamp.h"
#include "engine/Errors.h"
#include "engine/Logo.h"
#include "engine/formats/PictureFormat.h"
#include "engine/formats/PngFormat.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

constexpr TRGBQuad kGrey{128, 128, 128, 0};

// A 40 x 40 RGBA PNG logo, opaque red with a transparent 20 x 20 hole in
// the middle, read back the way a run reads it.
std::shared_ptr<const TBitmap> RedRingLogo(const test::TempDirectory& dir) {
  TBitmap logo(40, 40, TPixelFormat::pfBGRA32);
  for (int y = 0; y < 40; ++y) {
    std::uint8_t* row = logo.Row(y).data();
    for (int x = 0; x < 40; ++x) {
      const bool hole = x >= 10 && x < 30 && y >= 10 && y < 30;
      // The hole's colour must not bleed into the picture.
      row[4 * x] = hole ? 255 : 0;
      row[4 * x + 1] = hole ? 255 : 0;
      row[4 * x + 2] = 255;
      row[4 * x + 3] = hole ? 0 : 255;
    }
  }
  const std::string path = dir / "logo.png";
  test::WriteBytes(path, PngFormat().EncodeWhole(logo, {.Name = path, .Width = 40, .Height = 40}));
  return LoadLogo(path);
}

TBitmap Grey(int width, int height, TPixelFormat format = TPixelFormat::pf24bit) {
  TBitmap picture(width, height, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, kGrey);
  }
  return picture;
}

TFont BlackFont() {
  TFont font;
  font.SetName("DejaVu Sans");
  font.SetHeight(-20);
  font.Color = 0;
  return font;
}

struct TBox {
  int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1;  // Right, Bottom included
  void Add(int x, int y) {
    Left = std::min(Left, x);
    Top = std::min(Top, y);
    Right = std::max(Right, x);
    Bottom = std::max(Bottom, y);
  }
};

// The box of the pixels that `is` picks.
template <class Pick>
TBox BoxOf(const TBitmap& picture, Pick is) {
  TBox box;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      if (is(picture.GetPixel(x, y))) box.Add(x, y);
    }
  }
  return box;
}

bool Changed(TRGBQuad p) { return p.Red != 128 || p.Green != 128 || p.Blue != 128; }
bool Reddish(TRGBQuad p) { return p.Red > 160 && p.Green < 100; }
bool Dark(TRGBQuad p) { return p.Red < 90 && p.Green < 90 && p.Blue < 90; }

TStampLook SingleAt(TMarkAnchor anchor, double margin) {
  TStampLook look;
  look.Layout = TMarkLayout::Single;
  look.Anchor = anchor;
  look.Margin = margin;
  return look;
}

TEST(Logo, ItsPixelsLieOverThePictureAtItsAlphaTimesTheOpacity) {
  test::TempDirectory dir;
  TStampLook look = SingleAt(TMarkAnchor::TopLeft, 0);
  look.Logo = RedRingLogo(dir);
  look.Opacity = 60;
  // Straight into the bytes on 24 bits, through the text's blending on the
  // deep formats.
  for (const TPixelFormat format :
       {TPixelFormat::pf24bit, TPixelFormat::pf48bit, TPixelFormat::pf32bit}) {
    TBitmap picture = Grey(100, 80, format);
    StampBrandText("", BlackFont(), picture, look);
    const int red = 128 + (255 - 128) * 60 / 100;
    const int rest = 128 * 40 / 100;
    for (int y = 0; y < 80; ++y) {
      for (int x = 0; x < 100; ++x) {
        const TRGBQuad p = picture.GetPixel(x, y);
        const bool inLogo = x < 40 && y < 40;
        const bool hole = x >= 10 && x < 30 && y >= 10 && y < 30;
        if (!inLogo || hole) {
          ASSERT_FALSE(Changed(p)) << x << "," << y << " format " << int(format);
        } else {
          ASSERT_NEAR(p.Red, red, 2) << x << "," << y;
          ASSERT_NEAR(p.Green, rest, 2) << x << "," << y;
          ASSERT_NEAR(p.Blue, rest, 2) << x << "," << y;
        }
      }
    }
  }
}

TEST(Logo, OnAPaletteTheOpaqueEnoughPartTakesTheNearestEntry) {
  test::TempDirectory dir;
  TStampLook look = SingleAt(TMarkAnchor::TopLeft, 0);
  look.Logo = RedRingLogo(dir);
  TBitmap picture(60, 60, TPixelFormat::pf8bit);
  picture.Palette()[1] = TRGBQuad{0, 0, 250, 0};  // red
  picture.Palette()[2] = kGrey;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) picture.Row(y)[x] = 2;
  }
  StampBrandText("", BlackFont(), picture, look);
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) {
      const bool ring = x < 40 && y < 40 && !(x >= 10 && x < 30 && y >= 10 && y < 30);
      ASSERT_EQ(picture.Row(y)[x], ring ? 1 : 2) << x << "," << y;
    }
  }
}

TEST(Logo, ASingleLogoStandsInsideItsAnchoredBoxAtTheRelativeSize) {
  test::TempDirectory dir;
  const auto logo = RedRingLogo(dir);
  // Its own size without a relative size: 40 px, 10 (5 % of 200) from the
  // bottom and right edges.
  TStampLook look = SingleAt(TMarkAnchor::BottomRight, 5);
  look.Logo = logo;
  TBitmap picture = Grey(300, 200);
  StampBrandText("", BlackFont(), picture, look);
  TBox box = BoxOf(picture, Changed);
  EXPECT_NEAR(box.Right, 300 - 10 - 1, 1);
  EXPECT_NEAR(box.Bottom, 200 - 10 - 1, 1);
  EXPECT_NEAR(box.Right - box.Left + 1, 40, 1);
  EXPECT_NEAR(box.Bottom - box.Top + 1, 40, 1);
  // A quarter of the shorter side, shrunk and enlarged alike.
  for (const int side : {120, 400}) {
    look.RelativeSize = 25;
    look.Anchor = TMarkAnchor::Centre;
    picture = Grey(side + 50, side);
    StampBrandText("", BlackFont(), picture, look);
    box = BoxOf(picture, Changed);
    EXPECT_NEAR(box.Bottom - box.Top + 1, side / 4, 1) << side;
    EXPECT_NEAR(box.Right - box.Left + 1, side / 4, 1) << side;
    EXPECT_NEAR((box.Left + box.Right) / 2.0, (side + 50) / 2.0, 1.5) << side;
  }
}

TEST(Logo, TheTextStandsCentredUnderTheLogo) {
  test::TempDirectory dir;
  TStampLook look = SingleAt(TMarkAnchor::Centre, 0);
  look.Logo = RedRingLogo(dir);
  TBitmap picture = Grey(300, 200);
  StampBrandText("Sigilon Studio", BlackFont(), picture, look);
  const TBox logo = BoxOf(picture, Reddish);
  const TBox text = BoxOf(picture, Dark);
  ASSERT_GE(text.Right, 0) << "no text drawn";
  EXPECT_GT(text.Top, logo.Bottom - 2);
  // The text is wider than the logo and centred on it.
  EXPECT_LT(text.Left, logo.Left);
  EXPECT_GT(text.Right, logo.Right);
  EXPECT_NEAR((text.Left + text.Right) / 2.0, (logo.Left + logo.Right) / 2.0, 3);
}

TEST(Logo, ItsShadowFallsDownToTheRight) {
  test::TempDirectory dir;
  TStampLook look = SingleAt(TMarkAnchor::Centre, 0);
  look.Logo = RedRingLogo(dir);
  TBitmap plain = Grey(200, 200);
  StampBrandText("", BlackFont(), plain, look);
  const TBox logo = BoxOf(plain, Reddish);
  look.Shadow = true;
  TBitmap shaded = Grey(200, 200);
  StampBrandText("", BlackFont(), shaded, look);
  // Past the bottom-right corner it is darker than the backdrop; past the
  // top-left, untouched.
  const TRGBQuad below = shaded.GetPixel((logo.Left + logo.Right) / 2, logo.Bottom + 1);
  const TRGBQuad right = shaded.GetPixel(logo.Right + 1, (logo.Top + logo.Bottom) / 2);
  EXPECT_LT(below.Red + 20, 128);
  EXPECT_LT(right.Red + 20, 128);
  EXPECT_FALSE(Changed(shaded.GetPixel((logo.Left + logo.Right) / 2, logo.Top - 4)));
  EXPECT_FALSE(Changed(shaded.GetPixel(logo.Left - 4, (logo.Top + logo.Bottom) / 2)));
  // The logo itself is drawn over its shadow, as without one.
  EXPECT_EQ(shaded.GetPixel(logo.Left + 2, logo.Top + 2),
            plain.GetPixel(logo.Left + 2, logo.Top + 2));
}

TEST(Logo, TiledLogosTurnWithTheMarkAndCoverThePicture) {
  test::TempDirectory dir;
  TStampLook look;
  look.Logo = RedRingLogo(dir);
  look.Opacity = 100;
  TBitmap picture = Grey(400, 300);
  StampBrandText("B", BlackFont(), picture, look);
  // Copies in every quarter of the picture, and the hole of each left alone.
  for (const auto& [x0, y0] : {std::pair{0, 0}, {200, 0}, {0, 150}, {200, 150}}) {
    int red = 0, grey = 0;
    for (int y = y0; y < y0 + 150; ++y) {
      for (int x = x0; x < x0 + 200; ++x) {
        const TRGBQuad p = picture.GetPixel(x, y);
        red += p.Red > 240 && p.Green < 15;
        grey += !Changed(p);
      }
    }
    EXPECT_GT(red, 200 * 150 / 20) << x0 << "," << y0;
    EXPECT_GT(grey, 200 * 150 / 10) << x0 << "," << y0;
  }
}

// Without a text the mark is the logo alone: its copies tile as tightly as
// with a text under them, and nothing dark (the text's colour) is drawn.
TEST(Logo, WithoutATextTheLogoAloneIsTheMark) {
  test::TempDirectory dir;
  TStampLook look;
  look.Logo = RedRingLogo(dir);
  TBitmap alone = Grey(400, 300);
  StampBrandText("", BlackFont(), alone, look);
  TBitmap withText = Grey(400, 300);
  StampBrandText("Sigilon", BlackFont(), withText, look);
  const auto count = [](const TBitmap& picture, bool (*is)(TRGBQuad)) {
    int n = 0;
    for (int y = 0; y < picture.Height(); ++y) {
      for (int x = 0; x < picture.Width(); ++x) n += is(picture.GetPixel(x, y));
    }
    return n;
  };
  EXPECT_GT(count(withText, Dark), 0);
  EXPECT_EQ(count(alone, Dark), 0);
  EXPECT_GT(count(alone, Reddish), count(withText, Reddish));
  EXPECT_GT(count(alone, Reddish), 400 * 300 / 20);
}

TEST(Logo, BandsAndRowsPaintWhatTheWholePictureGets) {
  test::TempDirectory dir;
  TStampLook look;
  look.Logo = RedRingLogo(dir);
  look.Angle = 30;
  look.Shadow = true;
  look.Opacity = 70;
  const TBrandStamp stamp("Ab", BlackFont(), 160, 120, look);
  TBitmap whole = Grey(160, 120);
  stamp.Paint(whole, 0);
  ASSERT_GE(BoxOf(whole, Reddish).Right, 0);
  ASSERT_GE(BoxOf(whole, Dark).Right, 0);
  TBitmap banded = Grey(160, 120);
  TBitmap rows = Grey(160, 120);
  for (int top = 0; top < 120; top += 7) {
    const int height = std::min(7, 120 - top);
    TBitmap band(160, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) std::ranges::copy(banded.Row(top + y), band.Row(y).begin());
    stamp.Paint(band, top);
    for (int y = 0; y < height; ++y) std::ranges::copy(band.Row(y), banded.Row(top + y).begin());
    stamp.PaintRows(rows, top, height);
  }
  for (int y = 0; y < 120; ++y) {
    ASSERT_TRUE(std::ranges::equal(banded.Row(y), whole.Row(y))) << "band row " << y;
    ASSERT_TRUE(std::ranges::equal(rows.Row(y), whole.Row(y))) << "rows " << y;
  }
}

TEST(Logo, AnSvgLogoIsDrawnAtItsProportions) {
  ASSERT_TRUE(SvgLogosSupported()) << "tools/install-deps.sh installs librsvg";
  test::TempDirectory dir;
  const std::string path = dir / "logo.SVG";
  std::ofstream(path) << "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10'>"
                         "<rect width='10' height='10' fill='#0000ff'/></svg>";
  const auto logo = LoadLogo(path);
  ASSERT_EQ(logo->PixelFormat(), TPixelFormat::pfBGRA32);
  EXPECT_EQ(logo->Height(), kSvgLogoHeight);
  EXPECT_EQ(logo->Width(), 2 * kSvgLogoHeight);
  // Blue and opaque on the left half, transparent on the right.
  const std::uint8_t* row = logo->Row(kSvgLogoHeight / 2).data();
  const int left = kSvgLogoHeight / 2, right = 3 * kSvgLogoHeight / 2;
  EXPECT_EQ(row[4 * left], 255);
  EXPECT_EQ(row[4 * left + 2], 0);
  EXPECT_EQ(row[4 * left + 3], 255);
  EXPECT_EQ(row[4 * right + 3], 0);
}

TEST(Logo, AFileThatIsNoLogoThrows) {
  test::TempDirectory dir;
  std::ofstream(dir / "a.png") << "text";
  std::ofstream(dir / "b.svg") << "<svg";
  for (const std::string name : {"a.png", "b.svg", "none.png"}) {
    EXPECT_ANY_THROW(LoadLogo(dir / name)) << name;
  }
}

TEST(Logo, ResamplingInPremultipliedAlphaKeepsHiddenColoursOut) {
  // Opaque white beside transparent green: halved, the edge is white at
  // half alpha, never tinted green.
  TBitmap logo(4, 2, TPixelFormat::pfBGRA32);
  for (int y = 0; y < 2; ++y) {
    std::uint8_t* row = logo.Row(y).data();
    for (int x = 0; x < 4; ++x) {
      const bool white = x < 1;
      row[4 * x] = white ? 255 : 0;
      row[4 * x + 1] = 255;
      row[4 * x + 2] = white ? 255 : 0;
      row[4 * x + 3] = white ? 255 : 0;
    }
  }
  const std::vector<std::uint8_t> half = ResampleLogo(logo, 2, 1);
  EXPECT_NEAR(half[3], 128, 1);
  EXPECT_EQ(half[0], half[1]);
  EXPECT_EQ(half[1], half[2]);
  EXPECT_EQ(half[7], 0);
  // Enlarged, opaque stays opaque.
  const std::vector<std::uint8_t> big = ResampleLogo(logo, 8, 4);
  EXPECT_EQ(big[3], 255);
}

}  // namespace
}  // namespace sigilon
