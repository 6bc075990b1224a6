#include "engine/Canvas.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <tuple>

namespace sigilon {

namespace {

// ---------------------------------------------------------------------------
// Colours

// The classic Windows scheme's defaults, indices 0 (scroll bar) to 30 (menu
// bar), as R, G, B.
constexpr std::array<std::array<std::uint8_t, 3>, kSystemColorCount> kSystemColors = {{
    {212, 208, 200},  // 0 scroll bar
    {58, 110, 165},   // 1 desktop background
    {10, 36, 106},    // 2 active caption
    {128, 128, 128},  // 3 inactive caption
    {212, 208, 200},  // 4 menu
    {255, 255, 255},  // 5 window
    {0, 0, 0},        // 6 window frame
    {0, 0, 0},        // 7 menu text
    {0, 0, 0},        // 8 window text
    {255, 255, 255},  // 9 caption text
    {212, 208, 200},  // 10 active border
    {212, 208, 200},  // 11 inactive border
    {128, 128, 128},  // 12 application workspace
    {10, 36, 106},    // 13 highlight
    {255, 255, 255},  // 14 highlight text
    {212, 208, 200},  // 15 button face
    {128, 128, 128},  // 16 button shadow
    {128, 128, 128},  // 17 gray text
    {0, 0, 0},        // 18 button text
    {212, 208, 200},  // 19 inactive caption text
    {255, 255, 255},  // 20 button highlight
    {64, 64, 64},     // 21 3D dark shadow
    {212, 208, 200},  // 22 3D light
    {0, 0, 0},        // 23 tooltip text
    {255, 255, 225},  // 24 tooltip background
    {181, 181, 181},  // 25 (unnamed)
    {0, 0, 128},      // 26 hot-tracked item
    {166, 202, 240},  // 27 gradient of the active caption
    {192, 192, 192},  // 28 gradient of the inactive caption
    {10, 36, 106},    // 29 menu highlight (the classic scheme uses the highlight)
    {212, 208, 200},  // 30 menu bar
}};

// ---------------------------------------------------------------------------
// Text

// Decodes UTF-8; a byte that does not start a well-formed sequence stands
// for itself as Latin-1, so texts saved in an older 8-bit code page still
// show their accented letters instead of replacement boxes.
std::vector<char32_t> DecodeText(const std::string& text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    int extra = 0;
    char32_t cp = b;
    char32_t minimum = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, cp = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, cp = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, cp = b & 0x07, minimum = 0x10000;
    }
    bool ok = extra > 0;
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        if (i + k >= n || (s[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
      }
      ok = ok && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.push_back(cp);
      i += static_cast<std::size_t>(extra) + 1;
    } else {
      out.push_back(b);
      ++i;
    }
  }
  return out;
}

// The largest character height drawn; beyond it a single glyph would need
// more coverage than a picture has pixels, and FreeType's scaler has limits
// of its own not far above.
constexpr double kMaxEmPixels = 8192.0;

// The smooth rasteriser reports span columns as 16-bit values, so large
// windows are rendered in pieces of at most this many pixels a side.
constexpr int kMaxRasterSide = 16384;

// Longest stretch of zero coverage painted through inside one run.
constexpr std::size_t kRunGap = 16;

struct FaceDeleter {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceDeleter>;
struct LibraryDeleter {
  void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using LibraryPtr = std::unique_ptr<FT_LibraryRec_, LibraryDeleter>;
struct FcConfigDeleter {
  void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
struct FcPatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct FcCharSetDeleter {
  void operator()(FcCharSet* set) const { FcCharSetDestroy(set); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

// A face file opened once; `size` is the character size last set on it.
struct LoadedFace {
  FacePtr face;
  FT_F26Dot6 size = 0;
};

// What a logical font resolves to: the face and the styles to synthesise
// because the family has no such face.
struct ResolvedFace {
  LoadedFace* loaded = nullptr;
  bool synthBold = false;
  bool synthItalic = false;
};

// An outline in 26.6 coordinates, owned here so that it outlives the glyph
// slot it came from.
struct Outline {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;
  FT_BBox cbox{};  // in 26.6, set by Place
};

Outline RectangleOutline(FT_Pos x0, FT_Pos y0, FT_Pos x1, FT_Pos y1) {
  Outline o;
  o.points = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
  o.tags.assign(4, FT_CURVE_TAG_ON);
  o.contours = {3};
  return o;
}

// A text laid out once: outlines in text space (x along the baseline from the
// cell's left edge, y up from the baseline), moved to the picture by Place.
struct LaidOutText {
  TSize extent;
  FT_Pos ascent = 0;  // 26.6
  std::vector<Outline> glyphs;
  std::vector<Outline> lines;  // underline and strike-out
  Outline cell;                // the whole cell, for an opaque background
};

// FreeType and fontconfig state shared by every canvas: faces stay open
// across calls because opening and parsing a font for each picture of a batch
// would cost more than drawing the text.
class FontEngine {
 public:
  static FontEngine& Instance() {
    static FontEngine engine;
    return engine;
  }

  std::mutex& Mutex() { return mutex_; }
  FT_Library Library() const { return library_.get(); }

  ResolvedFace Resolve(const TLogFont& log) {
    const bool bold = log.Weight >= 600;
    const auto key = std::make_tuple(log.FaceName, log.Weight, log.Italic, log.Pitch);
    if (auto it = resolved_.find(key); it != resolved_.end()) return it->second;

    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern) throw FontError("font lookup: out of memory");
    if (!log.FaceName.empty()) {
      FcPatternAddString(pattern.get(), FC_FAMILY,
                         reinterpret_cast<const FcChar8*>(log.FaceName.c_str()));
    }
    AddStyle(pattern.get(), log.Weight, log.Italic);
    if (log.Pitch == TFontPitch::fpFixed) FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO);
    ResolvedFace result = Match(pattern.get(), bold, log.Italic);
    if (!result.loaded) {
      throw FontError("no scalable font found for face name \"" + log.FaceName + "\"");
    }
    resolved_.emplace(key, result);
    return result;
  }

