// Drawing font attributes, the font text reader's drawing form, colours and
// text measurement.

#include <gtest/gtest.h>

#include <string>

#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/BrandFile.h"

namespace sigilon {
namespace {

TEST(PointsToPixels, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(PointsToPixels(10, 96), 13);  // 13.33
  EXPECT_EQ(PointsToPixels(8, 96), 11);   // 10.67
  EXPECT_EQ(PointsToPixels(3, 60), 3);    // 2.5
  EXPECT_EQ(PointsToPixels(-3, 60), -3);
  EXPECT_EQ(PointsToPixels(10, 0), 13);  // no resolution known: 96
  EXPECT_EQ(PointsToPixels(2147483647, 96), 2147483647);
  // Clamped symmetrically: a height that a font negates must have a negation.
  EXPECT_EQ(PointsToPixels(-1700000000, 96), -2147483647);
}

TEST(DrawingTextToFont, ReadsFaceSizeStyleAndColour) {
  // One font throughout: each text replaces the style of the one before.
  TFont font;
  TextToFont("\"DejaVu Serif\", 10, [Bold|Underline], [clRed]", font);
  EXPECT_EQ(
      font.LogFont(),
      (TLogFont{.Height = -13, .Weight = 700, .Underline = true, .FaceName = "DejaVu Serif"}));
  EXPECT_EQ(font.Color, 0x000000FF);
  EXPECT_EQ(font.Size(), 10);

  font.PixelsPerInch = 120;
  TextToFont("\"DejaVu Serif\", 10, [Italic], [$00123456]", font);
  // 16.67 pixels
  EXPECT_EQ(font.LogFont(), (TLogFont{.Height = -17, .Italic = true, .FaceName = "DejaVu Serif"}));
  EXPECT_EQ(font.Color, 0x00123456);

  font.PixelsPerInch = 96;
  TextToFont("\"DejaVu Serif\", -10, [], [clBlack]", font);
  EXPECT_EQ(font.Height(), 13);  // cell height

  // The drawing colour table, whatever the case.
  TextToFont("\"DejaVu Sans\", 9, [], [clHighlight]", font);
  EXPECT_EQ(static_cast<std::uint32_t>(font.Color), 0x8000000Du);
  TextToFont("\"DejaVu Sans\", 9, [], [clinfobk]", font);
  EXPECT_EQ(static_cast<std::uint32_t>(font.Color), 0x80000018u);
}

TEST(DrawingTextToFont, FaceNameRules) {
  TFont font;
  const std::string before = font.Name();
  TextToFont("\"\", 12, [], [clBlack]", font);
  EXPECT_EQ(font.Name(), before);  // empty name keeps the face

  TextToFont("\"" + std::string(40, 'x') + "\", 12, [], [clBlack]", font);
  EXPECT_EQ(font.Name(), std::string(31, 'x'));

  // 30 ASCII letters and a two-byte letter: the letter would be split at 31
  // bytes, so it is left out whole.
  font.SetName(std::string(30, 'a') + "\xC3\xA9" + "z");
  EXPECT_EQ(font.Name(), std::string(30, 'a'));
}

TEST(DrawingTextToFont, PartialFailure) {
  // A window-only identifier fails; name and size read before it stay set,
  // the style does not change.
  TFont font;
  font.SetStyle(fsItalic);
  EXPECT_THROW(TextToFont("\"DejaVu Serif\", 20, [Bold], [clText]", font), ConvertError);
  EXPECT_EQ(font.Name(), "DejaVu Serif");
  EXPECT_EQ(font.Height(), -27);
  EXPECT_EQ(font.Style(), TFontStyles{fsItalic});
}

TEST(DrawingFont, NewFontDefaults) {
  TFont font;
  EXPECT_EQ(font.Color, clWindowText);
  EXPECT_EQ(font.Height(), -11);  // 8 points at 96 PPI
  EXPECT_EQ(font.Style(), 0u);
  EXPECT_EQ(font.Charset(), kDefaultCharset);
  TBitmap bitmap(4, 4, TPixelFormat::pf24bit);
  TCanvas canvas(bitmap);
  EXPECT_GT(canvas.TextExtent("Sigilon").cx, 0);  // the default face resolves
}

TEST(Colors, SystemAndSpecialValues) {
  const auto rgb = [](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return TRGBQuad{b, g, r, 0};
  };
  EXPECT_EQ(ColorToRGB(0x000000FF), rgb(255, 0, 0));
  EXPECT_EQ(ColorToRGB(0x00FF0000), rgb(0, 0, 255));
  EXPECT_EQ(ColorToRGB(clWindowText), rgb(0, 0, 0));
  EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x80000005u)), rgb(255, 255, 255));  // window
  EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x8000000Du)), rgb(10, 36, 106));    // highlight
  EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x8000000Fu)), rgb(212, 208, 200));  // button face
  // The tooltip background agrees with the plain value the window table gives clInfoBk.
  EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x80000018u)), ColorToRGB(0x00E1FFFF));
  EXPECT_EQ(ColorToRGB(static_cast<TColor>(0x8000001Fu)), rgb(0, 0, 0));  // beyond the table
  EXPECT_EQ(ColorToRGB(clNone), ColorToRGB(clWindowText));
  EXPECT_EQ(ColorToRGB(clDefault), ColorToRGB(clWindowText));
}

