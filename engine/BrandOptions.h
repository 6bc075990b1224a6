#pragma once
/// The choices that shape how one file is branded, shared by the engine's
/// layers and both front ends without pulling in BrandFile itself.

#include <functional>
#include <memory>
#include <optional>

#include "engine/FontText.h"

namespace sigilon {

class TBitmap;
class TPictureFormat;

/// Quality of lossy copies: 1 to 100, or kDefaultQuality for each type's own
/// (JPEG 100, so that a proof loses no detail to the brand; the others 90).
inline constexpr int kDefaultQuality = 0;
inline constexpr int kMinQuality = 1;
inline constexpr int kMaxQuality = 100;

/// What the engine needs to know of the display, read once at start-up.
struct TDisplayInfo {
  /// Vertical logical resolution: a point size becomes size * PPI / 72 pixels.
  int PixelsPerInch = 96;
  /// Bits per pixel times colour planes; 8 or fewer decodes JPEGs to a palette.
  int ColorDepth = 24;
};

/// Ranges of the brand's look; the front ends refuse values outside them.
inline constexpr double kMinRelativeSize = 0.5;
inline constexpr double kMaxRelativeSize = 50.0;
inline constexpr int kMinOpacity = 1;
inline constexpr int kMaxOpacity = 100;

/// How the brand looks beyond its font. The defaults draw exactly what the
/// font says: its point size, fully opaque, no outline.
struct TStampLook {
  /// Letter height (the em) as a percentage of the picture's shorter side,
  /// overriding the font's point size so that the brand looks the same on
  /// every picture size; 0 keeps the point size.
  double RelativeSize = 0;
  /// Strength of the brand in percent: its colour is blended over the
  /// picture (palette pictures take the nearest entry of the blend).
  int Opacity = kMaxOpacity;
  /// Colour of a contour around every glyph, drawn under the glyphs so that
  /// the brand reads on dark and bright areas alike; none when empty or
  /// clNone.
  std::optional<TColor> Outline{};
  friend bool operator==(const TStampLook&, const TStampLook&) = default;
};

/// Receives a whole stamped picture; it may keep it (the pixels never change
/// again).
using TStampedPictureHandler = std::function<void(std::shared_ptr<const TBitmap>)>;

/// How one file is branded, beyond what the font text says. Holds what the
/// caller knows of its surroundings; new per-file choices belong here.
struct TBrandOptions {
  TDisplayInfo Display{};
  /// Cores this one file may use. Greater than 1 only when the caller has
  /// cores to spare (a single picture on a machine of several).
  int Threads = 1;
  /// Receives a JPEG's stamped picture itself, before the file is written,
  /// in place of the bitmap-file bytes of the preview callback: a front end
  /// that paints pixels is spared writing and reading back a file of the
  /// picture's size. It may keep the picture (its pixels never change again);
  /// the encoder may still be reading it on another thread meanwhile.
  TStampedPictureHandler PicturePreview{};
  /// Carry the source's EXIF (upright, without its thumbnail), IPTC and XMP
  /// into a branded JPEG. Off: a copy carries its colour profile only.
  bool KeepMetadata = false;
  /// Fail a JPEG that decodes only with libjpeg's warnings (data that ends
  /// early, corrupt data) instead of branding what there is; no target is
  /// written for it.
  bool Strict = false;
  /// How the brand looks: size relative to the picture, opacity, outline.
  TStampLook Look{};
  /// Take every registered picture type and every spelling of an extension
  /// (".jpeg", ".dib", ...); off: only ".JPG" and ".BMP" in any letter case.
  bool AllTypes = false;
  /// Quality of a lossy copy, kMinQuality to kMaxQuality, or kDefaultQuality.
  int Quality = kDefaultQuality;
  /// Write a JPEG with Huffman tables made for its picture: the same pixels
  /// in a smaller file, for holding the picture's coefficients once.
  bool Optimize = false;
  /// Writes the copy in this type instead of the source's (the target path
  /// names it already); nullptr: the source's.
  const TPictureFormat* WriteFormat = nullptr;
};

}  // namespace sigilon
