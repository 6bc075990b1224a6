#include "engine/FontText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "engine/Errors.h"
#include "platform/PathText.h"

namespace sigilon {
namespace {

constexpr TColor SysColor(std::uint32_t index) {
  return static_cast<TColor>(kSystemColorBase + index);
}

// The sixteen plain colours both tables begin with, in table order.
constexpr std::array<TColorEntry, 16> kBasicColors = {{
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
}};

template <std::size_t N>
constexpr std::array<TColorEntry, 16 + N> AfterBasicColors(const std::array<TColorEntry, N>& more) {
  std::array<TColorEntry, 16 + N> all{};
  for (std::size_t i = 0; i < 16; ++i) all[i] = kBasicColors[i];
  for (std::size_t i = 0; i < N; ++i) all[16 + i] = more[i];
  return all;
}

constexpr auto kWindowColors = AfterBasicColors(std::array<TColorEntry, 80>{{
    {"clNone", clNone},
    // The plain roles in their historical order; role 14 drops the "ed".
    {"clBackground", -11},
    {"clHighlight", -13},
    {"clHighlightText", -14},
    {"clForeground", -1},
    {"clButton", -2},
    {"clLight", -3},
    {"clMidlight", -4},
    {"clDark", -5},
    {"clMid", -6},
    {"clText", -7},
    {"clBrightText", -8},
    {"clButtonText", -9},
    {"clBase", -10},
    {"clShadow", -12},
    // Role k of the list Foreground, Button, Light, Midlight, Dark, Mid, Text,
    // BrightText, ButtonText, Base, Background, Shadow, Highlight,
    // HighlightedText, per colour group: -(32 + k), -(64 + k), -(96 + k).
    {"clNormalForeground", -33},
    {"clNormalButton", -34},
    {"clNormalLight", -35},
    {"clNormalMidlight", -36},
    {"clNormalDark", -37},
    {"clNormalMid", -38},
    {"clNormalText", -39},
    {"clNormalBrightText", -40},
    {"clNormalButtonText", -41},
    {"clNormalBase", -42},
    {"clNormalBackground", -43},
    {"clNormalShadow", -44},
    {"clNormalHighlight", -45},
    {"clNormalHighlightedText", -46},
    {"clDisabledForeground", -65},
    {"clDisabledButton", -66},
    {"clDisabledLight", -67},
    {"clDisabledMidlight", -68},
    {"clDisabledDark", -69},
    {"clDisabledMid", -70},
    {"clDisabledText", -71},
    {"clDisabledBrightText", -72},
    {"clDisabledButtonText", -73},
    {"clDisabledBase", -74},
    {"clDisabledBackground", -75},
    {"clDisabledShadow", -76},
    {"clDisabledHighlight", -77},
    {"clDisabledHighlightedText", -78},
    {"clActiveForeground", -97},
    {"clActiveButton", -98},
    {"clActiveLight", -99},
    {"clActiveMidlight", -100},
    {"clActiveDark", -101},
    {"clActiveMid", -102},
    {"clActiveText", -103},
    {"clActiveBrightText", -104},
    {"clActiveButtonText", -105},
    {"clActiveBase", -106},
    {"clActiveBackground", -107},
    {"clActiveShadow", -108},
    {"clActiveHighlight", -109},
    {"clActiveHighlightedText", -110},
    // Names kept for texts written by older versions; all but clInfoBk repeat
    // an earlier value, so the writer never produces them.
    {"clScrollBar", -2},
    {"clActiveCaption", -110},
    {"clInactiveCaption", -78},
    {"clMenu", -6},
    {"clWindow", -10},
    {"clWindowFrame", -13},
    {"clMenuText", -9},
    {"clWindowText", -7},
    {"clCaptionText", -14},
    {"clActiveBorder", -109},
    {"clInactiveBorder", -77},
    {"clAppWorkSpace", -6},
    {"clBtnFace", -2},
    {"clBtnShadow", -5},
    {"clGrayText", -3},
    {"clBtnText", -9},
    {"clInactiveCaptionText", -78},
    {"clBtnHighlight", -99},
    {"cl3DDkShadow", -6},
    {"cl3DLight", -4},
    {"clInfoText", -7},
    {"clInfoBk", 0xE1FFFF},
    {"clHighlightedText", -14},
}});

constexpr auto kDrawingColors = AfterBasicColors(std::array<TColorEntry, 36>{{
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    // Operating-system display colours, by their system colour index.
    {"clActiveBorder", SysColor(10)},
    {"clActiveCaption", SysColor(2)},
    {"clAppWorkSpace", SysColor(12)},
    {"clBackground", SysColor(1)},
    {"clBtnFace", SysColor(15)},
    {"clBtnHighlight", SysColor(20)},
    {"clBtnShadow", SysColor(16)},
    {"clBtnText", SysColor(18)},
    {"clCaptionText", SysColor(9)},
    {"clDefault", clDefault},
    {"clGradientActiveCaption", SysColor(27)},
    {"clGradientInactiveCaption", SysColor(28)},
    {"clGrayText", SysColor(17)},
    {"clHighlight", SysColor(13)},
    {"clHighlightText", SysColor(14)},
    {"clHotLight", SysColor(26)},
    {"clInactiveBorder", SysColor(11)},
    {"clInactiveCaption", SysColor(3)},
    {"clInactiveCaptionText", SysColor(19)},
    {"clInfoBk", SysColor(24)},
    {"clInfoText", SysColor(23)},
    {"clMenu", SysColor(4)},
    {"clMenuBar", SysColor(30)},
    {"clMenuHighlight", SysColor(29)},
    {"clMenuText", SysColor(7)},
    {"clNone", clNone},
    {"clScrollBar", SysColor(0)},
    {"cl3DDkShadow", SysColor(21)},
    {"cl3DLight", SysColor(22)},
    {"clWindow", SysColor(5)},
    {"clWindowFrame", SysColor(6)},
    {"clWindowText", SysColor(8)},
}});
static_assert(kWindowColors.size() == 96 && kDrawingColors.size() == 52);

// Style words in the order the writer emits them.
struct TStyleWord {
  const char* Word;
  TFontStyle Flag;
};
constexpr std::array<TStyleWord, 4> kStyleWords = {{
    {"Bold", fsBold},
    {"Italic", fsItalic},
    {"Underline", fsUnderline},
    {"Strikeout", fsStrikeOut},
}};

[[noreturn]] void ThrowNotAnInteger(const std::string& text) {
  throw ConvertError("'" + text + "' is not a valid integer value");
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The reader counts character positions from 1: `count` characters from
// position `pos`, an empty piece for a count of zero or less or a position
// past the end.
std::string Piece(const std::string& s, std::int64_t pos, std::int64_t count) {
  if (count <= 0 || pos < 1 || pos > static_cast<std::int64_t>(s.size())) return {};
  return s.substr(static_cast<std::size_t>(pos - 1), static_cast<std::size_t>(count));
}

// Position (from 1) of the first comma, 0 when there is none.
std::int64_t FirstComma(const std::string& s) {
  const auto at = s.find(',');
  return at == std::string::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

// Removes the first `count` characters; a longer count empties the text.
void DeleteFirst(std::string& s, std::int64_t count) {
  if (count <= 0) return;
  s.erase(0, std::min<std::size_t>(static_cast<std::size_t>(count), s.size()));
}

}  // namespace

std::span<const TColorEntry> WindowColorTable() { return kWindowColors; }
std::span<const TColorEntry> DrawingColorTable() { return kDrawingColors; }

std::int32_t StrToInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) ThrowNotAnInteger(text);

