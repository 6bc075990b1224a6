#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/Conversions_Unit.h"
#include "engine/Errors.h"

namespace sigilon {
namespace {

// Records every call in order, so tests see what was set before a failure.
class Recorder : public TFontTextTarget {
 public:
  void SetName(const std::string& name) override {
    font.Name = name;
    calls.push_back("name");
  }
  void SetSize(std::int32_t points) override {
    font.Size = points;
    calls.push_back("size");
  }
  void SetColor(TColor color) override {
    font.Color = color;
    calls.push_back("color");
  }
  void SetStyle(TFontStyles style) override {
    font.Style = style;
    calls.push_back("style");
  }
  TFontDescription font;
  std::vector<std::string> calls;
};

Recorder Read(const std::string& text, std::span<const TColorEntry> table = WindowColorTable()) {
  Recorder r;
  ReadFontText(text, r, table);
  return r;
}

// The message of the conversion error a read raises, or "" when it succeeds.
std::string ReadError(const std::string& text, Recorder& r,
                      std::span<const TColorEntry> table = WindowColorTable()) {
  try {
    ReadFontText(text, r, table);
  } catch (const ConvertError& e) {
    return e.what();
  }
  return {};
}

TColor ValueOf(std::span<const TColorEntry> table, const std::string& ident) {
  for (const auto& e : table) {
    if (ident == e.Ident) return e.Value;
  }
  ADD_FAILURE() << ident << " not in table";
  return 0;
}

TEST(ColorTables, SizesSharedHeadAndUniqueIdentifiers) {
  const auto window = WindowColorTable();
  const auto drawing = DrawingColorTable();
  ASSERT_EQ(window.size(), 96u);
  ASSERT_EQ(drawing.size(), 52u);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_STREQ(window[i].Ident, drawing[i].Ident);
    EXPECT_EQ(window[i].Value, drawing[i].Value);
  }
  EXPECT_STREQ(window[0].Ident, "clBlack");
  EXPECT_STREQ(window[15].Ident, "clWhite");
  for (auto table : {window, drawing}) {
    std::set<std::string> seen;
    for (const auto& e : table) {
      ASSERT_NE(e.Ident, nullptr);
      EXPECT_TRUE(seen.insert(e.Ident).second) << "duplicate " << e.Ident;
    }
  }
}

TEST(ColorTables, ValuesWhereTheTablesDiffer) {
  const auto window = WindowColorTable();
  const auto drawing = DrawingColorTable();
  EXPECT_EQ(ValueOf(window, "clBackground"), -11);
  EXPECT_EQ(ValueOf(drawing, "clBackground"), static_cast<TColor>(0x80000001u));
  EXPECT_EQ(ValueOf(window, "clInfoBk"), 0x00E1FFFF);
  EXPECT_EQ(ValueOf(drawing, "clInfoBk"), static_cast<TColor>(0x80000018u));
  EXPECT_EQ(ValueOf(drawing, "clScrollBar"), static_cast<TColor>(0x80000000u));
  EXPECT_EQ(ValueOf(drawing, "clMenuBar"), static_cast<TColor>(0x8000001Eu));
  EXPECT_EQ(ValueOf(drawing, "clDefault"), clDefault);
  EXPECT_EQ(ValueOf(drawing, "clMoneyGreen"), 0x00C0DCC0);
  EXPECT_EQ(ValueOf(window, "clNormalHighlightedText"), -46);
  EXPECT_EQ(ValueOf(window, "clDisabledForeground"), -65);
  EXPECT_EQ(ValueOf(window, "clActiveHighlight"), -109);
  EXPECT_EQ(window[16].Value, clNone);
}

TEST(FontToText, LayoutAndStyleList) {
  EXPECT_EQ(FontToText({"Arial", 10, 0, 0}), "\"Arial\", 10, [], [clBlack]");
  EXPECT_EQ(FontToText({"DejaVu Sans", 12, fsUnderline | fsBold, 0x0000FF}),
            "\"DejaVu Sans\", 12, [Bold|Underline], [clRed]");
  EXPECT_EQ(FontToText({"", -8, fsStrikeOut | fsItalic | fsUnderline | fsBold, 0x123456}),
            "\"\", -8, [Bold|Italic|Underline|Strikeout], [$00123456]");
  EXPECT_EQ(FontToText({"X", 0, fsStrikeOut, -200}), "\"X\", 0, [Strikeout], [$FFFFFF38]");
}

TEST(FontToText, ColourTakesTheFirstWindowIdentifierOfItsValue) {
  auto colorText = [](TColor c) {
    const std::string t = FontToText({"A", 1, 0, c});
    return t.substr(t.rfind('[') + 1, t.size() - t.rfind('[') - 2);
  };
  EXPECT_EQ(colorText(-2), "clButton");  // not clScrollBar or clBtnFace
  EXPECT_EQ(colorText(-6), "clMid");
  EXPECT_EQ(colorText(-14), "clHighlightText");
  EXPECT_EQ(colorText(-110), "clActiveHighlightedText");
  EXPECT_EQ(colorText(0x00E1FFFF), "clInfoBk");
  EXPECT_EQ(colorText(clNone), "clNone");
  // Drawing-only values have no window identifier.
  EXPECT_EQ(colorText(static_cast<TColor>(0x80000005u)), "$80000005");
  EXPECT_EQ(colorText(clDefault), "$20000000");
}

TEST(FontText, RoundTripsThroughBothTables) {
  const std::vector<TFontDescription> fonts = {
      {"Arial", 10, 0, 0},
      {"DejaVu Sans Mono", 72, fsBold | fsItalic, 0x00FFFF00},
      {"Q\"uote\"d", -12, fsUnderline | fsStrikeOut, 0x00ABCDEF},
      {"", 0, fsBold | fsItalic | fsUnderline | fsStrikeOut, static_cast<TColor>(0xDEADBEEFu)},
      {"Name with [brackets] | bars", 2147483647, fsItalic, 0x00800080},
      {"Min", -2147483647 - 1, 0, 0x00C0C0C0},
  };
  for (const auto& font : fonts) {
    const std::string text = FontToText(font);
    for (auto table : {WindowColorTable(), DrawingColorTable()}) {
      const Recorder r = Read(text, table);
      EXPECT_EQ(r.font, font) << text;
      EXPECT_EQ(r.calls, (std::vector<std::string>{"name", "size", "color", "style"})) << text;
    }
  }
}

TEST(FontText, WindowPaletteRolesRoundTripInTheWindowTable) {
  for (const auto& e : WindowColorTable()) {
    const TFontDescription font{"F", 9, 0, e.Value};
    EXPECT_EQ(Read(FontToText(font)).font, font) << e.Ident;
  }
}

TEST(ReadFontText, GoesByCommaPositionsNotQuotes) {
  // Whatever stands in the quote positions is dropped, quotes or not.
  EXPECT_EQ(Read("xAriay, 10, [], [clRed]").font.Name, "Aria");
  EXPECT_EQ(Read("\"\", 10, [], [clRed]").font.Name, "");

  // A comma in the face name: the name stops one short of it, the rest
  // becomes the size text.
  Recorder r;
  r.font = {"old", 99, fsItalic, 0x111111};
  EXPECT_EQ(ReadError("\"Abc, Def\", 10, [], [clRed]", r), "'Def\"' is not a valid integer value");
  EXPECT_EQ(r.font.Name, "Ab");
  EXPECT_EQ(r.calls, std::vector<std::string>{"name"});
}

TEST(ReadFontText, TextWithoutCommaSetsEmptyNameThenFailsOnEmptySize) {
  Recorder r;
  r.font.Name = "kept?";
  EXPECT_EQ(ReadError("Arial", r), "'' is not a valid integer value");
  EXPECT_EQ(r.font.Name, "");
  EXPECT_EQ(r.calls, std::vector<std::string>{"name"});

  Recorder empty;
  EXPECT_EQ(ReadError("", empty), "'' is not a valid integer value");
}

TEST(ReadFontText, FailedColourLeavesNameAndSizeSetAndStyleUntouched) {
  Recorder r;
  r.font = {"old", 99, fsItalic, 0x111111};
  EXPECT_EQ(ReadError("\"New\", 7, [Bold], [clNoSuch]", r),
            "'clNoSuch' is not a valid integer value");
  EXPECT_EQ(r.font, (TFontDescription{"New", 7, fsItalic, 0x111111}));
  EXPECT_EQ(r.calls, (std::vector<std::string>{"name", "size"}));
}

TEST(ReadFontText, StyleWordsMatchWithCaseInAnyOrder) {
  EXPECT_EQ(Read("\"A\", 1, [Italic|Bold], [clBlack]").font.Style, fsBold | fsItalic);
  EXPECT_EQ(Read("\"A\", 1, [bold|ITALIC], [clBlack]").font.Style, 0u);
  EXPECT_EQ(Read("\"A\", 1, [Heavy|Oblique], [clBlack]").font.Style, 0u);
  EXPECT_EQ(Read("\"A\", 1, [Boldface], [clBlack]").font.Style, fsBold);
  EXPECT_EQ(Read("\"A\", 1, [Strikeout|Underline], [clBlack]").font.Style,
            fsStrikeOut | fsUnderline);
  // A word only counts after a bar or at the start.
  EXPECT_EQ(Read("\"A\", 1, [NotBold], [clBlack]").font.Style, 0u);
  // The style is replaced, not merged.
  Recorder r;
  r.font.Style = fsBold | fsUnderline;
  ReadFontText("\"A\", 1, [Italic], [clBlack]", r, WindowColorTable());
  EXPECT_EQ(r.font.Style, fsItalic);
}

TEST(ReadFontText, ColourIdentifiersIgnoreCaseThenFallBackToIntegers) {
  EXPECT_EQ(Read("\"A\", 1, [], [CLRED]").font.Color, 0x0000FF);
  EXPECT_EQ(Read("\"A\", 1, [], [clinfobk]").font.Color, 0x00E1FFFF);
  EXPECT_EQ(Read("\"A\", 1, [], [$FF000000]").font.Color, static_cast<TColor>(0xFF000000u));
  EXPECT_EQ(Read("\"A\", 1, [], [255]").font.Color, 255);
  EXPECT_EQ(Read("\"A\", 1, [], [0x00ff00]").font.Color, 0x00FF00);
}

TEST(ReadFontText, DrawingTableRefusesWindowOnlyIdentifiersAndUsesItsOwnValues) {
  for (const std::string ident : {"clText", "clButton", "clNormalBase", "clHighlightedText"}) {
    Recorder r;
    EXPECT_EQ(ReadError("\"A\", 3, [], [" + ident + "]", r, DrawingColorTable()),
              "'" + ident + "' is not a valid integer value");
    EXPECT_EQ(r.calls, (std::vector<std::string>{"name", "size"}));
    EXPECT_NO_THROW(Read("\"A\", 3, [], [" + ident + "]"));
  }
  const auto draw = [](const std::string& ident) {
    return Read("\"A\", 3, [], [" + ident + "]", DrawingColorTable()).font.Color;
  };
  EXPECT_EQ(draw("clBackground"), static_cast<TColor>(0x80000001u));
  EXPECT_EQ(draw("clHighlight"), static_cast<TColor>(0x8000000Du));
  EXPECT_EQ(draw("clHighlightText"), static_cast<TColor>(0x8000000Eu));
  EXPECT_EQ(draw("clInfoBk"), static_cast<TColor>(0x80000018u));
  EXPECT_EQ(draw("clcream"), 0x00F0FBFF);
  // ... and the window table knows nothing of the drawing-only names.
  Recorder r;
  EXPECT_EQ(ReadError("\"A\", 3, [], [clMoneyGreen]", r),
            "'clMoneyGreen' is not a valid integer value");
}

TEST(StrToInt, DecimalSignsBlanksAndBounds) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("  42"), 42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-0"), 0);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToInt("00000000000000000000012"), 12);
  for (const char* bad : {"", "   ", "+", "-", "2147483648", "-2147483649", "99999999999999999999",
                          "12 ", "1 2", "- 1", "1.5", "1e3", "abc", "\t1", "--1", "+-1", "12a"}) {
    EXPECT_THROW(StrToInt(bad), ConvertError) << '"' << bad << '"';
  }
}

TEST(StrToInt, HexPrefixesAndPatterns) {
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("xff"), 255);
  EXPECT_EQ(StrToInt("XfF"), 255);
  EXPECT_EQ(StrToInt("0x1a"), 26);
  EXPECT_EQ(StrToInt("0X1A"), 26);
  EXPECT_EQ(StrToInt("  $0"), 0);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("$80000000"), -2147483647 - 1);
  EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
  for (const char* bad : {"$", "0x", "x", "$123456789", "$00000000F", "-$1", "+0x1", "$G", "$1 ",
                          "0x-1", "$ 1", "00x1"}) {
    EXPECT_THROW(StrToInt(bad), ConvertError) << '"' << bad << '"';
  }
}

TEST(StrToInt, MessageQuotesTheWholeText) {
  try {
    StrToInt(" 12x");
    FAIL() << "no error";
  } catch (const ConvertError& e) {
    EXPECT_STREQ(e.what(), "' 12x' is not a valid integer value");
  }
}

}  // namespace
}  // namespace sigilon
