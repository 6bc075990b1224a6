#pragma once
/// The live preview of the mark before a run: a sample picture decoded once
/// at a reduced size (a JPEG through libjpeg's DCT scaling, so that a 24 MP
/// photo costs an eighth of its rows and columns), upright, and the mark
/// drawn on a copy of it as the run draws it on the whole picture, scaled to
/// match.

#include <limits>
#include <memory>
#include <string>

#include "engine/Bitmap.h"
#include "engine/BrandOptions.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

/// A sample picture as the preview holds it.
struct TMarkSample {
  std::string Path;
  /// Upright, reduced; never changed once loaded.
  std::shared_ptr<const TBitmap> Picture;
  /// The whole picture is this many times larger each way (1, 2, 4 or 8).
  int Scale = 1;
  /// What the file says (for the brand text's fields).
  TPictureMetadata Metadata{};
};

/// A view box side no picture exceeds: the sample at its own size.
inline constexpr int kWholeSizeBox = std::numeric_limits<int>::max();

/// Loads `path` for a view of `boxWidth` x `boxHeight` pixels showing it
/// whole: a JPEG is decoded at the smallest of 1/8, 1/4, 1/2 and full size
/// that still fills the view (full size for kWholeSizeBox); other types
/// whole. Throws ImageError (no
/// picture type this run brands, or a file that does not decode) and
/// PlatformError (an unreadable file).
TMarkSample LoadMarkSample(const std::string& path, int boxWidth, int boxHeight,
                           const TBrandOptions& options);

/// A copy of the sample with the mark: the brand text (its fields filled in
/// as for the first file of a run when options.Fields), in the font of
/// `fontText` with its letters scaled down by the sample's scale, and
/// options.Look. Throws ConvertError for a font text that does not read,
/// FontError as the stamp does.
TBitmap StampMarkSample(const TMarkSample& sample, const std::string& brandText,
                        const std::string& fontText, const TBrandOptions& options);

}  // namespace sigilon
