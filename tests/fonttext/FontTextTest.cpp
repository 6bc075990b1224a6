#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/FontText.h"
#include "engine/Errors.h"

namespace sigilon {
namespace {

using Table = std::span<const TColorEntry>;

// Records every call in order, so tests see what was set before a failure.
class Recorder : public TFontTextTarget {
 public:
  explicit Recorder(TFontDescription start = {}) : font(std::move(start)) {}
  void SetName(const std::string& name) override { Set(font.Name, name, "name "); }
  void SetSize(std::int32_t points) override { Set(font.Size, points, "size "); }
  void SetColor(TColor color) override { Set(font.Color, color, "color "); }
  void SetStyle(TFontStyles style) override { Set(font.Style, style, "style "); }
  TFontDescription font;
  std::string calls;  // each call's name and a blank

 private:
  template <class T>
  void Set(T& field, const T& value, const char* call) {
    field = value;
    calls += call;
  }
};

Recorder Read(const std::string& text, Table table = WindowColorTable()) {
  Recorder r;
  ReadFontText(text, r, table);
  return r;
}

TColor ValueOf(Table table, const std::string& ident) {
  for (const auto& e : table) {
    if (ident == e.Ident) return e.Value;
  }
  ADD_FAILURE() << ident << " not in table";
  return 0;
}

std::string Invalid(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
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
      EXPECT_TRUE(seen.insert(e.Ident).second) << "duplicate " << e.Ident;
    }
  }
}

TEST(ColorTables, ValuesWhereTheTablesDiffer) {
  const auto window = WindowColorTable();
  const auto drawing = DrawingColorTable();
  EXPECT_EQ(ValueOf(window, "clBackground"), -11);
  EXPECT_EQ(ValueOf(drawing, "clBackground"), static_cast<TColor>(0x80000001u));
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
      EXPECT_EQ(r.calls, "name size color style ") << text;
    }
  }
  for (const auto& e : WindowColorTable()) {
    const TFontDescription font{"F", 9, 0, e.Value};
    EXPECT_EQ(Read(FontToText(font)).font, font) << e.Ident;
  }
}

TEST(ReadFontText, HandWrittenTexts) {
  const Table window = WindowColorTable();
  const Table drawing = DrawingColorTable();
  const struct {
    const char* text;
    Table table;
    TFontDescription font;
  } cases[] = {
      // Whatever stands in the quote positions is dropped, quotes or not.
      {"xAriay, 10, [], [clRed]", window, {"Aria", 10, 0, 0x0000FF}},
      {"\"\", 10, [], [clRed]", window, {"", 10, 0, 0x0000FF}},
      // Style words match with case, in any order, only after a bar or at the start.
      {"\"A\", 1, [Italic|Bold], [clBlack]", window, {"A", 1, fsBold | fsItalic, 0}},
      {"\"A\", 1, [bold|ITALIC], [clBlack]", window, {"A", 1, 0, 0}},
      {"\"A\", 1, [Heavy|Oblique], [clBlack]", window, {"A", 1, 0, 0}},
      {"\"A\", 1, [Boldface], [clBlack]", window, {"A", 1, fsBold, 0}},
      {"\"A\", 1, [Strikeout|Underline], [clBlack]",
       window,
       {"A", 1, fsStrikeOut | fsUnderline, 0}},
      {"\"A\", 1, [NotBold], [clBlack]", window, {"A", 1, 0, 0}},
      {"\"A\", 1, [Italic], [clBlack]", window, {"A", 1, fsItalic, 0}},
      // Colour identifiers ignore case, then integers are tried.
      {"\"A\", 1, [], [CLRED]", window, {"A", 1, 0, 0x0000FF}},
      {"\"A\", 1, [], [clinfobk]", window, {"A", 1, 0, 0x00E1FFFF}},
      {"\"A\", 1, [], [$FF000000]", window, {"A", 1, 0, static_cast<TColor>(0xFF000000u)}},
      {"\"A\", 1, [], [255]", window, {"A", 1, 0, 255}},
      {"\"A\", 1, [], [0x00ff00]", window, {"A", 1, 0, 0x00FF00}},
      // The drawing table has values of its own.
      {"\"A\", 3, [], [clHighlight]", drawing, {"A", 3, 0, static_cast<TColor>(0x8000000Du)}},
      {"\"A\", 3, [], [clHighlightText]", drawing, {"A", 3, 0, static_cast<TColor>(0x8000000Eu)}},
      {"\"A\", 3, [], [clcream]", drawing, {"A", 3, 0, 0x00F0FBFF}},
  };
  for (const auto& c : cases) {
    // Every attribute is replaced, the style too rather than merged.
    Recorder r({"old", 99, fsBold | fsUnderline, 0x111111});
    ReadFontText(c.text, r, c.table);
    EXPECT_EQ(r.font, c.font) << c.text;
  }
}

