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

// Stored pixel (sx, sy) goes to upright (ux, uy). A quarter turn makes each
// stored column an upright row: the band is walked column by column (its few
// dozen rows stay in the cache), so each upright row is written a run at a
// time.
template <int Bytes>
void Place(const TBitmap& band, int top, int rows, int storedHeight, int orientation,
           TBitmap& upright) {
  const int width = band.Width();
  const std::uint8_t* const in = band.Pixels().data();
  const std::size_t inStride = band.Stride();
  std::uint8_t* const out = upright.Pixels().data();
  const std::size_t outStride = upright.Stride();
  if (!OrientationSwapsSides(orientation)) {
    const bool flipX = orientation == 2 || orientation == 3;
    const bool flipY = orientation == 3 || orientation == 4;
    for (int r = 0; r < rows; ++r) {
      const std::uint8_t* from = in + static_cast<std::size_t>(r) * inStride;
      const int uy = flipY ? storedHeight - 1 - (top + r) : top + r;
      std::uint8_t* to = out + static_cast<std::size_t>(uy) * outStride;
      if (!flipX) {
        std::memcpy(to, from, static_cast<std::size_t>(width) * Bytes);
        continue;
      }
      for (int sx = 0; sx < width; ++sx) {
        CopyPixel<Bytes>(from + static_cast<std::size_t>(sx) * Bytes,
                         to + static_cast<std::size_t>(width - 1 - sx) * Bytes);
      }
    }
    return;
  }
  // The inverse of Transpose.
  const bool flipColumn = orientation == 7 || orientation == 8;
  const bool flipRow = orientation == 6 || orientation == 7;
  const std::ptrdiff_t step = flipRow ? -Bytes : Bytes;
  const int firstX = flipRow ? storedHeight - 1 - top : top;
  for (int sx = 0; sx < width; ++sx) {
    const int uy = flipColumn ? width - 1 - sx : sx;
    std::uint8_t* to =
        out + static_cast<std::size_t>(uy) * outStride + static_cast<std::size_t>(firstX) * Bytes;
    const std::uint8_t* from = in + static_cast<std::size_t>(sx) * Bytes;
    for (int r = 0; r < rows; ++r, to += step, from += inStride) CopyPixel<Bytes>(from, to);
  }
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

void PlaceUpright(const TBitmap& band, int top, int rows, int storedHeight, int orientation,
                  TBitmap& upright) {
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool swaps = OrientationSwapsSides(orientation);
  const int width = band.Width();
  if (band.PixelFormat() != upright.PixelFormat() || rows < 0 || rows > band.Height() || top < 0 ||
      rows > storedHeight - top || upright.Width() != (swaps ? storedHeight : width) ||
      upright.Height() != (swaps ? width : storedHeight)) {
    throw ImageError("expected rows " + std::to_string(top) + " to " + std::to_string(top + rows) +
                     " of a " + std::to_string(width) + " x " + std::to_string(storedHeight) +
                     " picture to place upright, found a band of " + std::to_string(band.Height()) +
                     " rows and an upright picture of " + std::to_string(upright.Width()) + " x " +
                     std::to_string(upright.Height()));
  }
  switch (band.BitsPerPixel()) {
    case 8:
      return Place<1>(band, top, rows, storedHeight, orientation, upright);
    case 16:
      return Place<2>(band, top, rows, storedHeight, orientation, upright);
    case 24:
      return Place<3>(band, top, rows, storedHeight, orientation, upright);
    case 32:
      return Place<4>(band, top, rows, storedHeight, orientation, upright);
    default:
      throw ImageError("expected a picture of whole bytes per pixel to turn upright, found " +
                       std::to_string(band.BitsPerPixel()) + " bits per pixel");
  }
}

}  // namespace sigilon
