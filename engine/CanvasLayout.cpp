#include "engine/CanvasLayout.h"

#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "engine/CanvasFontEngine.h"
#include "engine/CanvasUtf8.h"

namespace sigilon::drawing {

namespace {

// The largest character height drawn; beyond it a single glyph would need
// more coverage than a picture has pixels, and FreeType's scaler has limits
// of its own not far above.
constexpr double kMaxEmPixels = 8192.0;

Outline RectangleOutline(FT_Pos x0, FT_Pos y0, FT_Pos x1, FT_Pos y1) {
  Outline o;
  o.points = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
  o.tags.assign(4, FT_CURVE_TAG_ON);
  o.contours = {3};
  return o;
}

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

}  // namespace

LaidOutText LayOut(const std::string& text, const TLogFont& log, int pixelsPerInch) {
  // The faces are shared by every thread; the outlines copied out of them
  // are this thread's own, so the lock ends with the layout.
  LockedFontEngine engine = FontEngine::Lock();
  const ResolvedFace primary = engine.Resolve(log);
  FT_Face face = engine.Face(primary);
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
  laid.em = em64;

  std::int64_t pen = 0;  // whole pixels, as the advances are
  for (const char32_t cp : DecodeUtf8(text)) {
    ResolvedFace use = primary;
    FT_UInt glyph = FT_Get_Char_Index(face, cp);
    // Control characters show the face's missing-glyph box, like any other
    // character that no font has.
    if (glyph == 0 && cp >= 0x20 && !(cp >= 0x7F && cp < 0xA0)) {
      const ResolvedFace fallback = engine.Fallback(cp, log.Weight, log.Italic);
      if (fallback.loaded) {
        use = fallback;
        glyph = FT_Get_Char_Index(engine.Face(fallback), cp);
      }
    }
    FT_Face f = engine.Sized(use, em64);
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

}  // namespace sigilon::drawing