  // A face that has `cp`, for a character the chosen face lacks; null when
  // no installed font has it.
  ResolvedFace Fallback(char32_t cp, int weight, bool italic) {
    const auto key = std::make_tuple(cp, weight, italic);
    if (auto it = fallbacks_.find(key); it != fallbacks_.end()) return it->second;
    ResolvedFace result;
    std::unique_ptr<FcCharSet, FcCharSetDeleter> chars(FcCharSetCreate());
    FcPatternPtr pattern(FcPatternCreate());
    if (chars && pattern && FcCharSetAddChar(chars.get(), cp)) {
      FcPatternAddCharSet(pattern.get(), FC_CHARSET, chars.get());
      AddStyle(pattern.get(), weight, italic);
      result = Match(pattern.get(), weight >= 600, italic);
      if (result.loaded && FT_Get_Char_Index(result.loaded->face.get(), cp) == 0) result = {};
    }
    fallbacks_.emplace(key, result);
    return result;
  }

  // Sets the character (em) size of a face, in 26.6 pixels.
  static void SetEmSize(LoadedFace& face, FT_F26Dot6 em) {
    if (face.size == em) return;
    if (FT_Set_Char_Size(face.face.get(), 0, em, 72, 72) != 0) {
      throw FontError("cannot scale font \"" + std::string(face.face->family_name) + "\"");
    }
    face.size = em;
  }

 private:
  FontEngine() {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) throw FontError("cannot initialise FreeType");
    library_.reset(library);
    config_.reset(FcInitLoadConfigAndFonts());
    if (!config_) throw FontError("cannot load the fontconfig configuration");
  }

  static void AddStyle(FcPattern* pattern, int weight, bool italic) {
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight, 1, 1000)));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    // Bitmap-only faces cannot be turned by 45 degrees.
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  }

  ResolvedFace Match(FcPattern* pattern, bool bold, bool italic) {
    FcConfigSubstitute(config_.get(), pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult fcResult = FcResultNoMatch;
    FcPatternPtr match(FcFontMatch(config_.get(), pattern, &fcResult));
    if (!match) return {};
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) return {};
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
    LoadedFace* loaded = Open(reinterpret_cast<const char*>(file), index);
    if (!loaded) return {};
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(match.get(), FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match.get(), FC_SLANT, 0, &slant);
    return {loaded, bold && weight < FC_WEIGHT_DEMIBOLD, italic && slant == FC_SLANT_ROMAN};
  }

  LoadedFace* Open(const std::string& file, int index) {
    const auto key = std::make_pair(file, index);
    if (auto it = faces_.find(key); it != faces_.end()) return it->second.get();
    FT_Face face = nullptr;
    if (FT_New_Face(library_.get(), file.c_str(), index, &face) != 0) return nullptr;
    auto loaded = std::make_unique<LoadedFace>();
    loaded->face.reset(face);
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
    return faces_.emplace(key, std::move(loaded)).first->second.get();
  }

