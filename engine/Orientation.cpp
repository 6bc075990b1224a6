#include "engine/Orientation.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

namespace {

// Quarter turns read the source down its columns; working in square blocks
// keeps both pictures' rows in the cache (a 12-megapixel photo is 36 MB).
constexpr int kBlock = 64;

template <int Bytes>
void CopyPixel(const std::uint8_t* from, std::uint8_t* to) {
  std::memcpy(to, from, Bytes);
}

template <int Bytes>
void MirrorRow(std::uint8_t* row, int width) {
  for (int left = 0, right = width - 1; left < right; ++left, --right) {
    std::uint8_t pixel[Bytes];
    CopyPixel<Bytes>(row + left * Bytes, pixel);
    CopyPixel<Bytes>(row + right * Bytes, row + left * Bytes);
    CopyPixel<Bytes>(pixel, row + right * Bytes);
  }
}

// Orientations 2 to 4 keep the size and work in place.
template <int Bytes>
void MirrorInPlace(TBitmap& picture, bool leftRight, bool topBottom) {
  const int width = picture.Width(), height = picture.Height();
  if (topBottom) {
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
      std::swap_ranges(picture.Row(top).begin(), picture.Row(top).end(),
                       picture.Row(bottom).begin());
    }
  }
  if (leftRight) {
    for (int y = 0; y < height; ++y) MirrorRow<Bytes>(picture.Row(y).data(), width);
  }
}

// Orientations 5 to 8: output pixel (x, y) comes from source column
// y (or W-1-y) and source row x (or H-1-x).
template <int Bytes>
void Transpose(const TBitmap& source, TBitmap& out, bool flipColumn, bool flipRow) {
  const int width = source.Width(), height = source.Height();
  const std::uint8_t* pixels = source.Pixels().data();
  const std::size_t stride = source.Stride();
  for (int by = 0; by < out.Height(); by += kBlock) {
    for (int bx = 0; bx < out.Width(); bx += kBlock) {
      const int yEnd = std::min(by + kBlock, out.Height());
      const int xEnd = std::min(bx + kBlock, out.Width());
      for (int y = by; y < yEnd; ++y) {
        std::uint8_t* row = out.Row(y).data();
        const int sx = flipColumn ? width - 1 - y : y;
        for (int x = bx; x < xEnd; ++x) {
          const int sy = flipRow ? height - 1 - x : x;
          CopyPixel<Bytes>(
              pixels + static_cast<std::size_t>(sy) * stride + static_cast<std::size_t>(sx) * Bytes,
              row + static_cast<std::size_t>(x) * Bytes);
        }
      }
    }
  }
}

template <int Bytes>
TBitmap Turn(TBitmap picture, int orientation) {
  switch (orientation) {
    case 2:
      MirrorInPlace<Bytes>(picture, true, false);
      return picture;
    case 3:
      MirrorInPlace<Bytes>(picture, true, true);
      return picture;
    case 4:
      MirrorInPlace<Bytes>(picture, false, true);
      return picture;
    default:
      break;
  }
  TBitmap out(picture.Height(), picture.Width(), picture.PixelFormat());
  out.Palette() = picture.Palette();
  out.Masks() = picture.Masks();
  out.XPelsPerMeter = picture.YPelsPerMeter;
  out.YPelsPerMeter = picture.XPelsPerMeter;
  const bool flipColumn = orientation == 7 || orientation == 8;
  const bool flipRow = orientation == 6 || orientation == 7;
  Transpose<Bytes>(picture, out, flipColumn, flipRow);
  return out;
}

}  // namespace

bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

TBitmap TurnUpright(TBitmap picture, int orientation) {
  if (orientation < 2 || orientation > 8 || picture.Empty()) return picture;
  switch (picture.BitsPerPixel()) {
    case 8:
      return Turn<1>(std::move(picture), orientation);
    case 16:
      return Turn<2>(std::move(picture), orientation);
    case 24:
      return Turn<3>(std::move(picture), orientation);
    case 32:
      return Turn<4>(std::move(picture), orientation);
    default:
      throw ImageError("expected a picture of whole bytes per pixel to turn upright, found " +
                       std::to_string(picture.BitsPerPixel()) + " bits per pixel");
  }
}

}  // namespace sigilon
