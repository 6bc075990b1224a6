#pragma once
/// The window font: what the font dialog edits and the Brand Text field shows.
/// Qt fonts carry no colour, so the window font is a QFont plus a colour value;
/// it travels to the engine and the configuration file as font description text.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <string>

#include "engine/FontText.h"

namespace sigilon {

struct TWindowFont {
  QFont Font;
  /// A colour value of the window colour table; never changed means black.
  TColor Color = 0;
  friend bool operator==(const TWindowFont&, const TWindowFont&) = default;
};

/// Largest point size a window font takes: a glyph cache for a larger font
/// would need gigabytes, and the font dialog offers far less.
inline constexpr int kMaxWindowFontPoints = 4096;

/// The font description text of a window font.
std::string FontToText(const TWindowFont& font);

/// Fills `font` from a font description text, colour identifiers looked up in
/// the window colour table. A negative size becomes its absolute value, 0
/// becomes 1. Throws ConvertError; what was set before the failure stays set.
void TextToFont(const std::string& text, TWindowFont& font);

/// The colour to draw a colour value with: a plain $00BBGGRR colour as it is,
/// a palette role from `palette`, anything else (none, default, system colours
/// of the drawing layer) as the palette's text colour.
QColor WindowColorToQColor(TColor color, const QPalette& palette);

}  // namespace sigilon