  // Hexadecimal: "$", "x", "X", "0x" or "0X", then 1 to 8 digits; the digits
  // are a 32-bit pattern, so "$FFFFFFFF" is -1.
  std::size_t digits = i;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    digits = i + 1;
  } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    digits = i + 2;
  }
  if (digits != i) {
    const std::size_t count = text.size() - digits;
    if (count < 1 || count > 8) ThrowNotAnInteger(text);
    std::uint32_t value = 0;
    for (std::size_t k = digits; k < text.size(); ++k) {
      const int d = HexDigitValue(text[k]);
      if (d < 0) ThrowNotAnInteger(text);
      value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(value);
  }

  // Decimal with an optional sign; the magnitude is bounded as it grows, so
  // a long run of digits cannot overflow the accumulator.
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) ThrowNotAnInteger(text);
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') ThrowNotAnInteger(text);
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) ThrowNotAnInteger(text);
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::string FontToText(const TFontDescription& font) {
  std::string styles;
  for (const auto& [word, flag] : kStyleWords) {
    if (font.Style & flag) {
      if (!styles.empty()) styles += '|';
      styles += word;
    }
  }

  return "\"" + font.Name + "\", " + std::to_string(font.Size) + ", [" + styles + "], [" +
         ColorToText(font.Color, kWindowColors) + "]";
}

std::string ColorToText(TColor color, std::span<const TColorEntry> colorTable) {
  for (const auto& entry : colorTable) {
    if (entry.Value == color) return entry.Ident;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%08X", static_cast<std::uint32_t>(color));
  return hex;
}

TColor TextToColor(const std::string& text, std::span<const TColorEntry> colorTable) {
  for (const auto& entry : colorTable) {
    if (SameIgnoringAsciiCase(entry.Ident, text)) return entry.Value;
  }
  return StrToInt(text);
}

void ReadFontText(const std::string& text, TFontTextTarget& target,
                  std::span<const TColorEntry> colorTable) {
  // The reader goes by comma positions, not by matching quotes or brackets:
  // a face name containing a quote survives, one containing a comma does not.
  std::string rest = text;

  std::int64_t p = FirstComma(rest);
  target.SetName(Piece(rest, 2, p - 3));
  DeleteFirst(rest, p);

  p = FirstComma(rest);
  target.SetSize(StrToInt(Piece(rest, 2, p - 2)));
  DeleteFirst(rest, p);

  p = FirstComma(rest);
  const std::string styleText = Piece(rest, 3, p - 4);
  DeleteFirst(rest, p);

  const std::string colorText = Piece(rest, 3, static_cast<std::int64_t>(rest.size()) - 3);
  target.SetColor(TextToColor(colorText, colorTable));

  // Style words match with case, anywhere in the list and in any order.
  const std::string bars = "|" + styleText;
  TFontStyles style = 0;
  for (const auto& [word, flag] : kStyleWords) {
    if (bars.find(std::string("|") + word) != std::string::npos) style |= flag;
  }
  target.SetStyle(style);
}

}  // namespace sigilon
