#pragma once
/// The drawing layer over TBitmap: a logical font (TFont), a canvas that
/// measures and draws text with it (TCanvas), and the fixed table of system
/// display colours. Text goes through FreeType with faces found by
/// fontconfig; measurements keep the meaning a Windows logical font gives
/// them, so the tiling arithmetic of the stamping works as on that platform.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/FontText.h"

namespace sigilon {

namespace drawing {
class Painter;
class ShadowPainter;
}  // namespace drawing

/// No font could be found or loaded for a text.
class FontError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Weights of a logical font.
inline constexpr int kFontWeightNormal = 400;
inline constexpr int kFontWeightBold = 700;
/// A logical font's face name holds at most this many bytes (a 32-byte field
/// with its terminator).
inline constexpr std::size_t kMaxFaceNameLength = 31;
/// Character set "default": the text's code points choose the glyphs.
inline constexpr std::uint8_t kDefaultCharset = 1;
/// The window-text system colour, the colour of a new font.
inline constexpr TColor clWindowText = static_cast<TColor>(kSystemColorBase + 8);
/// Number of entries of the system colour table (indices 0 to 30).
inline constexpr int kSystemColorCount = 31;

/// Face name, height and pitch of a new drawing font: a face every stock
/// Debian system with fonts-dejavu-core resolves, at 8 points on a 96 PPI
/// display (character height 11 pixels).
inline constexpr const char* kDefaultFontName = "DejaVu Sans";
inline constexpr int kDefaultFontHeight = -11;
inline constexpr int kDefaultPixelsPerInch = 96;

enum class TFontPitch { fpDefault, fpVariable, fpFixed };

/// A logical font record: everything that selects and places a font's
/// glyphs. Heights keep their sign meaning: negative = character (em) height
/// in pixels, positive = cell height (ascent + descent), 0 = the default
/// height. Escapement and orientation are in tenths of a degree,
/// counter-clockwise as seen on the picture; the characters turn with the
/// escapement (orientation is carried but, as in the compatible graphics
/// mode of the platform this layer stands in for, not applied separately).
struct TLogFont {
  std::int32_t Height = kDefaultFontHeight;
  std::int32_t Escapement = 0;
  std::int32_t Orientation = 0;
  std::int32_t Weight = kFontWeightNormal;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  std::uint8_t CharSet = kDefaultCharset;
  TFontPitch Pitch = TFontPitch::fpDefault;
  std::string FaceName = kDefaultFontName;
  friend bool operator==(const TLogFont&, const TLogFont&) = default;
};

/// Pixel height of a point size on a display: round(points * ppi / 72),
/// halves away from zero; a ppi of zero or less counts as 96. The result is
/// clamped to +-INT32_MAX, so its negation is always a valid height.
std::int32_t PointsToPixels(std::int64_t points, int pixelsPerInch);

/// The drawing font: a logical font plus its colour and the display
/// resolution that turns point sizes into pixel heights.
class TFont {
 public:
  /// Display resolution used by SetSize and Size (pixels per inch).
  int PixelsPerInch = kDefaultPixelsPerInch;
  /// Font colour; system colours and the special values are resolved when
  /// drawing (ColorToRGB).
  TColor Color = clWindowText;

  const std::string& Name() const { return log_.FaceName; }
  /// Sets the face name, cut to kMaxFaceNameLength bytes without splitting a
  /// UTF-8 sequence.
  void SetName(const std::string& name);

  std::int32_t Height() const { return log_.Height; }
  void SetHeight(std::int32_t height) { log_.Height = height; }
  /// Point size: a positive size sets the character height, a negative one
  /// the cell height (Height = -PointsToPixels(points, PixelsPerInch)).
  void SetSize(std::int32_t points);
  /// The point size that the height gives at PixelsPerInch.
  std::int32_t Size() const;

  TFontStyles Style() const;
  /// Bold gives weight 700, otherwise 400.
  void SetStyle(TFontStyles style);

  std::uint8_t Charset() const { return log_.CharSet; }
  void SetCharset(std::uint8_t charset) { log_.CharSet = charset; }
  TFontPitch Pitch() const { return log_.Pitch; }
  void SetPitch(TFontPitch pitch) { log_.Pitch = pitch; }

