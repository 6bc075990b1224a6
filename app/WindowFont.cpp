#include "app/WindowFont.h"

#include <QFontInfo>
#include <QtGlobal>
#include <algorithm>
#include <array>

namespace sigilon {

namespace {

/// The reader's window-font target: each attribute lands as soon as it is read.
class TWindowFontTarget final : public TFontTextTarget {
 public:
  explicit TWindowFontTarget(TWindowFont& font) : font_(font) {}

  void SetName(const std::string& name) override {
    font_.Font.setFamily(QString::fromStdString(name));
  }

  void SetSize(std::int32_t points) override {
    // 64-bit so that the most negative size has an absolute value too.
    std::int64_t size = points;
    if (size < 0) size = -size;
    size = std::clamp<std::int64_t>(size, 1, kMaxWindowFontPoints);
    font_.Font.setPointSize(static_cast<int>(size));
  }

  void SetColor(TColor color) override { font_.Color = color; }

  void SetStyle(TFontStyles style) override {
    font_.Font.setBold((style & fsBold) != 0);
    font_.Font.setItalic((style & fsItalic) != 0);
    font_.Font.setUnderline((style & fsUnderline) != 0);
    font_.Font.setStrikeOut((style & fsStrikeOut) != 0);
  }

 private:
  TWindowFont& font_;
};

// Palette roles numbered 1 to 14 as the window colour table numbers them.
constexpr std::array<QPalette::ColorRole, 14> kRoles = {
    QPalette::WindowText, QPalette::Button,         QPalette::Light,
    QPalette::Midlight,   QPalette::Dark,           QPalette::Mid,
    QPalette::Text,       QPalette::BrightText,     QPalette::ButtonText,
    QPalette::Base,       QPalette::Window,         QPalette::Shadow,
    QPalette::Highlight,  QPalette::HighlightedText};

}  // namespace

std::string FontToText(const TWindowFont& font) {
  TFontDescription description;
  description.Name = font.Font.family().toStdString();
  // A font sized in pixels has no point size of its own; ask what it resolves to.
  int points = font.Font.pointSize();
  if (points <= 0) points = std::max(1, qRound(QFontInfo(font.Font).pointSizeF()));
  description.Size = points;
  if (font.Font.bold()) description.Style |= fsBold;
  if (font.Font.italic()) description.Style |= fsItalic;
  if (font.Font.underline()) description.Style |= fsUnderline;
  if (font.Font.strikeOut()) description.Style |= fsStrikeOut;
  description.Color = font.Color;
  return FontToText(description);
}

void TextToFont(const std::string& text, TWindowFont& font) {
  TWindowFontTarget target(font);
  ReadFontText(text, target, WindowColorTable());
}

QColor WindowColorToQColor(TColor color, const QPalette& palette) {
  if (color >= 0 && color <= 0xFFFFFF) {
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  }
  // Palette roles: -k for the current group, -(32 + k) normal, -(64 + k)
  // disabled, -(96 + k) active.
  if (color < 0 && color > -128) {
    const int code = -color;
    const int role = code % 32;
    if (role >= 1 && role <= static_cast<int>(kRoles.size())) {
      QPalette::ColorGroup group = QPalette::Active;
      if (code / 32 == 1) group = QPalette::Normal;
      if (code / 32 == 2) group = QPalette::Disabled;
      return palette.color(group, kRoles[static_cast<std::size_t>(role - 1)]);
    }
  }
  return palette.color(QPalette::Text);
}

}  // namespace sigilon