  std::mutex mutex_;
  // Declared before the faces so that it is destroyed after them.
  LibraryPtr library_;
  std::unique_ptr<FcConfig, FcConfigDeleter> config_;
  std::map<std::pair<std::string, int>, std::unique_ptr<LoadedFace>> faces_;
  std::map<std::tuple<std::string, int, bool, TFontPitch>, ResolvedFace> resolved_;
  std::map<std::tuple<char32_t, int, bool>, ResolvedFace> fallbacks_;
};

// Vertical metrics of a face: the Windows ascent and descent where the face
// has them, the typographic ones otherwise (font units).
std::pair<double, double> WinMetrics(FT_Face face) {
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    return {os2->usWinAscent, os2->usWinDescent};
  }
  const double ascent = face->ascender;
  const double descent = -face->descender;
  if (ascent + descent > 0) return {ascent, descent};
  return {face->units_per_EM * 0.8, face->units_per_EM * 0.2};
}

void AppendGlyph(const FT_Outline& source, FT_Pos penX, std::vector<Outline>& out) {
  if (source.n_points <= 0 || source.n_contours <= 0) return;
  Outline o;
  o.points.assign(source.points, source.points + source.n_points);
  for (FT_Vector& p : o.points) p.x += penX;
  o.tags.assign(source.tags, source.tags + source.n_points);
  o.contours.assign(source.contours, source.contours + source.n_contours);
  out.push_back(std::move(o));
}

// Lays the text out once with the font's face and size; the caller holds the
// engine's mutex.
LaidOutText LayOut(const std::string& text, const TLogFont& log, int pixelsPerInch) {
  FontEngine& engine = FontEngine::Instance();
  const ResolvedFace primary = engine.Resolve(log);
  FT_Face face = primary.loaded->face.get();
  const double upem = face->units_per_EM;
  const auto [winAscent, winDescent] = WinMetrics(face);

  // Height 0 asks for the default size.
  const std::int64_t height =
      log.Height != 0 ? log.Height : -std::int64_t{PointsToPixels(8, pixelsPerInch)};
  double em = height < 0 ? static_cast<double>(-height)
                         : static_cast<double>(height) * upem / (winAscent + winDescent);
  em = std::min(em, kMaxEmPixels);
  const FT_F26Dot6 em64 = std::max<FT_F26Dot6>(1, std::lround(em * 64));
  const double scale = static_cast<double>(em64) / 64.0 / upem;

  LaidOutText laid;
  FT_Pos ascent = std::lround(winAscent * scale);
  FT_Pos descent = std::lround(winDescent * scale);
  if (height > 0 && em < kMaxEmPixels) descent = height - ascent;  // cell height exactly
  laid.ascent = ascent * 64;

  std::int64_t pen = 0;  // whole pixels, as the advances are
  for (const char32_t cp : DecodeText(text)) {
    ResolvedFace use = primary;
    FT_UInt glyph = FT_Get_Char_Index(face, cp);
    // Control characters show the face's missing-glyph box, like any other
    // character that no font has.
    if (glyph == 0 && cp >= 0x20 && !(cp >= 0x7F && cp < 0xA0)) {
      const ResolvedFace fallback = engine.Fallback(cp, log.Weight, log.Italic);
      if (fallback.loaded) {
        use = fallback;
        glyph = FT_Get_Char_Index(fallback.loaded->face.get(), cp);
      }
    }
    FontEngine::SetEmSize(*use.loaded, em64);
    FT_Face f = use.loaded->face.get();
    // Unhinted: hinting fits stems to the pixel grid of upright text, which
    // the turned text does not sit on.
    if (FT_Load_Glyph(f, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) continue;
    FT_GlyphSlot slot = f->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) {
      pen += std::lround(slot->advance.x / 64.0);
      continue;
    }
    if (use.synthBold) FT_GlyphSlot_Embolden(slot);
    if (use.synthItalic) FT_GlyphSlot_Oblique(slot);
    AppendGlyph(slot->outline, static_cast<FT_Pos>(pen * 64), laid.glyphs);
    pen += std::lround(slot->advance.x / 64.0);
  }
  const std::int64_t width = std::min<std::int64_t>(pen, std::numeric_limits<int>::max());
  laid.extent = {static_cast<int>(width),
                 static_cast<int>(std::clamp<std::int64_t>(ascent + descent, 0,
                                                           std::numeric_limits<int>::max()))};

  const FT_Pos right = static_cast<FT_Pos>(width) * 64;
  const auto lineThickness = [&](double units) {
    return std::max<FT_Pos>(64, std::lround(units * scale) * 64);
  };
  if (log.Underline && width > 0) {
    const FT_Pos thick = lineThickness(face->underline_thickness);
    // The face's underline position is the centre of the stroke.
    const FT_Pos top = std::lround(face->underline_position * scale * 64) + thick / 2;
    laid.lines.push_back(RectangleOutline(0, top - thick, right, top));
  }
  if (log.StrikeOut && width > 0) {
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool hasOs2 = os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0;
    const FT_Pos thick = lineThickness(hasOs2 ? os2->yStrikeoutSize : face->underline_thickness);
    // The strike-out position is the top of the stroke.
    const FT_Pos top = std::lround((hasOs2 ? os2->yStrikeoutPosition : upem * 0.3) * scale * 64);
    laid.lines.push_back(RectangleOutline(0, top - thick, right, top));
  }
  laid.cell = RectangleOutline(0, -descent * 64, right, ascent * 64);
  return laid;
}

