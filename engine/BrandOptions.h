#pragma once
/// The choices that shape how one file is branded, shared by the engine's
/// layers and both front ends without pulling in BrandFile itself.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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

/// Ranges of the mark's placement.
inline constexpr double kMinSpacing = 0.5;
inline constexpr double kMaxSpacing = 10.0;
inline constexpr double kMinAngle = -90.0;
inline constexpr double kMaxAngle = 90.0;
inline constexpr double kMinMargin = 0.0;
inline constexpr double kMaxMargin = 50.0;
/// The angle of each layout when none is given, in degrees.
inline constexpr double kTileAngle = 45.0;
inline constexpr double kSingleAngle = 0.0;

/// How the copies of the mark are laid out over the picture.
enum class TMarkLayout {
  Tile,    ///< rows of copies over the whole picture
  Single,  ///< one copy at an anchor
};

/// Where a single mark stands: a corner, the middle of an edge, or the centre.
enum class TMarkAnchor {
  TopLeft,
  Top,
  TopRight,
  Left,
  Centre,
  Right,
  BottomLeft,
  Bottom,
  BottomRight,
};

/// How the brand looks beyond its font. The defaults draw exactly what the
/// font says: its point size, fully opaque, no outline, tiled at 45 degrees.
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
  TMarkLayout Layout = TMarkLayout::Tile;
  /// Factor on both pitches of the tiling (kMinSpacing to kMaxSpacing).
  double Spacing = 1.0;
  /// Degrees counter-clockwise from the horizontal (kMinAngle to kMaxAngle);
  /// none: kTileAngle tiled, kSingleAngle single.
  std::optional<double> Angle{};
  TMarkAnchor Anchor = TMarkAnchor::BottomRight;
  /// Gap between a single mark and the picture's edges, in percent of the
  /// shorter side (kMinMargin to kMaxMargin).
  double Margin = 3.0;
  /// A soft dark shadow under the mark, offset down and to the right, so that
  /// a light mark reads on a light picture.
  bool Shadow = false;
  /// The file of a logo (PNG or SVG) shown as the mark, with the brand text,
  /// if any, centred under it; empty: the text alone.
  std::string LogoFile{};
  /// The logo read from LogoFile once for the whole run (straight BGRA),
  /// shared read-only by every file's stamp; none: no logo is drawn. Its
  /// height is RelativeSize percent of the picture's shorter side, or its
  /// own without one; the text under it then takes a quarter of that.
  std::shared_ptr<const TBitmap> Logo{};
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
  /// Fill in the brand text's fields ({name}, {date}, ...) from each file
  /// (see BrandFields.h); off: braces are text like any other.
  bool Fields = false;
  /// The file's running number in the run's listing order, from 1 ({n});
  /// 0 when the file is not part of a run.
  std::int64_t FileNumber = 0;
};

}  // namespace sigilon
