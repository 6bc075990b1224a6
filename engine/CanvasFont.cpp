// The drawing font: point sizes, styles and the logical font record.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "engine/Canvas.h"

namespace sigilon {

std::int32_t PointsToPixels(std::int64_t points, int pixelsPerInch) {
  const std::int64_t ppi = pixelsPerInch > 0 ? pixelsPerInch : kDefaultPixelsPerInch;
  const std::int64_t product = points * ppi;
  const std::int64_t magnitude = ((product < 0 ? -product : product) + 36) / 72;
  // Symmetric, so that a height can always be negated (SetSize): a size near
  // -1.7e9 points would otherwise become the one value that cannot.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(magnitude, kLimit) * (product < 0 ? -1 : 1));
}

void TFont::SetName(const std::string& name) {
  std::size_t length = std::min(name.size(), kMaxFaceNameLength);
  // Back off to the start of a UTF-8 sequence rather than cut through it.
  if (length < name.size()) {
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  log_.FaceName = name.substr(0, length);
}

void TFont::SetSize(std::int32_t points) { log_.Height = -PointsToPixels(points, PixelsPerInch); }

std::int32_t TFont::Size() const {
  const int ppi = PixelsPerInch > 0 ? PixelsPerInch : kDefaultPixelsPerInch;
  const std::int64_t product = -std::int64_t{log_.Height} * 72;
  const std::int64_t magnitude = ((product < 0 ? -product : product) + ppi / 2) / ppi;
  return static_cast<std::int32_t>(product < 0 ? -magnitude : magnitude);
}

TFontStyles TFont::Style() const {
  TFontStyles style = 0;
  if (log_.Weight >= kFontWeightBold) style |= fsBold;
  if (log_.Italic) style |= fsItalic;
  if (log_.Underline) style |= fsUnderline;
  if (log_.StrikeOut) style |= fsStrikeOut;
  return style;
}

void TFont::SetStyle(TFontStyles style) {
  log_.Weight = (style & fsBold) ? kFontWeightBold : kFontWeightNormal;
  log_.Italic = (style & fsItalic) != 0;
  log_.Underline = (style & fsUnderline) != 0;
  log_.StrikeOut = (style & fsStrikeOut) != 0;
}

void TFont::SetLogFont(const TLogFont& log) {
  log_ = log;
  SetName(log.FaceName);
}

}  // namespace sigilon
