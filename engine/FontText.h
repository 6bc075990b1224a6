#pragma once
/// Font description text: the one-line form in which the brand font travels
/// and is stored, e.g. "Arial", 10, [Bold|Italic], [clRed]
/// One writer and one reader; the reader fills any kind of font through
/// TFontTextTarget, so the window font and the drawing font share it.

#include <cstdint>
#include <span>
#include <string>

namespace sigilon {

/// Style flags carried by the text.
enum TFontStyle : unsigned {
  fsBold = 1u << 0,
  fsItalic = 1u << 1,
  fsUnderline = 1u << 2,
  fsStrikeOut = 1u << 3,
};
using TFontStyles = unsigned;

/// A colour value: $00BBGGRR for a plain colour, or a special value from the
/// colour tables (palette roles, system colours, "none", "default").
using TColor = std::int32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
/// Base of the operating system's display colours ($80000000 + index).
inline constexpr std::uint32_t kSystemColorBase = 0x80000000u;

/// A neutral font description: what the text carries, nothing else.
struct TFontDescription {
  std::string Name;
  std::int32_t Size = 0;  ///< points
  TFontStyles Style = 0;
  TColor Color = 0;
  friend bool operator==(const TFontDescription&, const TFontDescription&) = default;
};

/// One identifier of a colour table.
struct TColorEntry {
  const char* Ident;
  TColor Value;
};

/// The window colour table (96 entries) and the drawing colour table (52),
/// in their fixed order.
std::span<const TColorEntry> WindowColorTable();
std::span<const TColorEntry> DrawingColorTable();

/// Integer conversion of a size or colour text: optional leading blanks, then
/// a signed decimal that fits 32 bits, or "$"/"x"/"X"/"0x"/"0X" and one to
/// eight hex digits. Throws ConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);

/// Colour text: the identifier of the first entry of `colorTable` with that
/// value, otherwise "$" and eight upper-case hex digits.
std::string ColorToText(TColor color, std::span<const TColorEntry> colorTable);
/// Reads a colour text: an identifier of `colorTable` (case-insensitively) or
/// an integer as StrToInt reads it. Throws ConvertError.
TColor TextToColor(const std::string& text, std::span<const TColorEntry> colorTable);

/// The font description text of a font.
std::string FontToText(const TFontDescription& font);

/// What the reader fills, attribute by attribute, in the order face name,
/// size, colour, style; each is set as soon as its piece is read.
class TFontTextTarget {
 public:
  virtual ~TFontTextTarget() = default;
  virtual void SetName(const std::string& name) = 0;
  virtual void SetSize(std::int32_t points) = 0;
  virtual void SetColor(TColor color) = 0;
  virtual void SetStyle(TFontStyles style) = 0;
};

/// Reads a font description text into `target`, looking colour identifiers
/// up in `colorTable` (case-insensitively). Throws ConvertError; what was set
/// before the failure stays set.
void ReadFontText(const std::string& text, TFontTextTarget& target,
                  std::span<const TColorEntry> colorTable);

}  // namespace sigilon
