#include "engine/MarkPreset.h"

#include <array>
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

#include "engine/Errors.h"
#include "engine/FontText.h"
#include "platform/PathText.h"

namespace sigilon {

namespace {

constexpr std::array<std::pair<std::string_view, TMarkLayout>, 2> kLayouts{{
    {"tile", TMarkLayout::Tile},
    {"single", TMarkLayout::Single},
}};

constexpr std::array<std::pair<std::string_view, TMarkAnchor>, 9> kAnchors{{
    {"top-left", TMarkAnchor::TopLeft},
    {"top", TMarkAnchor::Top},
    {"top-right", TMarkAnchor::TopRight},
    {"left", TMarkAnchor::Left},
    {"centre", TMarkAnchor::Centre},
    {"right", TMarkAnchor::Right},
    {"bottom-left", TMarkAnchor::BottomLeft},
    {"bottom", TMarkAnchor::Bottom},
    {"bottom-right", TMarkAnchor::BottomRight},
}};

template <typename T, std::size_t N>
std::string_view NameOf(const std::array<std::pair<std::string_view, T>, N>& table, T value) {
  for (const auto& [name, entry] : table) {
    if (entry == value) return name;
  }
  return table.front().first;
}

template <typename T, std::size_t N>
std::optional<T> Named(const std::array<std::pair<std::string_view, T>, N>& table,
                       std::string_view name) {
  for (const auto& [entryName, entry] : table) {
    if (entryName == name) return entry;
  }
  return std::nullopt;
}

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Nothing that ends a line, splits the fields or hides in a control code.
bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%' || c == ';'; }

std::string Escaped(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      result += '%';
      result += kHexDigits[byte >> 4];
      result += kHexDigits[byte & 0xF];
    } else {
      result += c;
    }
  }
  return result;
}

std::string Unescaped(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      result += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
    if (high < 0 || low < 0)
      throw ConvertError("'" + std::string(text) + "' is not an escaped text");
    result += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return result;
}

[[noreturn]] void Refuse(std::string_view key, std::string_view value) {
  throw ConvertError("the preset's " + std::string(key) + " '" + std::string(value) +
                     "' cannot be read");
}

double NumberIn(std::string_view key, std::string_view value, double low, double high) {
  const std::optional<double> number = MarkNumber(value, low, high);
  if (!number) Refuse(key, value);
  return *number;
}

bool Switch(std::string_view key, std::string_view value) {
  if (value != "0" && value != "1") Refuse(key, value);
  return value == "1";
}

// Applies one field; a key this version does not know is passed over.
void ReadField(TMarkPreset& preset, std::string_view key, const std::string& value) {
  TStampLook& look = preset.Look;
  if (key == "Text") {
    preset.BrandText = value;
  } else if (key == "Font") {
    preset.FontText = value;
  } else if (key == "RelativeSize") {
    // 0 is the font's own point size.
    look.RelativeSize = value == "0" ? 0 : NumberIn(key, value, kMinRelativeSize, kMaxRelativeSize);
  } else if (key == "Opacity") {
    const double opacity = NumberIn(key, value, kMinOpacity, kMaxOpacity);
    if (opacity != std::floor(opacity)) Refuse(key, value);
    look.Opacity = static_cast<int>(opacity);
  } else if (key == "Outline") {
    look.Outline.reset();
    if (!value.empty()) {
      const TColor color = TextToColor(value, DrawingColorTable());
      if (color != clNone) look.Outline = color;
    }
  } else if (key == "Layout") {
    const auto layout = LayoutNamed(value);
    if (!layout) Refuse(key, value);
    look.Layout = *layout;
  } else if (key == "Spacing") {
    look.Spacing = NumberIn(key, value, kMinSpacing, kMaxSpacing);
  } else if (key == "Angle") {
    // Empty: the layout's own angle.
    look.Angle.reset();
    if (!value.empty()) look.Angle = NumberIn(key, value, kMinAngle, kMaxAngle);
  } else if (key == "Anchor") {
    const auto anchor = AnchorNamed(value);
    if (!anchor) Refuse(key, value);
    look.Anchor = *anchor;
  } else if (key == "Margin") {
    look.Margin = NumberIn(key, value, kMinMargin, kMaxMargin);
  } else if (key == "Shadow") {
    look.Shadow = Switch(key, value);
  } else if (key == "Fields") {
    preset.Fields = Switch(key, value);
  } else if (key == "Logo") {
    look.LogoFile = value;
  }
}

}  // namespace

std::string_view LayoutName(TMarkLayout layout) { return NameOf(kLayouts, layout); }

std::optional<TMarkLayout> LayoutNamed(std::string_view name) { return Named(kLayouts, name); }

std::string_view AnchorName(TMarkAnchor anchor) { return NameOf(kAnchors, anchor); }

std::optional<TMarkAnchor> AnchorNamed(std::string_view name) {
  if (name == "center") return TMarkAnchor::Centre;
  return Named(kAnchors, name);
}

std::string AnchorNames() {
  std::string names;
  for (std::size_t i = 0; i < kAnchors.size(); ++i) {
    if (i > 0) names += i + 1 == kAnchors.size() ? " or " : ", ";
    names += kAnchors[i].first;
  }
  return names;
}

std::string MarkNumberText(double value) {
  std::array<char, 32> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), error == std::errc() ? end : buffer.data());
}

std::optional<double> MarkNumber(std::string_view text, double low, double high) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || last != end || !(value >= low && value <= high)) {
    return std::nullopt;
  }
  return value;
}

std::string MarkPresetToText(const TMarkPreset& preset) {
  const TStampLook& look = preset.Look;
  const std::vector<std::pair<const char*, std::string>> fields{
      {"Text", preset.BrandText},
      {"Font", preset.FontText},
      {"RelativeSize", MarkNumberText(look.RelativeSize)},
      {"Opacity", std::to_string(look.Opacity)},
      {"Outline", look.Outline ? ColorToText(*look.Outline, DrawingColorTable()) : ""},
      {"Layout", std::string(LayoutName(look.Layout))},
      {"Spacing", MarkNumberText(look.Spacing)},
      {"Angle", look.Angle ? MarkNumberText(*look.Angle) : ""},
      {"Anchor", std::string(AnchorName(look.Anchor))},
      {"Margin", MarkNumberText(look.Margin)},
      {"Shadow", look.Shadow ? "1" : "0"},
      {"Fields", preset.Fields ? "1" : "0"},
  };
  std::vector<std::pair<const char*, std::string>> all = fields;
  // Only where there is one, so that a mark without a logo reads as before.
  if (!look.LogoFile.empty()) all.emplace_back("Logo", look.LogoFile);
  std::string text;
  for (const auto& [key, value] : all) {
    if (!text.empty()) text += ';';
    text += key;
    text += '=';
    text += Escaped(value);
  }
  return text;
}

TMarkPreset MarkPresetFromText(std::string_view text) {
  TMarkPreset preset;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view field = text.substr(start, end - start);
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos) {
      if (!field.empty()) throw ConvertError("'" + std::string(field) + "' is no preset field");
    } else {
      ReadField(preset, field.substr(0, equals), Unescaped(field.substr(equals + 1)));
    }
    start = end + 1;
  }
  return preset;
}

}  // namespace sigilon
