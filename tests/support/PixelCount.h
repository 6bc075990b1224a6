#pragma once
// Counting pixels of a picture, for tests that judge drawing by how many
// pixels changed rather than by exact values.

#include <algorithm>

#include "engine/Bitmap.h"

namespace sigilon::test {

/// The number of points (x, y) of a width by height area for which `test(x, y)` holds.
template <typename Test>
int CountPoints(int width, int height, Test test) {
  int count = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) count += test(x, y) ? 1 : 0;
  }
  return count;
}

template <typename Test>
int CountPixels(const TBitmap& bitmap, Test test) {
  return CountPoints(bitmap.Width(), bitmap.Height(), test);
}

/// The number of pixels that differ where two pictures overlap.
inline int DifferingPixels(const TBitmap& a, const TBitmap& b) {
  return CountPoints(std::min(a.Width(), b.Width()), std::min(a.Height(), b.Height()),
                     [&](int x, int y) { return !(a.GetPixel(x, y) == b.GetPixel(x, y)); });
}

}  // namespace sigilon::test