// An FreeType view of an outline, with `points` standing for its points.
FT_Outline View(Outline& o, FT_Vector* points) {
  FT_Outline view{};
  view.n_points = static_cast<short>(o.points.size());
  view.n_contours = static_cast<short>(o.contours.size());
  view.points = points;
  view.tags = o.tags.data();
  view.contours = o.contours.data();
  return view;
}

// Moves a text-space outline to the picture, relative to the reference point
// (y down), turned by `radians` counter-clockwise as seen on the picture.
void Place(Outline& o, FT_Pos ascent, double radians) {
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  for (FT_Vector& p : o.points) {
    const double u = static_cast<double>(p.x);
    const double v = static_cast<double>(ascent - p.y);  // down from the cell's top
    p.x = std::lround(u * c + v * s);
    p.y = std::lround(v * c - u * s);
  }
  if (o.points.empty()) return;
  // One winding direction for every outline, so that glyphs and lines that
  // touch or overlap are filled as one shape (no faint seams where two
  // anti-aliased edges meet).
  FT_Outline view = View(o, o.points.data());
  if (FT_Outline_Get_Orientation(&view) == FT_ORIENTATION_POSTSCRIPT) FT_Outline_Reverse(&view);
  o.cbox = {o.points[0].x, o.points[0].y, o.points[0].x, o.points[0].y};
  for (const FT_Vector& p : o.points) {
    o.cbox.xMin = std::min(o.cbox.xMin, p.x);
    o.cbox.yMin = std::min(o.cbox.yMin, p.y);
    o.cbox.xMax = std::max(o.cbox.xMax, p.x);
    o.cbox.yMax = std::max(o.cbox.yMax, p.y);
  }
}

FT_Pos FloorPixel(FT_Pos v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); }
FT_Pos CeilPixel(FT_Pos v) { return -FloorPixel(-v); }

// Coverage buffer the rasteriser paints into: each new span is laid over
// what is there, as drawing one glyph after another would.
struct CoverageSink {
  std::uint8_t* data;
  std::size_t stride;
  int xOffset;
  int yOffset;
};

void CoverageSpans(int y, int count, const FT_Span* spans, void* user) {
  const auto& sink = *static_cast<const CoverageSink*>(user);
  std::uint8_t* row = sink.data + static_cast<std::size_t>(y + sink.yOffset) * sink.stride;
  for (int i = 0; i < count; ++i) {
    const unsigned c = spans[i].coverage;
    std::uint8_t* p = row + spans[i].x + sink.xOffset;
    for (unsigned k = 0; k < spans[i].len; ++k) {
      const unsigned m = p[k];
      p[k] = static_cast<std::uint8_t>(m + ((255 - m) * c + 127) / 255);
    }
  }
}