class Measure : public ::testing::Test {
 protected:
  TSize Extent(const std::string& text, int height, std::int32_t escapement = 0) {
    TLogFont log = canvas_.Font.LogFont();
    log.FaceName = "DejaVu Sans";
    log.Height = height;
    log.Escapement = log.Orientation = escapement;
    canvas_.Font.SetLogFont(log);
    return canvas_.TextExtent(text);
  }
  TBitmap bitmap_{8, 8, TPixelFormat::pf24bit};
  TCanvas canvas_{bitmap_};
};

TEST_F(Measure, HeightMeaningAndScaling) {
  const TSize em13 = Extent("Studio", -13);
  const TSize em26 = Extent("Studio", -26);
  // Line height of a 13-pixel character: more than the em, not absurdly so.
  EXPECT_GE(em13.cy, 13);
  EXPECT_LE(em13.cy, 18);
  EXPECT_NEAR(em26.cy, 2 * em13.cy, 2);
  EXPECT_NEAR(em26.cx, 2 * em13.cx, 6);  // each advance rounds on its own
  // A positive height is the cell height itself.
  EXPECT_EQ(Extent("Studio", 15).cy, 15);
  EXPECT_EQ(Extent("Studio", 40).cy, 40);
  // Turning the text does not change its measurements.
  EXPECT_EQ(Extent("Studio", -13, 450), em13);
}

TEST_F(Measure, WidthIsTheSumOfAdvancesWithoutKerning) {
  EXPECT_EQ(Extent("AV", -40).cx, Extent("A", -40).cx + Extent("V", -40).cx);
  EXPECT_EQ(Extent("To.", -40).cx, Extent("T", -40).cx + Extent("o", -40).cx + Extent(".", -40).cx);
  EXPECT_EQ(Extent("", -40).cx, 0);
  EXPECT_EQ(Extent("\xE2\x80\x8B", -40).cx, 0);  // zero-width space
}

TEST_F(Measure, TextIsUtf8) {
  const int copyright = Extent("\xC2\xA9", -30).cx;  // one code point, U+00A9
  EXPECT_GT(copyright, 0);
  EXPECT_EQ(Extent("\xC2\xA9 Studio", -30).cx, copyright + Extent(" Studio", -30).cx);
  // A lone byte that is not UTF-8 stands for its Latin-1 character.
  EXPECT_EQ(Extent("\xA9", -30).cx, copyright);
  EXPECT_EQ(Extent("\xC3\xA9", -30).cx, Extent("\xE9", -30).cx);
}

}  // namespace
}  // namespace sigilon
