#pragma once
// Photo-like test pictures for the benchmarks.

#include <cmath>
#include <cstdint>

#include "engine/Bitmap.h"

namespace sigilon {

inline std::uint8_t Clamp(double v) {
  return static_cast<std::uint8_t>(std::fmin(255.0, std::fmax(0.0, v)));
}

// Deterministic photo-like content: smooth light, some edges and sensor-like
// grain, so the encoder works about as hard as on a real photo. `seed` varies
// the grain between pictures of a folder.
inline TBitmap Photo(int width, int height, std::uint32_t seed = 2463534242u) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  std::uint32_t noise = seed;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.Row(y).data();
    for (int x = 0; x < width; ++x) {
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      const double grain = static_cast<double>(noise & 0xFF) / 255.0 * 10.0 - 5.0;
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      const double light = 0.5 + 0.5 * std::sin(u * 7.0 + std::cos(v * 5.0));
      const bool stripe = ((x / 97 + y / 61) & 3) == 0;
      row[3 * x] = Clamp(60 + 120 * v + grain + (stripe ? 30 : 0));
      row[3 * x + 1] = Clamp(50 + 150 * light + grain);
      row[3 * x + 2] = Clamp(90 + 100 * u * light + grain);
    }
  }
  return bitmap;
}

}  // namespace sigilon