// Renders the outlines into `buffer`, a coverage image of `window` (pixels,
// relative to the reference point), piece by piece so that span columns stay
// within 16 bits. The outlines that meet a piece are rendered as one shape,
// in batches that fit FreeType's 16-bit point counts.
void Rasterize(const std::vector<Outline*>& outlines, const TRect& window, std::uint8_t* buffer) {
  FT_Library library = FontEngine::Instance().Library();
  const std::size_t stride = static_cast<std::size_t>(window.Right - window.Left);
  constexpr std::size_t kMaxBatch = std::numeric_limits<short>::max();
  Outline batch;
  for (int top = window.Top; top < window.Bottom; top += kMaxRasterSide) {
    const int bottom =
        static_cast<int>(std::min<std::int64_t>(window.Bottom, std::int64_t{top} + kMaxRasterSide));
    for (int left = window.Left; left < window.Right; left += kMaxRasterSide) {
      const int right = static_cast<int>(
          std::min<std::int64_t>(window.Right, std::int64_t{left} + kMaxRasterSide));
      CoverageSink sink{buffer, stride, left - window.Left, top - window.Top};
      const auto flush = [&] {
        if (batch.points.empty()) return;
        FT_Outline outline = View(batch, batch.points.data());
        FT_Raster_Params params{};
        params.source = &outline;
        params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
        params.gray_spans = CoverageSpans;
        params.user = &sink;
        params.clip_box = {0, 0, right - left, bottom - top};
        FT_Outline_Render(library, &outline, &params);
        batch.points.clear();
        batch.tags.clear();
        batch.contours.clear();
      };
      for (const Outline* o : outlines) {
        if (o->points.empty() || o->points.size() > kMaxBatch || CeilPixel(o->cbox.xMax) <= left ||
            FloorPixel(o->cbox.xMin) >= right || CeilPixel(o->cbox.yMax) <= top ||
            FloorPixel(o->cbox.yMin) >= bottom) {
          continue;
        }
        if (batch.points.size() + o->points.size() > kMaxBatch ||
            batch.contours.size() + o->contours.size() > kMaxBatch) {
          flush();
        }
        const auto base = static_cast<short>(batch.points.size());
        // Whole-pixel moves keep every copy's coverage identical.
        for (const FT_Vector& p : o->points) {
          batch.points.push_back({p.x - FT_Pos{left} * 64, p.y - FT_Pos{top} * 64});
        }
        batch.tags.insert(batch.tags.end(), o->tags.begin(), o->tags.end());
        for (const short end : o->contours) {
          batch.contours.push_back(static_cast<short>(base + end));
        }
      }
      flush();
    }
  }
}

// Writes one row of coverage onto a bitmap in `color`.
class Painter {
 public:
  Painter(TBitmap& bitmap, TRGBQuad color) : bitmap_(bitmap), color_(color) {
    const bool palette = bitmap.BitsPerPixel() <= 8;
    if (palette) {
      index_ = bitmap.NearestPaletteIndex(color);
      if (static_cast<std::size_t>(index_) < bitmap.Palette().size()) {
        paletteColor_ = bitmap.Palette()[static_cast<std::size_t>(index_)];
      }
    }
  }

  void PaintRow(int y, int x, const std::uint8_t* coverage, int n) {
    switch (bitmap_.PixelFormat()) {
      case TPixelFormat::pf24bit:
        BlendBgr<3>(bitmap_.Row(y).data() + 3 * static_cast<std::size_t>(x), coverage, n);
        return;
      case TPixelFormat::pf32bit:
        if (!bitmap_.HasCustomMasks()) {
          BlendBgr<4>(bitmap_.Row(y).data() + 4 * static_cast<std::size_t>(x), coverage, n);
          return;
        }
        BlendAny(y, x, coverage, n);
        return;
      case TPixelFormat::pf16bit:
        BlendAny(y, x, coverage, n);
        return;
      case TPixelFormat::pf8bit: {
        // No blending on a palette: blends would need colours it lacks.
        std::uint8_t* row = bitmap_.Row(y).data() + x;
        for (int i = 0; i < n; ++i) {
          if (coverage[i] >= 128) row[i] = static_cast<std::uint8_t>(index_);
        }
        return;
      }
      case TPixelFormat::pf1bit:
      case TPixelFormat::pf4bit:
        for (int i = 0; i < n; ++i) {
          if (coverage[i] >= 128) bitmap_.SetPixel(x + i, y, paletteColor_);
        }
        return;
    }
  }

 private:
  static std::uint8_t Mix(unsigned under, unsigned over, unsigned a) {
    return static_cast<std::uint8_t>((under * (255 - a) + over * a + 127) / 255);
  }

  template <int kBytes>
  void BlendBgr(std::uint8_t* p, const std::uint8_t* coverage, int n) const {
    const unsigned b = color_.Blue, g = color_.Green, r = color_.Red;
    // Runs hold mostly partial coverage, so blending every pixel without
    // branches beats testing for the transparent and opaque cases.
    for (int i = 0; i < n; ++i, p += kBytes) {
      const unsigned a = coverage[i];
      p[0] = Mix(p[0], b, a);
      p[1] = Mix(p[1], g, a);
      p[2] = Mix(p[2], r, a);
    }
  }

