#include "engine/CanvasUtf8.h"

namespace sigilon::drawing {

std::vector<char32_t> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    int extra = 0;
    char32_t cp = b;
    char32_t minimum = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, cp = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, cp = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, cp = b & 0x07, minimum = 0x10000;
    }
    bool ok = extra > 0;
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
      }
      ok = ok && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.push_back(cp);
      i += static_cast<std::size_t>(extra) + 1;
    } else {
      out.push_back(b);
      ++i;
    }
  }
  return out;
}

}  // namespace sigilon::drawing
