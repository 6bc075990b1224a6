#include "engine/CanvasFontEngine.h"

#include <algorithm>

namespace sigilon::drawing {

FontEngine& FontEngine::Instance() {
  static FontEngine engine;
  return engine;
}

LockedFontEngine FontEngine::Lock() { return LockedFontEngine(Instance()); }

ResolvedFace LockedFontEngine::Resolve(const TLogFont& log) {
  const bool bold = log.Weight >= 600;
  const auto key = std::make_tuple(log.FaceName, log.Weight, log.Italic, log.Pitch);
  if (auto it = engine_.resolved_.find(key); it != engine_.resolved_.end()) return it->second;

  FcPatternPtr pattern(FcPatternCreate());
  if (!pattern) throw FontError("font lookup: out of memory");
  if (!log.FaceName.empty()) {
    FcPatternAddString(pattern.get(), FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(log.FaceName.c_str()));
  }
  FontEngine::AddStyle(pattern.get(), log.Weight, log.Italic);
  if (log.Pitch == TFontPitch::fpFixed) FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO);
  ResolvedFace result = engine_.Match(pattern.get(), bold, log.Italic);
  if (!result.loaded) {
    throw FontError("no scalable font found for face name \"" + log.FaceName + "\"");
  }
  engine_.resolved_.emplace(key, result);
  return result;
}

ResolvedFace LockedFontEngine::Fallback(char32_t cp, int weight, bool italic) {
  const auto key = std::make_tuple(cp, weight, italic);
  if (auto it = engine_.fallbacks_.find(key); it != engine_.fallbacks_.end()) return it->second;
  ResolvedFace result;
  std::unique_ptr<FcCharSet, FcCharSetDeleter> chars(FcCharSetCreate());
  FcPatternPtr pattern(FcPatternCreate());
  if (chars && pattern && FcCharSetAddChar(chars.get(), cp)) {
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, chars.get());
    FontEngine::AddStyle(pattern.get(), weight, italic);
    result = engine_.Match(pattern.get(), weight >= 600, italic);
    if (result.loaded && FT_Get_Char_Index(Face(result), cp) == 0) result = {};
  }
  engine_.fallbacks_.emplace(key, result);
  return result;
}

FT_Face LockedFontEngine::Sized(const ResolvedFace& resolved, FT_F26Dot6 em) {
  LoadedFace& loaded = *resolved.loaded;
  FT_Face face = loaded.face_.get();
  if (loaded.size_ == em) return face;
  if (FT_Set_Char_Size(face, 0, em, 72, 72) != 0) {
    throw FontError("cannot scale font \"" + std::string(face->family_name) + "\"");
  }
  loaded.size_ = em;
  return face;
}

FontEngine::FontEngine() {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) throw FontError("cannot initialise FreeType");
  library_.reset(library);
  config_.reset(FcInitLoadConfigAndFonts());
  if (!config_) throw FontError("cannot load the fontconfig configuration");
}

void FontEngine::AddStyle(FcPattern* pattern, int weight, bool italic) {
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight, 1, 1000)));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  // Bitmap-only faces cannot be turned by 45 degrees.
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
}

ResolvedFace FontEngine::Match(FcPattern* pattern, bool bold, bool italic) {
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

LoadedFace* FontEngine::Open(const std::string& file, int index) {
  const auto key = std::make_pair(file, index);
  if (auto it = faces_.find(key); it != faces_.end()) return it->second.get();
  FT_Face face = nullptr;
  if (FT_New_Face(library_.get(), file.c_str(), index, &face) != 0) return nullptr;
  auto loaded = std::make_unique<LoadedFace>();
  loaded->face_.reset(face);
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
  return faces_.emplace(key, std::move(loaded)).first->second.get();
}

}  // namespace sigilon::drawing
