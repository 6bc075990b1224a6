#include "engine/Orientation.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Errors.h"

namespace sigilon {

namespace {

template <int Bytes>
void CopyPixel(const std::uint8_t* from, std::uint8_t* to) {
  std::memcpy(to, from, Bytes);
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
  // Orientations 5 to 8: stored column sx becomes upright row sx (7, 8:
  // counted from the bottom), stored row sy upright column sy (6, 7: from the
  // right).
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
  const bool swaps = OrientationSwapsSides(orientation);
  TBitmap upright(swaps ? picture.Height() : picture.Width(),
                  swaps ? picture.Width() : picture.Height(), picture.PixelFormat());
  upright.Palette() = picture.Palette();
  upright.Masks() = picture.Masks();
  upright.PaletteAlpha = picture.PaletteAlpha;
  upright.XPelsPerMeter = swaps ? picture.YPelsPerMeter : picture.XPelsPerMeter;
  upright.YPelsPerMeter = swaps ? picture.XPelsPerMeter : picture.YPelsPerMeter;
  PlaceUpright(picture, 0, picture.Height(), picture.Height(), orientation, upright);
  return upright;
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
    case 48:
      return Place<6>(band, top, rows, storedHeight, orientation, upright);
    case 64:
      return Place<8>(band, top, rows, storedHeight, orientation, upright);
    default:
      throw ImageError("expected a picture of whole bytes per pixel to turn upright, found " +
                       std::to_string(band.BitsPerPixel()) + " bits per pixel");
  }
}

}  // namespace sigilon
