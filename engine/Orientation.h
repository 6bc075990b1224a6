#pragma once
/// Turning a picture upright from its EXIF orientation: the mirror or
/// rotation that makes the stored pixels look as the camera saw them.

#include "engine/Bitmap.h"

namespace sigilon {

/// True for the orientations whose upright picture swaps width and height
/// (5 to 8: the transposes and quarter turns).
bool OrientationSwapsSides(int orientation);

/// The picture as it should be seen, for an EXIF orientation 1..8:
/// 2 mirrored left to right, 3 turned half round, 4 mirrored top to bottom,
/// 5 transposed, 6 turned a quarter clockwise, 7 transposed across the other
/// diagonal, 8 turned a quarter anticlockwise. Orientation 1 and values out
/// of range leave the picture as it is. Works on formats of whole bytes per
/// pixel (8 to 64 bits); throws ImageError for others.
TBitmap TurnUpright(TBitmap picture, int orientation);

/// Places the first `rows` rows of `band`, rows `top` on of a stored picture
/// `storedWidth` x `storedHeight`, where they belong in `upright`, the upright
/// picture TurnUpright would make (its size, format and palette): placing
/// every row of the stored picture gives what TurnUpright gives, without the
/// stored picture ever being whole. Throws ImageError as TurnUpright, and
/// for a band or picture of another format or size.
void PlaceUpright(const TBitmap& band, int top, int rows, int storedHeight, int orientation,
                  TBitmap& upright);

}  // namespace sigilon