  /// The logical font record.
  const TLogFont& LogFont() const { return log_; }
  /// Replaces the logical font (the face name is cut as by SetName).
  void SetLogFont(const TLogFont& log);

 private:
  TLogFont log_;
};

/// Classic Windows default colour of system colour index 0..30; black for
/// an index outside the table.
TRGBQuad SysColor(int index);

/// The colour a colour value draws in. Plain $00BBGGRR values as they are;
/// values with the top bit set are system colours of index (value & $FF);
/// clNone and clDefault draw in the window-text colour, because a text must
/// be visible and these say nothing else about it; palette-relative values
/// ($01/$02 in the top byte) use their RGB bytes.
TRGBQuad ColorToRGB(TColor color);

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

/// A point of a picture in pixels (y down); may lie far outside it.
struct TPixelPoint {
  std::int64_t X = 0;
  std::int64_t Y = 0;
  friend bool operator==(const TPixelPoint&, const TPixelPoint&) = default;
};

struct TSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

enum class TBrushStyle { bsSolid, bsClear };

/// The background of text output: solid fills the text's (rotated) cell
/// with Color first, clear leaves the picture showing between the glyphs.
struct TBrush {
  TBrushStyle Style = TBrushStyle::bsSolid;
  TColor Color = 0x00FFFFFF;
};

/// A text rasterised once with a font, ready to be painted at any number of
/// places: 8-bit coverage over a rectangle given relative to the reference
/// point (the top-left corner of the unrotated text cell).
class TTextImage {
 public:
  /// Rectangle of the coverage, relative to the reference point.
  const TRect& Bounds() const { return bounds_; }
  /// Extent of the text along its baseline (width) and its line height.
  const TSize& Extent() const { return extent_; }
  bool Empty() const { return bounds_.Right <= bounds_.Left || bounds_.Bottom <= bounds_.Top; }
  /// Glyph coverage (0..255) at (x, y) relative to the reference point; 0
  /// outside the bounds.
  std::uint8_t Coverage(int x, int y) const;

 private:
  friend class TCanvas;
  int Stride() const { return bounds_.Right - bounds_.Left; }
  TRect bounds_;
  TSize extent_;
  std::vector<std::uint8_t> text_;        // glyph coverage
  std::vector<std::uint8_t> outline_;     // contour coverage; empty without an outline
  std::vector<std::uint8_t> background_;  // cell coverage; empty for a clear brush
  std::vector<std::uint8_t> shadow_;      // shadow coverage; empty without a shadow
  // Runs of columns with any coverage of text, contour or background, row by
  // row (runs of row r are runs_[rowRuns_[r]] up to runs_[rowRuns_[r + 1]]),
  // so that painting every copy touches only the pixels it inks, not the
  // empty corners of a turned text's bounding box.
  struct Run {
    int Start;
    int Length;
  };
  std::vector<Run> runs_;
  std::vector<std::size_t> rowRuns_;
  // The same for the shadow alone, painted for every copy of a row before
  // the text: the shadow's wide soft runs would otherwise make the text
  // itself be painted over all of them.
  std::vector<Run> shadowRuns_;
  std::vector<std::size_t> shadowRowRuns_;
  TRGBQuad textColor_;
  TRGBQuad outlineColor_;
  TRGBQuad brushColor_;
  std::uint8_t opacity_ = 255;  // of text and outline
};

/// Draws on one bitmap. Font and Brush are set by the caller before use.
class TCanvas {
 public:
  explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
  /// A canvas over one band of a taller picture: `band` holds the picture's
  /// rows from `top` on, and the picture is `pictureHeight` rows high. Drawing
  /// works in the picture's coordinates and paints only what falls into the
  /// band, exactly as drawing on the whole picture paints those rows.
  TCanvas(TBitmap& band, int top, int pictureHeight)
      : bitmap_(band), top_(top), pictureHeight_(pictureHeight) {}
  /// Rows of a picture, from `First` up to (not including) `End`.
  struct TRows {
    int First;
    int End;
  };
  /// A canvas over a whole picture that paints only `rows` of it, exactly as
  /// drawing on the whole picture paints those rows; the others stay as they
  /// are, so that another thread may read them meanwhile.
  TCanvas(TBitmap& picture, TRows rows) : bitmap_(picture), rows_(rows) {}

