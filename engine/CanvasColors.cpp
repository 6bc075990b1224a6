// The system colour table and the resolution of colour values to the RGB a
// text is drawn in.

#include <array>
#include <cstdint>

#include "engine/Canvas.h"

namespace sigilon {

namespace {

// The classic Windows scheme's defaults, indices 0 (scroll bar) to 30 (menu
// bar), as R, G, B.
constexpr std::array<std::array<std::uint8_t, 3>, kSystemColorCount> kSystemColors = {{
    {212, 208, 200},  // 0 scroll bar
    {58, 110, 165},   // 1 desktop background
    {10, 36, 106},    // 2 active caption
    {128, 128, 128},  // 3 inactive caption
    {212, 208, 200},  // 4 menu
    {255, 255, 255},  // 5 window
    {0, 0, 0},        // 6 window frame
    {0, 0, 0},        // 7 menu text
    {0, 0, 0},        // 8 window text
    {255, 255, 255},  // 9 caption text
    {212, 208, 200},  // 10 active border
    {212, 208, 200},  // 11 inactive border
    {128, 128, 128},  // 12 application workspace
    {10, 36, 106},    // 13 highlight
    {255, 255, 255},  // 14 highlight text
    {212, 208, 200},  // 15 button face
    {128, 128, 128},  // 16 button shadow
    {128, 128, 128},  // 17 gray text
    {0, 0, 0},        // 18 button text
    {212, 208, 200},  // 19 inactive caption text
    {255, 255, 255},  // 20 button highlight
    {64, 64, 64},     // 21 3D dark shadow
    {212, 208, 200},  // 22 3D light
    {0, 0, 0},        // 23 tooltip text
    {255, 255, 225},  // 24 tooltip background
    {181, 181, 181},  // 25 (unnamed)
    {0, 0, 128},      // 26 hot-tracked item
    {166, 202, 240},  // 27 gradient of the active caption
    {192, 192, 192},  // 28 gradient of the inactive caption
    {10, 36, 106},    // 29 menu highlight (the classic scheme uses the highlight)
    {212, 208, 200},  // 30 menu bar
}};

}  // namespace

TRGBQuad SysColor(int index) {
  if (index < 0 || index >= kSystemColorCount) return {};
  const auto& c = kSystemColors[static_cast<std::size_t>(index)];
  return TRGBQuad{c[2], c[1], c[0], 0};
}

TRGBQuad ColorToRGB(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if (color == clNone || color == clDefault) return ColorToRGB(clWindowText);
  if (value & kSystemColorBase) return SysColor(static_cast<int>(value & 0xFF));
  return TRGBQuad{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value), 0};
}

}  // namespace sigilon