  void BlendAny(int y, int x, const std::uint8_t* coverage, int n) {
    for (int i = 0; i < n; ++i) {
      const unsigned a = coverage[i];
      if (a == 0) continue;
      const TRGBQuad under = bitmap_.GetPixel(x + i, y);
      bitmap_.SetPixel(x + i, y,
                       TRGBQuad{Mix(under.Blue, color_.Blue, a), Mix(under.Green, color_.Green, a),
                                Mix(under.Red, color_.Red, a), 0});
    }
  }

  TBitmap& bitmap_;
  TRGBQuad color_;
  int index_ = 0;
  TRGBQuad paletteColor_{};
};

}  // namespace

// ---------------------------------------------------------------------------

std::int32_t PointsToPixels(std::int64_t points, int pixelsPerInch) {
  const std::int64_t ppi = pixelsPerInch > 0 ? pixelsPerInch : kDefaultPixelsPerInch;
  const std::int64_t product = points * ppi;
  const std::int64_t magnitude = ((product < 0 ? -product : product) + 36) / 72;
  const std::int64_t result = product < 0 ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      result, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void TFont::SetName(const std::string& name) {
  std::size_t length = std::min(name.size(), kMaxFaceNameLength);
  // Back off to the start of a UTF-8 sequence rather than cut through it.
  if (length < name.size()) {
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  log_.FaceName = name.substr(0, length);
}

void TFont::SetSize(std::int32_t points) { log_.Height = -PointsToPixels(points, PixelsPerInch); }

std::int32_t TFont::Size() const {
  const int ppi = PixelsPerInch > 0 ? PixelsPerInch : kDefaultPixelsPerInch;
  const std::int64_t product = -std::int64_t{log_.Height} * 72;
  const std::int64_t magnitude = ((product < 0 ? -product : product) + ppi / 2) / ppi;
  return static_cast<std::int32_t>(product < 0 ? -magnitude : magnitude);
}

TFontStyles TFont::Style() const {
  TFontStyles style = 0;
  if (log_.Weight >= kFontWeightBold) style |= fsBold;
  if (log_.Italic) style |= fsItalic;
  if (log_.Underline) style |= fsUnderline;
  if (log_.StrikeOut) style |= fsStrikeOut;
  return style;
}

void TFont::SetStyle(TFontStyles style) {
  log_.Weight = (style & fsBold) ? kFontWeightBold : kFontWeightNormal;
  log_.Italic = (style & fsItalic) != 0;
  log_.Underline = (style & fsUnderline) != 0;
  log_.StrikeOut = (style & fsStrikeOut) != 0;
}

void TFont::SetLogFont(const TLogFont& log) {
  log_ = log;
  SetName(log.FaceName);
}

TRGBQuad SysColor(int index) {
  if (index < 0 || index >= kSystemColorCount) return {};
  const auto& c = kSystemColors[static_cast<std::size_t>(index)];
  return TRGBQuad{c[2], c[1], c[0], 0};
}

TRGBQuad ColorToRGB(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if (color == clNone || color == clDefault) return ColorToRGB(clWindowText);
  if (value & kSystemColorBase) return SysColor(static_cast<int>(value & 0xFF));
  return TRGBQuad{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value), 0};
}

std::uint8_t TTextImage::Coverage(int x, int y) const {
  if (x < bounds_.Left || x >= bounds_.Right || y < bounds_.Top || y >= bounds_.Bottom) return 0;
  return text_[static_cast<std::size_t>(y - bounds_.Top) * static_cast<std::size_t>(Stride()) +
               static_cast<std::size_t>(x - bounds_.Left)];
}

TRect TCanvas::ClipRect() const { return TRect{0, 0, bitmap_.Width(), bitmap_.Height()}; }

TSize TCanvas::TextExtent(const std::string& text) const {
  FontEngine& engine = FontEngine::Instance();
  std::lock_guard lock(engine.Mutex());
  return LayOut(text, Font.LogFont(), Font.PixelsPerInch).extent;
}

std::optional<TTextImage> TCanvas::Render(const std::string& text, const TRect* clip,
                                          std::uint64_t maxPixels) const {
  FontEngine& engine = FontEngine::Instance();
  std::lock_guard lock(engine.Mutex());
  LaidOutText laid = LayOut(text, Font.LogFont(), Font.PixelsPerInch);

  const double radians = Font.LogFont().Escapement / 10.0 * std::numbers::pi / 180.0;
  std::vector<Outline*> textOutlines;
  for (Outline& o : laid.glyphs) textOutlines.push_back(&o);
  for (Outline& o : laid.lines) textOutlines.push_back(&o);
  const bool opaque = Brush.Style == TBrushStyle::bsSolid && laid.extent.cx > 0;
  std::vector<Outline*> cellOutlines;
  if (opaque) cellOutlines.push_back(&laid.cell);

  std::optional<FT_BBox> box;
  const auto grow = [&](const std::vector<Outline*>& list) {
    for (Outline* c : list) {
      Outline& o = *c;
      Place(o, laid.ascent, radians);
      if (o.points.empty()) continue;
      if (!box) {
        box = o.cbox;
      } else {
        box->xMin = std::min(box->xMin, o.cbox.xMin);
        box->yMin = std::min(box->yMin, o.cbox.yMin);
        box->xMax = std::max(box->xMax, o.cbox.xMax);
        box->yMax = std::max(box->yMax, o.cbox.yMax);
      }
    }
  };
  grow(textOutlines);
  grow(cellOutlines);

  TTextImage image;
  image.extent_ = laid.extent;
  image.textColor_ = ColorToRGB(Font.Color);
  image.brushColor_ = ColorToRGB(Brush.Color);
  if (!box) return image;

  std::int64_t left = FloorPixel(box->xMin), top = FloorPixel(box->yMin);
  std::int64_t right = CeilPixel(box->xMax), bottom = CeilPixel(box->yMax);
  if (clip) {
    left = std::max<std::int64_t>(left, clip->Left);
    top = std::max<std::int64_t>(top, clip->Top);
    right = std::min<std::int64_t>(right, clip->Right);
    bottom = std::min<std::int64_t>(bottom, clip->Bottom);
  }
  if (right <= left || bottom <= top) return image;
  const auto width = static_cast<std::uint64_t>(right - left);
  const auto height = static_cast<std::uint64_t>(bottom - top);
  if (width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max() ||
      width > maxPixels / height) {
    return std::nullopt;
  }
  image.bounds_ = {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                   static_cast<int>(bottom)};
  const std::size_t pixels = static_cast<std::size_t>(width * height);
  image.text_.assign(pixels, 0);
  Rasterize(textOutlines, image.bounds_, image.text_.data());
  if (opaque) {
    image.background_.assign(pixels, 0);
    Rasterize(cellOutlines, image.bounds_, image.background_.data());
  }

  image.rowRuns_.reserve(static_cast<std::size_t>(height) + 1);
  for (std::size_t r = 0; r < height; ++r) {
    image.rowRuns_.push_back(image.runs_.size());
    const std::uint8_t* t = image.text_.data() + r * width;
    const std::uint8_t* b = opaque ? image.background_.data() + r * width : nullptr;
    const auto used = [&](std::size_t i) { return t[i] != 0 || (b && b[i] != 0); };
    for (std::size_t i = 0; i < width;) {
      if (!used(i)) {
        ++i;
        continue;
      }
      const std::size_t start = i;
      // Turned strokes cross a row in runs of a few pixels; gaps shorter than
      // kRunGap are painted through (zero coverage leaves a pixel exactly as
      // it was), which costs less than starting a run for every stroke.
      std::size_t end = i;
      while (i < width && i - end <= kRunGap) {
        if (used(i)) end = i + 1;
        ++i;
      }
      i = end;
      image.runs_.push_back({static_cast<int>(start), static_cast<int>(end - start)});
    }
  }
  image.rowRuns_.push_back(image.runs_.size());
  return image;
}

std::optional<TTextImage> TCanvas::RenderText(const std::string& text,
                                              std::uint64_t maxPixels) const {
  return Render(text, nullptr, maxPixels);
}

void TCanvas::TextOut(std::int64_t x, std::int64_t y, const std::string& text) {
  if (bitmap_.Empty()) return;
  // Only the part that lands on the bitmap is rasterised.
  const std::int64_t limit = std::numeric_limits<int>::max();
  const TRect clip{static_cast<int>(std::clamp<std::int64_t>(-x, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(-y, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(bitmap_.Width() - x, -limit, limit)),
                   static_cast<int>(std::clamp<std::int64_t>(bitmap_.Height() - y, -limit, limit))};
  const std::optional<TTextImage> image = Render(text, &clip, kMaxPixels);
  if (image) Draw(x, y, *image);
}

void TCanvas::Draw(std::int64_t x, std::int64_t y, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty()) return;
  const std::int64_t originX = x + image.bounds_.Left;
  const std::int64_t originY = y + image.bounds_.Top;
  const int rows = image.bounds_.Bottom - image.bounds_.Top;
  const std::int64_t firstRow = std::max<std::int64_t>(0, -originY);
  const std::int64_t lastRow = std::min<std::int64_t>(rows, bitmap_.Height() - originY);
  if (firstRow >= lastRow) return;
  const std::size_t stride = static_cast<std::size_t>(image.Stride());
  Painter text(bitmap_, image.textColor_);
  std::optional<Painter> background;
  if (!image.background_.empty()) background.emplace(bitmap_, image.brushColor_);
  for (std::int64_t r = firstRow; r < lastRow; ++r) {
    const int by = static_cast<int>(originY + r);
    const std::size_t rowOffset = static_cast<std::size_t>(r) * stride;
    const std::size_t end = image.rowRuns_[static_cast<std::size_t>(r) + 1];
    for (std::size_t k = image.rowRuns_[static_cast<std::size_t>(r)]; k < end; ++k) {
      const TTextImage::Run run = image.runs_[k];
      const std::int64_t from = std::max<std::int64_t>(originX + run.Start, 0);
      const std::int64_t to =
          std::min<std::int64_t>(originX + run.Start + run.Length, bitmap_.Width());
      if (from >= to) continue;
      const std::size_t offset = rowOffset + static_cast<std::size_t>(from - originX);
      const int n = static_cast<int>(to - from);
      if (background) {
        background->PaintRow(by, static_cast<int>(from), &image.background_[offset], n);
      }
      text.PaintRow(by, static_cast<int>(from), &image.text_[offset], n);
    }
  }
}

void TCanvas::DrawTiled(std::int64_t x, std::int64_t y, std::int64_t dx, std::int64_t columns,
                        std::int64_t dy, std::int64_t rows, const TTextImage& image) {
  if (image.Empty() || bitmap_.Empty() || columns <= 0 || rows <= 0) return;
  if (!image.background_.empty() || dx <= 0 || dy <= 0) {
    for (std::int64_t j = 0; j < rows; ++j) {
      for (std::int64_t i = 0; i < columns; ++i) Draw(x + i * dx, y + j * dy, image);
    }
    return;
  }
  const std::int64_t top = y + image.bounds_.Top;  // first bitmap row of copy row 0
  const std::int64_t imageRows = image.bounds_.Bottom - image.bounds_.Top;
  const std::int64_t width = bitmap_.Width();
  const std::size_t stride = static_cast<std::size_t>(image.Stride());
  // Copies whose columns cannot reach the bitmap are skipped up front.
  const std::int64_t left = x + image.bounds_.Left;
  const std::int64_t firstColumn = std::max<std::int64_t>(0, (-(left + image.Stride()) + dx) / dx);
  const std::int64_t lastColumn =
      std::min<std::int64_t>(columns, width - left <= 0 ? 0 : (width - left + dx - 1) / dx);
  Painter text(bitmap_, image.textColor_);
  for (int by = 0; by < bitmap_.Height(); ++by) {
    // Copy rows j with top + j * dy <= by < top + j * dy + imageRows.
    const std::int64_t rel = by - top;
    const std::int64_t jFirst =
        std::max<std::int64_t>(0, rel - imageRows < 0 ? 0 : (rel - imageRows) / dy + 1);
    const std::int64_t jLast = rel < 0 ? -1 : std::min<std::int64_t>(rows - 1, rel / dy);
    for (std::int64_t j = jFirst; j <= jLast; ++j) {
      const std::int64_t r = rel - j * dy;
      if (r < 0 || r >= imageRows) continue;
      const std::size_t runsEnd = image.rowRuns_[static_cast<std::size_t>(r) + 1];
      const std::size_t runsBegin = image.rowRuns_[static_cast<std::size_t>(r)];
      if (runsBegin == runsEnd) continue;
      for (std::int64_t i = firstColumn; i < lastColumn; ++i) {
        const std::int64_t originX = left + i * dx;
        for (std::size_t k = runsBegin; k < runsEnd; ++k) {
          const TTextImage::Run run = image.runs_[k];
          const std::int64_t from = std::max<std::int64_t>(originX + run.Start, 0);
          const std::int64_t to = std::min<std::int64_t>(originX + run.Start + run.Length, width);
          if (from >= to) continue;
          text.PaintRow(by, static_cast<int>(from),
                        &image.text_[static_cast<std::size_t>(r) * stride +
                                     static_cast<std::size_t>(from - originX)],
                        static_cast<int>(to - from));
        }
      }
    }
  }
}

}  // namespace sigilon