// What was set before a failure stays set; nothing after it is touched.
TEST(ReadFontText, FailuresKeepWhatWasSetBefore) {
  const Table window = WindowColorTable();
  const Table drawing = DrawingColorTable();
  struct Case {
    std::string text;
    Table table;
    std::string bad;  // the text the message quotes
    std::string name;
    std::optional<std::int32_t> size;  // nothing: the size was not set
  };
  std::vector<Case> cases = {// A comma in the face name: the name stops one short of it, the rest
                             // becomes the size text.
                             {"\"Abc, Def\", 10, [], [clRed]", window, "Def\"", "Ab", {}},
                             // Without a comma the name is empty and so is the size text.
                             {"Arial", window, "", "", {}},
                             {"", window, "", "", {}},
                             {"\"New\", 7, [Bold], [clNoSuch]", window, "clNoSuch", "New", 7},
                             {"\"A\", 3, [], [clMoneyGreen]", window, "clMoneyGreen", "A", 3}};
  // The drawing table refuses the window-only identifiers, which the window table knows.
  for (const std::string ident : {"clText", "clButton", "clNormalBase", "clHighlightedText"}) {
    cases.push_back({"\"A\", 3, [], [" + ident + "]", drawing, ident, "A", 3});
    EXPECT_NO_THROW(Read("\"A\", 3, [], [" + ident + "]"));
  }
  for (const auto& c : cases) {
    Recorder r({"old", 99, fsItalic, 0x111111});
    try {
      ReadFontText(c.text, r, c.table);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const ConvertError& e) {
      EXPECT_EQ(e.what(), Invalid(c.bad)) << c.text;
    }
    EXPECT_EQ(r.font, (TFontDescription{c.name, c.size.value_or(99), fsItalic, 0x111111}))
        << c.text;
    EXPECT_EQ(r.calls, c.size ? "name size " : "name ") << c.text;
  }
}

// Optional leading blanks, then a signed decimal that fits 32 bits, or one of
// the hex prefixes and one to eight digits.
TEST(StrToInt, DecimalAndHexTexts) {
  const std::map<std::int32_t, std::vector<const char*>> good = {
      {0, {"0", "-0", "  $0"}},
      {7, {"+7", "007"}},
      {12, {"00000000000000000000012"}},
      {26, {"0x1a", "0X1A"}},
      {42, {"  42"}},
      {255, {"$FF", "xff", "XfF"}},
      {-1, {"$FFFFFFFF"}},
      {2147483647, {"2147483647", "$7FFFFFFF"}},
      {-2147483647 - 1, {"-2147483648", "$80000000"}}};
  for (const auto& [value, texts] : good) {
    for (const char* text : texts) EXPECT_EQ(StrToInt(text), value) << '"' << text << '"';
  }
  for (const char* bad :
       {"",           "   ", "+",    "-",   "2147483648", "-2147483649", "99999999999999999999",
        "12 ",        "1 2", "- 1",  "1.5", "1e3",        "abc",         "\t1",
        "--1",        "+-1", "12a",  "$",   "0x",         "x",           "$123456789",
        "$00000000F", "-$1", "+0x1", "$G",  "$1 ",        "0x-1",        "$ 1",
        "00x1"}) {
    EXPECT_THROW(StrToInt(bad), ConvertError) << '"' << bad << '"';
  }
  try {
    StrToInt(" 12x");
    ADD_FAILURE() << "no error";
  } catch (const ConvertError& e) {
    EXPECT_EQ(e.what(), Invalid(" 12x"));  // the whole text, blanks and all
  }
}

}  // namespace
}  // namespace sigilon
