#pragma once
/// A mark as a user keeps it under a name: text, font, look and placement,
/// and the one-line text both front ends store and read it as. Also the
/// names the command line and presets give layouts and anchors.

#include <optional>
#include <string>
#include <string_view>

#include "engine/BrandOptions.h"

namespace sigilon {

/// "tile" or "single".
std::string_view LayoutName(TMarkLayout layout);
std::optional<TMarkLayout> LayoutNamed(std::string_view name);

/// "top-left" ... "bottom-right"; "center" reads as "centre".
std::string_view AnchorName(TMarkAnchor anchor);
std::optional<TMarkAnchor> AnchorNamed(std::string_view name);
/// The anchors' names for messages: "top-left, top, ..., bottom-right".
std::string AnchorNames();

/// A number as a mark's text holds it: the shortest text that reads back as
/// the same value, with a decimal point whatever the locale.
std::string MarkNumberText(double value);
/// Reads MarkNumberText's form (surrounding blanks allowed); nothing when it
/// is no number or lies outside low to high.
std::optional<double> MarkNumber(std::string_view text, double low, double high);

/// Everything that makes the mark on the pictures, without the folders.
struct TMarkPreset {
  std::string BrandText;
  /// The brand font as font description text.
  std::string FontText;
  TStampLook Look{};
  /// Fill in the brand text's fields per file.
  bool Fields = false;
  friend bool operator==(const TMarkPreset&, const TMarkPreset&) = default;
};

/// One line of "Key=value" fields separated by ";", any text escaped so that
/// it holds no line break, ";" or control character. Values are not checked.
std::string MarkPresetToText(const TMarkPreset& preset);

/// Reads MarkPresetToText's line. A key it does not know is passed over (a
/// later version's); a missing key keeps its default. Throws ConvertError
/// for a field that does not read or a value out of its range.
TMarkPreset MarkPresetFromText(std::string_view text);

}  // namespace sigilon
