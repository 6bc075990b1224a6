#pragma once
// Shared by the picture-type fuzz targets: the one brand each stamps on what
// it decoded before encoding it again.

#include "engine/BrandFile.h"
#include "engine/Canvas.h"

namespace sigilon::fuzz {

inline void StampFuzzBrand(TBitmap& picture) {
  TFont font;
  font.SetSize(12);
  font.Color = static_cast<TColor>(0x3366CC);
  StampBrandText("Fuzz", font, picture);
}

}  // namespace sigilon::fuzz