  TFont Font;
  TBrush Brush;
  /// Strength of text output in percent (1 to 100, clamped): glyphs and
  /// outline are blended over the picture at this opacity; on palette
  /// bitmaps they take the entry nearest to the blended colour.
  int TextOpacity = 100;
  /// When set, a contour of this colour is drawn around every glyph (and
  /// underline or strike-out) under the text: about a sixteenth of the
  /// character height wide, at least one pixel.
  std::optional<TColor> TextOutline;
  /// When set, a soft dark shadow of text and outline is drawn under them,
  /// moved down to the right by about a sixteenth of the character height
  /// and blurred over about a twenty-fifth of it.
  bool TextShadow = false;

  /// The whole bitmap (for a band: the whole picture): left 0, top 0, right
  /// the width, bottom the height.
  TRect ClipRect() const;
  /// Width of the text along its own baseline (the sum of the glyph
  /// advances, no kerning) and the height of its line (ascent + descent),
  /// whatever the escapement. UTF-8 text; bytes that are not UTF-8 are taken
  /// as Latin-1. Measuring, rendering and drawing text throw FontError when
  /// no scalable font can be found at all.
  TSize TextExtent(const std::string& text) const;
  /// Draws the text with the top-left corner of its unrotated cell at (x, y),
  /// turned by the font's escapement about that corner; clipped to the
  /// bitmap.
  void TextOut(std::int64_t x, std::int64_t y, const std::string& text);

  /// Rasterises the text with the current font and brush once, for painting
  /// at many places; nothing when it would need more than `maxPixels` of
  /// coverage (TextOut then draws only what lands on the bitmap).
  std::optional<TTextImage> RenderText(const std::string& text,
                                       std::uint64_t maxPixels = kMaxPixels) const;
  /// Paints a rasterised text with its reference point at (x, y): blended by
  /// coverage on 16, 24 and 32 bits (opaque at full coverage and opacity); on
  /// palette bitmaps the entry nearest to the (blended) colour where coverage
  /// is at least one half, so that no colour outside the palette is needed.
  void Draw(std::int64_t x, std::int64_t y, const TTextImage& image);
  /// Paints the image at (x + i * dx, y + j * dy) for i < columns, j < rows.
  /// The picture is walked row by row rather than copy by copy, which keeps
  /// a large bitmap in the cache; copies that overlap then meet in another
  /// order, which changes nothing when they share their colour and have no
  /// background (with a background the copies are painted one by one).
  void DrawTiled(std::int64_t x, std::int64_t y, std::int64_t dx, std::int64_t columns,
                 std::int64_t dy, std::int64_t rows, const TTextImage& image);
  /// Paints the image with its reference point at each of `origins`, in any
  /// arrangement, walking the picture row by row as DrawTiled does; copies
  /// that overlap meet in no particular order.
  void DrawCopies(std::vector<TPixelPoint> origins, const TTextImage& image);

 private:
  std::optional<TTextImage> Render(const std::string& text, const TRect* clip,
                                   std::uint64_t maxPixels) const;
  // The one clipping routine of the single and the tiled draw: paints row
  // `r` of `count` copies, the first with its coverage column 0 at bitmap
  // column `originX` and each next `dx` further right, on bitmap row `by`,
  // cut to the columns of `clip`.
  static void PaintCopiesRow(const TTextImage& image, std::size_t r, int by, std::int64_t originX,
                             std::int64_t dx, std::int64_t count, const TRect& clip,
                             drawing::Painter* background, drawing::ShadowPainter* shadow,
                             drawing::Painter* outline, drawing::Painter& text);
  // The picture rows the bitmap holds, in picture coordinates.
  TRect PaintRect() const;
  TBitmap& bitmap_;
  int top_ = 0;
  int pictureHeight_ = -1;     // below 0: the bitmap's own height
  std::optional<TRows> rows_;  // none: every row the bitmap holds
};

}  // namespace sigilon
